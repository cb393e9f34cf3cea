// What tools and tests ask of the selected work area beyond the entry points.
#pragma once
#include <string>

namespace zn::xbase {

std::string SelectedIndexCondition(int order);
bool SelectedIndexDescending(int order);
// The records against the table's header, then every tag's keys against the records: 0 and an
// empty text when all agree, else the engine error and the first fault (an index that could not
// be opened, a damaged record, a key that differs).
int CheckSelectedIndexes(std::string& where);
// The production index that could not be opened ("PATH is damaged ..."), empty when there is none.
std::string SelectedIndexFault();

} // namespace zn::xbase
