// The table layer's notices ("Invalid Field Type X") shown as information boxes with an OK button.
#pragma once

namespace zn::data {

void ShowTableNoticesInBoxes();

} // namespace zn::data
