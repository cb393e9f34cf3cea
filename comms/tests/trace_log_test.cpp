// Trace and dispatch-log records and their text dumps, compared byte for byte with fixtures.
#include "comms/port/trace_log.h"

#include "comms/base/error_codes.h"
#include "comms/tests/port_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace zn::comms;
using zn::comms::test::ReadFile;

namespace {

std::string Fixture(const std::string& name)
{
    return ReadFile(std::string(std::getenv("ZN_SOURCE_DIR")) + "/comms/tests/data/" + name);
}

std::string TempFile(const std::string& name)
{
    std::string path = ::testing::TempDir() + "zn_trace_log_" + std::to_string(::getpid()) + "_" + name;
    ::unlink(path.c_str());
    return path;
}

// The compiler line depends on the build: it is compared only up to its colon.
std::string WithoutCompilerLine(std::string dump)
{
    size_t at = dump.find("Compiler : ");
    if (at != std::string::npos)
        dump.erase(at + 11, dump.find("\r\n", at) - at - 11);
    return dump;
}

void AddTrace(TraceBuffer& t, char kind, const std::string& bytes)
{
    for (char c : bytes)
        t.Add(kind, uint8_t(c));
}

} // namespace

TEST(Trace, ACapacityOfThreeKeepsTheLastThreeBytes)
{
    TraceBuffer t;
    ASSERT_EQ(t.Init(3), 0);
    AddTrace(t, 'T', "ABCDE");
    std::string file = TempFile("cap3.trc");
    ASSERT_EQ(t.Dump(file, false, false, false), 0);
    EXPECT_EQ(ReadFile(file), "Transmit: \r\nCDE\r\n");
    EXPECT_FALSE(t.Exists()); // a dump frees the trace
}

struct TraceCase {
    const char* name;
    bool hex, allHex;
    const char* expected;
};

class TraceItems : public ::testing::TestWithParam<TraceCase> {};

TEST_P(TraceItems, ShowBytesAsCharactersOrInBrackets)
{
    TraceBuffer t;
    ASSERT_EQ(t.Init(100), 0);
    AddTrace(t, 'R', std::string("A\r\xC8 ", 4));
    std::string file = TempFile(std::string(GetParam().name) + ".trc");
    ASSERT_EQ(t.Dump(file, false, GetParam().hex, GetParam().allHex), 0);
    EXPECT_EQ(ReadFile(file), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Flags, TraceItems,
                         ::testing::Values(TraceCase{"decimal", false, false, "Receive: \r\nA[13][200] \r\n"},
                                           TraceCase{"hex", true, false, "Receive: \r\nA[0D][C8][20]\r\n"},
                                           TraceCase{"allhex", false, true, "Receive: \r\n[41][0D][C8][20]\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Trace, GroupsAndLineWrapsMatchTheFixture)
{
    TraceBuffer t;
    ASSERT_EQ(t.Init(1000), 0);
    AddTrace(t, 'T', "AT+FCLASS=1\r");
    AddTrace(t, 'R', "\r\nOK\r\n");
    std::string page;
    for (int i = 0; i < 70; ++i)
        page.push_back(char(i * 7));
    AddTrace(t, 'T', page);
    t.Add('X', 1);
    std::string file = TempFile("groups.trc");
    ASSERT_EQ(t.Dump(file, false, true, false), 0);
    EXPECT_EQ(ReadFile(file), Fixture("trace_groups.txt"));
}

TEST(Trace, AppendingAddsToTheFileAndAnEmptyTraceWritesNothing)
{
    std::string file = TempFile("append.trc");
    for (int i = 0; i < 2; ++i) {
        TraceBuffer t;
        ASSERT_EQ(t.Init(10), 0);
        AddTrace(t, 'T', "AT\r");
        ASSERT_EQ(t.Dump(file, true, false, false), 0);
    }
    EXPECT_EQ(ReadFile(file), "Transmit: \r\nAT[13]\r\nTransmit: \r\nAT[13]\r\n");
    TraceBuffer empty;
    ASSERT_EQ(empty.Init(10), 0);
    std::string none = TempFile("none.trc");
    EXPECT_EQ(empty.Dump(none, false, false, false), 0);
    EXPECT_NE(::access(none.c_str(), F_OK), 0);
}

TEST(Trace, MoreThanFourMillionEntriesAreRefused)
{
    TraceBuffer t;
    EXPECT_EQ(t.Init(4000001), ecBadArgument);
    EXPECT_FALSE(t.On());
}

TEST(Trace, AFileThatCannotBeWrittenGivesItsErrorAndFreesTheTrace)
{
    TraceBuffer t;
    ASSERT_EQ(t.Init(10), 0);
    AddTrace(t, 'T', "AT");
    EXPECT_LT(t.Dump("/nonexistent-folder/x/FXC.TRC", false, false, false), 0);
    EXPECT_FALSE(t.Exists());
}

struct TimeCase {
    uint32_t ms;
    const char* text;
};

class LogTimes : public ::testing::TestWithParam<TimeCase> {};

TEST_P(LogTimes, PutThePointBeforeTheMilliseconds) { EXPECT_EQ(FormatLogTime(GetParam().ms), GetParam().text); }

// Ports stay open for days in receive mode: past 9999.999 s the seconds grow a digit, never wrap.
INSTANTIATE_TEST_SUITE_P(Times, LogTimes,
                         ::testing::Values(TimeCase{0, "0000.000"}, TimeCase{12345, "0012.345"},
                                           TimeCase{9999999, "9999.999"}, TimeCase{10000000, "10000.000"},
                                           TimeCase{4294967295u, "4294967.295"}),
                         [](const ::testing::TestParamInfo<TimeCase>& info) { return std::to_string(info.param.ms) + "ms"; });

TEST(DispatchLog, TheDumpMatchesTheFixture)
{
    SetLogSystemTextForTest("Linux test");
    DispatchLog log;
    log.Init(4096, 8192);
    log.Add(5, 14, 0, 8, 0, nullptr);
    uint8_t type = 5;
    log.Add(5, 15, 1, 21, 1, &type);
    log.Add(1, 2, 1234, 4, 4, "ATZ\r");
    std::string longReply;
    for (int i = 0; i < 40; ++i)
        longReply += "OK\r\n"[i % 4];
    log.Add(1, 1, 12345, uint32_t(longReply.size()), uint32_t(longReply.size()), longReply.data());
    log.Add(2, 5, 12346, 40, 0, nullptr);
    log.Add(2, 4, 20000, 0xB0, 0, nullptr);
    log.Add(9, 14, 20001, 8, 11, "Deactivated");
    log.Add(19, 0, 10000000, 0, 11, "remark here");
    std::string file = TempFile("log.txt");
    ASSERT_EQ(log.Dump(file, false, false, true, "COM3"), 0);
    EXPECT_EQ(WithoutCompilerLine(ReadFile(file)), Fixture("dispatch_log.txt"));
    EXPECT_TRUE(log.Empty()); // a dump empties and frees the log
}

TEST(DispatchLog, AllHexShowsUserRemarksAsText)
{
    SetLogSystemTextForTest("Linux test");
    DispatchLog log;
    log.Init(1024, 1024);
    log.Add(19, 0, 0, 0, 2, "Hi");
    log.Add(1, 2, 0, 2, 2, "Hi");
    std::string file = TempFile("allhex.txt");
    ASSERT_EQ(log.Dump(file, false, true, false, "COM1"), 0);
    std::string dump = ReadFile(file);
    EXPECT_NE(dump.find("  00000000  Hi\r\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("  00000002  [48][69]\r\n"), std::string::npos) << dump;
}

TEST(DispatchLog, AnEntryAsLargeAsTheLogIsNotKept)
{
    DispatchLog log;
    log.Init(32, 64);
    std::string data(16, 'x');
    log.Add(19, 0, 0, 0, uint32_t(data.size()), data.data());
    EXPECT_TRUE(log.Empty());
    log.Add(19, 0, 0, 0, 15, data.data());
    EXPECT_FALSE(log.Empty());
}

TEST(DispatchLog, AFullLogDropsItsOldestEntriesWhole)
{
    DispatchLog log;
    log.Init(100, 64); // room for three entries of 16 + 10 bytes
    for (uint32_t i = 1; i <= 5; ++i)
        log.Add(19, 0, i, i, 10, "0123456789");
    LogEntryHeader h;
    std::vector<uint8_t> data;
    std::vector<uint32_t> kept;
    while (log.TakeOldest(h, data)) {
        EXPECT_EQ(h.dataLength, 10u);
        EXPECT_EQ(std::string(data.begin(), data.end()), "0123456789");
        kept.push_back(h.value);
    }
    EXPECT_EQ(kept, (std::vector<uint32_t>{3, 4, 5}));
}

TEST(DispatchLog, AnEmptyLogWritesNoFile)
{
    DispatchLog log;
    log.Init(100, 64);
    std::string file = TempFile("empty.log");
    EXPECT_EQ(log.Dump(file, false, false, false, "COM1"), 0);
    EXPECT_NE(::access(file.c_str(), F_OK), 0);
}

TEST(DispatchLog, AFileThatCannotBeWrittenKeepsTheLog)
{
    DispatchLog log;
    log.Init(100, 64);
    log.Add(19, 0, 0, 0, 2, "Hi");
    EXPECT_LT(log.Dump("/nonexistent-folder/x/FXC.LOG", false, false, false, "COM1"), 0);
    EXPECT_FALSE(log.Empty());
}
