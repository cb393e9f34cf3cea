#include "comms/base/string_resource.h"

#include "resources/str0_table.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace zn::comms;

namespace {

// A module holding the given resources.
ResourceModule ModuleWith(const std::map<std::string, std::vector<uint8_t>>& resources)
{
    return [&resources](const std::string& name) -> std::optional<ResourceBytes> {
        const auto it = resources.find(name);
        if (it == resources.end())
            return std::nullopt;
        return ResourceBytes{it->second.data(), it->second.size()};
    };
}

std::vector<uint8_t> Table(const std::vector<zn::resources::StringEntry>& entries)
{
    return zn::resources::BuildStr0(entries);
}

} // namespace

TEST(StringResource, FindsEveryIdByBinarySearch)
{
    std::vector<zn::resources::StringEntry> entries;
    for (uint32_t id = 1; id <= 101; id += 2)
        entries.push_back({id, u"text " + std::u16string(1, static_cast<char16_t>('A' + id % 26))});
    const std::map<std::string, std::vector<uint8_t>> resources = {{"T", Table(entries)}};
    const TFxStringResource table(ModuleWith(resources), "T");
    EXPECT_EQ(table.Count(), entries.size());
    for (const auto& e : entries)
        EXPECT_EQ(table.TextById(e.Id), Utf16ToText(e.Text)) << e.Id;
    for (uint32_t id : {0u, 2u, 50u, 102u, 0xFFFFFFFFu})
        EXPECT_EQ(table.TextById(id), "") << id;
}

TEST(StringResource, EmptyTableHasNoTexts)
{
    const std::map<std::string, std::vector<uint8_t>> resources = {{"T", Table({})}};
    const TFxStringResource table(ModuleWith(resources), "T");
    EXPECT_EQ(table.TextById(0), "");
}

TEST(StringResource, TextByIdPCutsToTheBuffer)
{
    const std::map<std::string, std::vector<uint8_t>> resources = {
        {"T", Table({{1, u"Output buffer too small"}, {2, u"short"}, {3, u"abcdefgh\U0001F600"}})}};
    const TFxStringResource table(ModuleWith(resources), "T");
    char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(table.TextByIdP(1, buffer, 10), buffer);
    EXPECT_STREQ(buffer, "Output bu");
    EXPECT_EQ(buffer[10], '#') << "nothing written past the buffer";
    EXPECT_STREQ(table.TextByIdP(2, buffer, 10), "short");
    EXPECT_STREQ(table.TextByIdP(99, buffer, 10), "");
    // The four UTF-8 bytes of the surrogate pair do not fit: the pair goes whole.
    EXPECT_STREQ(table.TextByIdP(3, buffer, 10), "abcdefgh");
    EXPECT_STREQ(table.TextByIdP(3, buffer, 13), "abcdefgh\xF0\x9F\x98\x80");
}

TEST(StringResource, OpeningFailuresRaiseWithTheManagerTexts)
{
    const std::map<std::string, std::vector<uint8_t>> resources = {
        {"BAD", {'S', 'T', 'R', '1', 0, 0, 0, 0}},
        {"SHORT", {'S', 'T', 'R', '0', 5, 0, 0, 0}}}; // five entries claimed, none there
    try {
        TFxStringResource table(ModuleWith(resources), "NOWHERE");
        FAIL() << "a missing resource opened";
    } catch (const EMevStringResourceError& e) {
        EXPECT_STREQ(e.what(), "String resource not found: NOWHERE");
    }
    EXPECT_THROW(TFxStringResource(ModuleWith(resources), "BAD"), EMevStringResourceError);
    EXPECT_THROW(TFxStringResource(ModuleWith(resources), "SHORT"), EMevStringResourceError);
}

TEST(StringResource, MissingIdRaisesOnlyWhenAsked)
{
    const std::map<std::string, std::vector<uint8_t>> resources = {{"T", Table({{1, u"one"}})}};
    TFxStringResource table(ModuleWith(resources), "T");
    EXPECT_EQ(table.TextById(7), "");
    table.RaiseOnMissing = true;
    try {
        table.TextById(7);
        FAIL() << "no exception";
    } catch (const EMevStringResourceError& e) {
        EXPECT_STREQ(e.what(), "String not found: 7");
    }
}

TEST(StringResource, CorruptTextOffsetReadsAsMissing)
{
    std::vector<uint8_t> bytes = Table({{1, u"one"}});
    bytes[12] = 0xF0; // offset far past the end
    const std::map<std::string, std::vector<uint8_t>> resources = {{"T", bytes}};
    const TFxStringResource table(ModuleWith(resources), "T");
    EXPECT_EQ(table.TextById(1), "");
}

// The tables built into the program.
TEST(ProgramStringTables, HoldTheLibraryTexts)
{
    EXPECT_NO_THROW(OpenStringTables());
    const TFxStringResource& errors = ErrorStrings();
    EXPECT_EQ(errors.TextById(0), "OK");
    EXPECT_EQ(errors.TextById(2001), "ie_BadId - Specified comport doesn't exist");
    EXPECT_EQ(errors.TextById(4843), "Finished");
    EXPECT_EQ(errors.TextById(15001), "No event");
    EXPECT_EQ(errors.TextById(15020), "User");
    EXPECT_EQ(errors.TextById(15118), "Procedure");
    EXPECT_EQ(errors.TextById(15130), "tfNone");
    EXPECT_EQ(errors.TextById(15178), "tfDone");
    EXPECT_EQ(errors.TextById(15179), "rfNone");
    EXPECT_EQ(errors.TextById(15216), "rfDone");
    EXPECT_EQ(errors.TextById(15501), "Time      Type      SubType       Data      OtherData");
    EXPECT_EQ(errors.TextById(15601), "DCTS ");
    EXPECT_EQ(errors.TextById(15608), "DCD ");
    EXPECT_EQ(errors.TextById(9001), "");

    const TFxStringResource& manager = StringManagerStrings();
    EXPECT_EQ(manager.Count(), 5u);
    EXPECT_EQ(manager.TextById(1), "String not found: %d");
    EXPECT_EQ(manager.TextById(4), "Unable to open string resource: %s");
}

TEST(ProgramStringTables, ResourceNamesIgnoreCase)
{
    const TFxStringResource table(ProgramModule(), "fxsrmgr_strings");
    EXPECT_EQ(table.TextById(2), "Cannot lock resource");
}
