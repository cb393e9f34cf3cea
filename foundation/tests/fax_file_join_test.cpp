#include "foundation/fax_file_join.h"

#include "comms/base/exceptions.h"
#include "faxdoc/converter.h"
#include "faxdoc/page_files.h"
#include "faxdoc/unpacker.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zn::foundation {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteFile;

void Put16(std::string& s, size_t at, unsigned v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}

void Put32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

struct Page {
    uint16_t flags;
    std::string data;
};

std::string PageBytes(const Page& page)
{
    std::string bytes(16, '\0');
    Put32(bytes, 0, static_cast<uint32_t>(page.data.size()));
    Put16(bytes, 4, page.flags);
    return bytes + page.data;
}

// A fax file whose page 1 lies at page1Offset (the bytes between header and page 1 are filler).
std::string FaxFile(const std::vector<Page>& pages, uint32_t page1Offset = 64, const std::string& station = "+1 555")
{
    std::string file(64, '\0');
    file.replace(0, 6, "APF10\x1A", 6);
    file[10] = static_cast<char>(station.size());
    file.replace(11, station.size(), station);
    Put16(file, 32, static_cast<unsigned>(pages.size()));
    Put32(file, 34, page1Offset);
    file += std::string(page1Offset - 64, '\x55');
    for (const Page& page : pages)
        file += PageBytes(page);
    return file;
}

std::string Rows(int seed, size_t size)
{
    std::string rows(size, '\0');
    for (size_t i = 0; i < size; ++i)
        rows[i] = static_cast<char>(seed * 31 + i);
    return rows;
}

class FaxFileJoinTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return home_.Path() + "/" + name; }
    TempHome home_;
    const std::vector<Page> cover_{{5, Rows(1, 300)}};
    const std::vector<Page> document_{{4, Rows(2, 5000)}, {4, Rows(3, 70000)}, {5, Rows(4, 0)}};
};

TEST_F(FaxFileJoinTest, OwnFilesJoinByteForByte)
{
    const std::string a = FaxFile(cover_);
    const std::string b = FaxFile(document_, 64, "other");
    WriteFile(Path("COV00000.APF"), a);
    WriteFile(Path("FAX00000.APF"), b);
    ASSERT_TRUE(ConcatFaxFiles(Path("Temp00000.APF"), Path("COV00000.APF"), Path("FAX00000.APF")));
    std::string expected = a + b.substr(64);
    Put16(expected, 32, 4);
    EXPECT_EQ(ReadFile(Path("Temp00000.APF")), expected);
}

TEST_F(FaxFileJoinTest, PagesAreWalkedFromEachFilesPageOneOffset)
{
    WriteFile(Path("a.apf"), FaxFile(cover_, 200));
    WriteFile(Path("b.apf"), FaxFile(document_, 96, "other"));
    ASSERT_TRUE(ConcatFaxFiles(Path("j.apf"), Path("a.apf"), Path("b.apf")));
    std::vector<Page> all = cover_;
    all.insert(all.end(), document_.begin(), document_.end());
    EXPECT_EQ(ReadFile(Path("j.apf")), FaxFile(all)); // page 1 at 64, A's station ID, four pages
}

TEST_F(FaxFileJoinTest, TrailingBytesAfterTheLastPageAreLeftOut)
{
    WriteFile(Path("a.apf"), FaxFile(cover_) + "junk");
    WriteFile(Path("b.apf"), FaxFile(document_) + "more junk");
    ASSERT_TRUE(ConcatFaxFiles(Path("j.apf"), Path("a.apf"), Path("b.apf")));
    std::vector<Page> all = cover_;
    all.insert(all.end(), document_.begin(), document_.end());
    EXPECT_EQ(ReadFile(Path("j.apf")), FaxFile(all));
}

TEST_F(FaxFileJoinTest, DamagedSignatureOfBLeavesExactlyA)
{
    const std::string a = FaxFile(cover_);
    std::string b = FaxFile(document_);
    b[3] = '2';
    WriteFile(Path("a.apf"), a);
    WriteFile(Path("b.apf"), b);
    EXPECT_FALSE(ConcatFaxFiles(Path("j.apf"), Path("a.apf"), Path("b.apf")));
    EXPECT_EQ(ReadFile(Path("j.apf")), a);
}

TEST_F(FaxFileJoinTest, MissingFileCreatesNothing)
{
    WriteFile(Path("b.apf"), FaxFile(document_));
    EXPECT_FALSE(ConcatFaxFiles(Path("j.apf"), Path("a.apf"), Path("b.apf")));
    EXPECT_FALSE(ConcatFaxFiles(Path("j.apf"), Path("b.apf"), Path("a.apf")));
    EXPECT_FALSE(std::filesystem::exists(Path("j.apf")));
}

TEST_F(FaxFileJoinTest, NotAFaxFileOrCutShortFails)
{
    WriteFile(Path("text.apf"), std::string(100, 'x'));
    WriteFile(Path("b.apf"), FaxFile(document_));
    EXPECT_FALSE(ConcatFaxFiles(Path("j.apf"), Path("text.apf"), Path("b.apf")));
    EXPECT_EQ(ReadFile(Path("j.apf")), "");

    const std::string whole = FaxFile(document_);
    WriteFile(Path("short.apf"), whole.substr(0, whole.size() - 10)); // last page cut short
    WriteFile(Path("a.apf"), FaxFile(cover_));
    EXPECT_FALSE(ConcatFaxFiles(Path("j.apf"), Path("a.apf"), Path("short.apf")));
    EXPECT_FALSE(ConcatFaxFiles(Path("j.apf"), Path("short.apf"), Path("a.apf")));
}

TEST_F(FaxFileJoinTest, JoiningIntoAnInputFailsAndKeepsIt)
{
    const std::string a = FaxFile(cover_);
    WriteFile(Path("a.apf"), a);
    WriteFile(Path("b.apf"), FaxFile(document_));
    EXPECT_FALSE(ConcatFaxFiles(Path("A.APF"), Path("a.apf"), Path("b.apf")));
    EXPECT_FALSE(ConcatFaxFiles(Path("b.apf"), Path("a.apf"), Path("b.apf")));
    EXPECT_EQ(ReadFile(Path("a.apf")), a);
    EXPECT_EQ(ReadFile(Path("b.apf")), FaxFile(document_));
}

TEST_F(FaxFileJoinTest, MoreThan65535PagesAreRefused)
{
    const std::vector<Page> many(65535, Page{0, ""});
    WriteFile(Path("many.apf"), FaxFile(many));
    WriteFile(Path("a.apf"), FaxFile(cover_));
    EXPECT_FALSE(ConcatFaxFiles(Path("j.apf"), Path("many.apf"), Path("a.apf")));
    WriteFile(Path("none.apf"), FaxFile({}));
    EXPECT_TRUE(ConcatFaxFiles(Path("j.apf"), Path("many.apf"), Path("none.apf")));
}

TEST_F(FaxFileJoinTest, FilesAreFoundWithoutRegardToCase)
{
    WriteFile(Path("cov00001.apf"), FaxFile(cover_));
    WriteFile(Path("fax00001.apf"), FaxFile(document_));
    EXPECT_TRUE(ConcatFaxFiles(Path("Temp00001.APF"), Path("COV00001.APF"), Path("FAX00001.APF")));
}

// An ITU test chart (P4 PBM) as a page in memory.
faxdoc::TMonoBitmap LoadChart(int n)
{
    std::ifstream in(std::string(std::getenv("ZN_TESTDATA")) + "/itu-charts/itu" + std::to_string(n) + ".pbm",
                     std::ios::binary);
    std::string magic;
    faxdoc::TMonoBitmap page;
    in >> magic >> page.width >> page.height;
    in.get();
    page.stride = (page.width + 15) / 16 * 2;
    page.bits.assign(static_cast<size_t>(page.stride) * page.height, 0);
    for (int y = 0; y < page.height; ++y)
        in.read(reinterpret_cast<char*>(page.Row(y)), (page.width + 7) / 8);
    return page;
}

// The chart turned into a one-page fax file by the converter.
std::string ChartFax(const std::string& folder, int n, bool fine)
{
    const std::string tiff = folder + "/itu" + std::to_string(n) + ".tif";
    const std::string fax = folder + "/itu" + std::to_string(n) + ".apf";
    EXPECT_EQ(faxdoc::WriteFileData(tiff, faxdoc::EncodeTiff(LoadChart(n))), 0);
    faxdoc::ConverterState converter(std::make_unique<faxdoc::TTiffReader>());
    converter.SetResolution(fine);
    EXPECT_EQ(converter.ConvertFile(tiff, fax), 0);
    return fax;
}

std::vector<uint8_t> DecodedPage(const std::string& fax, unsigned page)
{
    faxdoc::UnpackerState unpacker;
    faxdoc::TMonoBitmap bitmap;
    EXPECT_EQ(unpacker.UnpackPageToMemBitmap(fax, page, false, bitmap), 0) << fax << " page " << page;
    return bitmap.bits;
}

TEST_F(FaxFileJoinTest, ConvertedPagesDecodeAlikeAfterJoining)
{
    const std::string cover = ChartFax(home_.Path(), 1, false);
    const std::vector<std::string> parts = {ChartFax(home_.Path(), 2, false), ChartFax(home_.Path(), 3, true),
                                            ChartFax(home_.Path(), 4, false)};
    ASSERT_TRUE(ConcatFaxFiles(Path("doc2.apf"), parts[1], parts[2]));
    ASSERT_TRUE(ConcatFaxFiles(Path("doc.apf"), parts[0], Path("doc2.apf")));
    ASSERT_TRUE(ConcatFaxFiles(Path("joined.apf"), cover, Path("doc.apf")));
    faxdoc::TApfFileHeader header;
    ASSERT_EQ(faxdoc::ReadApfHeader(Path("joined.apf"), header), 0);
    EXPECT_EQ(header.pageCount, 4);
    std::string whole = ReadFile(cover) + ReadFile(Path("doc.apf")).substr(64); // the first file whole, the rest
    Put16(whole, 32, 4);                                                        // without their headers
    EXPECT_EQ(ReadFile(Path("joined.apf")), whole);
    ASSERT_GT(DecodedPage(cover, 1).size(), 200000u);
    EXPECT_EQ(DecodedPage(Path("joined.apf"), 1), DecodedPage(cover, 1));
    for (unsigned page = 2; page <= 4; ++page)
        EXPECT_EQ(DecodedPage(Path("joined.apf"), page), DecodedPage(parts[page - 2], 1)) << "page " << page;
    EXPECT_TRUE(SameFaxResolution(cover, parts[0]));
    EXPECT_FALSE(SameFaxResolution(cover, parts[1]));
}

TEST_F(FaxFileJoinTest, SameResolutionLooksAtTheFirstPagesOnly)
{
    WriteFile(Path("std.apf"), FaxFile({{4, "a"}, {5, "b"}}));
    WriteFile(Path("std2.apf"), FaxFile({{0, "c"}}, 80));
    WriteFile(Path("fine.apf"), FaxFile({{5, "d"}, {4, "e"}}));
    WriteFile(Path("fine2.apf"), FaxFile({{1, "f"}}));
    EXPECT_TRUE(SameFaxResolution(Path("std.apf"), Path("std2.apf")));
    EXPECT_TRUE(SameFaxResolution(Path("fine.apf"), Path("FINE2.APF")));
    EXPECT_FALSE(SameFaxResolution(Path("std.apf"), Path("fine.apf")));
    EXPECT_FALSE(SameFaxResolution(Path("fine2.apf"), Path("std2.apf")));
}

TEST_F(FaxFileJoinTest, SameResolutionRaisesForFilesItCannotRead)
{
    WriteFile(Path("std.apf"), FaxFile({{4, "a"}}));
    std::string damaged = FaxFile({{4, "a"}});
    damaged[0] = 'X';
    WriteFile(Path("damaged.apf"), damaged);
    WriteFile(Path("empty.apf"), FaxFile({}));
    WriteFile(Path("short.apf"), "APF10");
    EXPECT_THROW(SameFaxResolution(Path("std.apf"), Path("missing.apf")), comms::EInOutError);
    EXPECT_THROW(SameFaxResolution(Path("damaged.apf"), Path("std.apf")), comms::EFaxBadFormat);
    EXPECT_THROW(SameFaxResolution(Path("std.apf"), Path("empty.apf")), comms::EFaxBadFormat);
    EXPECT_THROW(SameFaxResolution(Path("short.apf"), Path("std.apf")), comms::EFaxBadFormat);
}

TEST_F(FaxFileJoinTest, ALinkAtTheDestinationIsReplacedNotWrittenThrough)
{
    WriteFile(Path("a.apf"), FaxFile(cover_));
    WriteFile(Path("b.apf"), FaxFile(document_));
    WriteFile(Path("victim"), "precious");
    ASSERT_EQ(::symlink(Path("victim").c_str(), Path("j.apf").c_str()), 0);
    ASSERT_TRUE(ConcatFaxFiles(Path("j.apf"), Path("a.apf"), Path("b.apf")));
    EXPECT_EQ(ReadFile(Path("victim")), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(Path("j.apf")));
    std::vector<Page> all = cover_;
    all.insert(all.end(), document_.begin(), document_.end());
    EXPECT_EQ(ReadFile(Path("j.apf")), FaxFile(all));
}

// A FIFO as an input is refused at once instead of waiting for a writer. The join runs in a child
// that is killed after ten seconds, so that a join that waits fails the test instead of hanging it.
TEST_F(FaxFileJoinTest, AFifoAsAnInputIsRefusedWithoutWaiting)
{
    WriteFile(Path("a.apf"), FaxFile(cover_));
    ASSERT_EQ(::mkfifo(Path("pipe.apf").c_str(), 0600), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        ::_exit(ConcatFaxFiles(Path("j.apf"), Path("a.apf"), Path("pipe.apf")) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the join waited on the FIFO or succeeded";
}

} // namespace
} // namespace zn::foundation
