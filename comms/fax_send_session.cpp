#include "fax_send_session.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <sys/stat.h>

#include "class1_frames.h"
#include "fax_image_io.h"
#include "platform/date_format.h"

namespace zn::comms {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03, XON = 0x11;
// T.30: a station answers a command 75 ms after it ended. Every wait before this side's own
// transmission keeps to that; longer ones only lengthen the call.
constexpr int kResponseDelayMs = 75;
// One flag for all send sessions: FaxNext is outstanding.
std::atomic<bool> nextEntryBusy{false};

const char* const kStateNames[] = {
    "tfNone", "tfGetEntry", "tfInit", "tf1Init1", "tf2Init1", "tf2Init1A", "tf2Init1B", "tf2Init2",
    "tf2Init3", "tfDial", "tfRetryWait", "tf1Connect", "tf1SendTSI", "tf1TSIRespns", "tf1DCSRspns",
    "tf1TrainStrt", "tf1TrainFnsh", "tf1WaitCFR", "tf1WaitPgCn", "tf2Connect", "tf2GetParams",
    "tfWaitXon", "tfWaitFrHead", "tfSndPgeHdr", "tfOpenCover", "tfSendCover", "tfPrepPage",
    "tfSendPage", "tfDrainPage", "tf1PageEnd", "tf1PrepEOP", "tf1SendEOP", "tf1WaitMPS", "tf1WaitEOP",
    "tf1WaitMCF", "tf1SendDCN", "tf1Hangup", "tf1WaitHngp", "tf2SendEOP", "tf2WaitFPTS", "tf2WaitFET",
    "tf2WaitPgOK", "tf2SndNwPrm", "tf2NextPage", "tf20ChckPg", "tfClose", "tfCompleteOK", "tfAbort",
    "tfDone"};

bool EndsWithNoCase(const std::string& s, const std::string& tail)
{
    if (tail.size() > s.size())
        return false;
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(s[s.size() - tail.size() + i]))
            != std::toupper(static_cast<unsigned char>(tail[i])))
            return false;
    return true;
}

bool FileExists(const std::string& path)
{
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

void DefaultDateTime(std::string& date, std::string& time)
{
    platform::DateTime now = platform::Now();
    date = platform::FormatDateTime(platform::ShortDateFormat(), now);
    time = platform::FormatDateTime(platform::ShortTimeFormat(), now);
}
} // namespace

const uint8_t kEndOfPage[12] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

const char* SendStateName(SendState s) { return s <= tfDone ? kStateNames[s] : "?"; }

FaxSendSession::FaxSendSession(FaxEngineEvents& events) : FaxSession(events)
{
    common.sending = true;
    common.DialAttempts = 1;
    dateTimeTexts = DefaultDateTime;
}

void FaxSendSession::Prepare()
{
    modem.resolutionDigit = '0';
    modem.apfHeader.fill(0);
    state_ = tfGetEntry;
    common.statusCode = fsInitializing;
    common.errorCode = 0;
    common.totalPages = 0;
    ReportStatus(true, false);
    common.bytesTransferred = common.pageLength = 0;
    common.remoteID.clear();
    common.faxFile.clear();
    common.coverFile.clear();
    common.phoneNumber.clear();
    common.dialAttempt = 0;
    common.currentPage = 1;
    userAbort_ = false;

    Port().SetLineBaud(19200);
    Port().SetModemLines(true, true);

    if (common.faxClass <= fcDetect) {
        Classes c = DetectClasses(false);
        common.faxClass = c.class20 ? fcClass20 : c.class2 ? fcClass2 : c.class1 ? fcClass1 : 0;
        if (!common.faxClass) {
            ReportError(ecFaxBadModemResult);
            return;
        }
    }
    if (!modem.modemSetUp) {
        if ((!modem.ModemInit.empty() && !SynchronousCommand(modem.ModemInit)) || !SynchronousCommand(modem.defaultInit)) {
            ReportError(ecFaxBadModemResult);
            return;
        }
        modem.modemSetUp = true;
    }
    LoadKeywords();
    BaudSwitch(false);
    if (Class1())
        QueryModemSpeeds(true);
    common.sending = true;
}

bool FaxSendSession::NeedsResponse(SendState s) const
{
    switch (s) {
    case tfGetEntry: case tfInit: case tfDial: case tfRetryWait: case tfWaitXon: case tfWaitFrHead:
    case tfSndPgeHdr: case tfOpenCover: case tfSendCover: case tfPrepPage: case tfSendPage:
    case tfDrainPage: case tf1PrepEOP: case tf2SendEOP: case tf2SndNwPrm: case tf2NextPage: case tfClose:
    case tfCompleteOK: case tfAbort: case tfDone: case tfNone:
        return false;
    default:
        return true;
    }
}

bool FaxSendSession::RunsAtOnce(SendState s) const
{
    switch (s) {
    case tfGetEntry: case tfInit: case tfDial: case tfSndPgeHdr: case tfOpenCover: case tfPrepPage:
    case tf1PrepEOP: case tf2SendEOP: case tf2SndNwPrm: case tf2NextPage: case tfClose: case tfCompleteOK:
    case tfAbort:
        return true;
    default:
        return false;
    }
}

bool FaxSendSession::InDataMode() const
{
    return state_ == tf1TrainFnsh || (state_ >= tfWaitXon && state_ <= tfDrainPage) || state_ == tf1PageEnd;
}

void FaxSendSession::Pass(uint32_t msg, int trigger)
{
    if (!OwnTrigger(trigger) || state_ == tfAbort || state_ == tfDone)
        return;
    Port().LogFax(30 + state_, Port().OutputCount(), SendStateName(state_));
    bool runStep = true;
    if (msg == fmAbortRequest) {
        common.statusCode = fsUserAbort;
        userAbort_ = true;
        bool dataMode = InDataMode();
        common.errorCode = ecCancelRequested;
        state_ = tfAbort;
        ReportStatus();
        if (dataMode)
            SendSideHangup(true); // end the data before tfAbort's hang-up
        runStep = false;
    } else if (trigger == common.statusTimer || modem.forceStatus) {
        modem.forceStatus = false;
        ReportStatus();
        ArmStatusTimer();
        if (trigger == common.statusTimer)
            runStep = false;
    }
    for (;;) {
        if (runStep) {
            if (NeedsResponse(state_)) {
                if (trigger == 0) {
                    Collected c = Collect();
                    if (c == Collected::Nothing)
                        return;
                    if (c == Collected::Line)
                        Step(trigger);
                } else if (trigger == common.responseTimer) {
                    OnResponseTimer();
                } else {
                    return;
                }
            } else {
                if (state_ == tfGetEntry && nextEntryBusy)
                    return;
                Step(trigger);
            }
        }
        runStep = true;
        if (state_ == tfDone)
            return;
        if (RunsAtOnce(state_)) {
            trigger = -1;
            continue;
        }
        if (NeedsResponse(state_) && Port().HasInput()) {
            trigger = 0;
            continue;
        }
        return;
    }
}

FaxSendSession::Collected FaxSendSession::Collect()
{
    uint8_t c;
    while (Port().ReadChar(c) == 0) {
        ResponseCollector::Item item = response.Add(c);
        if (item == ResponseCollector::Frame) {
            SendState before = state_;
            HandleFrame();
            if (state_ != before)
                return Collected::StateChanged;
            continue;
        }
        if (item != ResponseCollector::Line)
            continue;
        if (IsError() && state_ != tf1SendEOP && state_ != tf1WaitMCF && state_ != tf20ChckPg) {
            Abort(ecFaxBadModemResult);
            return Collected::StateChanged;
        }
        if (!Class1() && IsHangupWord() && state_ != tf2WaitFET && state_ != tf20ChckPg) {
            modem.hangupCode = HangupCodeOf(response.Text());
            Abort(ecFaxBadModemResult);
            return Collected::StateChanged;
        }
        return Collected::Line;
    }
    return Collected::Nothing;
}

void FaxSendSession::HandleFrame()
{
    ReceivedFrame f = ParseFrame(response.Text());
    if (!f.valid)
        return;
    modem.finalFrame = f.final;
    modem.lastFCF = WithoutX(f.fcf);
    switch (modem.lastFCF) {
    case WithoutX(fcfCSI):
        common.remoteID = StationIdFromFrame(f.info);
        common.statusCode = fsGotRemoteID;
        modem.forceStatus = true;
        break;
    case fcfDIS: {
        DecodedCaps caps = DecodeDIS(f.info);
        disSeen_ = true;
        modem.remoteModulations = caps.modulations;
        modem.remoteFine = caps.fine;
        modem.remoteWide = caps.wide;
        modem.remoteLength = caps.length;
        modem.scanTimeCode = caps.scanTimeCode;
        modem.fine = modem.resolutionDigit == '1';
        modem.wide = (ApfPageFlags(modem) & kPageWide) != 0 && modem.faxFile;
        if ((modem.fine && !modem.remoteFine) || (modem.wide && !modem.remoteWide)) {
            Abort(ecFaxBadMachine);
            return;
        }
        ChooseSpeedFromDis();
        if (modem.rateIndex < 0) {
            Abort(ecFaxBadMachine);
            return;
        }
        common.statusCode = fsGettingParams;
        modem.forceStatus = true;
        break;
    }
    case WithoutX(fcfCFR):
        modem.cfrSeen = true;
        break;
    case WithoutX(fcfFTT): {
        // Training failed: a lower speed, and DCS and TCF again.
        int next = ChooseRate(modem.localRates, modem.remoteModulations, modem.DesiredBPS, modem.rateIndex + 1);
        if (next < 0) {
            Abort(ecFaxTrainError);
            return;
        }
        modem.rateIndex = next;
        modem.bitRate = FaxRates()[size_t(next)].bitRate;
        UpdateMinimumRowBytes();
        SendFrameCommand("AT+FTH=3");
        state_ = tf1TSIRespns;
        break;
    }
    case fcfDCN:
        Abort(ecCancelRequested);
        break;
    default:
        break;
    }
}

void FaxSendSession::ChooseSpeedFromDis()
{
    modem.rateIndex = ChooseRate(modem.localRates, modem.remoteModulations, modem.DesiredBPS);
    if (modem.rateIndex >= 0) {
        modem.bitRate = FaxRates()[size_t(modem.rateIndex)].bitRate;
        modem.modulationCode = FaxRates()[size_t(modem.rateIndex)].longCode;
    }
    UpdateMinimumRowBytes();
}

void FaxSendSession::OnResponseTimer()
{
    switch (state_) {
    case tf1Connect:
    case tf2Connect:
        Abort(ecNoAnswer);
        break;
    case tf1WaitMCF:
        Port().WriteChar(' '); // ends the frame receive
        state_ = tf1PrepEOP;
        break;
    case tf1WaitHngp:
        SendSideHangup(false);
        state_ = tfClose;
        break;
    default:
        Abort(ecTimeout);
        break;
    }
}

void FaxSendSession::Abort(int code)
{
    ReportError(code);
    state_ = tfAbort;
}

bool FaxSendSession::DialResult()
{
    if (response.Has("BUSY") || response.Has("ANSWER")) {
        ++common.dialAttempt;
        if (common.DialAttempts != 0 && common.dialAttempt >= common.DialAttempts) {
            ReportStatus();
            if (common.options & foAbortNoConnect) {
                Abort(ecFaxBusy);
            } else {
                CloseFiles();
                ReportError(ecFaxBusy);
                Events().FaxLog(*this, lfTransmitFail);
                entryActive_ = false;
                common.statusCode = fsInitializing;
                state_ = tfGetEntry;
            }
        } else {
            common.statusCode = fsBusyWait;
            ArmResponseTimer(std::max<int32_t>(common.DialRetryWait, 1));
            state_ = tfRetryWait;
        }
        return true;
    }
    if (response.Has("VOICE") || response.Has("VCON")) {
        Abort(ecFaxVoiceCall);
        return true;
    }
    if (response.Has("NO DIAL")) {
        Abort(ecFaxNoDialTone);
        return true;
    }
    if (IsNoCarrier()) {
        Abort(ecFaxNoCarrier);
        return true;
    }
    return false;
}

int FaxSendSession::OpenEntry()
{
    if (!common.faxFile.empty()) {
        int rc = ApfOpenForReading(modem, common.faxFile, common.FaxFileExt);
        if (rc)
            return rc;
        common.totalPages = ApfPageCount(modem);
        return 0;
    }
    if (!FileExists(common.coverFile))
        return ecNoFilename;
    common.totalPages = 0;
    return 0;
}

void FaxSendSession::ReadPageHeaderFlags()
{
    uint16_t flags = ApfPageFlags(modem);
    modem.lengthWords = (flags & kPageLengthWords) != 0;
    modem.previousResolution = modem.resolutionDigit;
    modem.resolutionDigit = (flags & kPageFine) ? '1' : '0';
}

void FaxSendSession::CloseFiles()
{
    ApfClose(modem);
    if (coverReader_.is_open())
        coverReader_.close();
    textCoverOpen_ = false;
}

void FaxSendSession::WriteFrame(const std::vector<uint8_t>& frame)
{
    DelayMs(20);
    WriteRaw(frame.data(), frame.size());
}

void FaxSendSession::SendFinalFrame(uint8_t fcf) { WriteFrame(BuildFrame(fcf, true)); }

uint8_t FaxSendSession::PostPageFcf() const
{
    if (!modem.morePages)
        return fcfEOP;
    // A next page of another resolution or width needs a new DCS: EOM lets the far end send its
    // DIS again.
    bool nextWide = (ApfPageFlags(modem) & kPageWide) != 0;
    if (modem.resolutionDigit != modem.previousResolution || nextWide != modem.wide)
        return fcfEOM;
    return sendMPS ? fcfMPS : fcfEOM;
}

int32_t FaxSendSession::DrainTicks()
{
    // The modem and the line between may hold many kilobytes not yet sent: allow for them at the
    // session's bit rate, on top of the response time-out.
    int32_t rate = std::max<int32_t>(modem.bitRate, 2400);
    int64_t queued = int64_t(Port().OutputCount()) + 24 * 1024;
    return modem.responseTimeout + int32_t(queued * 8 * 1000 / rate / kTickMs);
}

int FaxSendSession::SendHeaderLine()
{
    bool wide = modem.wide;
    int rc = WriteBlankRows(8, wide);
    if (rc)
        return rc;
    auto fill = [this]() {
        uint32_t queued = Port().OutputCount();
        return queued < BufferMinimum ? WriteZeros(std::min<uint32_t>(BufferMinimum - queued, 8192)) : 0;
    };
    if (!HeaderLine.empty() && textRows) {
        if ((rc = fill()))
            return rc;
        HeaderValues v;
        dateTimeTexts(v.date, v.time);
        v.stationId = common.StationID;
        v.sender = HeaderSender;
        v.recipient = HeaderRecipient;
        v.title = HeaderTitle;
        v.withCover = !common.coverFile.empty();
        v.currentPage = common.coverPending ? 0 : common.currentPage;
        v.totalPages = common.totalPages;
        std::vector<std::vector<uint8_t>> rows;
        if ((rc = textRows->CodeText(ExpandHeaderLine(HeaderLine, v), true, modem.fine, wide, rows)))
            return rc;
        for (const auto& row : rows) {
            std::vector<uint8_t> padded(row);
            if (int32_t(padded.size()) < modem.minimumRowBytes)
                padded.resize(size_t(modem.minimumRowBytes), 0);
            if ((rc = WriteStuffed(padded.data(), padded.size())))
                return rc;
        }
    }
    return fill();
}

int FaxSendSession::OpenCover()
{
    coverFileName_ = common.coverFile;
    if (modem.apfCover) {
        int rc = ApfOpenForReading(modem, coverFileName_, common.FaxFileExt);
        if (!rc)
            rc = ApfSeekPage(modem, 1);
        if (!rc)
            ReadPageHeaderFlags();
        return rc;
    }
    if (!textRows)
        return ecFontFileNotFound;
    coverReader_.close();
    coverReader_.clear();
    coverReader_.open(coverFileName_, std::ios::binary);
    if (!coverReader_)
        return -2;
    textCoverOpen_ = true;
    return 0;
}

int FaxSendSession::SendCoverLines()
{
    std::string line;
    while (Port().OutputFree() > 4096 && std::getline(coverReader_, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        HeaderValues v;
        dateTimeTexts(v.date, v.time);
        v.stationId = common.StationID;
        v.sender = HeaderSender;
        v.recipient = HeaderRecipient;
        v.title = HeaderTitle;
        v.withCover = true;
        v.currentPage = 0;
        v.totalPages = common.totalPages;
        std::vector<std::vector<uint8_t>> rows;
        if (int rc = textRows->CodeText(ExpandHeaderLine(line, v), false, modem.fine, modem.wide, rows))
            return rc;
        for (const auto& row : rows)
            if (int rc = WriteRow(row))
                return rc;
    }
    return 0;
}

int FaxSendSession::SendPageBlocks(bool& done)
{
    done = false;
    int64_t deadline = NowMs() + 3000LL * common.StatusInterval;
    std::vector<uint8_t> block;
    for (int round = 0; round < MaxSendCount; ++round) {
        if (Port().OutputCount() > BufferMinimum || Port().OutputFree() < 4096)
            break;
        if (NowMs() >= deadline) {
            ReportStatus();
            ArmStatusTimer();
            deadline = NowMs() + 2000LL * common.StatusInterval;
        }
        int32_t left = common.pageLength - fileBytesRead_;
        if (left <= 0)
            break;
        int rc;
        if (modem.lengthWords) {
            int32_t used = 0;
            rc = ApfReadRowRecord(modem, block, 0, used);
            if (!rc) {
                fileBytesRead_ += used;
                common.bytesTransferred += used;
                // A stored row ends in a whole zero byte of fill, and its EOL takes sixteen bits
                // on a byte boundary: on the line rows follow each other bit by bit.
                if (block.size() > 2 && block.back() == 0)
                    block.pop_back();
                if (rowPacker_.AddRow(block, modem.minimumRowBytes * 8)) {
                    block.swap(rowPacker_.Bytes());
                    rowPacker_.Bytes().clear();
                } else {
                    rowPacker_.Flush();
                    if (int32_t(block.size()) < modem.minimumRowBytes)
                        block.resize(size_t(modem.minimumRowBytes), 0);
                    block.insert(block.begin(), rowPacker_.Bytes().begin(), rowPacker_.Bytes().end());
                    rowPacker_.Bytes().clear();
                }
            }
        } else {
            rc = ApfReadBlock(modem, block, std::min<int32_t>(left, 4096));
            if (!rc) {
                fileBytesRead_ += int32_t(block.size());
                common.bytesTransferred += int32_t(block.size());
            }
        }
        if (rc)
            return rc;
        if ((rc = WriteStuffed(block.data(), block.size())))
            return rc;
    }
    if (common.pageLength - fileBytesRead_ <= 0) {
        done = true;
        rowPacker_.Flush();
        if (int rc = WriteStuffed(rowPacker_.Bytes().data(), rowPacker_.Bytes().size()))
            return rc;
        rowPacker_.Reset();
    }
    return 0;
}

int FaxSendSession::AdvancePage()
{
    sentCover_ = common.coverPending;
    sentPage_ = common.currentPage;
    sentCoverFile_ = common.coverFile;
    modem.morePages = !common.faxFile.empty()
                      && (common.coverPending || common.currentPage < common.totalPages);
    if (!modem.morePages)
        return 0;
    if (common.coverPending) {
        if (textCoverOpen_) {
            coverReader_.close();
            textCoverOpen_ = false;
        } else if (modem.apfCover) {
            int rc = ApfOpenForReading(modem, common.faxFile, common.FaxFileExt);
            if (rc)
                return rc;
        }
        common.coverPending = false;
        common.coverFile.clear();
    } else {
        ++common.currentPage;
        common.bytesTransferred = 0;
    }
    int rc = ApfSeekPage(modem, common.currentPage);
    if (rc)
        return rc;
    ReadPageHeaderFlags();
    return 0;
}

int FaxSendSession::RewindToSentPage()
{
    if (sentCover_) {
        common.coverFile = sentCoverFile_;
        common.coverPending = true;
        return OpenCover();
    }
    if (!modem.faxFile) {
        int rc = ApfOpenForReading(modem, common.faxFile, common.FaxFileExt);
        if (rc)
            return rc;
    }
    common.currentPage = sentPage_;
    int rc = ApfSeekPage(modem, common.currentPage);
    if (!rc)
        ReadPageHeaderFlags();
    return rc;
}

void FaxSendSession::WatchDuringPage()
{
    // Nothing is expected from the modem while page data flows, but a Class 2/2.0 modem reports a
    // far end that hung up: that report must end the fax, not be lost with the rest.
    if (Class1()) {
        DrainInput();
        return;
    }
    uint8_t c;
    while (Port().ReadChar(c) == 0)
        if (response.Add(c) == ResponseCollector::Line && IsHangupWord()) {
            modem.hangupCode = HangupCodeOf(response.Text());
            Abort(ecFaxBadModemResult);
            return;
        }
}

void FaxSendSession::ResendPage()
{
    if (++pageRetryCount_ > pageRetryLimit) {
        Port().WriteString("AT+FKS\r");
        Abort(ecFaxSessionError);
        return;
    }
    if (int rc = RewindToSentPage()) {
        Abort(rc);
        return;
    }
    SendCommand("AT+FDT");
    ResponseReset(546);
    state_ = tf2GetParams;
}

void FaxSendSession::Step(int trigger)
{
    FaxEngineEvents& ev = Events();
    switch (state_) {
    case tfNone:
    case tfDone:
    case tf1WaitEOP:
        break;

    case tfGetEntry: {
        nextEntryBusy = true;
        common.phoneNumber.clear();
        common.faxFile.clear();
        common.coverFile.clear();
        bool given = ev.FaxNext(*this) && !common.phoneNumber.empty();
        nextEntryBusy = false;
        if (!given) {
            state_ = tfCompleteOK;
            break;
        }
        ev.FaxLog(*this, lfTransmitStart);
        entryActive_ = true;
        common.dialAttempt = 0;
        common.coverPending = false;
        common.totalPages = 0;
        common.currentPage = 1;
        common.remoteID.clear();
        common.bytesTransferred = common.pageLength = 0;
        pageRetryCount_ = 0;
        disSeen_ = false;
        if (int rc = OpenEntry()) {
            Abort(rc);
            break;
        }
        if (common.options & foSoftwareFlow)
            Port().ClearSoftwareFlow();
        state_ = tfInit;
        break;
    }

    case tfInit: {
        for (char& c : common.StationID)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        if (!common.coverFile.empty()) {
            common.coverPending = true;
            modem.apfCover = EndsWithNoCase(common.coverFile, "." + common.FaxFileExt);
        }
        if (!common.faxFile.empty()) {
            if (int rc = ApfSeekPage(modem, 1)) {
                Abort(rc);
                break;
            }
            ReadPageHeaderFlags();
        }
        if (common.coverPending && modem.apfCover) {
            // The first page sent is the cover: its resolution decides the session's.
            TFaxModemRec probe;
            if (ApfOpenForReading(probe, common.coverFile, common.FaxFileExt) == 0 && ApfSeekPage(probe, 1) == 0) {
                modem.previousResolution = modem.resolutionDigit;
                modem.resolutionDigit = (ApfPageFlags(probe) & kPageFine) ? '1' : '0';
            }
            ApfClose(probe);
        }
        modem.wide = modem.faxFile && (ApfPageFlags(modem) & kPageWide) != 0;
        common.statusCode = fsInitializing;
        if (Class1()) {
            SendCommand("AT+FCLASS=1");
            state_ = tf1Init1;
        } else {
            SendCommand(modem.keywords[kwSelectClass]);
            state_ = tf2Init1;
        }
        break;
    }

    case tf1Init1:
        if (IsOK())
            state_ = tfDial;
        else
            Abort(ecFaxInitError);
        break;

    case tf2Init1:
    case tf2Init1A:
    case tf2Init1B:
    case tf2Init2:
    case tf2Init3:
        if (!IsOK()) {
            Abort(ecFaxInitError);
            break;
        }
        if (state_ == tf2Init1) {
            SendCommand(modem.keywords[kwLocalID] + "=\"" + common.StationID + "\"");
            state_ = common.faxClass == fcClass20 ? tf2Init1A : tf2Init2;
        } else if (state_ == tf2Init1A) {
            SendCommand("AT+FLO=2");
            state_ = tf2Init1B;
        } else if (state_ == tf2Init1B) {
            SendCommand("AT+FNR=1,1,1,0");
            state_ = tf2Init2;
        } else if (state_ == tf2Init2) {
            char wideDigit = modem.wide ? '1' : '0';
            SendCommand(modem.keywords[kwSendCapabilities] + "=" + modem.resolutionDigit + "," + BrDigit(modem.DesiredBPS)
                        + "," + wideDigit + ",2,0," + modem.ecmDigit + ",0,0");
            state_ = tf2Init3;
        } else {
            state_ = tfDial;
        }
        break;

    case tfDial:
        SendCommand(std::string(modem.ToneDial ? "ATDT" : "ATDP") + modem.DialPrefix + common.phoneNumber);
        ArmResponseTimer(modem.DialWait);
        common.statusCode = fsDialing;
        modem.finalFrame = false;
        disSeen_ = false;
        state_ = Class1() ? tf1Connect : tf2Connect;
        break;

    case tfRetryWait:
        if (trigger != common.statusTimer)
            state_ = tfInit;
        break;

    case tf1Connect:
        if (IsConnect()) {
            ResponseReset();
        } else if (IsOK()) {
            if (modem.finalFrame && disSeen_) {
                SendCommand("AT+FTH=3", kResponseDelayMs);
                modem.finalFrame = false;
                state_ = tf1SendTSI;
            } else {
                SendFrameCommand("AT+FRH=3");
            }
        } else if (IsFcError()) {
            SendFrameCommand("AT+FRH=3");
        } else if (!DialResult()) {
            ResponseReset(std::max<int32_t>(modem.DialWait, modem.responseTimeout));
        }
        break;

    case tf1SendTSI:
        if (IsConnect()) {
            WriteFrame(BuildIdFrame(fcfTSI, common.StationID));
            ResponseReset();
            state_ = tf1TSIRespns;
        }
        break;

    case tf1TSIRespns:
        if (IsConnect()) {
            DcsParams p;
            p.rateIndex = modem.rateIndex;
            p.fine = modem.fine;
            p.wide = modem.wide;
            p.scanTimeCode = modem.scanTimeCode;
            p.remoteLength = modem.remoteLength;
            modem.modulationCode = FaxRates()[size_t(modem.rateIndex)].longCode;
            WriteFrame(BuildDCS(p));
            ResponseReset();
            state_ = tf1DCSRspns;
        }
        break;

    case tf1DCSRspns:
        if (IsOK()) {
            SendCommand("AT+FTM=" + modem.modulationCode, kResponseDelayMs);
            state_ = tf1TrainStrt;
        }
        break;

    case tf1TrainStrt:
        if (IsConnect()) {
            if (common.options & foSoftwareFlow)
                Port().SetSoftwareFlow(0, 0, kSoftwareFlowTransmit);
            std::vector<uint8_t> tcf = BuildTCF(modem.bitRate);
            WriteRaw(tcf.data(), tcf.size());
            ResponseReset(DrainTicks());
            state_ = tf1TrainFnsh;
        } else if (IsNoCarrier() || IsFcError()) {
            Abort(ecFaxSessionError);
        }
        break;

    case tf1TrainFnsh:
        if (IsOK()) {
            if (common.options & foSoftwareFlow)
                Port().ClearSoftwareFlow();
            DelayMs(200);
            SendFrameCommand("AT+FRH=3");
            modem.cfrSeen = false;
            modem.finalFrame = false;
            state_ = tf1WaitCFR;
        }
        break;

    case tf1WaitCFR:
        if (IsOK()) {
            if (modem.finalFrame) {
                if (modem.cfrSeen) {
                    SendCommand("AT+FTM=" + std::string(FaxRates()[size_t(modem.rateIndex)].shortCode), kResponseDelayMs);
                    modem.finalFrame = false;
                    state_ = tf1WaitPgCn;
                } else {
                    DelayMs(200);
                    SendFrameCommand("AT+FTH=3");
                    state_ = tf1TSIRespns;
                }
            } else {
                SendFrameCommand("AT+FRH=3");
            }
        } else if (IsFcError() || IsNoCarrier()) {
            SendFrameCommand("AT+FRH=3");
        }
        break;

    case tf1WaitPgCn:
        if (IsConnect()) {
            // The modem sends its training now and then needs page data at once: no XON to wait for.
            ArmOutputFree();
            ArmResponseTimer(modem.pageTimeout);
            state_ = tfWaitFrHead;
        } else if (IsNoCarrier() || IsFcError()) {
            Abort(ecFaxSessionError);
        }
        break;

    case tf2Connect:
        if (KeywordLine(kwConnect)) {
            ResponseReset(182);
            state_ = tf2GetParams;
        } else if (!DialResult()) {
            ResponseReset(std::max<int32_t>(modem.DialWait, modem.responseTimeout));
        }
        break;

    case tf2GetParams:
        if (KeywordLine(kwRemoteCapabilities)) {
            Class2Params p = ParseClass2Params(KeywordValue(), common.faxClass == fcClass20);
            modem.remoteFine = p.fine;
            modem.remoteWide = p.width >= 1;
            bool fine = modem.resolutionDigit == '1';
            if ((fine && !modem.remoteFine) || (modem.wide && !modem.remoteWide)) {
                Abort(ecFaxBadMachine);
                break;
            }
            common.statusCode = fsGettingParams;
            modem.forceStatus = true;
            ResponseReset();
        } else if (KeywordLine(kwCalledID)) {
            common.remoteID = StationIdFromReport(KeywordValue());
            common.statusCode = fsGotRemoteID;
            modem.forceStatus = true;
            ResponseReset();
        } else if (KeywordLine(kwSessionParams)) {
            Class2Params p = ParseClass2Params(KeywordValue(), common.faxClass == fcClass20);
            modem.fine = p.fine;
            modem.wide = p.width == 1;
            modem.bitRate = p.bitRate;
            modem.scanTimeCode = p.scanTimeCode;
            modem.ECM = p.ECM;
            UpdateMinimumRowBytes();
            common.statusCode = fsGettingParams;
            modem.forceStatus = true;
            ResponseReset();
        } else if (IsOK()) {
            SendCommand("AT+FDT");
            ResponseReset(546);
        } else if (IsConnect()) {
            if (common.faxClass == fcClass20) {
                ArmOutputFree();
                ArmResponseTimer(modem.pageTimeout);
                state_ = tfWaitFrHead;
            } else {
                ArmResponseTimer(18);
                state_ = tfWaitXon;
            }
        } else {
            ResponseReset();
        }
        break;

    case tfWaitXon: {
        bool go = trigger == common.responseTimer;
        uint8_t c;
        while (!go && Port().ReadChar(c) == 0)
            go = c == XON;
        if (go) {
            ArmOutputFree();
            ArmResponseTimer(modem.pageTimeout);
            state_ = tfWaitFrHead;
        }
        break;
    }

    case tfWaitFrHead:
        if (trigger == common.outputFreeTrigger) {
            common.statusCode = fsSendingPage;
            if (common.options & foSoftwareFlow)
                Port().SetSoftwareFlow(0, 0, kSoftwareFlowTransmit);
            state_ = tfSndPgeHdr;
        } else if (trigger == common.responseTimer) {
            Abort(ecTimeout);
        } else if (trigger == 0) {
            WatchDuringPage();
        }
        // In Class 1 characters now are the modem's answer to the end of the page: they wait for tf1PageEnd.
        break;

    case tfSndPgeHdr:
        common.bytesTransferred = 0;
        if (int rc = SendHeaderLine()) {
            Abort(rc);
            break;
        }
        state_ = common.coverPending ? tfOpenCover : tfPrepPage;
        break;

    case tfOpenCover:
        if (int rc = OpenCover()) {
            Abort(rc);
            break;
        }
        if (modem.apfCover) {
            state_ = tfPrepPage;
        } else {
            ArmResponseTimer(modem.pageTimeout);
            ArmOutputFree();
            common.statusCode = fsSendingPage;
            state_ = tfSendCover;
        }
        break;

    case tfSendCover:
        if (trigger == common.outputFreeTrigger) {
            if (int rc = SendCoverLines()) {
                Abort(rc);
                break;
            }
            if (coverReader_.eof() || !coverReader_.good()) {
                WriteStuffed(kEndOfPage, sizeof kEndOfPage);
                if (modem.minimumRowBytes > int32_t(sizeof kEndOfPage))
                    WriteZeros(size_t(modem.minimumRowBytes) - sizeof kEndOfPage);
                if (Class1()) {
                    const uint8_t end[2] = {DLE, ETX};
                    WriteRaw(end, 2);
                }
                common.statusCode = fsSendingPage;
                ArmResponseTimer(DrainTicks());
                ArmOutputSent();
                state_ = tfDrainPage;
            } else {
                ArmResponseTimer(modem.pageTimeout);
                ArmOutputFree();
            }
        } else if (trigger == common.responseTimer) {
            Abort(ecTimeout);
        } else if (trigger == 0) {
            WatchDuringPage();
        }
        // In Class 1 characters now are the modem's answer to the end of the page: they wait for tf1PageEnd.
        break;

    case tfPrepPage:
        common.bytesTransferred = 0;
        fileBytesRead_ = 0;
        rowPacker_.Reset();
        common.pageLength = ApfPageBodyLength(modem);
        ArmResponseTimer(modem.pageTimeout);
        ArmOutputFree();
        state_ = tfSendPage;
        break;

    case tfSendPage:
        if (trigger == common.outputFreeTrigger) {
            bool done = false;
            if (int rc = SendPageBlocks(done)) {
                Abort(rc < 0 ? rc : ecFaxBadFormat);
                break;
            }
            if (done) {
                if (Class1()) {
                    const uint8_t end[2] = {DLE, ETX};
                    WriteRaw(end, 2);
                }
                common.statusCode = fsSendingPage;
                ArmResponseTimer(DrainTicks());
                ArmOutputSent();
                state_ = tfDrainPage;
            } else {
                ArmResponseTimer(modem.pageTimeout);
                ArmOutputFree();
            }
        } else if (trigger == common.responseTimer) {
            Abort(ecTimeout);
        } else if (trigger == 0) {
            WatchDuringPage();
        }
        // In Class 1 characters now are the modem's answer to the end of the page: they wait for tf1PageEnd.
        break;

    case tfDrainPage:
        if (trigger == common.outputSentTrigger) {
            if (common.options & foSoftwareFlow)
                Port().ClearSoftwareFlow();
            nextResolution_ = modem.resolutionDigit;
            if (int rc = AdvancePage()) {
                Abort(rc);
                break;
            }
            common.statusCode = fsSendingPage;
            if (Class1()) {
                ResponseReset(DrainTicks());
                state_ = tf1PageEnd;
            } else if (common.faxClass == fcClass2) {
                const uint8_t end[2] = {DLE, ETX};
                WriteRaw(end, 2);
                state_ = tf2SendEOP;
            } else {
                uint8_t end[2] = {DLE, '.'};
                if (modem.morePages)
                    end[1] = modem.resolutionDigit == modem.previousResolution ? ',' : ';';
                WriteRaw(end, 2);
                state_ = tf2SendEOP;
            }
        } else if (trigger == common.responseTimer) {
            Abort(ecTimeout);
        } else if (trigger == 0 && !Class1()) {
            WatchDuringPage();
        }
        // In Class 1 characters now are the modem's answer to the end of the page: they wait for tf1PageEnd.
        break;

    case tf1PageEnd:
        if (IsOK()) {
            frameRetry_ = 0;
            common.statusCode = fsSendingEOP;
            state_ = tf1PrepEOP;
        }
        break;

    case tf1PrepEOP:
        if (++frameRetry_ < 4) {
            // The post-page command follows the page at once; a repeat waits for the far end to settle.
            SendCommand("AT+FTH=3", frameRetry_ == 1 ? kResponseDelayMs : 500);
            state_ = tf1SendEOP;
        } else {
            Abort(ecTimeout);
        }
        break;

    case tf1SendEOP:
        if (IsConnect()) {
            lastPostPage_ = PostPageFcf();
            SendFinalFrame(lastPostPage_);
            ResponseReset();
            state_ = tf1WaitMPS;
        } else if (IsError()) {
            state_ = tf1PrepEOP;
        }
        break;

    case tf1WaitMPS:
        if (IsOK()) {
            DelayMs(200);
            SendFrameCommand("AT+FRH=3");
            ArmResponseTimer(54);
            mcfConnect_ = false;
            modem.finalFrame = false;
            modem.lastFCF = 0;
            state_ = tf1WaitMCF;
        }
        break;

    case tf1WaitMCF:
        if (IsConnect()) {
            mcfConnect_ = true;
            ResponseReset(54);
        } else if (IsError() || IsFcError()) {
            state_ = tf1PrepEOP;
        } else if (IsOK()) {
            if (!modem.finalFrame) {
                SendFrameCommand("AT+FRH=3");
                break;
            }
            uint8_t fcf = modem.lastFCF;
            if (fcf == WithoutX(fcfRTN)) {
                // The page came out badly: train again and send it once more.
                if (++pageRetryCount_ > pageRetryLimit) {
                    Abort(ecFaxSessionError);
                    break;
                }
                if (int rc = RewindToSentPage()) {
                    Abort(rc);
                    break;
                }
                SendFrameCommand("AT+FTH=3");
                state_ = tf1TSIRespns;
            } else if (fcf == WithoutX(fcfMCF)) {
                pageRetryCount_ = 0;
                if (!modem.morePages) {
                    SendFrameCommand("AT+FTH=3");
                    state_ = tf1SendDCN;
                } else if (lastPostPage_ == fcfMPS) {
                    SendCommand("AT+FTM=" + std::string(FaxRates()[size_t(modem.rateIndex)].shortCode), kResponseDelayMs);
                    state_ = tf1WaitPgCn;
                } else {
                    // After EOM the called station starts again with its DIS.
                    disSeen_ = false;
                    modem.finalFrame = false;
                    SendFrameCommand("AT+FRH=3");
                    ArmResponseTimer(std::max<int32_t>(modem.responseTimeout, 4 * 182));
                    state_ = tf1Connect;
                }
            } else if (fcf == WithoutX(fcfRTP)) {
                pageRetryCount_ = 0;
                if (modem.morePages) {
                    SendFrameCommand("AT+FTH=3");
                    state_ = tf1TSIRespns;
                } else {
                    SendFrameCommand("AT+FTH=3");
                    state_ = tf1SendDCN;
                }
            } else {
                SendFrameCommand("AT+FRH=3");
            }
        }
        break;

    case tf1SendDCN:
        if (IsConnect()) {
            SendFinalFrame(fcfDCN);
            ResponseReset();
            state_ = tf1Hangup;
        }
        break;

    case tf1Hangup:
        if (IsOK()) {
            SendCommand("ATH");
            ArmResponseTimer(26);
            state_ = tf1WaitHngp;
        }
        break;

    case tf1WaitHngp:
        if (IsOK())
            state_ = tfClose;
        break;

    case tf2SendEOP:
        ResponseReset(DrainTicks());
        common.statusCode = fsSendingEOP;
        state_ = common.faxClass == fcClass2 ? tf2WaitFPTS : tf20ChckPg;
        break;

    case tf2WaitFPTS:
        if (IsOK()) {
            char digit = !modem.morePages ? '2' : modem.resolutionDigit != modem.previousResolution ? '1' : '0';
            SendCommand(std::string("AT+FET=") + digit);
            ResponseReset(DrainTicks());
            state_ = tf2WaitFET;
        } else {
            Abort(ecFaxSessionError);
        }
        break;

    case tf2WaitFET:
        if (IsHangupWord()) {
            modem.hangupCode = HangupCodeOf(response.Text());
            ResponseReset();
        } else if (KeywordLine(kwPageStatus)) {
            std::string v = KeywordValue();
            char digit = v.empty() ? 0 : v[v.find_first_not_of(' ') == std::string::npos ? 0 : v.find_first_not_of(' ')];
            if (digit == '1' || digit == '3') {
                common.statusCode = fsPageAccepted;
                ResponseReset();
            } else if (digit == '2') {
                common.statusCode = fsPageError;
                ResponseReset();
                state_ = tf2WaitPgOK;
            } else if (digit == '4' || digit == '5') {
                Abort(ecCancelRequested);
            } else {
                Abort(ecFaxPageError);
            }
        } else if (IsOK()) {
            state_ = modem.morePages && modem.resolutionDigit != modem.previousResolution ? tf2SndNwPrm : tf2NextPage;
        } else {
            Abort(ecFaxPageError);
        }
        break;

    case tf2WaitPgOK:
        if (KeywordLine(kwPageStatus) || (!response.Text().empty() && std::isdigit(static_cast<unsigned char>(response.Text()[0])))) {
            // The value line of AT+FPS?: its OK follows.
            std::string v = KeywordLine(kwPageStatus) ? KeywordValue() : response.Text();
            auto at = v.find_first_not_of(' ');
            pageStatus_ = at == std::string::npos ? 0 : uint8_t(v[at]);
            ResponseReset();
        } else if (IsOK()) {
            if (pageStatus_ == '1' || pageStatus_ == '3') {
                pageStatus_ = 0;
                common.statusCode = fsPageAccepted;
                state_ = modem.morePages && modem.resolutionDigit != modem.previousResolution ? tf2SndNwPrm : tf2NextPage;
                break;
            }
            ResendPage();
        } else {
            Abort(ecFaxSessionError);
        }
        break;

    case tf2SndNwPrm:
        if (modem.morePages) {
            std::string kw = common.faxClass == fcClass2 ? "AT+FDIS=" : "AT+FIS=";
            SendCommand(kw + modem.resolutionDigit);
            state_ = tf2GetParams;
        } else {
            state_ = tfClose;
        }
        break;

    case tf2NextPage:
        if (modem.morePages) {
            DelayTicks(5, false);
            SendCommand("AT+FDT");
            ResponseReset(546);
            state_ = tf2GetParams;
        } else {
            state_ = tfClose;
        }
        break;

    case tf20ChckPg:
        if (IsOK()) {
            common.statusCode = fsPageAccepted;
            state_ = modem.morePages && modem.resolutionDigit != modem.previousResolution ? tf2SndNwPrm : tf2NextPage;
        } else if (IsError()) {
            SendCommand("AT+FPS?");
            common.statusCode = fsPageError;
            pageStatus_ = 0;
            state_ = tf2WaitPgOK;
        } else if (IsHangupWord()) {
            modem.hangupCode = HangupCodeOf(response.Text());
            ResponseReset();
        } else if (KeywordLine(kwPageStatus)) {
            // The far end's verdict on the page; a rejected page is sent again after the OK.
            std::string v = KeywordValue();
            char digit = v.empty() ? 0 : v[0];
            if (digit == '2') {
                common.statusCode = fsPageError;
                pageStatus_ = uint8_t(digit);
                state_ = tf2WaitPgOK;
            } else if (digit == '4' || digit == '5') {
                Abort(ecCancelRequested);
                break;
            }
            ResponseReset();
        } else {
            Abort(ecFaxPageError);
        }
        break;

    case tfClose:
        CloseFiles();
        StopResponseTimer();
        pageRetryCount_ = 0;
        common.coverPending = false;
        common.statusCode = fsFinished;
        ev.FaxLog(*this, lfTransmitOK);
        entryActive_ = false;
        BaudSwitch(true);
        state_ = tfGetEntry;
        break;

    case tfCompleteOK:
        StopResponseTimer();
        ReportStatus(false, true);
        modem.modemSetUp = false;
        state_ = tfDone;
        FinishSession();
        break;

    case tfAbort: {
        CloseFiles();
        StopResponseTimer();
        if (entryActive_)
            ev.FaxLog(*this, lfTransmitFail);
        entryActive_ = false;
        SendSideHangup(false);
        bool end = userAbort_ || (common.options & (foExitOnError | foAbortNoConnect));
        if (end) {
            common.statusCode = fsUserAbort;
            ReportStatus(false, true);
            modem.modemSetUp = false;
            state_ = tfDone;
            BaudSwitch(true);
            FinishSession();
        } else {
            state_ = tfGetEntry;
            BaudSwitch(true);
        }
        break;
    }
    }
}

} // namespace zn::comms
