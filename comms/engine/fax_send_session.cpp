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
// One flag for all send sessions: FaxNext is outstanding.
std::atomic<bool> nextEntryBusy{false};

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
    struct stat st {};
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

// Which step runs in which state, and when. The Class 1 steps are in fax_send_class1.cpp, the
// Class 2/2.0 steps in fax_send_class2.cpp.
constexpr FaxSendSession::StateRow FaxSendSession::kStates[] = {
    {tfNone, "tfNone", StepKind::OnTrigger, &FaxSendSession::Idle},
    {tfGetEntry, "tfGetEntry", StepKind::AtOnce, &FaxSendSession::OnGetEntry},
    {tfInit, "tfInit", StepKind::AtOnce, &FaxSendSession::OnInit},
    {tf1Init1, "tf1Init1", StepKind::OnResponse, &FaxSendSession::OnClass1Init},
    {tf2Init1, "tf2Init1", StepKind::OnResponse, &FaxSendSession::OnClassSelected},
    {tf2Init1A, "tf2Init1A", StepKind::OnResponse, &FaxSendSession::OnLocalIdSet},
    {tf2Init1B, "tf2Init1B", StepKind::OnResponse, &FaxSendSession::OnFlowControlSet},
    {tf2Init2, "tf2Init2", StepKind::OnResponse, &FaxSendSession::OnReadyForCapabilities},
    {tf2Init3, "tf2Init3", StepKind::OnResponse, &FaxSendSession::OnCapabilitiesSet},
    {tfDial, "tfDial", StepKind::AtOnce, &FaxSendSession::OnDial},
    {tfRetryWait, "tfRetryWait", StepKind::OnTrigger, &FaxSendSession::OnRetryWait},
    {tf1Connect, "tf1Connect", StepKind::OnResponse, &FaxSendSession::OnClass1Connect},
    {tf1SendTSI, "tf1SendTSI", StepKind::OnResponse, &FaxSendSession::OnSendTsi},
    {tf1TSIRespns, "tf1TSIRespns", StepKind::OnResponse, &FaxSendSession::OnSendDcs},
    {tf1DCSRspns, "tf1DCSRspns", StepKind::OnResponse, &FaxSendSession::OnDcsSent},
    {tf1TrainStrt, "tf1TrainStrt", StepKind::OnResponse, &FaxSendSession::OnTrainStart},
    {tf1TrainFnsh, "tf1TrainFnsh", StepKind::OnResponse, &FaxSendSession::OnTrainFinish},
    {tf1WaitCFR, "tf1WaitCFR", StepKind::OnResponse, &FaxSendSession::OnWaitCfr},
    {tf1WaitPgCn, "tf1WaitPgCn", StepKind::OnResponse, &FaxSendSession::OnWaitPageConnect},
    {tf2Connect, "tf2Connect", StepKind::OnResponse, &FaxSendSession::OnClass2Connect},
    {tf2GetParams, "tf2GetParams", StepKind::OnResponse, &FaxSendSession::OnClass2Params},
    {tfWaitXon, "tfWaitXon", StepKind::OnTrigger, &FaxSendSession::OnWaitXon},
    {tfWaitFrHead, "tfWaitFrHead", StepKind::OnTrigger, &FaxSendSession::OnWaitPageStart},
    {tfSndPgeHdr, "tfSndPgeHdr", StepKind::AtOnce, &FaxSendSession::OnSendHeaderLine},
    {tfOpenCover, "tfOpenCover", StepKind::AtOnce, &FaxSendSession::OnOpenCover},
    {tfSendCover, "tfSendCover", StepKind::OnTrigger, &FaxSendSession::OnSendCover},
    {tfPrepPage, "tfPrepPage", StepKind::AtOnce, &FaxSendSession::OnPreparePage},
    {tfSendPage, "tfSendPage", StepKind::OnTrigger, &FaxSendSession::OnSendPage},
    {tfDrainPage, "tfDrainPage", StepKind::OnTrigger, &FaxSendSession::OnDrainPage},
    {tf1PageEnd, "tf1PageEnd", StepKind::OnResponse, &FaxSendSession::OnClass1PageEnd},
    {tf1PrepEOP, "tf1PrepEOP", StepKind::AtOnce, &FaxSendSession::OnPreparePostPage},
    {tf1SendEOP, "tf1SendEOP", StepKind::OnResponse, &FaxSendSession::OnSendPostPage},
    {tf1WaitMPS, "tf1WaitMPS", StepKind::OnResponse, &FaxSendSession::OnPostPageSent},
    {tf1WaitEOP, "tf1WaitEOP", StepKind::OnResponse, &FaxSendSession::Idle},
    {tf1WaitMCF, "tf1WaitMCF", StepKind::OnResponse, &FaxSendSession::OnWaitMcf},
    {tf1SendDCN, "tf1SendDCN", StepKind::OnResponse, &FaxSendSession::OnSendDcn},
    {tf1Hangup, "tf1Hangup", StepKind::OnResponse, &FaxSendSession::OnDcnSent},
    {tf1WaitHngp, "tf1WaitHngp", StepKind::OnResponse, &FaxSendSession::OnWaitHangup},
    {tf2SendEOP, "tf2SendEOP", StepKind::AtOnce, &FaxSendSession::OnClass2PageEnd},
    {tf2WaitFPTS, "tf2WaitFPTS", StepKind::OnResponse, &FaxSendSession::OnWaitPageTransferStatus},
    {tf2WaitFET, "tf2WaitFET", StepKind::OnResponse, &FaxSendSession::OnWaitPostPageStatus},
    {tf2WaitPgOK, "tf2WaitPgOK", StepKind::OnResponse, &FaxSendSession::OnWaitPageVerdict},
    {tf2SndNwPrm, "tf2SndNwPrm", StepKind::AtOnce, &FaxSendSession::OnSendNewParams},
    {tf2NextPage, "tf2NextPage", StepKind::AtOnce, &FaxSendSession::OnClass2NextPage},
    {tf20ChckPg, "tf20ChckPg", StepKind::OnResponse, &FaxSendSession::OnClass20CheckPage},
    {tfClose, "tfClose", StepKind::AtOnce, &FaxSendSession::OnClose},
    {tfCompleteOK, "tfCompleteOK", StepKind::AtOnce, &FaxSendSession::OnComplete},
    {tfAbort, "tfAbort", StepKind::AtOnce, &FaxSendSession::OnAbort},
    {tfDone, "tfDone", StepKind::OnTrigger, &FaxSendSession::Idle},
};

const char* SendStateName(SendState s) { return FaxSendSession::NameOf(s); }

FaxSendSession::FaxSendSession(FaxEngineEvents& events) : FaxStateMachine(events)
{
    static_assert(StatesInOrder(kStates, tfDone + 1), "one row a state, in the order of the states");
    common.sending = true;
    common.DialAttempts = 1;
    dateTimeTexts = DefaultDateTime;
}

void FaxSendSession::Prepare()
{
    pageOnLine_ = false;
    hungUpForAbort_ = false;
    modem.resolutionDigit = '0';
    modem.apfHeader = {};
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
    writeFailed_ = false;
    TakeWriteFailure();

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
        if ((!modem.ModemInit.empty() && !SynchronousCommand(modem.ModemInit))
            || !SynchronousCommand(modem.defaultInit)) {
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

bool FaxSendSession::WaitsForOtherSession() const { return state_ == tfGetEntry && nextEntryBusy; }

bool FaxSendSession::ErrorEndsSession() const
{
    // The post-page exchanges read their ERROR: the command is given again, or the page status asked.
    return state_ != tf1SendEOP && state_ != tf1WaitMCF && state_ != tf20ChckPg;
}

int FaxSendSession::HangupReportError() const
{
    return state_ == tf2WaitFET || state_ == tf20ChckPg ? 0 : ecFaxBadModemResult;
}

bool FaxSendSession::InDataMode() const
{
    return state_ == tf1TrainFnsh || (state_ >= tfWaitXon && state_ <= tfDrainPage) || state_ == tf1PageEnd;
}

void FaxSendSession::OnAbortRequest()
{
    bool dataMode = InDataMode();
    state_ = tfAbort;
    ReportStatus();
    hungUpForAbort_ = dataMode;
    if (dataMode)
        SendSideHangup(true); // ends the data, then hangs up: tfAbort need not hang up again
}

void FaxSendSession::OnResponseTimer()
{
    switch (state_) {
    case tf1Connect:
    case tf2Connect: Abort(ecNoAnswer); break;
    case tf1WaitMCF:
        Keep(Port().WriteChar(' ')); // ends the frame receive
        state_ = tf1PrepEOP;
        break;
    case tf1WaitHngp:
        SendSideHangup(false);
        state_ = tfClose;
        break;
    default: Abort(ecTimeout); break;
    }
}

bool FaxSendSession::DialResult()
{
    if (Reply() == ModemReply::Busy || Reply() == ModemReply::NoAnswer) {
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
    if (Reply() == ModemReply::Voice) {
        Abort(ecFaxVoiceCall);
        return true;
    }
    if (Reply() == ModemReply::NoDialTone) {
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
    if (!common.coverFile.empty() && EndsWithNoCase(common.coverFile, "." + common.FaxFileExt)) {
        // A fax-file cover is checked as the document is, before anything is dialled.
        TFaxModemRec cover;
        int rc = ApfOpenForReading(cover, common.coverFile, common.FaxFileExt);
        if (!rc)
            rc = ApfCheckRowWidths(cover);
        ApfClose(cover);
        if (rc == ecFaxBadFormat)
            return rc;
    }
    if (!common.faxFile.empty()) {
        int rc = ApfOpenForReading(modem, common.faxFile, common.FaxFileExt);
        if (!rc)
            rc = ApfCheckRowWidths(modem);
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
    modem.lengthWords = (flags & kPageLengthPrefixed) != 0;
    modem.previousResolution = modem.resolutionDigit;
    modem.resolutionDigit = (flags & kPageHighResolution) ? '1' : '0';
}

void FaxSendSession::CloseFiles()
{
    ApfClose(modem);
    if (coverReader_.is_open())
        coverReader_.close();
    textCoverOpen_ = false;
}

int32_t FaxSendSession::DrainTicks()
{
    // The modem and the line between may hold many kilobytes not yet sent: allow for them at the
    // session's bit rate, on top of the response time-out. A modem that takes in a whole page before
    // it sends it (a buffering or a network fax modem) answers only once the whole page has crossed
    // the line: the page's own bytes count then.
    int64_t queued = int64_t(Port().OutputCount()) + std::max<int64_t>(24 * 1024, BytesWritten() - pageStartBytes_);
    return modem.responseTimeout + LineTicks(queued, modem.bitRate);
}

HeaderValues FaxSendSession::HeaderTokens(bool withCover, int currentPage) const
{
    HeaderValues v;
    dateTimeTexts(v.date, v.time);
    v.stationId = common.StationID;
    v.sender = HeaderSender;
    v.recipient = HeaderRecipient;
    v.title = HeaderTitle;
    v.withCover = withCover;
    v.currentPage = currentPage;
    v.totalPages = common.totalPages;
    return v;
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
        HeaderValues v = HeaderTokens(!common.coverFile.empty(), common.coverPending ? 0 : common.currentPage);
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
        HeaderValues v = HeaderTokens(true, 0);
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

FaxSendSession::PageOnLine FaxSendSession::PageOnTheLine(uint32_t portQueued) const
{
    // One byte left in the port's queue counts as none.
    const int32_t queued = portQueued == 1 ? 0 : int32_t(portQueued);
    PageOnLine p;
    if (!pageOnLine_) {
        p.page = common.currentPage;
        p.length = common.pageLength;
        p.bytes = std::max<int32_t>(common.bytesTransferred - queued, 0);
        return p;
    }
    p.page = linePage_;
    p.length = pageHandedOver_ ? lineLength_ : common.pageLength;
    const int32_t handed = pageHandedOver_ ? lineHanded_ : common.bytesTransferred;
    const int64_t rate = std::max<int32_t>(modem.bitRate, 2400);
    const int64_t carried = (NowMs() - lineStartMs_) * rate / 8000;
    p.bytes = int32_t(std::clamp<int64_t>(std::min<int64_t>(handed - queued, carried), 0, INT32_MAX));
    if (p.length > 0)
        p.bytes = std::min(p.bytes, p.length);
    return p;
}

int FaxSendSession::AdvancePage()
{
    // The page's data has left the port; the line may carry it for a while yet.
    pageHandedOver_ = true;
    lineLength_ = common.pageLength;
    lineHanded_ = common.bytesTransferred;
    sentCover_ = common.coverPending;
    sentPage_ = common.currentPage;
    sentCoverFile_ = common.coverFile;
    modem.morePages = !common.faxFile.empty() && (common.coverPending || common.currentPage < common.totalPages);
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

int FaxSendSession::RewindForRetry()
{
    if (++pageRetryCount_ > pageRetryLimit)
        return ecFaxSessionError;
    if (int rc = RewindToSentPage())
        return rc;
    common.refusedPage = sentCover_ ? 0 : sentPage_;
    common.refusedQuality = PageQuality{};
    Events().FaxLog(*this, lfPageResent);
    return 0;
}

void FaxSendSession::WatchDuringPage()
{
    // Nothing is expected from the modem while page data flows, unless the line is lost: a Class 1
    // modem then says NO CARRIER, a Class 2/2.0 modem reports the far end's hang-up. Either ends the
    // fax now; the rest of the page would only go into a dead line until the page time-out.
    uint8_t c;
    while (Port().ReadChar(c) == 0) {
        if (response.Add(c) != ResponseCollector::Line)
            continue;
        if (IsNoCarrier()) {
            FarEndHungUp();
            return;
        }
        if (!Class1() && IsHangupWord()) {
            modem.hangupCode = HangupCodeOf(response.Text());
            Abort(ecFaxBadModemResult);
            return;
        }
    }
}

bool FaxSendSession::CarrierVanished()
{
    // Only a modem that shows the carrier while it sends can be seen to lose it.
    return carrierAtPageStart_ && !Port().ReadCarrier();
}

void FaxSendSession::FarEndHungUp()
{
    lineDropped_ = true;
    Port().DiscardOutput(); // the rest of the page would reach the modem as commands
    Abort(ecCancelRequested);
}

void FaxSendSession::OnGetEntry(int)
{
    nextEntryBusy = true;
    common.phoneNumber.clear();
    common.faxFile.clear();
    common.coverFile.clear();
    bool given = Events().FaxNext(*this) && !common.phoneNumber.empty();
    nextEntryBusy = false;
    if (!given) {
        state_ = tfCompleteOK;
        return;
    }
    Events().FaxLog(*this, lfTransmitStart);
    entryActive_ = true;
    pageOnLine_ = false;
    farEndAnswered_ = false;
    lineDropped_ = false;
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
        return;
    }
    if (common.options & foSoftwareFlow)
        Port().ClearSoftwareFlow();
    state_ = tfInit;
}

void FaxSendSession::OnInit(int)
{
    for (char& c : common.StationID)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    if (!common.coverFile.empty()) {
        common.coverPending = true;
        modem.apfCover = EndsWithNoCase(common.coverFile, "." + common.FaxFileExt);
    }
    if (!common.faxFile.empty()) {
        if (int rc = ApfSeekPage(modem, 1)) {
            Abort(rc);
            return;
        }
        ReadPageHeaderFlags();
    }
    if (common.coverPending && modem.apfCover) {
        // The first page sent is the cover: its resolution decides the session's.
        TFaxModemRec probe;
        if (ApfOpenForReading(probe, common.coverFile, common.FaxFileExt) == 0 && ApfSeekPage(probe, 1) == 0) {
            modem.previousResolution = modem.resolutionDigit;
            modem.resolutionDigit = (ApfPageFlags(probe) & kPageHighResolution) ? '1' : '0';
        }
        ApfClose(probe);
    }
    modem.wide = modem.faxFile && (ApfPageFlags(modem) & kPageWide) != 0;
    common.statusCode = fsInitializing;
    if (Class1()) {
        Command("AT+FCLASS=1");
        state_ = tf1Init1;
    } else {
        Command(modem.keywords[kwSelectClass]);
        state_ = tf2Init1;
    }
}

void FaxSendSession::OnDial(int)
{
    Command(std::string(modem.ToneDial ? "ATDT" : "ATDP") + modem.DialPrefix + common.phoneNumber);
    farEndAnswered_ = false;
    ArmResponseTimer(modem.DialWait);
    common.statusCode = fsDialing;
    modem.finalFrame = false;
    disSeen_ = false;
    state_ = Class1() ? tf1Connect : tf2Connect;
}

void FaxSendSession::OnRetryWait(int trigger)
{
    if (trigger != common.statusTimer)
        state_ = tfInit;
}

void FaxSendSession::OnWaitXon(int trigger)
{
    bool go = trigger == common.responseTimer;
    uint8_t c;
    while (!go && Port().ReadChar(c) == 0)
        go = c == XON;
    if (go) {
        ArmOutputFree();
        ArmResponseTimer(modem.pageTimeout);
        state_ = tfWaitFrHead;
    }
}

void FaxSendSession::PageTrigger(int trigger)
{
    // While page data flows the response timer is the page time-out; the characters the modem
    // sends are watched for the line's loss.
    if (trigger == common.responseTimer)
        Abort(ecTimeout);
    else if (trigger == 0)
        WatchDuringPage();
}

void FaxSendSession::OnWaitPageStart(int trigger)
{
    if (trigger == common.outputFreeTrigger) {
        common.statusCode = fsSendingPage;
        if (common.options & foSoftwareFlow)
            Port().SetSoftwareFlow(0, 0, kSoftwareFlowTransmit);
        state_ = tfSndPgeHdr;
    } else {
        PageTrigger(trigger);
    }
}

void FaxSendSession::OnSendHeaderLine(int)
{
    pageOnLine_ = true;
    pageHandedOver_ = false;
    linePage_ = common.coverPending ? 0 : common.currentPage;
    lineStartMs_ = NowMs();
    common.bytesTransferred = 0;
    pageStartBytes_ = BytesWritten();
    carrierAtPageStart_ = Port().ReadCarrier();
    if (int rc = SendHeaderLine()) {
        Abort(rc);
        return;
    }
    state_ = common.coverPending ? tfOpenCover : tfPrepPage;
}

void FaxSendSession::OnOpenCover(int)
{
    if (int rc = OpenCover()) {
        Abort(rc);
        return;
    }
    if (modem.apfCover) {
        state_ = tfPrepPage;
    } else {
        WaitForRoom();
        common.statusCode = fsSendingPage;
        state_ = tfSendCover;
    }
}

void FaxSendSession::EndPageData()
{
    // Class 1 ends the page's data stream here; Class 2/2.0 once the data has left the port.
    if (Class1()) {
        const uint8_t end[2] = {DLE, ETX};
        Keep(WriteRaw(end, 2));
    }
    common.statusCode = fsSendingPage;
    ArmResponseTimer(DrainTicks());
    ArmOutputSent();
    state_ = tfDrainPage;
}

void FaxSendSession::OnSendCover(int trigger)
{
    if (trigger != common.outputFreeTrigger) {
        PageTrigger(trigger);
        return;
    }
    if (int rc = SendCoverLines()) {
        Abort(rc);
        return;
    }
    if (coverReader_.eof() || !coverReader_.good()) {
        Keep(WriteStuffed(kEndOfPage, sizeof kEndOfPage));
        if (modem.minimumRowBytes > int32_t(sizeof kEndOfPage))
            Keep(WriteZeros(size_t(modem.minimumRowBytes) - sizeof kEndOfPage));
        EndPageData();
    } else {
        WaitForRoom();
    }
}

void FaxSendSession::OnPreparePage(int)
{
    common.bytesTransferred = 0;
    fileBytesRead_ = 0;
    rowPacker_.Reset();
    common.pageLength = ApfPageBodyLength(modem);
    WaitForRoom();
    state_ = tfSendPage;
}

void FaxSendSession::OnSendPage(int trigger)
{
    if (trigger != common.outputFreeTrigger) {
        PageTrigger(trigger);
        return;
    }
    if (CarrierVanished()) {
        FarEndHungUp();
        return;
    }
    bool done = false;
    if (int rc = SendPageBlocks(done)) {
        Abort(rc < 0 ? rc : ecFaxBadFormat);
        return;
    }
    if (done) {
        EndPageData();
    } else {
        WaitForRoom();
    }
}

void FaxSendSession::OnDrainPage(int trigger)
{
    if (trigger == common.outputSentTrigger) {
        if (common.options & foSoftwareFlow)
            Port().ClearSoftwareFlow();
        if (int rc = AdvancePage()) {
            Abort(rc);
            return;
        }
        common.statusCode = fsSendingPage;
        if (Class1()) {
            ResponseReset(DrainTicks());
            state_ = tf1PageEnd;
            return;
        }
        // Class 2 ends the data with DLE ETX; Class 2.0 says with it what follows the page.
        uint8_t end[2] = {DLE, ETX};
        if (common.faxClass != fcClass2)
            end[1] = !modem.morePages ? '.' : modem.resolutionDigit == modem.previousResolution ? ',' : ';';
        Keep(WriteRaw(end, 2));
        state_ = tf2SendEOP;
    } else if (trigger == common.responseTimer) {
        Abort(ecTimeout);
    } else if (trigger == 0 && !Class1()) {
        // In Class 1 characters now are the modem's answer to the end of the page: they wait for tf1PageEnd.
        WatchDuringPage();
    } else if (CarrierVanished()) {
        FarEndHungUp();
    }
}

void FaxSendSession::OnClose(int)
{
    CloseFiles();
    StopResponseTimer();
    pageRetryCount_ = 0;
    common.coverPending = false;
    common.statusCode = fsFinished;
    Events().FaxLog(*this, lfTransmitOK);
    entryActive_ = false;
    BaudSwitch(true);
    state_ = tfGetEntry;
}

void FaxSendSession::OnComplete(int)
{
    StopResponseTimer();
    ReportStatus(false, true);
    modem.modemSetUp = false;
    state_ = tfDone;
    FinishSession();
}

void FaxSendSession::HangupInCommandState()
{
    // Until the far end answers, and once the modem has said the line is gone, the modem is in
    // command state, dialing or idle: no escape to command state and no guard times are needed, any character ends a dial, and the modem's
    // answer to "ATH" says the line is free. A user who cancels a ringing call is not kept waiting:
    // a modem in command state answers within milliseconds, so half a second is ample.
    constexpr int64_t kAnswerMs = 500;
    Keep(Port().WriteString("ATH\r"));
    response.Clear();
    const int64_t deadline = NowMs() + kAnswerMs;
    while (NowMs() < deadline) {
        uint8_t c;
        if (Port().ReadChar(c) != 0) {
            DelayMs(10);
            continue;
        }
        if (response.Add(c) == ResponseCollector::Line && (IsOK() || IsNoCarrier() || IsError()))
            break;
    }
    DrainInput();
}

void FaxSendSession::OnAbort(int)
{
    CloseFiles();
    StopResponseTimer();
    if (entryActive_)
        Events().FaxLog(*this, lfTransmitFail);
    entryActive_ = false;
    if (hungUpForAbort_)
        hungUpForAbort_ = false;
    else if (farEndAnswered_ && !lineDropped_)
        SendSideHangup(false);
    else
        HangupInCommandState();
    lineDropped_ = false;
    bool end = userAbort_ || writeFailed_ || (common.options & (foExitOnError | foAbortNoConnect));
    if (end) {
        // The status keeps where the call ended unless the user ended it.
        if (userAbort_)
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
}

} // namespace zn::comms
