// Class 1 sessions on the fax line test bed: the engine sends to and receives from spandsp's T.30
// fax terminal and efax, and the pages arrive pixel for pixel.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

#include "apf_test_pages.h"
#include "comms/engine/class1_frames.h"
#include "faxdoc/mh_coder.h"
#include "faxdoc/unpacker.h"
#include "fax_font_rows.h"
#include "fax_test_bench.h"
#include "faxline_harness.h"
#include "platform/folders.h"

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;
using namespace std::chrono_literals;

// Every fsync and fdatasync of this program is noted (by the path of what was synced) before it
// goes to the kernel: a test sees what was on disk at a given moment.
namespace {
std::mutex syncedMutex;
std::vector<std::string> syncedPaths;

int NoteSync(int fd, long call)
{
    char link[64], target[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    {
        std::lock_guard<std::mutex> g(syncedMutex);
        syncedPaths.push_back(n > 0 ? std::string(target, size_t(n)) : std::string());
    }
    return int(::syscall(call, fd));
}

std::vector<std::string> SyncedSoFar()
{
    std::lock_guard<std::mutex> g(syncedMutex);
    return syncedPaths;
}
} // namespace

extern "C" int fsync(int fd) { return NoteSync(fd, SYS_fsync); }
extern "C" int fdatasync(int fd) { return NoteSync(fd, SYS_fdatasync); }

namespace {

// The charts, or a band of `rows` rows from the middle of each: what a test of negotiation and
// timing needs, at a fraction of a page's line time.
std::vector<Bitmap> Charts(const std::vector<int>& numbers, int rows = 0)
{
    std::vector<Bitmap> pages;
    for (int n : numbers) {
        auto b = ReadPbm(ItuChartPath(n));
        if (!b)
            continue;
        pages.push_back(rows > 0 && rows < b->height ? b->Rows((b->height - rows) / 2, rows) : *b);
    }
    return pages;
}

bool WritePbm(const std::string& path, const Bitmap& b)
{
    std::ofstream out(path, std::ios::binary);
    out << "P4\n" << b.width << " " << b.height << "\n";
    out.write(reinterpret_cast<const char*>(b.bits.data()), std::streamsize(b.bits.size()));
    return bool(out.flush());
}

constexpr int kBand = 60; // rows of a page in the negotiation cases

void ExpectSamePages(const std::vector<Bitmap>& got, const std::vector<Bitmap>& sent)
{
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        Bitmap g = TrimWhiteRows(got[i]), s = TrimWhiteRows(sent[i]);
        int firstDiff = -1;
        for (int y = 0; y < std::min(g.height, s.height) && firstDiff < 0; ++y)
            if (!(g.Rows(y, 1) == s.Rows(y, 1)))
                firstDiff = y;
        EXPECT_TRUE(g == s) << "page " << i + 1 << ": " << DescribeDifference(g, s) << ", first differing row "
                            << firstDiff;
    }
}

class Class1Session : public ::testing::Test {
protected:
    void Configure(FaxSession& s, int32_t bps)
    {
        s.common.faxClass = fcClass1;
        s.common.StationID = "ZN ENGINE";
        s.modem.DesiredBPS = bps;
    }
    // Receives the fax the terminal of `line` sends, at up to 14400 bit/s, as a session that ends
    // with the call and at its first error; true once both ends are through.
    ::testing::AssertionResult ReceiveOneFax(Line& line, RecordingEvents& events)
    {
        TestPort port(line.Port('A'));
        if (!port.IsOpen())
            return ::testing::AssertionFailure() << "no port " << line.Port('A');
        events.receiveDir = dir_.Path();
        FaxReceiveSession session(events);
        Configure(session, 14400);
        session.OneFax = true;
        session.common.options = foExitOnError;
        if (int rc = session.Start(port.Port()))
            return ::testing::AssertionFailure() << "start: " << rc;
        if (!events.WaitFinished(300s))
            return ::testing::AssertionFailure() << "the session did not end";
        line.Process().Wait(30s);
        return ::testing::AssertionSuccess();
    }
    // Sends one entry at up to 14400 bit/s to the fax terminal of `line` and returns the pages it
    // stored; `setUp` adjusts the session first.
    std::vector<Bitmap> SendToTerminal(Line& line, const FaxEntry& entry,
                                       const std::function<void(FaxSendSession&)>& setUp = {})
    {
        TestPort port(line.Port('A'));
        if (!port.IsOpen()) {
            ADD_FAILURE() << "port " << line.Port('A') << " does not open";
            return {};
        }
        RecordingEvents events;
        events.entries.push_back(entry);
        FaxSendSession session(events);
        Configure(session, 14400);
        if (setUp)
            setUp(session);
        if (session.Start(port.Port()) != 0 || !events.WaitFinished(300s)) {
            ADD_FAILURE() << "the session did not run to its end\n" << line.Output();
            return {};
        }
        EXPECT_TRUE(events.Errors().empty()) << events.Errors().front() << line.Output();
        EXPECT_EQ(line.Process().Wait(30s), 0) << line.Output();
        auto got = ReadTiffPages(dir_.File("rx.tif"));
        EXPECT_TRUE(got) << "no pages stored";
        return got ? *got : std::vector<Bitmap>{};
    }
    TempDir dir_;
};

struct SendCase {
    std::vector<int> charts;
    int rows;
    bool fast;
    int32_t bps;
    const char* modems;
    int expectRate;
};

void PrintTo(const SendCase& c, std::ostream* os)
{
    *os << c.charts.size() << " pages at " << c.bps << " to " << c.modems;
}

class Class1SendToTerminal : public Class1Session, public ::testing::WithParamInterface<SendCase> {};

TEST_P(Class1SendToTerminal, PagesArrivePixelExact)
{
    const SendCase& c = GetParam();
    std::vector<std::string> args{"answer",   "--rx-file", dir_.File("rx.tif"), "--ident", "FAR END",
                                  "--modems", c.modems};
    if (c.fast)
        args.push_back("--fast");
    auto line = Line::Start(dir_.Path(), args);
    ASSERT_TRUE(line);
    auto pages = Charts(c.charts, c.rows);
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), pages, true));

    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.entries.push_back({"5550100", dir_.File("out.apf"), ""});
    FaxSendSession session(events);
    Configure(session, c.bps);
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(300s));
    EXPECT_TRUE(events.Errors().empty()) << events.Errors().front();
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitOK}));
    EXPECT_EQ(session.common.remoteID, "FAR END");
    ASSERT_EQ(line->Process().Wait(30s), 0) << line->Output();
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results[0].find("rate=" + std::to_string(c.expectRate)), std::string::npos) << results[0];
    auto got = ReadTiffPages(dir_.File("rx.tif"));
    ASSERT_TRUE(got);
    ExpectSamePages(*got, pages);
}

INSTANTIATE_TEST_SUITE_P(Pages, Class1SendToTerminal,
                         ::testing::Values(SendCase{{1}, 0, true, 14400, "v27ter,v29,v17", 14400},
                                           SendCase{{1}, 1200, false, 14400, "v27ter,v29,v17", 14400},
                                           SendCase{{1, 2, 3}, 800, true, 14400, "v27ter,v29,v17", 14400},
                                           SendCase{{2}, kBand, true, 12000, "v27ter,v29,v17", 12000},
                                           SendCase{{2}, kBand, true, 9600, "v27ter,v29,v17", 9600},
                                           SendCase{{2}, kBand, true, 14400, "v27ter,v29", 9600},
                                           SendCase{{2}, kBand, true, 7200, "v27ter,v29", 7200},
                                           SendCase{{2}, kBand, true, 14400, "v27ter", 4800},
                                           SendCase{{2}, kBand, true, 4800, "v27ter,v29,v17", 4800}),
                         [](const auto& info) {
                             const SendCase& c = info.param;
                             std::string name = std::to_string(c.charts.size()) + "Pages"
                                                + (c.fast ? "Fast" : "RealTime") + "Desired" + std::to_string(c.bps)
                                                + "FarEnd";
                             for (const char* p = c.modems; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p)))
                                     name += *p;
                             return name;
                         });

struct ReceiveCase {
    std::vector<int> charts;
    int rows;
    bool fast;
    int32_t bps;
    const char* modems;
    int expectRate;
};

void PrintTo(const ReceiveCase& c, std::ostream* os)
{
    *os << c.charts.size() << " pages at " << c.bps << " from " << c.modems;
}

class Class1ReceiveFromTerminal : public Class1Session, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(Class1ReceiveFromTerminal, PagesArrivePixelExact)
{
    const ReceiveCase& c = GetParam();
    auto pages = Charts(c.charts, c.rows);
    ASSERT_TRUE(WriteFaxTiff(dir_.File("tx.tif"), pages));
    std::vector<std::string> args{"call", "--tx-file", dir_.File("tx.tif"), "--ident", "FAR END", "--modems", c.modems};
    if (c.fast)
        args.push_back("--fast");
    auto line = Line::Start(dir_.Path(), args);
    ASSERT_TRUE(line);

    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.receiveDir = dir_.Path();
    FaxReceiveSession session(events);
    Configure(session, c.bps);
    session.OneFax = true;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(300s));
    EXPECT_TRUE(events.Errors().empty()) << events.Errors().front();
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfReceiveStart, lfReceiveOK}));
    EXPECT_EQ(session.common.remoteID, "FAR END");
    ASSERT_EQ(line->Process().Wait(30s), 0) << line->Output();
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results[0].find("rate=" + std::to_string(c.expectRate)), std::string::npos) << results[0];
    ASSERT_EQ(events.Received().size(), 1u);
    std::vector<Bitmap> got;
    ASSERT_TRUE(ReadApf(events.Received().front(), got));
    ExpectSamePages(got, pages);
}

INSTANTIATE_TEST_SUITE_P(Pages, Class1ReceiveFromTerminal,
                         ::testing::Values(ReceiveCase{{1}, 0, true, 14400, "v27ter,v29,v17", 14400},
                                           ReceiveCase{{1}, 1200, false, 14400, "v27ter,v29,v17", 14400},
                                           ReceiveCase{{4, 5, 6}, 800, true, 14400, "v27ter,v29,v17", 14400},
                                           ReceiveCase{{2}, kBand, true, 12000, "v27ter,v29,v17", 14400},
                                           ReceiveCase{{2}, kBand, true, 9600, "v27ter,v29,v17", 9600},
                                           ReceiveCase{{2}, kBand, true, 14400, "v27ter,v29", 9600},
                                           ReceiveCase{{2}, kBand, true, 4800, "v27ter,v29,v17", 4800},
                                           ReceiveCase{{2}, kBand, true, 14400, "v27ter", 4800}),
                         [](const auto& info) {
                             const ReceiveCase& c = info.param;
                             std::string name = std::to_string(c.charts.size()) + "Pages"
                                                + (c.fast ? "Fast" : "RealTime") + "Desired" + std::to_string(c.bps)
                                                + "FarEnd";
                             for (const char* p = c.modems; *p; ++p)
                                 if (std::isalnum(static_cast<unsigned char>(*p)))
                                     name += *p;
                             return name;
                         });

// Loud line noise for 4 s inside page 2 of a 3-page fine fax at 14400 bit/s. The fast-modem
// transmissions of the call are numbered from 1: the training check, then page 1 (2) and page 2 (3);
// after an RTN the sender trains again (4, 6, ...) before it sends the page once more (5, 7, ...).
// A burst from 3.5 s into every transmission misses the training checks (long training and 1.5 s
// of zeros) and hits every page: the sender steps down its rate page after page, down to 2400, and
// gives up.
struct NoisyPageCase {
    const char* name;
    std::vector<std::string> bursts; // --burst N:AT:LEN
    bool received;                   // the fax arrives whole, else the call fails
};

void PrintTo(const NoisyPageCase& c, std::ostream* os) { *os << c.name; }

class Class1NoisyPage : public Class1Session, public ::testing::WithParamInterface<NoisyPageCase> {};

TEST_P(Class1NoisyPage, ADamagedPageIsRefusedAndNeverStored)
{
    const NoisyPageCase& c = GetParam();
    auto pages = Charts({1, 2, 3});
    for (auto& p : pages)
        p.yResolution = 196;
    ASSERT_TRUE(WriteFaxTiff(dir_.File("tx.tif"), pages));
    std::vector<std::string> args{"call", "--fast", "--tx-file", dir_.File("tx.tif"), "--ident", "FAR END"};
    for (const auto& b : c.bursts) {
        args.push_back("--burst");
        args.push_back(b);
    }
    auto line = Line::Start(dir_.Path(), args);
    ASSERT_TRUE(line);
    RecordingEvents events;
    ASSERT_TRUE(ReceiveOneFax(*line, events));
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u) << line->Output();
    // Each refusal is logged: page 2, with the rows this side decoded and found bad.
    const std::vector<Refusal> refusals = events.Refusals();
    ASSERT_FALSE(refusals.empty());
    for (const Refusal& r : refusals) {
        EXPECT_EQ(r.page, 2);
        EXPECT_GT(r.quality.rows, 1000);
        EXPECT_GT(r.quality.badRows, 0);
        EXPECT_FALSE(CopyQualityAcceptable(r.quality));
    }
    std::vector<int> logs{lfReceiveStart};
    logs.insert(logs.end(), refusals.size(), lfPageRefused);
    if (c.received) {
        EXPECT_TRUE(events.Errors().empty()) << events.Errors().front();
        logs.push_back(lfReceiveOK);
        EXPECT_EQ(events.Logs(), logs);
        EXPECT_EQ(results[0].rfind("RESULT 0 ", 0), 0u) << results[0];
        ASSERT_EQ(events.Received().size(), 1u);
        std::vector<Bitmap> got;
        ASSERT_TRUE(ReadApf(events.Received().front(), got));
        ExpectSamePages(got, pages);
    } else {
        EXPECT_FALSE(events.Errors().empty());
        logs.push_back(lfReceiveFail);
        EXPECT_EQ(events.Logs(), logs);
        EXPECT_EQ(results[0].find("pages_tx=3"), std::string::npos) << "the sender was told all arrived: " << results[0];
        for (const auto& name : zn::platform::ListFolderCI(dir_.Path(), "*.APF"))
            ADD_FAILURE() << "a failed fax left " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Bursts, Class1NoisyPage,
                         ::testing::Values(NoisyPageCase{"OnceInPage2", {"3:2:4"}, true},
                                           NoisyPageCase{"InEverySendingOfPage2",
                                                         {"3+:3.5:4"},
                                                         false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Noise on a command frame alone: the post-page command arrives with a bad check, the modem answers
// ERROR to AT+FRH=3, and the sender, hearing no answer, repeats the command after T4. The frames our
// modem listens to are numbered from 1: TSI and DCS, then the post-page command of page 1 (2), of
// page 2 (3), and DCN. The burst covers the frame at the end of the preamble's flags.
struct NoisyCommandCase {
    const char* name;
    const char* burst; // --frame-burst N:AT:LEN
};

void PrintTo(const NoisyCommandCase& c, std::ostream* os) { *os << c.name; }

class Class1NoisyCommand : public Class1Session, public ::testing::WithParamInterface<NoisyCommandCase> {};

TEST_P(Class1NoisyCommand, ADamagedCommandIsWaitedForAgainAndTheFaxArrives)
{
    auto pages = Charts({1, 2}, kBand);
    ASSERT_TRUE(WriteFaxTiff(dir_.File("tx.tif"), pages));
    auto line = Line::Start(dir_.Path(), {"call", "--fast", "--tx-file", dir_.File("tx.tif"), "--ident", "FAR END",
                                          "--frame-burst", GetParam().burst, "--trace"});
    ASSERT_TRUE(line);
    RecordingEvents events;
    ASSERT_TRUE(ReceiveOneFax(*line, events));
    const std::string trace = line->Errors();
    ASSERT_NE(trace.find("noise burst in frame transmission"), std::string::npos) << trace;
    EXPECT_TRUE(events.Errors().empty()) << events.Errors().front() << "\n" << trace;
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfReceiveStart, lfReceiveOK}));
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u) << line->Output();
    EXPECT_EQ(results[0].rfind("RESULT 0 ", 0), 0u) << results[0];
    ASSERT_EQ(events.Received().size(), 1u);
    std::vector<Bitmap> got;
    ASSERT_TRUE(ReadApf(events.Received().front(), got));
    ExpectSamePages(got, pages);
}

INSTANTIATE_TEST_SUITE_P(Bursts, Class1NoisyCommand,
                         ::testing::Values(NoisyCommandCase{"OnMps", "2:0.9:0.1"}, NoisyCommandCase{"OnEop", "3:0.9:0.1"}),
                         [](const auto& info) { return std::string(info.param.name); });

// What a log entry of a received fax records must be on disk when it is written: the file's data
// and its name in the folder (a power cut then loses neither).
class DurabilityEvents : public RecordingEvents {
public:
    std::vector<std::string> syncedAtReceiveOK;
    void FaxLog(FaxSession& s, int code) override
    {
        if (code == lfReceiveOK)
            syncedAtReceiveOK = SyncedSoFar();
        RecordingEvents::FaxLog(s, code);
    }
};

TEST_F(Class1Session, AReceivedFaxIsOnDiskBeforeItIsRecorded)
{
    auto pages = Charts({1, 2}, kBand);
    ASSERT_TRUE(WriteFaxTiff(dir_.File("tx.tif"), pages));
    auto line = Line::Start(dir_.Path(), {"call", "--fast", "--tx-file", dir_.File("tx.tif"), "--ident", "FAR END"});
    ASSERT_TRUE(line);
    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    DurabilityEvents events;
    events.receiveDir = dir_.Path();
    FaxReceiveSession session(events);
    Configure(session, 14400);
    session.OneFax = true;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(300s));
    ASSERT_EQ(events.Logs(), (std::vector<int>{lfReceiveStart, lfReceiveOK}));
    ASSERT_EQ(events.Received().size(), 1u);
    char file[PATH_MAX], folder[PATH_MAX];
    ASSERT_NE(::realpath(events.Received().front().c_str(), file), nullptr);
    ASSERT_NE(::realpath(dir_.Path().c_str(), folder), nullptr);
    const auto& synced = events.syncedAtReceiveOK;
    // Until it is whole the fax is written under a temporary name beside its own.
    auto isTheFile = [&](const std::string& path) { return path.rfind(file, 0) == 0; };
    const auto fileSyncs = std::count_if(synced.begin(), synced.end(), isTheFile);
    EXPECT_GE(fileSyncs, 3) << "on creation, after each of the 2 pages and at the end";
    auto lastFileSync = std::find_if(synced.rbegin(), synced.rend(), isTheFile);
    EXPECT_NE(std::find(synced.rbegin(), lastFileSync, std::string(folder)), lastFileSync)
        << "the folder is synced after the file's last sync";
    ASSERT_EQ(line->Process().Wait(30s), 0) << line->Output();
}

// A cover at normal resolution in front of a fine document: EOM between them, and a new DIS and
// DCS for the document.
TEST_F(Class1Session, CoverAndDocumentOfMixedResolutionsGoThroughEom)
{
    auto line = Line::Start(dir_.Path(), {"answer", "--fast", "--rx-file", dir_.File("rx.tif")});
    ASSERT_TRUE(line);
    auto cover = Charts({7}, kBand);
    auto document = Charts({1, 2}, kBand);
    ASSERT_TRUE(WriteApf(dir_.File("cover.apf"), cover, false));
    ASSERT_TRUE(WriteApf(dir_.File("doc.apf"), document, true));

    auto got = SendToTerminal(*line, {"5550100", dir_.File("doc.apf"), dir_.File("cover.apf")},
                              [](FaxSendSession& s) { s.sendMPS = false; });
    ExpectSamePages(got, {cover[0], document[0], document[1]});
}

// One file whose pages change resolution, in both orders: each change ends the page with EOM
// and a new DCS, and the far end stores every page at its own resolution.
class Class1MixedResolutionFile : public Class1Session, public ::testing::WithParamInterface<bool> {};

TEST_P(Class1MixedResolutionFile, EachPageArrivesAtItsResolution)
{
    bool fineFirst = GetParam();
    auto line = Line::Start(dir_.Path(), {"answer", "--fast", "--rx-file", dir_.File("rx.tif")});
    ASSERT_TRUE(line);
    auto pages = Charts({1, 2, 3}, kBand);
    std::vector<bool> fine{fineFirst, !fineFirst, !fineFirst};
    for (size_t i = 0; i < pages.size(); ++i)
        pages[i].yResolution = fine[i] ? 196 : 98;
    ASSERT_TRUE(WriteApf(dir_.File("doc.apf"), pages, false));

    auto got = SendToTerminal(*line, {"5550100", dir_.File("doc.apf"), ""});
    ExpectSamePages(got, pages);
    ASSERT_EQ(got.size(), pages.size());
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(got[i].yResolution > 150, fine[i]) << "page " << i + 1 << ": " << got[i].yResolution;
        EXPECT_EQ(TrimWhiteRows(got[i]).height, TrimWhiteRows(pages[i]).height) << "page " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, Class1MixedResolutionFile, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "FineThenNormal" : "NormalThenFine"; });

// A text cover drawn with the fax font, then the document under a header line.
TEST_F(Class1Session, TextCoverAndHeaderLineGoOutWithThePages)
{
    auto line = Line::Start(dir_.Path(), {"answer", "--fast", "--rx-file", dir_.File("rx.tif")});
    ASSERT_TRUE(line);
    auto document = Charts({5}, 1000);
    ASSERT_TRUE(WriteApf(dir_.File("doc.apf"), document, true));
    std::ofstream(dir_.File("cover.txt")) << "To: $R\r\nFrom: $F\r\nPages: $N\r\n";
    FaxFontRows rows;
    auto got = SendToTerminal(*line, {"5550100", dir_.File("doc.apf"), dir_.File("cover.txt")}, [&](FaxSendSession& s) {
        s.textRows = &rows;
        s.HeaderLine = "$F page $P of $N";
        s.HeaderSender = "ZN";
        s.HeaderRecipient = "FAR END";
    });
    ASSERT_EQ(got.size(), 2u);
    // The cover holds its text; the page is the document under a header band.
    Bitmap cover = TrimWhiteRows(got[0]);
    EXPECT_GT(cover.height, 16 * 3);
    Bitmap page = TrimWhiteRows(got[1]), sent = TrimWhiteRows(document[0]);
    ASSERT_GT(page.height, sent.height);
    Bitmap body = page.Rows(page.height - sent.height, sent.height);
    EXPECT_TRUE(body == sent) << DescribeDifference(body, sent);
}

// A page of 2048-pixel rows: the far end's DIS offers wide rows, and the blank rows in front of
// the page are as wide as the page.
TEST_F(Class1Session, WidePageArrivesPixelExact)
{
    auto line = Line::Start(dir_.Path(), {"answer", "--fast", "--rx-file", dir_.File("rx.tif")});
    ASSERT_TRUE(line);
    Bitmap narrow = Charts({2}, 1000).front();
    Bitmap wide;
    wide.width = 2048;
    wide.height = narrow.height;
    for (int y = 0; y < narrow.height; ++y) {
        auto row = narrow.bits.begin() + y * narrow.RowBytes();
        wide.bits.insert(wide.bits.end(), row, row + narrow.RowBytes());
        wide.bits.insert(wide.bits.end(), size_t(wide.RowBytes() - narrow.RowBytes()), uint8_t(0));
    }
    ASSERT_TRUE(WriteApf(dir_.File("wide.apf"), {wide}, true));
    auto got = SendToTerminal(*line, {"5550100", dir_.File("wide.apf"), ""});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got.front().width, 2048);
    ExpectSamePages(got, {wide});
}

// Both ends are this engine: the receiver answers EOM with MCF and a new DIS, and keeps writing
// the same file with each page's resolution.
TEST_F(Class1Session, EngineToEngineMixedResolutionsThroughEom)
{
    auto line = Line::Start(dir_.Path(), {"pair", "--fast", "--calls", "1"});
    ASSERT_TRUE(line);
    auto cover = Charts({6}, kBand);
    auto document = Charts({3, 4}, kBand);
    ASSERT_TRUE(WriteApf(dir_.File("cover.apf"), cover, false));
    ASSERT_TRUE(WriteApf(dir_.File("doc.apf"), document, true));

    TestPort rxPort(line->Port('B'));
    ASSERT_TRUE(rxPort.IsOpen());
    RecordingEvents rxEvents;
    rxEvents.receiveDir = dir_.Path();
    FaxReceiveSession receiver(rxEvents);
    Configure(receiver, 14400);
    receiver.common.StationID = "ZN RECEIVER";
    receiver.OneFax = true;
    ASSERT_EQ(receiver.Start(rxPort.Port()), 0);

    TestPort txPort(line->Port('A'));
    ASSERT_TRUE(txPort.IsOpen());
    RecordingEvents txEvents;
    txEvents.entries.push_back({"123", dir_.File("doc.apf"), dir_.File("cover.apf")});
    FaxSendSession sender(txEvents);
    Configure(sender, 14400);
    sender.sendMPS = false;
    ASSERT_EQ(sender.Start(txPort.Port()), 0);

    ASSERT_TRUE(txEvents.WaitFinished(300s));
    ASSERT_TRUE(rxEvents.WaitFinished(60s));
    ASSERT_TRUE(txEvents.Errors().empty()) << txEvents.Errors().front();
    ASSERT_TRUE(rxEvents.Errors().empty()) << rxEvents.Errors().front();
    EXPECT_EQ(sender.common.remoteID, "ZN RECEIVER");
    EXPECT_EQ(receiver.common.remoteID, "ZN ENGINE");
    ASSERT_EQ(rxEvents.Received().size(), 1u);
    std::vector<Bitmap> got;
    std::vector<bool> fine;
    ASSERT_TRUE(ReadApf(rxEvents.Received().front(), got, &fine));
    ExpectSamePages(got, {cover[0], document[0], document[1]});
    EXPECT_EQ(fine, (std::vector<bool>{false, true, true}));
}

// The frames in what a Class 1 modem delivered: each starts with the address 0xFF and a control
// field and ends with DLE ETX.
std::vector<ReceivedFrame> FramesIn(const std::string& s)
{
    std::vector<ReceivedFrame> frames;
    for (size_t at = 0; (at = s.find('\xFF', at)) != std::string::npos && at + 2 < s.size(); ++at) {
        if (s[at + 1] != '\x03' && s[at + 1] != '\x13')
            continue;
        std::string bytes;
        size_t i = at;
        for (; i + 1 < s.size(); ++i) {
            if (s[i] == '\x10') {
                if (s[i + 1] == '\x03')
                    break;
                ++i; // DLE DLE
            }
            bytes += s[i];
        }
        frames.push_back(ParseFrame(bytes));
        at = i;
    }
    return frames;
}

std::string Stuffed(const std::string& data)
{
    std::string out;
    for (char c : data) {
        out += c;
        if (c == '\x10')
            out += c;
    }
    return out + "\x10\x03";
}

// The engine answers on modem B of the back-to-back pair; the calling side is a program that
// drives modem A by hand, so that it can send what other senders' modems really send.
class Class1ByHand : public Class1Session {
protected:
    void SetUp() override
    {
        line_ = Line::Start(dir_.Path(), {"pair", "--calls", "1"});
        ASSERT_TRUE(line_);
        rxPort_ = std::make_unique<TestPort>(line_->Port('B'));
        ASSERT_TRUE(rxPort_->IsOpen());
        events_.receiveDir = dir_.Path();
        receiver_ = std::make_unique<FaxReceiveSession>(events_);
        Configure(*receiver_, 9600);
        receiver_->OneFax = true;
        receiver_->common.options |= foExitOnError;
        ASSERT_EQ(receiver_->Start(rxPort_->Port()), 0);
        tx_ = std::make_unique<ModemChat>(line_->Port('A'));
        ASSERT_TRUE(tx_->IsOpen());
    }

    // Dials and reads the answerer's frames up to its DIS.
    void Call()
    {
        ASSERT_EQ(tx_->Command("+FCLASS=1"), "OK");
        ASSERT_EQ(tx_->Command("D123", 60s), "CONNECT") << tx_->LastReply();
        bool disSeen = false;
        for (int round = 0; round < 4 && !disSeen; ++round) {
            auto got = tx_->ReadUntil({"OK", "ERROR", "NO CARRIER"}, 10s);
            ASSERT_TRUE(got) << tx_->Pending();
            for (const auto& f : FramesIn(*got))
                disSeen = disSeen || (f.valid && f.final && f.fcf == fcfDIS);
            if (!disSeen) {
                ASSERT_EQ(tx_->Command("+FRH=3", 10s), "CONNECT");
            }
        }
        ASSERT_TRUE(disSeen);
    }

    void SendFrame(const std::vector<uint8_t>& frame)
    {
        ASSERT_EQ(tx_->Command("+FTH=3"), "CONNECT");
        tx_->Send(std::string(frame.begin(), frame.end()));
        ASSERT_TRUE(tx_->ReadUntil({"OK"}, 5s)) << tx_->Pending();
    }

    // DCS at V.29 9600.
    void SendDcs(bool fine)
    {
        DcsParams dcs;
        for (size_t i = 0; i < FaxRates().size() && dcs.rateIndex == 0; ++i)
            if (FaxRates()[i].bitRate == 9600 && FaxRates()[i].modulation == modV29)
                dcs.rateIndex = int(i);
        ASSERT_GT(dcs.rateIndex, 0);
        dcs.fine = fine;
        SendFrame(BuildDCS(dcs));
    }

    // Training check or page: `data` at 9600, DLE-stuffed and ended by DLE ETX here.
    void SendData(const std::string& data)
    {
        ASSERT_EQ(tx_->Command("+FTM=96"), "CONNECT");
        tx_->Send(Stuffed(data));
        ASSERT_TRUE(tx_->ReadUntil({"OK"}, 60s)) << tx_->Pending();
    }

    // The answerer's response frame: its FCF, or 0 when none came.
    uint8_t Response()
    {
        if (tx_->Command("+FRH=3", 10s) != "CONNECT")
            return 0;
        auto answer = tx_->ReadUntil({"OK", "ERROR"}, 10s);
        auto frames = answer ? FramesIn(*answer) : std::vector<ReceivedFrame>{};
        return frames.size() == 1 && frames[0].valid ? WithoutX(frames[0].fcf) : 0;
    }

    void HangUp()
    {
        SendFrame(BuildFrame(fcfDCN, true));
        tx_->Command("H");
    }

    std::unique_ptr<Line> line_;
    std::unique_ptr<TestPort> rxPort_;
    RecordingEvents events_;
    std::unique_ptr<FaxReceiveSession> receiver_;
    std::unique_ptr<ModemChat> tx_;
};

// The training check as senders' modems really send it: the engine must judge it as a T.30
// receiver would.
struct TrainingCase {
    const char* name;
    int onesMs;     // 0xFF bytes before the zeros (a modem that starts its zeros late)
    int zerosMs;    // the run of zero bytes
    int noiseBytes; // carrier-off noise after the zeros
    int spoilEvery; // a non-zero byte every N bytes of the zeros (0: none)
    uint8_t answer; // CFR or FTT
};

void PrintTo(const TrainingCase& c, std::ostream* os) { *os << c.name; }

class Class1TrainingCheck : public Class1ByHand, public ::testing::WithParamInterface<TrainingCase> {};

TEST_P(Class1TrainingCheck, ReceiverJudgesTheTrainingByItsZeros)
{
    const TrainingCase& c = GetParam();
    Call();
    SendDcs(false);
    std::string tcf(size_t(c.onesMs * 9600 / 8000), '\xFF');
    size_t zeros = size_t(c.zerosMs * 9600 / 8000);
    for (size_t i = 0; i < zeros; ++i)
        tcf += c.spoilEvery && i % size_t(c.spoilEvery) == 0 ? '\x5A' : '\0';
    for (int i = 0; i < c.noiseBytes; ++i)
        tcf += "\xA5\xC3\x3C\x96"[i % 4];
    SendData(tcf);
    EXPECT_EQ(Response(), WithoutX(c.answer));
    EXPECT_EQ(receiver_->modem.bitRate, 9600);
    HangUp();
    // A call without pages is a failed reception.
    ASSERT_TRUE(events_.WaitFinished(60s));
    EXPECT_EQ(events_.Errors().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Senders, Class1TrainingCheck,
                         ::testing::Values(TrainingCase{"LateZerosAndCarrierOffNoise", 400, 1500, 34, 0, fcfCFR},
                                           TrainingCase{"CleanZeros", 0, 1500, 0, 0, fcfCFR},
                                           TrainingCase{"ZerosSpoiledThroughout", 0, 1500, 0, 8, fcfFTT},
                                           TrainingCase{"TooShortARunAmidNoise", 400, 700, 400, 0, fcfFTT}),
                         [](const auto& info) { return std::string(info.param.name); });

// The rows of a page's MH data as the unpacker decodes it.
std::vector<std::vector<uint8_t>> DecodedRows(const std::string& data)
{
    std::vector<std::vector<uint8_t>> rows;
    zn::faxdoc::TMhDecoder decoder;
    const zn::faxdoc::TMhDecoder::TRowSink sink = [&](const uint8_t* row, int n) {
        rows.emplace_back(row, row + n);
        return true;
    };
    if (!decoder.Decode(reinterpret_cast<const uint8_t*>(data.data()), data.size(), sink))
        decoder.Finish(sink);
    return rows;
}

// The rows of page 1 of a stored fax file.
std::vector<std::vector<uint8_t>> StoredRows(const std::string& file)
{
    std::vector<std::vector<uint8_t>> rows;
    zn::faxdoc::UnpackerState unpacker([&](zn::faxdoc::UnpackerState&, int kind, const uint8_t* row, int, int len) {
        if (kind == zn::faxdoc::kOutputRow)
            rows.emplace_back(row, row + len);
        return 0;
    });
    EXPECT_EQ(unpacker.UnpackPage(file, 1), 0);
    return rows;
}

// The bit position where a page's RTC (six EOLs in a row) begins, first bit = bit 0 of byte 0.
size_t RtcStart(const std::string& data)
{
    std::vector<size_t> eolStarts;
    int zeros = 0;
    for (size_t i = 0; i < data.size() * 8; ++i) {
        if (!(uint8_t(data[i / 8]) >> (i % 8) & 1)) {
            ++zeros;
            continue;
        }
        if (zeros >= 11) {
            size_t start = i - 11;
            bool adjoins = !eolStarts.empty() && eolStarts.back() + 12 == start;
            if (!adjoins)
                eolStarts.clear();
            eolStarts.push_back(start);
            if (eolStarts.size() == 6)
                return eolStarts.front();
        }
        zeros = 0;
    }
    return std::string::npos;
}

// A page as another fax server's modem delivered it, sent as it was and once more cut off right
// after its last row (no EOL, no RTC): the stored page holds every row.
class Class1ReceivedStream : public Class1ByHand, public ::testing::WithParamInterface<bool> {};

TEST_P(Class1ReceivedStream, EveryRowIsStored)
{
    const char* data = std::getenv("ZN_TESTDATA");
    ASSERT_NE(data, nullptr) << "ZN_TESTDATA names the test data folder";
    std::ifstream in(std::string(data) + "/streams/received-2286rows.g3", std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(page.size(), 30000u);
    size_t rtc = RtcStart(page);
    ASSERT_NE(rtc, std::string::npos);
    if (GetParam())
        page.resize(rtc / 8 + 1); // the last row and the fill bits up to the byte's end
    auto sent = DecodedRows(page);
    ASSERT_EQ(sent.size(), 2285u);

    Call();
    SendDcs(true);
    SendData(std::string(1800, '\0'));
    ASSERT_EQ(Response(), WithoutX(fcfCFR));
    SendData(page);
    SendFrame(BuildFrame(fcfEOP, true));
    EXPECT_EQ(Response(), WithoutX(fcfMCF));
    HangUp();
    ASSERT_TRUE(events_.WaitFinished(60s));
    ASSERT_TRUE(events_.Errors().empty()) << events_.Errors().front();
    ASSERT_EQ(events_.Received().size(), 1u);
    auto stored = StoredRows(events_.Received().front());
    EXPECT_EQ(stored.size(), sent.size());
    EXPECT_TRUE(stored == sent);
}

INSTANTIATE_TEST_SUITE_P(Pages, Class1ReceivedStream, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CutAfterTheLastRow" : "AsReceived"; });

// efax, a far end nobody here wrote, over the back-to-back pair.
class Class1Efax : public Class1Session {
protected:
    std::unique_ptr<ChildProcess> Efax(const std::string& name, const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"efax", "-v", "ewinchm"};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(argv, dir_.File(name + ".out"), dir_.File(name + ".log"));
    }
    std::string EfaxLog(const std::string& name) { return ReadFileText(dir_.File(name + ".log")); }
    static std::string ReadFileText(const std::string& path)
    {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

TEST_F(Class1Efax, EngineSendsThreePagesToEfax)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    auto line = Line::Start(dir_.Path(), {"pair", "--fast", "--calls", "1"});
    ASSERT_TRUE(line);
    auto rx = Efax("rx", {"-d", line->Port('B'), "-o1", "-r", dir_.File("rx")});
    auto pages = Charts({1, 3, 8}, 800);
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), pages, true));
    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.entries.push_back({"123", dir_.File("out.apf"), ""});
    FaxSendSession session(events);
    Configure(session, 14400);
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(300s));
    ASSERT_TRUE(events.Errors().empty()) << events.Errors().front() << "\n" << EfaxLog("rx");
    EXPECT_EQ(rx->Wait(30s), 0) << EfaxLog("rx");
    std::vector<Bitmap> got;
    for (int p = 1; p <= 3; ++p) {
        auto page = ReadTiffPages(dir_.File("rx.00" + std::to_string(p)));
        ASSERT_TRUE(page && page->size() == 1) << p;
        got.push_back(page->front());
    }
    ExpectSamePages(got, pages);
}

TEST_F(Class1Efax, EngineSendsMixedResolutionsToEfaxThroughEom)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    auto line = Line::Start(dir_.Path(), {"pair", "--speed", "8", "--calls", "1"});
    ASSERT_TRUE(line);
    auto rx = Efax("rx", {"-d", line->Port('B'), "-o1", "-r", dir_.File("rx")});
    auto cover = Charts({7}, 600);
    auto document = Charts({2}, 600);
    ASSERT_TRUE(WriteApf(dir_.File("cover.apf"), cover, false));
    ASSERT_TRUE(WriteApf(dir_.File("doc.apf"), document, true));
    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.entries.push_back({"123", dir_.File("doc.apf"), dir_.File("cover.apf")});
    FaxSendSession session(events);
    Configure(session, 14400);
    session.sendMPS = false;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(300s));
    ASSERT_TRUE(events.Errors().empty()) << events.Errors().front() << "\n" << EfaxLog("rx");
    EXPECT_EQ(rx->Wait(30s), 0) << EfaxLog("rx");
    std::vector<Bitmap> got;
    for (int p = 1; p <= 2; ++p) {
        auto page = ReadTiffPages(dir_.File("rx.00" + std::to_string(p)));
        ASSERT_TRUE(page && page->size() == 1) << p << "\n" << EfaxLog("rx");
        got.push_back(page->front());
    }
    ExpectSamePages(got, {cover[0], document[0]});
}

TEST_F(Class1Efax, EngineReceivesThreePagesFromEfax)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    // efax divides by the whole seconds a page took: a page sent in under a second kills it.
    auto line = Line::Start(dir_.Path(), {"pair", "--speed", "8", "--calls", "1"});
    ASSERT_TRUE(line);
    TestPort port(line->Port('B'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.receiveDir = dir_.Path();
    FaxReceiveSession session(events);
    Configure(session, 14400);
    session.OneFax = true;
    ASSERT_EQ(session.Start(port.Port()), 0);
    auto sent = Charts({1, 4, 5}, 800);
    for (size_t i = 0; i < sent.size(); ++i)
        ASSERT_TRUE(WritePbm(dir_.File("p" + std::to_string(i) + ".pbm"), sent[i]));
    auto tx = Efax("tx", {"-d", line->Port('A'), "-o1", "-l", "EFAX SENDER", "-h", "", "-t", "123", dir_.File("p0.pbm"),
                          dir_.File("p1.pbm"), dir_.File("p2.pbm")});
    EXPECT_EQ(tx->Wait(300s), 0) << EfaxLog("tx");
    ASSERT_TRUE(events.WaitFinished(60s));
    ASSERT_TRUE(events.Errors().empty()) << events.Errors().front() << "\n" << EfaxLog("tx");
    EXPECT_EQ(session.common.remoteID, "EFAX SENDER");
    ASSERT_EQ(events.Received().size(), 1u);
    std::vector<Bitmap> got;
    ASSERT_TRUE(ReadApf(events.Received().front(), got));
    ExpectSamePages(got, sent);
}

} // namespace
