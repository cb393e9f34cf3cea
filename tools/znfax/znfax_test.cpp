// znfax as its users run it: exit codes, error texts on standard error, and files made.
#include "faxdoc/apf_file.h"
#include "faxdoc/converter.h"
#include "faxdoc/mh_coder.h"
#include "faxdoc/page_files.h"
#include "faxdoc/tests/test_support.h"
#include "platform/file_replacement.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zn::tools {
namespace {

using namespace zn::faxdoc::test;

struct TResult {
    int exit;
    std::string out;
    std::string err;
};

TResult Znfax(const TTempDir& dir, const std::string& args)
{
    TResult r;
    const std::string errFile = dir.Path("stderr.txt");
    r.exit = RunCommand("'" + ZnfaxPath() + "' " + args + " 2>'" + errFile + "'", &r.out);
    const auto err = ReadFile(errFile);
    r.err.assign(err.begin(), err.end());
    return r;
}

std::string Q(const std::string& path) { return "'" + path + "'"; }

void WriteTiff(const std::string& name)
{
    faxdoc::TMonoBitmap bm;
    bm.width = 1728;
    bm.stride = 216;
    bm.height = 20;
    bm.bits.assign(216 * 20, 0);
    for (int y = 0; y < 20; ++y)
        bm.Row(y)[y] = 0xF0;
    WriteFile(name, faxdoc::EncodeTiff(bm));
}

TEST(Znfax, WithoutACommandPrintsUsage)
{
    TTempDir dir;
    const TResult r = Znfax(dir, "");
    EXPECT_EQ(r.exit, 2);
    EXPECT_NE(r.err.find("znfax convert"), std::string::npos);
    EXPECT_EQ(Znfax(dir, "frobnicate").exit, 2);
    EXPECT_EQ(Znfax(dir, "--help").exit, 0);
}

TEST(Znfax, ConvertsInfoRawAndUnpacks)
{
    TTempDir dir;
    WriteTiff(dir.Path("in.tif"));
    ASSERT_EQ(Znfax(dir, "convert --fine --margin 0 " + Q(dir.Path("in.tif"))).exit, 0);
    ASSERT_TRUE(FileExists(dir.Path("in.APF")));
    const TResult info = Znfax(dir, "info " + Q(dir.Path("in.APF")));
    EXPECT_EQ(info.exit, 0);
    EXPECT_NE(info.out.find("pages: 1"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("page 1: "), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("flags 0x0005 (high resolution"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("rows 20, width 1728, bad codes 0"), std::string::npos) << info.out;
    for (const char* ext : {"bmp", "pcx", "dcx", "tif"}) {
        const std::string out = dir.Path(std::string("page.") + ext);
        EXPECT_EQ(Znfax(dir, "unpack --page 1 " + Q(dir.Path("in.APF")) + " " + Q(out)).exit, 0) << ext;
        EXPECT_TRUE(FileExists(out)) << ext;
    }
    ASSERT_EQ(Znfax(dir, "raw " + Q(dir.Path("in.APF")) + " " + Q(dir.Path("in.g3"))).exit, 0);
    const auto raw = ReadFile(dir.Path("in.g3"));
    ASSERT_GE(raw.size(), 12u);
    EXPECT_EQ(raw[0], 0x00);
    EXPECT_EQ(raw[1], 0x80); // rows begin with their EOL, no record counts
    if (HaveProgram("g3topbm")) {
        ASSERT_EQ(
            RunCommand("g3topbm -reversebits " + Q(dir.Path("in.g3")) + " > " + Q(dir.Path("g.pbm")) + " 2>/dev/null"),
            0);
        const TRaster r = ReadPbm(dir.Path("g.pbm"));
        EXPECT_EQ(r.height, 20);
        EXPECT_EQ(r.Row(3)[3], 0xF0);
    }
}

// A file of the most pages a file can hold (each only its end-of-page block) is walked once:
// every page is listed.
TEST(Znfax, InfoListsEveryPageOfAFullFile)
{
    TTempDir dir;
    std::vector<uint8_t> eop(faxdoc::kEndOfPageBytes);
    faxdoc::MakeEndOfPage(eop.data());
    const std::vector<TTestPage> pages(faxdoc::kMaxApfPages, TTestPage{4, Records({eop})});
    WriteFile(dir.Path("full.apf"), MakeApf(pages));
    const TResult r = Znfax(dir, "info " + Q(dir.Path("full.apf")));
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("pages: 65535\n"), std::string::npos);
    size_t listed = 0;
    for (size_t at = 0; (at = r.out.find(": length ", at)) != std::string::npos; ++at)
        ++listed;
    EXPECT_EQ(listed, 65535u);
    EXPECT_NE(r.out.find("page 65535: length 14, flags 0x0004"), std::string::npos);
}

// A page taller than PCX and DCX hold is refused for them with its reason; TIFF and BMP take it.
TEST(Znfax, UnpackRefusesPagesTooTallForTheFormat)
{
    TTempDir dir;
    std::vector<uint8_t> blank(faxdoc::kCodedRowBufferSize), eop(faxdoc::kEndOfPageBytes);
    blank.resize(static_cast<size_t>(faxdoc::CodeBlankRow(faxdoc::kNormalLineWidth, blank.data())));
    faxdoc::MakeEndOfPage(eop.data());
    std::vector<std::vector<uint8_t>> rows(70000, blank);
    rows.push_back(eop);
    WriteFile(dir.Path("tall.apf"), MakeApf({{4, Records(rows)}}));
    for (const char* ext : {"pcx", "dcx"}) {
        const TResult r = Znfax(dir, "unpack " + Q(dir.Path("tall.apf")) + " " + Q(dir.Path(std::string("p.") + ext)));
        EXPECT_EQ(r.exit, 1) << ext;
        EXPECT_NE(r.err.find("error -8058: Page too tall for the output file format (65535 rows)"), std::string::npos)
            << r.err;
        EXPECT_FALSE(FileExists(dir.Path(std::string("p.") + ext)));
    }
    for (const char* ext : {"tif", "bmp"})
        EXPECT_EQ(Znfax(dir, "unpack " + Q(dir.Path("tall.apf")) + " " + Q(dir.Path(std::string("p.") + ext))).exit, 0)
            << ext;
}

struct TFailure {
    const char* name;
    std::string args; // %D stands for the test folder
    int exit;
    std::string error;
};

class ZnfaxFailures : public ::testing::TestWithParam<TFailure> {};

TEST_P(ZnfaxFailures, ExitWithTheCodeAndTextOnStandardError)
{
    TTempDir dir;
    WriteTiff(dir.Path("in.tif"));
    WriteFile(dir.Path("text.txt"), std::string("not a fax\r\n"));
    ASSERT_EQ(mkdir(dir.Path("folder.txt").c_str(), 0755), 0);
    ASSERT_EQ(Znfax(dir, "convert " + Q(dir.Path("in.tif")) + " " + Q(dir.Path("one.apf"))).exit, 0);
    std::vector<uint8_t> lzw = ReadFile(dir.Path("in.tif"));
    lzw[10 + 12 * 4 + 8] = 5;
    lzw[10 + 12 * 4 + 9] = 0;
    WriteFile(dir.Path("lzw.tif"), lzw);
    std::string args = GetParam().args;
    for (size_t at; (at = args.find("%D")) != std::string::npos;)
        args.replace(at, 2, dir.Path(""));
    const auto before = dir.Files().size();
    const TResult r = Znfax(dir, args);
    EXPECT_EQ(r.exit, GetParam().exit);
    EXPECT_NE(r.err.find(GetParam().error), std::string::npos) << r.err;
    EXPECT_EQ(dir.Files().size(), before) << "no output is left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZnfaxFailures,
    ::testing::Values(
        TFailure{"Lzw", "convert %Dlzw.tif %Dout.apf", 1, "error -8002: Unsupported graphics file format"},
        TFailure{"MissingInput", "convert %Dnone.pcx %Dout.apf", 1, "error -2: File not found"},
        TFailure{"NotAFaxFile", "info %Dtext.txt", 1, "error -8001: File is not an APF file"},
        TFailure{"PagePastTheEnd", "unpack --page 3 %Done.apf %Dp.tif", 1, "error -8001: File is not an APF file"},
        TFailure{"RawOfNoFaxFile", "raw %Dtext.txt %Dout.g3", 1, "error -8001"},
        TFailure{"UnknownOutputKind", "unpack %Done.apf %Dp.jpg", 2, "extension"},
        TFailure{"BadMargin", "convert --margin x %Din.tif", 2, "--margin"},
        TFailure{"BadPage", "unpack --page 0 %Done.apf %Dp.tif", 2, "--page"},
        // A failure to write names the output, not the input.
        TFailure{"OutputFolderMissing", "convert %Din.tif %Dmissing/out.apf", 1,
                 "missing/out.apf: error -2: File not found"},
        TFailure{"UnpackFolderMissing", "unpack %Done.apf %Dmissing/p.pcx", 1, "missing/p.pcx: error -2"},
        TFailure{"InputIsAFolder", "convert %Dfolder.txt %Dout.apf", 1, "error -5: File access denied"}),
    [](const auto& info) { return std::string(info.param.name); });

// Each way of naming the input as the output is refused, and the input is left as it was.
TEST(Znfax, RefusesAnOutputThatWouldReplaceItsInput)
{
    TTempDir dir;
    WriteTiff(dir.Path("in.tif"));
    WriteFile(dir.Path("same.txt"), std::string("a letter\r\n"));
    ASSERT_EQ(Znfax(dir, "convert " + Q(dir.Path("in.tif")) + " " + Q(dir.Path("r.apf"))).exit, 0);
    ASSERT_EQ(symlink(dir.Path("r.apf").c_str(), dir.Path("link.apf").c_str()), 0);
    const auto text = ReadFile(dir.Path("same.txt"));
    const auto fax = ReadFile(dir.Path("r.apf"));
    for (const std::string& args : {"convert " + Q(dir.Path("same.txt")) + " " + Q(dir.Path("same.txt")),
                                    "convert " + Q(dir.Path("same.txt")) + " " + Q(dir.Path("./same.txt")),
                                    "raw " + Q(dir.Path("r.apf")) + " " + Q(dir.Path("r.apf")),
                                    "raw " + Q(dir.Path("r.apf")) + " " + Q(dir.Path("link.apf")),
                                    "unpack " + Q(dir.Path("r.apf")) + " " + Q(dir.Path("link.apf"))}) {
        const TResult r = Znfax(dir, args);
        EXPECT_EQ(r.exit, 1) << args;
        EXPECT_NE(r.err.find("the output would replace the input file"), std::string::npos) << args << ": " << r.err;
    }
    EXPECT_EQ(ReadFile(dir.Path("same.txt")), text);
    EXPECT_EQ(ReadFile(dir.Path("r.apf")), fax);
    // The engine refuses too, for the programs that call it directly, and names the output.
    faxdoc::ConverterState state(std::make_unique<faxdoc::TTextReader>());
    EXPECT_EQ(state.ConvertFile(dir.Path("same.txt"), dir.Path("./same.txt")), -5);
    EXPECT_EQ(faxdoc::FailedFileName(), dir.Path("./same.txt"));
    EXPECT_EQ(ReadFile(dir.Path("same.txt")), text);
}

TEST(Znfax, RefusesAFifoAsInputInsteadOfWaitingOnIt)
{
    TTempDir dir;
    ASSERT_EQ(mkfifo(dir.Path("pipe.txt").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.Path("pipe.apf").c_str(), 0600), 0);
    for (const std::string& args :
         {"convert " + Q(dir.Path("pipe.txt")) + " " + Q(dir.Path("out.apf")), "info " + Q(dir.Path("pipe.apf")),
          "unpack " + Q(dir.Path("pipe.apf")) + " " + Q(dir.Path("p.pcx"))}) {
        // Bounded: a znfax that waits for a writer is killed, and fails the test, rather than hanging it.
        std::string out;
        const int exit = RunCommand("timeout 20 '" + ZnfaxPath() + "' " + args + " 2>&1", &out);
        EXPECT_EQ(exit, 1) << args;
        EXPECT_NE(out.find("error -5: File access denied"), std::string::npos) << args << ": " << out;
    }
    EXPECT_FALSE(FileExists(dir.Path("out.apf")));
}

// Killed in the middle of a conversion, znfax leaves no partial output behind; what a process
// killed outright (SIGKILL) leaves is removed by the next conversion into that folder.
TEST(Znfax, ConversionsEndedBySignalsLeaveNoTemporaries)
{
    TTempDir dir;
    std::string big;
    for (int i = 0; i < 60000; ++i)
        big += "A line of a long letter that keeps the converter busy for a while " + std::to_string(i) + "\r\n";
    WriteFile(dir.Path("long.txt"), big);
    auto temporaries = [&dir] {
        int n = 0;
        for (const std::string& name : dir.Files())
            n += platform::IsReplacementTemporary(name) ? 1 : 0;
        return n;
    };
    for (int signal : {SIGTERM, SIGINT, SIGKILL}) {
        const pid_t pid = fork();
        if (pid == 0) {
            execl(ZnfaxPath().c_str(), "znfax", "convert", dir.Path("long.txt").c_str(), dir.Path("out.apf").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int wait = 0; wait < 20000 && temporaries() == 0; ++wait)
            usleep(500);
        ASSERT_EQ(temporaries(), 1) << "the conversion is under way";
        kill(pid, signal);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
        EXPECT_EQ(temporaries(), signal == SIGKILL ? 1 : 0) << signal;
        EXPECT_FALSE(FileExists(dir.Path("out.apf")));
    }
    WriteFile(dir.Path("short.txt"), std::string("a short letter\r\n"));
    EXPECT_EQ(Znfax(dir, "convert " + Q(dir.Path("short.txt")) + " " + Q(dir.Path("short.apf"))).exit, 0);
    EXPECT_EQ(temporaries(), 0) << "the killed conversion's temporary was removed";
}

} // namespace
} // namespace zn::tools
