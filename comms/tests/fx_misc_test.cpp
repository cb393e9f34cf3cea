#include "comms/base/fx_misc.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace zn::comms;

namespace {

// Puts the 64-bit millisecond clock at ms (plus the little real time that passes afterwards).
void SetClockTo(uint64_t ms)
{
    zn::platform::SetClockOffsetForTest(0);
    const uint64_t real = zn::platform::MonotonicMs();
    zn::platform::SetClockOffsetForTest(static_cast<int64_t>(ms) - static_cast<int64_t>(real));
}

// The middle of tick number tick of the 64-bit clock, so that the real time a test takes stays
// inside the tick.
uint64_t MidTick(uint64_t tick) { return tick * MsPerTick + MsPerTick / 2; }

class ClockTest : public testing::Test {
protected:
    void TearDown() override { zn::platform::SetClockOffsetForTest(0); }
};

} // namespace

TEST(FxMiscConversions, SecondsAndTicksConvertExactly)
{
    EXPECT_EQ(SecondsToTicks(1), 18);
    EXPECT_EQ(SecondsToTicks(60), 1092);
    EXPECT_EQ(SecondsToTicks(0), 0);
    EXPECT_EQ(TicksToSeconds(18), 1);
    EXPECT_EQ(TicksToSeconds(0), 0);
    EXPECT_EQ(TicksToSeconds(1092), 60);
}

TEST_F(ClockTest, TicksAreFiftyFiveMilliseconds)
{
    SetClockTo(MidTick(1000));
    EXPECT_EQ(TickCount(), 1000);
    EXPECT_GE(MillisecondClock(), 1000u * 55 + 27);
    EXPECT_LT(MillisecondClock(), 1001u * 55);
}

TEST_F(ClockTest, MillisecondClockIs32BitAndWraps)
{
    SetClockTo((uint64_t{1} << 32) + 100);
    EXPECT_EQ(MillisecondClock(), 100u);
}

TEST_F(ClockTest, ZeroTickTimerExpiresInTheNextTick)
{
    SetClockTo(MidTick(500));
    EventTimer timer;
    StartTimer(timer, 0);
    EXPECT_FALSE(TimerExpired(timer));
    SetClockTo(MidTick(501));
    EXPECT_TRUE(TimerExpired(timer));
}

TEST_F(ClockTest, TimerWhoseExpiryIsNowIsNotYetExpired)
{
    SetClockTo(MidTick(500));
    EventTimer timer;
    StartTimer(timer, 3);
    SetClockTo(MidTick(503));
    EXPECT_FALSE(TimerExpired(timer));
    EXPECT_EQ(RemainingTicks(timer), 0);
    SetClockTo(MidTick(504));
    EXPECT_TRUE(TimerExpired(timer));
}

TEST_F(ClockTest, IntervalsAreCutToTheTickLimit)
{
    SetClockTo(MidTick(10));
    EventTimer timer;
    StartTimer(timer, TickLimit + 1000);
    EXPECT_EQ(RemainingTicks(timer), TickLimit);
    StartTimer(timer, -5); // a negative interval is an interval of 0
    EXPECT_FALSE(TimerExpired(timer));
    EXPECT_EQ(RemainingTicks(timer), 0);
}

TEST_F(ClockTest, SecondTimersCountInTicks)
{
    SetClockTo(MidTick(100));
    EventTimer timer;
    StartTimerSecs(timer, 60);
    EXPECT_EQ(timer.ExpireTicks - timer.StartTicks, 1092);
    SetClockTo(MidTick(100 + 546));
    EXPECT_EQ(ElapsedSeconds(timer), 30);
    EXPECT_EQ(RemainingSeconds(timer), 30);
}

// A timer started a few ticks before a wrap expires after its interval, not days later: the wrap of
// the 32-bit millisecond clock, its sign change, and the wraps of the tick count itself.
class TimerAcrossWrap : public ClockTest, public testing::WithParamInterface<uint64_t> {};

TEST_P(TimerAcrossWrap, ExpiresAfterItsInterval)
{
    const uint64_t wrapTick = GetParam() / MsPerTick;
    SetClockTo(MidTick(wrapTick - 3));
    EventTimer timer;
    StartTimer(timer, 10);
    EXPECT_FALSE(TimerExpired(timer));
    EXPECT_EQ(RemainingTicks(timer), 10);

    SetClockTo(MidTick(wrapTick + 3)); // 6 ticks on, past the wrap
    EXPECT_FALSE(TimerExpired(timer));
    EXPECT_EQ(ElapsedTicks(timer), 6);
    EXPECT_EQ(RemainingTicks(timer), 4);

    SetClockTo(MidTick(wrapTick + 7)); // the expiry tick itself
    EXPECT_FALSE(TimerExpired(timer));

    SetClockTo(MidTick(wrapTick + 8)); // 11 ticks on
    EXPECT_TRUE(TimerExpired(timer));
    EXPECT_EQ(ElapsedTicks(timer), 11);
    EXPECT_EQ(RemainingTicks(timer), 0);
}

INSTANTIATE_TEST_SUITE_P(Wraps, TimerAcrossWrap,
                         testing::Values(uint64_t{1} << 31, // signed 32-bit milliseconds turn negative (24.8 days)
                                         uint64_t{1} << 32, // 32-bit milliseconds wrap (49.7 days)
                                         (uint64_t{1} << 31) * MsPerTick,   // the tick count turns negative
                                         (uint64_t{1} << 32) * MsPerTick),
                         ([](const testing::TestParamInfo<uint64_t>& info) {
                             const char* names[] = {"MillisecondsTurnNegative", "MillisecondsWrap", "TicksTurnNegative", "TicksWrap"};
                             return std::string(names[info.index]);
                         })); // the tick count wraps

TEST_F(ClockTest, DelayOfNoTicksReturnsAtOnce)
{
    EXPECT_EQ(DelayTicks(0, false), 0u);
    EXPECT_EQ(DelayTicks(-3, true), 0u);
}

TEST_F(ClockTest, DelayWaitsPastItsTicks)
{
    EventTimer timer;
    StartTimer(timer, 0);
    EXPECT_EQ(DelayTicks(1, false), 0u);
    EXPECT_GE(ElapsedTicks(timer), 2);
    const uint32_t before = MillisecondClock();
    EXPECT_EQ(DelayMs(5), 5u);
    EXPECT_GE(MillisecondClock() - before, 5u);
}

// ---- TLineReader -------------------------------------------------------------------------------

namespace {

std::vector<std::string> Lines(const std::string& bytes)
{
    TLineReader reader(std::make_unique<std::istringstream>(bytes));
    std::vector<std::string> lines;
    std::string line;
    while (reader.NextLine(line))
        lines.push_back(line);
    EXPECT_FALSE(reader.NextLine(line));
    EXPECT_TRUE(line.empty());
    return lines;
}

using LineList = std::vector<std::string>;

} // namespace

struct LineCase {
    const char* Name;
    std::string Bytes;
    LineList Expected;
};

class LineReaderCases : public testing::TestWithParam<LineCase> {};

TEST_P(LineReaderCases, CutsLines) { EXPECT_EQ(Lines(GetParam().Bytes), GetParam().Expected); }

const std::string Block(TLineReader::BlockSize, 'x');

INSTANTIATE_TEST_SUITE_P(
    Texts, LineReaderCases,
    testing::Values(LineCase{"CrLf", "A\r\nB", {"A", "B"}}, LineCase{"LoneCr", "A\rB\r", {"A", "B"}},
                    LineCase{"LoneLfIsText", "A\nB\r\n", {"A\nB"}}, LineCase{"EmptyLines", "\r\n\r\nC", {"", "", "C"}},
                    LineCase{"Empty", "", {}}, LineCase{"CtrlZEndsTheText", "AB\r\nCD\x1A", {"AB", "CD"}},
                    LineCase{"CtrlZInsideIsText",
                             "A\x1A"
                             "B",
                             {"A\x1A"
                              "B"}},
                    LineCase{"CrLfSplitAcrossBlocks", Block.substr(1) + "\r\nY", {Block.substr(1), "Y"}},
                    LineCase{"LineSpansBlocks", Block + Block + "yz\r\n", {Block + Block + "yz"}},
                    LineCase{"LfStartingABlockAfterTextIsText", Block + "\nB", {Block + "\nB"}},
                    LineCase{"NulEndsItsBlock", std::string("A\0junk", 6) + Block.substr(6) + "B\r\n", {"AB"}}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.Name); });

TEST(LineReader, CountsBytesAgainstTheStreamSize)
{
    const std::string text = Block + "tail\r\n";
    TLineReader reader(std::make_unique<std::istringstream>(text));
    EXPECT_EQ(reader.StreamSize(), text.size());
    EXPECT_EQ(reader.BytesRead(), TLineReader::BlockSize);
    std::string line;
    ASSERT_TRUE(reader.NextLine(line));
    EXPECT_EQ(reader.BytesRead(), text.size());
    EXPECT_FALSE(reader.HasMoreLines());
}

TEST(LineReader, UnreadableStreamHasNoLines)
{
    TLineReader reader(std::make_unique<std::ifstream>("/nonexistent/zn-line-reader.txt"));
    std::string line = "stale";
    EXPECT_FALSE(reader.HasMoreLines());
    EXPECT_FALSE(reader.NextLine(line));
    EXPECT_EQ(line, "");
    TLineReader none(nullptr);
    EXPECT_FALSE(none.NextLine(line));
}

// ---- Bytes, paths, components ------------------------------------------------------------------

class InvertBufferLength : public testing::TestWithParam<size_t> {};

TEST_P(InvertBufferLength, InvertsExactlyThatManyBytes)
{
    const size_t count = GetParam();
    std::vector<unsigned char> buffer(count + 3);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<unsigned char>(0x11 * i);
    const std::vector<unsigned char> before = buffer;
    InvertBuffer(buffer.data() + 1, count); // an unaligned start
    for (size_t i = 0; i < buffer.size(); ++i) {
        const bool inside = i >= 1 && i <= count;
        EXPECT_EQ(buffer[i], inside ? static_cast<unsigned char>(~before[i]) : before[i]) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, InvertBufferLength, testing::Values(0, 4, 5, 6, 7, 9),
                         [](const testing::TestParamInfo<size_t>& info) { return std::to_string(info.param) + "Bytes"; });

struct PathCase {
    std::string (*Fn)(const std::string&);
    const char* FnName;
    std::string Path;
    std::string Expected;
};

class PathHelpers : public testing::TestWithParam<PathCase> {};

TEST_P(PathHelpers, GiveTheirPart)
{
    EXPECT_EQ(GetParam().Fn(GetParam().Path), GetParam().Expected)
        << GetParam().FnName << "(" << GetParam().Path << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathHelpers,
    testing::Values(PathCase{ExtractDirPChar, "ExtractDirPChar", "C:\\", "C:\\"},
                    PathCase{ExtractDirPChar, "ExtractDirPChar", "C:\\FAX\\A.APF", "C:\\FAX"},
                    PathCase{ExtractDirPChar, "ExtractDirPChar", "A.APF", ""},
                    PathCase{ExtractDirPChar, "ExtractDirPChar", "\\A.APF", "\\"},
                    PathCase{ExtractDirPChar, "ExtractDirPChar", "C:\\A.APF", "C:\\"},
                    PathCase{ExtractDirPChar, "ExtractDirPChar", "C:A.APF", "C:"},
                    PathCase{ExtractDirPChar, "ExtractDirPChar", "C:\\FAX\\", "C:\\FAX"},
                    PathCase{ExtractDirPChar, "ExtractDirPChar", "/home/u/RECEIVE/FAX0001.APF", "/home/u/RECEIVE"},
                    PathCase{ExtractDirPChar, "ExtractDirPChar", "/A.APF", "/"},
                    PathCase{ExtractNamePChar, "ExtractNamePChar", "C:\\FAX\\A.APF", "A.APF"},
                    PathCase{ExtractNamePChar, "ExtractNamePChar", "/home/u/a.txt", "a.txt"},
                    PathCase{ExtractNamePChar, "ExtractNamePChar", "C:A.APF", "A.APF"},
                    PathCase{ExtractNamePChar, "ExtractNamePChar", "C:\\" + std::string(300, 'n'),
                             std::string(255, 'n')},
                    PathCase{ExtractExtPChar, "ExtractExtPChar", "C:\\FAX\\A.APF", "APF"},
                    PathCase{ExtractExtPChar, "ExtractExtPChar", "C:\\F.X\\A", ""},
                    PathCase{ExtractExtPChar, "ExtractExtPChar", "/d.d/a", ""},
                    PathCase{ExtractExtPChar, "ExtractExtPChar", "a.tar.gz", "gz"},
                    PathCase{AddBackslashPChar, "AddBackslashPChar", "", ""},
                    PathCase{AddBackslashPChar, "AddBackslashPChar", "C:", "C:"},
                    PathCase{AddBackslashPChar, "AddBackslashPChar", "C:\\FAX", "C:\\FAX\\"},
                    PathCase{AddBackslashPChar, "AddBackslashPChar", "C:\\FAX\\", "C:\\FAX\\"},
                    PathCase{AddBackslashPChar, "AddBackslashPChar", "/home/u", "/home/u/"},
                    PathCase{AddBackslashPChar, "AddBackslashPChar", "/home/u/", "/home/u/"},
                    PathCase{AddBackslashPChar, "AddBackslashPChar", "RECEIVE", "RECEIVE/"},
                    PathCase{AddBackslashQuoted, "AddBackslashQuoted", "\"C:\\FAX\"", "\"C:\\FAX\\\""},
                    PathCase{AddBackslashQuoted, "AddBackslashQuoted", "\"C:\\FAX\\\"", "\"C:\\FAX\\\""},
                    PathCase{AddBackslashQuoted, "AddBackslashQuoted", "/srv/fax", "/srv/fax/"},
                    PathCase{AddBackslashQuoted, "AddBackslashQuoted", "\"\"", "\"\""}),
    [](const testing::TestParamInfo<PathCase>& info) {
        return std::string(info.param.FnName) + std::to_string(info.index);
    });

TEST(PathHelpers, ForceAndDefaultExtensions)
{
    EXPECT_EQ(ForceExtPChar("C:\\F.X\\A", "APF"), "C:\\F.X\\A.APF");
    EXPECT_EQ(ForceExtPChar("a.txt", "APF"), "a.APF");
    EXPECT_EQ(ForceExtPChar("/d/a.b.c", "x"), "/d/a.b.x");
    EXPECT_EQ(DefaultExtPChar("/d.d/a", "APF"), "/d.d/a.APF");
    EXPECT_EQ(DefaultExtPChar("a.txt", "APF"), "a.txt");
}

TEST(PathHelpers, FileExistsIgnoresLetterCase)
{
    const std::string base = testing::TempDir() + "FxMisc" + std::to_string(::getpid());
    const std::string path = base + "Exists.APF";
    std::ofstream(path) << "x";
    EXPECT_TRUE(FileExistsPChar(path));
    EXPECT_TRUE(FileExistsPChar(testing::TempDir() + "fxmisc" + std::to_string(::getpid()) + "exists.apf"));
    EXPECT_FALSE(FileExistsPChar(base + "Missing.APF"));
    EXPECT_FALSE(FileExistsPChar(""));
    std::remove(path.c_str());
}

TEST(Bits, FlagIsSetWhenValueAndMaskShareABit)
{
    EXPECT_TRUE(FlagIsSet(0x12, 0x02));
    EXPECT_FALSE(FlagIsSet(0x12, 0x05));
    const char text[] = "abcdef";
    EXPECT_EQ(*PointerAdd(text, 3), 'd');
}

TEST(Components, VersionReadsV306AndIgnoresWrites)
{
    TFxBaseComponent component;
    TFxBaseWinControl control;
    component.SetVersion("v9.99");
    control.SetVersion("");
    EXPECT_EQ(component.Version(), "v3.06");
    EXPECT_EQ(control.Version(), "v3.06");
}
