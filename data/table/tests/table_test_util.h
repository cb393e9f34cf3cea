// Shared pieces of the table-layer tests: a program folder with the system's tables in it.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "dataset.h"
#include "platform/folders.h"
#include "system_tables.h"
#include "veldrane.h"
#include "xbase_test_util.h"
#include "xbase_vd.h"

namespace zn::data::test {

using zn::xbase::test::RunCommand;
using zn::xbase::test::ScratchFolder;

// One outgoing fax row, as the main window writes it.
struct FaxRow {
    std::string subject, date, time, recipient;
    bool archived = false;
};

inline void AppendFax(TTable& t, const FaxRow& r)
{
    t.Append();
    t.FieldByName("SUBJECT").SetAsString(r.subject);
    if (!r.date.empty()) t.FieldByName("DATESENT").SetAsString(r.date);
    t.FieldByName("TIMESENT").SetAsString(r.time);
    t.FieldByName("RECIPIENT").SetAsString(r.recipient);
    t.FieldByName("ARCHIVED").SetAsBoolean(r.archived);
    t.Post();
}

// The values of one field from the current record to the end.
inline std::vector<std::string> Column(TTable& t, const std::string& field)
{
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName(field).AsString());
    return out;
}

class TableFixture : public ::testing::Test {
 protected:
    void SetUp() override
    {
        vd_SetStringType(1);
        vd_ErrorLevel(1);
        vd_SetDeleted(0);
        folder_ = dir_.Path() + "/";
    }
    void TearDown() override { vd_CloseAll(); }

    ScratchFolder dir_;
    std::string folder_;
};

} // namespace zn::data::test
