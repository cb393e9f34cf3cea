// Class 2.0 and receive-name cases against a scripted modem: the page verdict asked with AT+FPS?
// after ERROR, and a receive folder with no name left.
#include <gtest/gtest.h>

#include "apf_test_pages.h"
#include "comms/engine/fax_receive_session.h"
#include "comms/engine/fax_send_session.h"
#include "fax_test_bench.h"
#include "scripted_port.h"

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;

namespace {

// A Class 2.0 modem that answers the end of the first page with ERROR; AT+FPS? then tells the
// page's verdict.
class Class20Modem {
public:
    Class20Modem(ScriptedPort& port, std::string verdict) : port_(port), verdict_(std::move(verdict))
    {
        port.onCommand = [this](const std::string& c) { Command(c); };
        port.onData = [this](const std::string& d) { Data(d); };
    }
    int pages = 0;
    std::vector<std::string> commands;

private:
    void Command(const std::string& c)
    {
        commands.push_back(c);
        if (c.rfind("ATD", 0) == 0) {
            port_.Modem("\r\n+FCO\r\n\r\n+FCI:\"FAR END\"\r\n\r\n+FIS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
        } else if (c == "AT+FDT") {
            port_.Modem("\r\n+FCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n");
            port_.SetDataMode(true);
        } else if (c == "AT+FPS?") {
            port_.Modem("\r\n" + verdict_ + "\r\n\r\nOK\r\n");
        } else {
            port_.Modem("\r\nOK\r\n");
        }
    }
    void Data(const std::string&)
    {
        if (++pages == 1)
            port_.Modem("\r\nERROR\r\n");
        else
            port_.Modem("\r\n+FPS:1,0,0,0,0\r\n\r\n+FHS:00\r\n\r\nOK\r\n");
    }
    ScriptedPort& port_;
    std::string verdict_;
};

struct VerdictCase {
    std::string verdict;
    int pagesSent;
};

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.verdict; }

class Class20PageVerdict : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Class20PageVerdict, ErrorAtPageEndIsSettledByTheVerdict)
{
    TempDir dir;
    auto b = ReadPbm(ItuChartPath(2));
    ASSERT_TRUE(b);
    ASSERT_TRUE(WriteApf(dir.File("out.apf"), {*b}, true));
    ScriptedPort port;
    Class20Modem modem(port, GetParam().verdict);
    RecordingEvents events;
    events.entries.push_back({"123", dir.File("out.apf"), ""});
    FaxSendSession session(events);
    session.common.faxClass = fcClass20;
    ASSERT_EQ(session.Start(port), 0);
    ASSERT_TRUE(port.Run(session));
    EXPECT_TRUE(events.Errors().empty()) << events.Errors().front();
    // A page sent again was refused first, and the log says so.
    std::vector<int> logs{lfTransmitStart};
    logs.insert(logs.end(), size_t(GetParam().pagesSent - 1), lfPageResent);
    logs.push_back(lfTransmitOK);
    EXPECT_EQ(events.Logs(), logs);
    EXPECT_EQ(modem.pages, GetParam().pagesSent);
    EXPECT_EQ(session.common.remoteID, "FAR END");
    EXPECT_EQ(port.DataEnd(), '.');
}

INSTANTIATE_TEST_SUITE_P(Verdicts, Class20PageVerdict,
                         ::testing::Values(VerdictCase{"+FPS:1,0,0,0,0", 1}, VerdictCase{"1", 1},
                                           VerdictCase{"+FPS:2,0,0,0,0", 2}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

// A receive folder whose every name is taken: the call fails rather than overwrite a fax.
class NoNameLeft : public RecordingEvents {
public:
    void FaxName(FaxSession& s) override { s.common.faxFile.clear(); }
};

TEST(ReceiveName, NoNameLeftFailsTheCall)
{
    ScriptedPort port;
    port.onCommand = [&port](const std::string& c) {
        if (c == "ATA") {
            port.Modem("\r\n+FCO\r\n\r\n+FTI:\"FAR END\"\r\n");
            return;
        }
        port.Modem("\r\nOK\r\n");
    };
    NoNameLeft events;
    FaxReceiveSession session(events);
    session.common.faxClass = fcClass20;
    session.common.options = foExitOnError;
    session.OneFax = true;
    ASSERT_EQ(session.Start(port), 0);
    port.Modem("\r\nRING\r\n");
    ASSERT_TRUE(port.Run(session));
    ASSERT_FALSE(events.Errors().empty());
    EXPECT_EQ(events.Errors().front(), ecNoFilename);
    EXPECT_TRUE(events.Received().empty());
}

} // namespace
