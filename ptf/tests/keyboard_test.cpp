// znptf's windows from the keyboard: Tab and Shift+Tab walk every control in reading order and
// back, each Alt letter belongs to one control, Enter stays with the default button.
#include "ptf/main_form.h"
#include "ptf/phone_picker.h"

#include "foundation/tests/keyboard_walk.h"
#include "foundation/tests/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace zn::ptf {
namespace {

using namespace foundation::test;

struct WindowCase {
    const char* name;
    std::function<std::unique_ptr<QWidget>()> make;
    const char* defaultButton;
};

void PrintTo(const WindowCase& c, std::ostream* out) { *out << c.name; }

class KeyboardWalk : public ::testing::TestWithParam<WindowCase> {
protected:
    TempHome home;
};

TEST_P(KeyboardWalk, TabWalksEveryControlInReadingOrderAndShiftTabWalksBack)
{
    const std::unique_ptr<QWidget> window = GetParam().make();
    ExpectTabWalksInReadingOrder(window.get());
}

TEST_P(KeyboardWalk, EachAltLetterOpensOneControlAndEnterStaysWithTheDefaultButton)
{
    const std::unique_ptr<QWidget> window = GetParam().make();
    ExpectUniqueAltLettersAndDefault(window.get(), GetParam().defaultButton);
}

const WindowCase kWindows[] = {
    {"PrintJob", [] { return std::unique_ptr<QWidget>(new TGetDataForm); }, "Button1"},
    {"PhoneNumberPicker",
     [] {
         auto picker = std::make_unique<TMainScreen>();
         picker->FormCreate();
         return std::unique_ptr<QWidget>(std::move(picker));
     },
     ""},
};

INSTANTIATE_TEST_SUITE_P(Windows, KeyboardWalk, ::testing::ValuesIn(kWindows),
                         [](const ::testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

} // namespace
} // namespace zn::ptf
