// The Class 1 dialogue against a scripted far end, where a real one cannot be made to misbehave:
// failed training, a page to send again, a far end that hears the wrong carrier, and the answering
// side's CFR.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "apf_test_pages.h"
#include "comms/engine/class1_frames.h"
#include "comms/engine/fax_image_io.h"
#include "comms/engine/fax_receive_session.h"
#include "comms/engine/fax_send_session.h"
#include "fax_test_bench.h"
#include "scripted_port.h"

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;

namespace {

const char* kModemList = "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n";
const std::string kOK = "\r\nOK\r\n";

// The called station: answers with CSI and DIS, judges each training and each page by the script.
class CalledStation {
public:
    explicit CalledStation(ScriptedPort& port) : port_(port)
    {
        port.onCommand = [this](const std::string& c) { Command(c); };
        port.onData = [this](const std::string& d) { Data(d); };
    }
    int failTrainings = 0; // answer this many trainings with FTT
    int rejectPages = 0;   // answer this many pages with RTN
    bool dcnForCfr = false; // end the call with DCN where CFR would answer the training
    // The sender's status when each post-page command arrives.
    std::function<int()> statusNow;
    std::vector<int> postPageStatuses;
    std::vector<int32_t> dcsRates;
    std::vector<std::string> trainings; // modulation codes of AT+FTM for TCF
    std::vector<size_t> pageBytes;

    std::string log;

private:
    void Command(const std::string& c)
    {
        log += c + "\n";
        if (c == "AT+FTM=?") {
            port_.Modem(kModemList);
        } else if (c.rfind("ATD", 0) == 0) {
            port_.Modem(ScriptedPort::Frame(fcfCSI, false, std::string(20, ' ')));
            next_ = std::string(1, char(0)) + char(0x6E) + char(0xF9); // V.17, fine, 1728/2048
            nextFcf_ = fcfDIS;
        } else if (c == "AT+FRH=3") {
            port_.Modem(ScriptedPort::Frame(nextFcf_, true, next_));
            next_.clear();
        } else if (c == "AT+FTH=3") {
            port_.Modem("\r\nCONNECT\r\n");
            port_.SetDataMode(true);
            hdlc_ = true;
        } else if (c.rfind("AT+FTM=", 0) == 0) {
            modulation_ = c.substr(7);
            port_.Modem("\r\nCONNECT\r\n");
            port_.SetDataMode(true);
            hdlc_ = false;
        } else {
            port_.Modem(kOK);
        }
    }

    void Data(const std::string& d)
    {
        log += hdlc_ ? "frame " + std::to_string(uint8_t(d[2])) + "\n" : "data " + std::to_string(d.size()) + "\n";
        if (!hdlc_) {
            bool training = std::find(trainings.begin(), trainings.end(), modulation_) == trainings.end()
                            && d.find_first_not_of('\0') == std::string::npos;
            if (training) {
                trainings.push_back(modulation_);
                nextFcf_ = dcnForCfr ? fcfDCN : failTrainings-- > 0 ? fcfFTT : fcfCFR;
            } else {
                pageBytes.push_back(d.size());
            }
            port_.Modem(kOK);
            return;
        }
        uint8_t control = uint8_t(d[1]), fcf = uint8_t(d[2]);
        if (fcf == fcfDCS) {
            DecodedCaps caps = DecodeDCS(std::vector<uint8_t>(d.begin() + 3, d.end()));
            dcsRates.push_back(caps.rateIndex >= 0 ? FaxRates()[size_t(caps.rateIndex)].bitRate : -1);
            trainings.erase(
                std::remove(trainings.begin(), trainings.end(), FaxRates()[size_t(caps.rateIndex)].longCode),
                trainings.end());
        } else if (fcf == fcfMPS || fcf == fcfEOP || fcf == fcfEOM) {
            nextFcf_ = rejectPages-- > 0 ? fcfRTN : fcfMCF;
            if (statusNow)
                postPageStatuses.push_back(statusNow());
        }
        if (control & 0x10) {
            port_.Modem(kOK);
        } else {
            port_.Modem("\r\nCONNECT\r\n");
            port_.SetDataMode(true);
        }
    }

    ScriptedPort& port_;
    std::string next_;
    uint8_t nextFcf_ = 0;
    std::string modulation_;
    bool hdlc_ = false;
};

class Class1Dialogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto b = ReadPbm(ItuChartPath(1));
        ASSERT_TRUE(b);
        ASSERT_TRUE(WriteApf(dir_.File("out.apf"), {*b}, true));
    }
    void Send(FaxSendSession& session, int32_t bps)
    {
        events_.entries.push_back({"123", dir_.File("out.apf"), ""});
        session.common.faxClass = fcClass1;
        session.common.StationID = "ZN";
        session.modem.DesiredBPS = bps;
        ASSERT_EQ(session.Start(port_), 0);
        ASSERT_TRUE(port_.Run(session));
    }
    TempDir dir_;
    ScriptedPort port_;
    RecordingEvents events_;
};

TEST_F(Class1Dialogue, FailedTrainingStepsTheRateDown)
{
    CalledStation far(port_);
    far.failTrainings = 2;
    FaxSendSession session(events_);
    Send(session, 14400);
    EXPECT_TRUE(events_.Errors().empty()) << far.log;
    EXPECT_EQ(far.dcsRates, (std::vector<int32_t>{14400, 12000, 9600}));
    EXPECT_EQ(far.trainings, (std::vector<std::string>{"145", "121", "97"}));
    EXPECT_EQ(far.pageBytes.size(), 1u);
}

TEST_F(Class1Dialogue, TrainingFailingAt2400EndsTheCall)
{
    CalledStation far(port_);
    far.failTrainings = 99;
    FaxSendSession session(events_);
    Send(session, 2400);
    ASSERT_FALSE(events_.Errors().empty());
    EXPECT_EQ(events_.Errors().front(), ecFaxTrainError);
    EXPECT_EQ(far.dcsRates, (std::vector<int32_t>{2400}));
}

TEST_F(Class1Dialogue, RtnRetrainsAtTheSameRateAndSendsThePageAgain)
{
    CalledStation far(port_);
    far.rejectPages = 1;
    FaxSendSession session(events_);
    Send(session, 14400);
    EXPECT_TRUE(events_.Errors().empty());
    EXPECT_EQ(far.dcsRates, (std::vector<int32_t>{14400, 14400}));
    ASSERT_EQ(far.pageBytes.size(), 2u);
    EXPECT_EQ(far.pageBytes[0], far.pageBytes[1]);
    // The refusal is logged: page 1, sent again.
    EXPECT_EQ(events_.Logs(), (std::vector<int>{lfTransmitStart, lfPageResent, lfTransmitOK}));
    EXPECT_EQ(events_.RefusedPages(), std::vector<int>{1});
}

TEST_F(Class1Dialogue, PageRejectedBeyondTheRetryLimitFailsTheFax)
{
    CalledStation far(port_);
    far.rejectPages = 99;
    FaxSendSession session(events_);
    Send(session, 14400);
    ASSERT_FALSE(events_.Errors().empty());
    EXPECT_EQ(events_.Errors().front(), ecFaxSessionError);
    EXPECT_EQ(far.pageBytes.size(), 3u); // the page and its two retries
}

// Each page's status names what ends it: "Sending EOP" only for the last page; a page the far end
// confirms is "Page accepted by remote".
TEST_F(Class1Dialogue, OnlyTheLastPageIsSendingEop)
{
    auto b = ReadPbm(ItuChartPath(2));
    ASSERT_TRUE(b);
    const Bitmap top = b->Rows(0, 300);
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), {top, top, top}, true));
    CalledStation far(port_);
    FaxSendSession session(events_);
    far.statusNow = [&session] { return int(session.common.statusCode); };
    Send(session, 14400);
    EXPECT_TRUE(events_.Errors().empty()) << far.log;
    EXPECT_EQ(far.postPageStatuses, (std::vector<int>{fsSendingPage, fsSendingPage, fsSendingEOP}));
    const std::vector<int> statuses = events_.Statuses();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), fsPageAccepted), statuses.end());
}

// A DCN where the training's answer should be: the far end ended the call.
TEST_F(Class1Dialogue, DcnInPhaseBIsTheFarEndEndingTheCall)
{
    CalledStation far(port_);
    far.dcnForCfr = true;
    FaxSendSession session(events_);
    Send(session, 14400);
    ASSERT_FALSE(events_.Errors().empty()) << far.log;
    EXPECT_EQ(events_.Errors().front(), ecCancelRequested) << far.log;
}

// The calling station, for the receive session.
class CallingStation {
public:
    CallingStation(ScriptedPort& port, std::string page, int pages = 1)
        : port_(port), page_(std::move(page)), pages_(pages)
    {
        port.onCommand = [this](const std::string& c) { Command(c); };
        port.onData = [this](const std::string& d) { Data(d); };
    }
    int fcErrors = 1;          // answer the first AT+FRM for the training with +FCERROR
    bool missFirstMcf = false; // act as if the first MCF was not heard: repeat MPS
    // Where the caller leaves the call: not at all, with DCN instead of its DCS, by hanging up
    // after its page (the carrier goes, then the modem is off the line), or under our CFR.
    enum class Leaves { Never, DcnForDcs, HangsUpAfterPage, HangsUpUnderCfr } leaves = Leaves::Never;
    std::vector<std::string> commands;
    int cfrFrames = 0;
    int mcfFrames = 0;

private:
    void Command(const std::string& c)
    {
        commands.push_back(c);
        if (c == "AT+FRM=?") {
            port_.Modem(kModemList);
        } else if (c == "ATA" || c == "AT+FTH=3") {
            port_.Modem("\r\nCONNECT\r\n");
            port_.SetDataMode(true);
        } else if (c == "AT+FRH=3") {
            if (step_ == 0) {
                port_.Modem(ScriptedPort::Frame(fcfTSI, false, std::string(20, ' ')));
                step_ = 1;
            } else if (step_ == 1 && leaves == Leaves::DcnForDcs) {
                port_.Modem(ScriptedPort::Frame(fcfDCN, true));
                step_ = 5;
            } else if (step_ == 3 && leaves == Leaves::HangsUpAfterPage) {
                port_.Modem("\r\nNO CARRIER\r\n");
                step_ = 5;
            } else if (step_ == 5) {
                port_.Modem("\r\nERROR\r\n");
            } else if (step_ == 1) {
                // DCS: 14400, fine.
                port_.Modem(ScriptedPort::Frame(fcfDCS, true, std::string(1, char(0)) + char(0x62) + char(0x88)));
                step_ = 2;
            } else if (step_ == 3) {
                port_.Modem(ScriptedPort::Frame(sent_ < pages_ ? fcfMPS : fcfEOP, true));
                step_ = 4;
            } else if (step_ == 4) {
                port_.Modem(ScriptedPort::Frame(fcfDCN, true));
            }
        } else if (c == "AT+FRM=145") {
            if (fcErrors-- > 0) {
                port_.Modem("\r\n+FCERROR\r\n");
                step_ = 1; // the caller heard no CFR: it sends its DCS again
            } else {
                port_.Modem("\r\nCONNECT\r\n" + std::string(2000, '\0') + "\x10\x03\r\nNO CARRIER\r\n");
            }
        } else if (c == "AT+FRM=146") {
            if (repeatPending_) {
                repeatPending_ = false;
                port_.Modem("\r\n+FCERROR\r\n");
                step_ = 3; // the post-page command once more
                return;
            }
            ++sent_;
            port_.Modem("\r\nCONNECT\r\n" + page_ + "\x10\x03\r\nNO CARRIER\r\n");
            step_ = 3;
        } else {
            port_.Modem(kOK);
        }
    }

    void Data(const std::string& d)
    {
        uint8_t control = uint8_t(d[1]), fcf = uint8_t(d[2]);
        if (fcf == fcfCFR)
            ++cfrFrames;
        if (fcf == fcfCFR && leaves == Leaves::HangsUpUnderCfr) {
            port_.Modem("\r\nNO CARRIER\r\n");
            step_ = 5;
            return;
        }
        if (fcf == fcfMCF && ++mcfFrames == 1 && missFirstMcf)
            repeatPending_ = true;
        if (control & 0x10) {
            port_.Modem(kOK);
        } else {
            port_.Modem("\r\nCONNECT\r\n");
            port_.SetDataMode(true);
        }
    }

    ScriptedPort& port_;
    std::string page_;
    int pages_;
    int sent_ = 0;
    int step_ = 0;
    bool repeatPending_ = false;
};

TEST_F(Class1Dialogue, AnswerSendsCfrOnceAndRetriesAfterTheWrongCarrier)
{
    // Page data with a DLE in it, stuffed on the line; the receiver keeps it once.
    std::string page = std::string("\x00\x80\xB2\x59\x01\x00", 6) + "\x10\x10" + "\x01";
    CallingStation far(port_, page);
    events_.receiveDir = dir_.Path();
    FaxReceiveSession session(events_);
    session.common.faxClass = fcClass1;
    session.common.StationID = "ZN";
    session.modem.DesiredBPS = 14400;
    session.OneFax = true;
    ASSERT_EQ(session.Start(port_), 0);
    port_.Modem("\r\nRING\r\n");
    ASSERT_TRUE(port_.Run(session));
    EXPECT_TRUE(events_.Errors().empty()) << events_.Errors().front();
    EXPECT_EQ(far.cfrFrames, 1);
    EXPECT_EQ(std::count(far.commands.begin(), far.commands.end(), "AT+FRM=146"), 1);
    // After +FCERROR the receiver listens for the repeated DCS, then trains again.
    auto fc = std::find(far.commands.begin(), far.commands.end(), "AT+FRM=145");
    ASSERT_NE(fc, far.commands.end());
    EXPECT_EQ(*(fc + 1), "AT+FRH=3");
    ASSERT_EQ(events_.Received().size(), 1u);
    TFaxModemRec m;
    ASSERT_EQ(ApfOpenForReading(m, events_.Received().front(), "APF"), 0);
    EXPECT_EQ(ApfPageCount(m), 1);
    ASSERT_EQ(ApfSeekPage(m, 1), 0);
    EXPECT_EQ(ApfPageFlags(m), kPageHighResolution);
    std::vector<uint8_t> body;
    ASSERT_EQ(ApfReadBlock(m, body, ApfPageBodyLength(m)), 0);
    EXPECT_EQ(std::string(body.begin(), body.end()), std::string("\x00\x80\xB2\x59\x01\x00\x10\x01", 8));
    ApfClose(m);
}

TEST_F(Class1Dialogue, RepeatedPostPageCommandIsAnsweredAgain)
{
    std::string page = std::string("\x00\x80\xB2\x59\x01\x00", 6);
    CallingStation far(port_, page, 2);
    far.fcErrors = 0;
    far.missFirstMcf = true;
    events_.receiveDir = dir_.Path();
    FaxReceiveSession session(events_);
    session.common.faxClass = fcClass1;
    session.modem.DesiredBPS = 14400;
    session.OneFax = true;
    ASSERT_EQ(session.Start(port_), 0);
    port_.Modem("\r\nRING\r\n");
    ASSERT_TRUE(port_.Run(session));
    EXPECT_TRUE(events_.Errors().empty()) << events_.Errors().front();
    EXPECT_EQ(far.mcfFrames, 3); // page 1, page 1 again, page 2
    ASSERT_EQ(events_.Received().size(), 1u);
    TFaxModemRec m;
    ASSERT_EQ(ApfOpenForReading(m, events_.Received().front(), "APF"), 0);
    EXPECT_EQ(ApfPageCount(m), 2);
    ApfClose(m);
}

// How a received call ends is told in the texts the user knows: a whole call ends "Finished" (not
// with a Class 2 hang-up report); a caller that sends DCN in phase B or hangs up ends it as a far
// end that disconnected, not as a modem that answered badly.
struct LeaveCase {
    const char* name;
    CallingStation::Leaves leaves;
    int error;
};

class Class1CallEnd : public Class1Dialogue, public ::testing::WithParamInterface<LeaveCase> {};

TEST_P(Class1CallEnd, IsReportedAsWhatHappened)
{
    CallingStation far(port_, std::string("\x00\x80\xB2\x59\x01\x00", 6));
    far.fcErrors = 0;
    far.leaves = GetParam().leaves;
    events_.receiveDir = dir_.Path();
    FaxReceiveSession session(events_);
    session.common.faxClass = fcClass1;
    session.common.options = foExitOnError;
    session.modem.DesiredBPS = 14400;
    session.OneFax = true;
    ASSERT_EQ(session.Start(port_), 0);
    port_.Modem("\r\nRING\r\n");
    ASSERT_TRUE(port_.Run(session));
    const std::vector<int> statuses = events_.Statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), fsGotFHNG), 0);
    if (GetParam().error == 0) {
        EXPECT_TRUE(events_.Errors().empty()) << events_.Errors().front();
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back(), fsFinished);
        return;
    }
    ASSERT_FALSE(events_.Errors().empty());
    EXPECT_EQ(events_.Errors().front(), GetParam().error);
    EXPECT_TRUE(events_.Received().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, Class1CallEnd,
    ::testing::Values(LeaveCase{"Whole", CallingStation::Leaves::Never, 0},
                      LeaveCase{"DcnInPhaseB", CallingStation::Leaves::DcnForDcs, ecCancelRequested},
                      LeaveCase{"HangUpAfterThePage", CallingStation::Leaves::HangsUpAfterPage, ecCancelRequested},
                      LeaveCase{"HangUpUnderCfr", CallingStation::Leaves::HangsUpUnderCfr, ecCancelRequested}),
    [](const auto& info) { return std::string(info.param.name); });

// After the six EOLs that end a page the carrier's last bits are noise: they stay out of the file.
TEST_F(Class1Dialogue, NothingAfterThePagesRtcIsKept)
{
    const std::string row("\x00\x80\xB2\x59\x01", 5);
    const std::string rtc("\x00\x80\x00\x08\x80\x00\x08\x80\x00\x08\x80", 11);
    CallingStation far(port_, row + rtc + "\x5A\xA5\x13\x37", 1);
    far.fcErrors = 0;
    events_.receiveDir = dir_.Path();
    FaxReceiveSession session(events_);
    session.common.faxClass = fcClass1;
    session.modem.DesiredBPS = 14400;
    session.modem.AnswerOnRing = 2;
    session.OneFax = true;
    ASSERT_EQ(session.Start(port_), 0);
    port_.Modem("\r\nRING\r\n");
    ASSERT_FALSE(port_.Run(session)); // one ring is not enough
    EXPECT_EQ(std::count(far.commands.begin(), far.commands.end(), "ATA"), 0);
    port_.Modem("\r\nRING\r\n");
    ASSERT_TRUE(port_.Run(session));
    ASSERT_EQ(events_.Received().size(), 1u);
    TFaxModemRec m;
    ASSERT_EQ(ApfOpenForReading(m, events_.Received().front(), "APF"), 0);
    ASSERT_EQ(ApfSeekPage(m, 1), 0);
    std::vector<uint8_t> body;
    ASSERT_EQ(ApfReadBlock(m, body, ApfPageBodyLength(m)), 0);
    // The row and the RTC's six EOLs, then nothing of the noise.
    std::string kept(body.begin(), body.end());
    EXPECT_GE(kept.size(), row.size() + 10);
    EXPECT_EQ(kept, (row + rtc).substr(0, kept.size()));
    ApfClose(m);
}

} // namespace
