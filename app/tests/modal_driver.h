// Drives modal dialogs from a test, as a user would answer them.
#pragma once
#include "foundation/tests/modal_driver.h"

namespace zn::app::test {

using foundation::test::Find;
using foundation::test::ModalDriver;

} // namespace zn::app::test
