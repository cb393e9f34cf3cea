// An answering line over the fax test bed's modems: the line listens to modem B under a name of its
// own, modem A dials, B rings with the exchange's caller ID, the line answers on the second ring
// with ATA, B's CONNECT hands it to the port, and A hears the answer. Afterwards no descriptor, lock file or open line remains.
#include "comms/port/com_port.h"
#include "comms/port/port_driver.h"
#include "comms/port/port_names.h"
#include "comms/tapi/serial_line_provider.h"
#include "comms/tapi/tapi_device.h"
#include "comms/tapi/tests/line_device_rig.h"
#include "comms/tapi/tests/qt_app.h"
#include "comms/tests/port_fixture.h"
#include "faxline_harness.h"
#include "platform/messages.h"
#include "platform/modem_inhibition.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <unistd.h>

#include <fstream>

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;
using namespace std::chrono_literals;

namespace {

template <typename Pred>
bool PumpUntil(Pred pred, int ms)
{
    return WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            zn::platform::PumpOneMessage();
            return pred();
        },
        ms);
}

TEST(AnsweringTestBed, TheLineAnswersTheOtherModemsCallOnTheSecondRing)
{
    if (::access("/var/lock", W_OK) != 0)
        GTEST_SKIP() << "needs a lock folder to see when the line listens";
    EnsureCoreApplication();
    TempDir dir;
    auto line =
        Line::Start(dir.Path(), {"pair", "--fast", "--calls", "1", "--trace", "--caller-id", "5551234,JOHN DOE"});
    ASSERT_TRUE(line);
    std::string alias = ConfigureTestBedLine(dir.Path(), line->Port('B'));
    ASSERT_FALSE(alias.empty());
    ModemChat caller(line->Port('A'));
    ASSERT_EQ(caller.Command("+FCLASS=1"), "OK");
    // B is set up for fax by another program that lets go only once the line holds B: closing the
    // last descriptor of a test bed port resets its modem.
    auto answerer = std::make_unique<ModemChat>(line->Port('B'));
    ASSERT_EQ(answerer->Command("+FCLASS=1"), "OK");
    // The message layer and the system bus connection keep descriptors of their own once used.
    zn::platform::PumpOneMessage();
    (void)zn::platform::ModemInhibition::Inhibit("/dev/null");
    int descriptorsBefore = OpenDescriptors() - 1; // less the answerer's, which goes during the call

    tapi::SerialLineProvider provider;
    tapi::SetLineProvider(&provider);
    {
        LineDeviceRig rig("Test bed modem", dir.File("FXCTAPI.HIS"));
        rig.device.AnswerOnRing = 2;
        rig.device.WaitMs = 10000;
        std::vector<int> rings;
        rig.device.OnTapiStatus = [&](TFxCustomTapiDevice&, bool, bool, int, int message, int p1, int, int p3) {
            if (message == int(tapi::LineLineDevStateMsg) && p1 == int(tapi::DevStateRinging))
                rings.push_back(p3);
        };
        std::vector<std::pair<std::string, std::string>> callers;
        rig.device.OnTapiCallerID = [&](TFxCustomTapiDevice&, const std::string& id, const std::string& name) {
            callers.push_back({id, name});
        };
        rig.device.AnswerCalls();
        std::string lock = UucpLock::LockPathFor(line->Port('B'));
        ASSERT_TRUE(PumpUntil([&] { return ::access(lock.c_str(), F_OK) == 0; }, 5000));
        answerer.reset();

        caller.Send("ATD123\r");
        ASSERT_TRUE(PumpUntil([&] { return rig.device.Connected(); }, 60000))
            << ReadFile(rig.log.TapiHistoryName) << line->Errors();
        EXPECT_EQ(rings, (std::vector<int>{1, 2}));
        EXPECT_EQ(callers, (std::vector<std::pair<std::string, std::string>>{{"5551234", "JOHN DOE"}}));
        ASSERT_TRUE(rig.port.Open());
        EXPECT_TRUE(caller.ReadUntil({"CONNECT"}, 10s).has_value()) << caller.Pending();

        rig.device.CancelCall();
        EXPECT_FALSE(rig.port.Open());
        std::string history = ReadFile(rig.log.TapiHistoryName);
        for (const char* text : {" : call started",
                                 " : "
                                 "  accepting",
                                 " : "
                                 "  answering",
                                 " : "
                                 "  connected",
                                 " : "
                                 "  cancelled",
                                 " : "
                                 "  dropped",
                                 " : call finished"})
            EXPECT_NE(history.find(text), std::string::npos) << text << "\n" << history;
    }
    tapi::SetLineProvider(nullptr);

    ExpectTheModemLeftFree({alias, line->Port('B')}, descriptorsBefore);
    ::unsetenv("ZN_WINDIR");
    ::unsetenv("ZN_HOME");
}

} // namespace
