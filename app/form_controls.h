// Controls as zn's forms place them: named after their component, with their hint and limits.
#pragma once
#include "foundation/form_controls.h"

namespace zn::app {

using foundation::ButtonRow;
using foundation::MakeButton;
using foundation::MakeEdit;

} // namespace zn::app
