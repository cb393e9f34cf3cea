// The "Device Selection" window over a scripted line provider and pseudo-terminal ports: what it
// lists, what it preselects, and what OK gives.
#include "comms/tapi/device_selection_form.h"
#include "comms/tapi/scripted_line_provider.h"
#include "comms/tapi/tapi_binding.h"

#include "comms/tests/pty_pair.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>

#include <cstdlib>

using namespace zn::comms;
using namespace zn::comms::tapi;
using zn::comms::test::PtyPair;

namespace {

class DeviceSelection : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "device_selection_form_test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            new QApplication(argc, argv);
    }

    void SetUp() override
    {
        ASSERT_TRUE(pty_.Ok());
        // Only COM3 is there: a pseudo-terminal.
        for (int n = 1; n <= 50; ++n)
            ::setenv(("ZN_COM" + std::to_string(n)).c_str(), n == 3 ? pty_.SlavePath().c_str() : "/dev/zn-no-such-port", 1);
        provider_.devices = {LineDeviceInfo{"Scripted modem A (ttyA)", MediaModeDataModem, LineFeatureMakeCall, false},
                             LineDeviceInfo{"Line that cannot call", MediaModeDataModem, 0, false},
                             LineDeviceInfo{"Scripted modem B (ttyB)", MediaModeDataModem, LineFeatureMakeCall, false}};
        SetLineProvider(&provider_);
    }
    void TearDown() override
    {
        SetLineProvider(nullptr);
        for (int n = 1; n <= 50; ++n)
            ::unsetenv(("ZN_COM" + std::to_string(n)).c_str());
    }

    static QStringList Entries(const TDeviceSelectionForm& form)
    {
        QStringList out;
        for (int i = 0; i < form.dsfComboBox->count(); ++i)
            out << form.dsfComboBox->itemText(i);
        return out;
    }

    PtyPair pty_;
    ScriptedLineProvider provider_;
};

} // namespace

TEST_F(DeviceSelection, ListsTheDevicesThatCanCallThenThePortsThatAreThere)
{
    TDeviceSelectionForm form;
    form.Kind = 3;
    form.ComNumber = 3;
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.windowTitle(), "Device Selection");
    EXPECT_EQ(Entries(form), (QStringList{"Scripted modem A (ttyA)", "Scripted modem B (ttyB)", "Direct to COM3"}));
    EXPECT_EQ(form.dsfComboBox->currentText(), "Direct to COM3");
    EXPECT_EQ(provider_.Calls("lineShutdown"), 1) << "its own line application is shut down again";
    if (const char* shot = std::getenv("ZN_SCREENSHOT"))
        form.grab().save(shot);
    form.dsfComboBox->setCurrentIndex(1);
    form.dsfOkBitBtn->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Kind, 1);
    EXPECT_EQ(form.ComNumber, 0);
    EXPECT_EQ(form.DeviceName, "Scripted modem B (ttyB)");
}

TEST_F(DeviceSelection, PreselectsTheDeviceByNameAndOkOnAPortGivesItsNumber)
{
    TDeviceSelectionForm form;
    form.DeviceName = "Scripted modem B (ttyB)";
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.dsfComboBox->currentText(), "Scripted modem B (ttyB)");
    form.dsfComboBox->setCurrentIndex(form.dsfComboBox->findText("Direct to COM3"));
    form.dsfOkBitBtn->click();
    EXPECT_EQ(form.Kind, 3);
    EXPECT_EQ(form.ComNumber, 3);
}

TEST_F(DeviceSelection, WithoutPortsOrWithNothingSelectedTheFirstEntryIsTaken)
{
    TDeviceSelectionForm form;
    form.ShowPorts = false;
    form.DeviceName = "A modem unplugged last week";
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(Entries(form), (QStringList{"Scripted modem A (ttyA)", "Scripted modem B (ttyB)"}));
    EXPECT_EQ(form.dsfComboBox->currentIndex(), 0);
    form.dsfCancelBitBtn->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
}
