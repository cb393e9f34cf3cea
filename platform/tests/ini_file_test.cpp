#include "platform/ini_file.h"

#include "temp_folder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace zn::platform {
namespace {

using testing::TempFolder;

class IniFileTest : public ::testing::Test {
protected:
    TempFolder tmp_;
    IniFile ini_{tmp_ / "ZN.INI"};

    void Write(const std::string& bytes) { tmp_.WriteFile("ZN.INI", bytes); }
    std::string Read() const { return tmp_.ReadFile("ZN.INI"); }
};

TEST_F(IniFileTest, MissingFileGivesDefaults)
{
    EXPECT_EQ(ini_.ReadString("Modem", "InitString", "ATZ"), "ATZ");
    EXPECT_EQ(ini_.ReadInteger("Modem", "ComPort", -1), -1);
    EXPECT_TRUE(ini_.ReadBool("User", "PrefixDisable", true));
    EXPECT_TRUE(ini_.ReadSections().empty());
}

TEST_F(IniFileTest, ValuesPassUnchangedExceptTrimAndOnePairOfQuotes)
{
    Write("[Modem]\nInitString=AT&F,E0\nCover = C:\\Covers\\a.fcs  \nQuoted=\"  spaced  \"\n"
          "Single='x'\nTwo=\"\"a\"\"\nHalf=\"open\nComment=a ; not a comment\n");
    EXPECT_EQ(ini_.ReadString("Modem", "InitString", ""), "AT&F,E0");
    EXPECT_EQ(ini_.ReadString("Modem", "Cover", ""), "C:\\Covers\\a.fcs");
    EXPECT_EQ(ini_.ReadString("Modem", "Quoted", ""), "  spaced  ");
    EXPECT_EQ(ini_.ReadString("Modem", "Single", ""), "x");
    EXPECT_EQ(ini_.ReadString("Modem", "Two", ""), "\"a\"");
    EXPECT_EQ(ini_.ReadString("Modem", "Half", ""), "\"open");
    EXPECT_EQ(ini_.ReadString("Modem", "Comment", ""), "a ; not a comment");
}

TEST_F(IniFileTest, SectionsAndKeysIgnoreCaseAndTheFirstMatchWins)
{
    Write("[modem]\r\ncomport=2\r\nComPort=3\r\n[MODEM]\r\nFaxClass=2\r\n");
    EXPECT_EQ(ini_.ReadInteger("Modem", "COMPORT", -1), 2);
    EXPECT_EQ(ini_.ReadInteger("Modem", "FaxClass", 1), 1) << "only the first [Modem] is searched";
    ASSERT_TRUE(ini_.WriteInteger("MoDeM", "comPORT", 4));
    EXPECT_EQ(Read(), "[modem]\r\ncomport=4\r\nComPort=3\r\n[MODEM]\r\nFaxClass=2\r\n");
}

TEST_F(IniFileTest, WritesRoundTripAndAreWrittenWithCrLf)
{
    ASSERT_TRUE(ini_.WriteString("Modem", "InitString", "AT&F,E0"));
    ASSERT_TRUE(ini_.WriteString("Paths", "Cover", "C:\\Covers\\a.fcs"));
    ASSERT_TRUE(ini_.WriteBool("User", "PrefixDisable", true));
    EXPECT_EQ(Read(), "[Modem]\r\nInitString=AT&F,E0\r\n\r\n[Paths]\r\nCover=C:\\Covers\\a.fcs\r\n"
                      "\r\n[User]\r\nPrefixDisable=1\r\n");
    EXPECT_EQ(ini_.ReadString("modem", "initstring", ""), "AT&F,E0");
    EXPECT_EQ(ini_.ReadString("Paths", "Cover", ""), "C:\\Covers\\a.fcs");
    EXPECT_TRUE(ini_.ReadBool("User", "PrefixDisable", false));
}

TEST_F(IniFileTest, NewKeyGoesToTheEndOfItsSectionAndCommentsStay)
{
    Write("; written by hand\n[Modem]\nComPort=1\n\n; colours\n[Colors]\nBack=0\n[Unknown]\nX=y\n");
    ASSERT_TRUE(ini_.WriteString("Modem", "FaxClass", "2"));
    ASSERT_TRUE(ini_.WriteString("Colors", "Fore", "7"));
    EXPECT_EQ(Read(), "; written by hand\r\n[Modem]\r\nComPort=1\r\nFaxClass=2\r\n\r\n; colours\r\n"
                      "[Colors]\r\nBack=0\r\nFore=7\r\n[Unknown]\r\nX=y\r\n");
}

TEST_F(IniFileTest, DeleteKeyAndEraseSectionTouchOnlyTheirLines)
{
    Write("[A]\r\nk=1\r\nj=2\r\n[B]\r\nk=3\r\n[C]\r\nm=4\r\n");
    ASSERT_TRUE(ini_.DeleteKey("a", "K"));
    ASSERT_TRUE(ini_.DeleteKey("A", "missing"));
    ASSERT_TRUE(ini_.EraseSection("b"));
    ASSERT_TRUE(ini_.EraseSection("missing"));
    EXPECT_EQ(Read(), "[A]\r\nj=2\r\n[C]\r\nm=4\r\n");
}

TEST_F(IniFileTest, SectionAndKeyListings)
{
    Write("[Recent]\nFile1=a\nfile2=\n[Empty]\n[recent]\nFile3=c\n");
    EXPECT_EQ(ini_.ReadSections(), (std::vector<std::string>{"Recent", "Empty"}));
    EXPECT_EQ(ini_.ReadSection("RECENT"), (std::vector<std::string>{"File1", "file2"}));
    EXPECT_TRUE(ini_.SectionExists("recent"));
    EXPECT_FALSE(ini_.SectionExists("Empty")) << "a section without keys counts as missing";
    EXPECT_TRUE(ini_.ValueExists("Recent", "FILE2")) << "an empty value still exists";
    EXPECT_FALSE(ini_.ValueExists("Recent", "File3"));
}

struct IntegerCase {
    const char* text;
    int expected;
};

void PrintTo(const IntegerCase& c, std::ostream* os)
{
    *os << "value_";
    for (const char* p = c.text; *p; ++p)
        *os << (std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
}

class IniIntegerTest : public IniFileTest, public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(IniIntegerTest, ParsesDecimalOrHexElseDefault)
{
    Write(std::string("[S]\nk=") + GetParam().text + "\n");
    EXPECT_EQ(ini_.ReadInteger("S", "k", -77), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Values, IniIntegerTest,
                         ::testing::Values(IntegerCase{"42", 42}, IntegerCase{" -5 ", -5}, IntegerCase{"+7", 7},
                                           IntegerCase{"0x1F", 31}, IntegerCase{"0XfF", 255},
                                           IntegerCase{"0xFFFFFFFF", -1}, IntegerCase{"12abc", -77},
                                           IntegerCase{"abc", -77}, IntegerCase{"", -77}, IntegerCase{"0x", -77},
                                           IntegerCase{"99999999999", -77}, IntegerCase{"\"3\"", 3}),
                         ::testing::PrintToStringParamName());

TEST_F(IniFileTest, OddLinesSurviveAWriteByteForByte)
{
    using namespace std::string_literals;
    const std::string odd =
        "\xEF\xBB\xBF[Modem]\nno equals sign\n  indented = x \nbin\0ary=\x01\xff\n[ Spaced ]\n=empty key\n[broken\nk=v"s;
    Write(odd);
    EXPECT_EQ(ini_.ReadString("MODEM", "indented", ""), "x");
    EXPECT_EQ(ini_.ReadString("Spaced", "k", "none"), "none");
    EXPECT_EQ(ini_.ReadSection("Spaced"), std::vector<std::string>{""});
    EXPECT_EQ(ini_.ReadString("broken", "k", ""), "v");
    ASSERT_TRUE(ini_.WriteString("Spaced", "New", "1"));
    std::string expected = odd;
    size_t pos = 0;
    while ((pos = expected.find('\n', pos)) != std::string::npos) {
        expected.replace(pos, 1, "\r\n");
        pos += 2;
    }
    expected.replace(expected.find("[broken"), 0, "New=1\r\n");
    EXPECT_EQ(Read(), expected + "\r\n");
}

TEST_F(IniFileTest, LongValuesAreCutTo1023Characters)
{
    ASSERT_TRUE(ini_.WriteString("S", "k", std::string(2000, 'x')));
    EXPECT_EQ(ini_.ReadString("S", "k", ""), std::string(1023, 'x'));
}

TEST_F(IniFileTest, DefaultLosesTrailingBlanks) { EXPECT_EQ(ini_.ReadString("S", "k", " a  "), " a"); }

TEST_F(IniFileTest, RefusesWhatWouldBreakTheLines)
{
    Write("[S]\r\nk=1\r\n");
    for (auto [section, key, value] : {std::tuple<std::string, std::string, std::string>{"S", "k", "a\r\nb=c"},
                                       {"S", "a=b", "1"},
                                       {"S", "[x", "1"},
                                       {"S", ";x", "1"},
                                       {"S]", "k", "1"},
                                       {"", "k", "1"},
                                       {"S", "", "1"}}) {
        errno = 0;
        EXPECT_FALSE(ini_.WriteString(section, key, value)) << key << value;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(Read(), "[S]\r\nk=1\r\n");
}

TEST_F(IniFileTest, WriteIsAtomicAndKeepsTheFileMode)
{
    Write("[S]\nk=1\n");
    chmod((tmp_ / "ZN.INI").c_str(), 0640);
    struct stat before {};
    stat((tmp_ / "ZN.INI").c_str(), &before);
    ASSERT_TRUE(ini_.WriteString("S", "k", "2"));
    struct stat after {};
    stat((tmp_ / "ZN.INI").c_str(), &after);
    EXPECT_NE(before.st_ino, after.st_ino) << "replaced by rename, not rewritten in place";
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(QString::fromStdString(tmp_.Path())).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no temporary file left behind";
}

TEST_F(IniFileTest, ANewFileTakesItsModeFromTheUmask)
{
    const mode_t saved = umask(027);
    const bool written = ini_.WriteString("S", "k", "1");
    umask(saved);
    ASSERT_TRUE(written);
    struct stat info {};
    ASSERT_EQ(stat((tmp_ / "ZN.INI").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(IniFileTest, FailedWriteReportsFailure)
{
    IniFile nowhere(tmp_ / "missing/ZN.INI");
    errno = 0;
    EXPECT_FALSE(nowhere.WriteString("S", "k", "2"));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(IniFileTest, UnreadableFileIsNotOverwritten)
{
    tmp_.MakeFolder("ZN.INI"); // a folder where the file should be: reading fails
    EXPECT_EQ(ini_.ReadString("S", "k", "def"), "def");
    EXPECT_FALSE(ini_.WriteString("S", "k", "2"));
}

TEST_F(IniFileTest, FileNameIsResolvedWithoutRegardToCase)
{
    Write("[S]\r\nk=1\r\n");
    IniFile other(tmp_ / "zn.ini");
    ASSERT_TRUE(other.WriteString("S", "k", "2"));
    EXPECT_EQ(Read(), "[S]\r\nk=2\r\n");
}

TEST_F(IniFileTest, ConcurrentWritersLoseNoKey)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            IniFile ini(tmp_ / "ZN.INI");
            for (int i = 0; i < 10; ++i)
                ini.WriteInteger("S", "k" + std::to_string(t) + "_" + std::to_string(i), i);
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(ini_.ReadSection("S").size(), 40u);
}

TEST_F(IniFileTest, ConcurrentProcessesLoseNoKey)
{
    std::vector<pid_t> children;
    for (int p = 0; p < 3; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            IniFile ini(tmp_ / "ZN.INI");
            bool ok = true;
            for (int i = 0; i < 10; ++i)
                ok = ini.WriteInteger("P" + std::to_string(p), "k" + std::to_string(i), i) && ok;
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(ini_.ReadSection("P" + std::to_string(p)).size(), 10u) << p;
}

} // namespace
} // namespace zn::platform
