// A fax sent through a line device: the test bed's modem, configured as a line under a name of its
// own (an alias in ZNPORTS.INI), is chosen by that name, a passthrough call hands it to the port,
// the engine sends over it and efax receives the page. While the call holds the modem no other
// program gets it under either name; afterwards no descriptor, lock file or open line remains.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "apf_test_pages.h"
#include "comms/port/com_port.h"
#include "comms/port/port_names.h"
#include "comms/tapi/serial_line_provider.h"
#include "comms/tapi/tapi_device.h"
#include "comms/tapi/tests/line_device_rig.h"
#include "comms/tapi/tests/qt_app.h"
#include "comms/tests/port_fixture.h"
#include "fax_test_bench.h"
#include "faxline_harness.h"
#include "platform/messages.h"
#include "platform/modem_inhibition.h"

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;
using namespace std::chrono_literals;

namespace {

TEST(TapiPassthroughSend, AFaxGoesThroughTheLineDeviceOfAConfiguredNameToEfax)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    EnsureCoreApplication();
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair", "--fast", "--calls", "1"});
    ASSERT_TRUE(line);
    auto rx = StartPeer(dir, "rx", {"efax", "-v", "ewinchm", "-d", line->Port('B'), "-o1", "-r", dir.File("rx")});

    std::string alias = ConfigureTestBedLine(dir.Path(), line->Port('A'));
    ASSERT_FALSE(alias.empty());
    // The message layer and the system bus connection keep descriptors of their own once used.
    zn::platform::PumpOneMessage();
    (void)zn::platform::ModemInhibition::Inhibit("/dev/null");

    auto band = ReadPbm(ItuChartPath(1));
    ASSERT_TRUE(band);
    std::vector<Bitmap> pages{band->Rows(band->height / 2 - 100, 200)};
    ASSERT_TRUE(WriteApf(dir.File("out.apf"), pages, true));

    int descriptorsBefore = OpenDescriptors();
    tapi::SerialLineProvider provider;
    tapi::SetLineProvider(&provider);
    {
        LineDeviceRig rig("Test bed modem", dir.File("FXCTAPI.HIS"));
        TFxComPort& port = rig.port;
        TFxTapiLog& log = rig.log;
        TFxTapiDevice& device = rig.device;
        device.OpenPassthrough();
        ASSERT_TRUE(port.Open());
        ASSERT_NE(port.GetDispatcher(), nullptr);

        // Locked under the configured name and under the device: a program that opens the modem
        // by either is refused.
        if (::access("/var/lock", W_OK) == 0) {
            for (const std::string& name : {alias, line->Port('A')}) {
                TFxWin32Dispatcher other(nullptr);
                EXPECT_EQ(other.OpenPort(name, 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied) << name;
            }
        }

        DispatcherFaxPort faxPort(*port.GetDispatcher());
        RecordingEvents events;
        events.entries.push_back({"123", dir.File("out.apf"), ""});
        FaxSendSession session(events);
        session.common.faxClass = fcClass1;
        session.common.StationID = "ZN LINE";
        session.modem.DesiredBPS = 14400;
        ASSERT_EQ(session.Start(faxPort), 0);
        ASSERT_TRUE(events.WaitFinished(120s));
        ASSERT_TRUE(events.Errors().empty()) << events.Errors().front() << "\n" << ReadFile(dir.File("rx.log"));
        EXPECT_EQ(rx->Wait(30s), 0) << ReadFile(dir.File("rx.log"));

        device.CancelCall();
        EXPECT_FALSE(port.Open());
        std::string history = ReadFile(log.TapiHistoryName);
        EXPECT_NE(history.find(" : call started"), std::string::npos) << history;
        EXPECT_NE(history.find(" : call finished"), std::string::npos) << history;
    }
    tapi::SetLineProvider(nullptr);

    auto got = ReadTiffPages(dir.File("rx.001"));
    ASSERT_TRUE(got && got->size() == 1) << ReadFile(dir.File("rx.log"));
    EXPECT_TRUE(TrimWhiteRows(got->front()) == TrimWhiteRows(pages[0]));

    // Nothing of the call remains: the modem opens for anyone under either name.
    ExpectTheModemLeftFree({alias, line->Port('A')}, descriptorsBefore);
    ::unsetenv("ZN_WINDIR");
    ::unsetenv("ZN_HOME");
}

} // namespace
