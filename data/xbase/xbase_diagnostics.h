// What tools and tests ask of the selected work area beyond the entry points.
#pragma once
#include <string>

namespace zn::xbase {

std::string SelectedIndexCondition(int order);
bool SelectedIndexDescending(int order);
// Every tag's keys against the records: 0 and an empty text when they agree, else the engine
// error and where they first differ.
int CheckSelectedIndexes(std::string& where);

} // namespace zn::xbase
