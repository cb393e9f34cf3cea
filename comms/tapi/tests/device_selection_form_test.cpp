// The "Device Selection" window over a scripted line provider and pseudo-terminal ports: what it
// lists, what it preselects, and what OK gives.
#include "comms/tapi/device_selection_form.h"
#include "comms/tapi/scripted_line_provider.h"
#include "comms/tapi/serial_line_provider.h"
#include "comms/tapi/tapi_device.h"
#include "comms/tapi/tapi_binding.h"

#include "comms/port/port_names.h"
#include "comms/tests/pty_pair.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <functional>

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
            ::setenv(("ZN_COM" + std::to_string(n)).c_str(), n == 3 ? pty_.SlavePath().c_str() : "/dev/zn-no-such-port",
                     1);
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

// The device's own choice: the window, preset from the port or the selected device, sets the port's
// mode and number or the device's name; over the machine's provider while the device has its own
// line application.
TEST_F(DeviceSelection, SelectDeviceSetsThePortOrTheDeviceAsChosen)
{
    char pattern[] = "/tmp/zn_selection_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    std::string folder = pattern;
    {
        std::ofstream ini(folder + "/" + PortsFileName);
        ini << "[Lines]\r\nTest bed modem=" << pty_.SlavePath() << "\r\n";
    }
    ::setenv("ZN_WINDIR", folder.c_str(), 1);
    ::setenv("ZN_HOME", folder.c_str(), 1);
    SerialLineProvider machine;
    SetLineProvider(&machine);
    {
        TFxComPort port;
        TFxTapiDevice device;
        device.SetComPort(&port);
        InstallDeviceSelectionForm(device);
        ASSERT_FALSE(device.DeviceList().empty()) << "the device's own line application is open";

        // Answers the window once it shows and has listed its entries (the hourglass gone): what it
        // offers and preselects, then `entry` and OK (or Cancel when empty).
        QStringList offered;
        QString preselected;
        std::function<void(QString)> answer = [&](QString entry) {
            QTimer::singleShot(0, [&, entry] {
                auto* form = dynamic_cast<TDeviceSelectionForm*>(QApplication::activeModalWidget());
                if (!form || QApplication::overrideCursor()) {
                    answer(entry);
                    return;
                }
                offered = Entries(*form);
                preselected = form->dsfComboBox->currentText();
                if (entry.isEmpty()) {
                    form->dsfCancelBitBtn->click();
                    return;
                }
                form->dsfComboBox->setCurrentIndex(form->dsfComboBox->findText(entry));
                form->dsfOkBitBtn->click();
            });
        };

        answer("Direct to COM3");
        EXPECT_EQ(device.SelectDevice(), 1);
        EXPECT_EQ(offered.front(), "Test bed modem");
        EXPECT_TRUE(offered.contains("Direct to COM3"));
        EXPECT_EQ(port.TapiMode(), tmOff);
        EXPECT_EQ(port.ComNumber(), 3);

        answer("Test bed modem");
        EXPECT_EQ(device.SelectDevice(), 1);
        EXPECT_EQ(preselected, "Direct to COM3") << "preset to the port";
        EXPECT_EQ(port.TapiMode(), tmAuto);
        EXPECT_EQ(device.SelectedDevice(), "Test bed modem");

        answer("");
        EXPECT_EQ(device.SelectDevice(), 2);
        EXPECT_EQ(preselected, "Test bed modem") << "preset to the selected device";
        EXPECT_EQ(port.TapiMode(), tmAuto);
        EXPECT_EQ(device.SelectedDevice(), "Test bed modem");
    }
    SetLineProvider(nullptr);
    ::unsetenv("ZN_WINDIR");
    ::unsetenv("ZN_HOME");
    std::system(("rm -rf '" + folder + "'").c_str());
}

// The machine's modems as the user sees them: configured lines by their names, each device once.
TEST_F(DeviceSelection, ListsTheMachinesModemsByTheNamesTheyWereGiven)
{
    PtyPair office;
    ASSERT_TRUE(office.Ok());
    char pattern[] = "/tmp/zn_selection_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    std::string folder = pattern;
    std::string alias = folder + "/ttyTestBed";
    ASSERT_EQ(::symlink(pty_.SlavePath().c_str(), alias.c_str()), 0);
    {
        std::ofstream ini(folder + "/" + PortsFileName);
        ini << "[Lines]\r\nTest bed modem=" << alias << "\r\nOffice modem=" << office.SlavePath()
            << "\r\nTest bed modem again=" << pty_.SlavePath() << "\r\nUnplugged modem=" << folder << "/ttyGone\r\n";
    }
    ::setenv("ZN_WINDIR", folder.c_str(), 1);
    SerialLineProvider machine;
    SetLineProvider(&machine);
    {
        TDeviceSelectionForm form;
        form.DeviceName = "Office modem";
        form.show();
        QApplication::processEvents();
        QStringList entries = Entries(form);
        // Modems of this machine itself (USB ones) may follow the configured lines.
        ASSERT_GE(entries.size(), 3);
        EXPECT_EQ(entries.mid(0, 2), (QStringList{"Test bed modem", "Office modem"}));
        EXPECT_EQ(entries.back(), "Direct to COM3");
        EXPECT_FALSE(entries.contains("Test bed modem again")) << "a device is listed once";
        EXPECT_FALSE(entries.contains("Unplugged modem")) << "a line whose device is not there is not offered";
        EXPECT_EQ(form.dsfComboBox->currentText(), "Office modem");
        if (const char* shot = std::getenv("ZN_SCREENSHOT")) {
            form.grab().save(QString(shot) + ".window.png");
            form.dsfComboBox->showPopup();
            QApplication::processEvents();
            form.dsfComboBox->view()->window()->grab().save(QString(shot) + ".list.png");
            form.dsfComboBox->hidePopup();
        }
        form.dsfComboBox->setCurrentIndex(0);
        form.dsfOkBitBtn->click();
        EXPECT_EQ(form.Kind, 1);
        EXPECT_EQ(form.DeviceName, "Test bed modem");
    }
    SetLineProvider(nullptr);
    ::unsetenv("ZN_WINDIR");
    std::system(("rm -rf '" + folder + "'").c_str());
}
