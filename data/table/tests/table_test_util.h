// Shared pieces of the table-layer tests: a program folder with the system's tables in it.
#pragma once
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
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
    if (!r.date.empty())
        t.FieldByName("DATESENT").SetAsString(r.date);
    t.FieldByName("TIMESENT").SetAsString(r.time);
    t.FieldByName("RECIPIENT").SetAsString(r.recipient);
    t.FieldByName("ARCHIVED").SetAsBoolean(r.archived);
    t.Post();
}

// A table component working on a dataset through its data source, as the windows wire them.
inline void Link(TTable& table, TDataSource& source, TVeldrane& veldrane)
{
    source.SetDataSet(&table);
    veldrane.SetDataSource(&source);
}

// The values of one field from the current record to the end.
inline std::vector<std::string> Column(TTable& t, const std::string& field)
{
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back(t.FieldByName(field).AsString());
    return out;
}

// Another program using the tables: a child process that runs `hold` (true when it got what it
// wanted) and keeps what it opened until Release.
class OtherProgram {
public:
    explicit OtherProgram(const std::function<bool()>& hold)
    {
        if (pipe(ready_) != 0 || pipe(done_) != 0)
            return;
        child_ = fork();
        if (child_ == 0) {
            // The parent's work areas are not this program's.
            vd_CloseAll();
            char c = hold() ? 'y' : 'n';
            (void)!write(ready_[1], &c, 1);
            (void)!read(done_[0], &c, 1);
            _exit(0);
        }
    }
    ~OtherProgram() { Release(); }
    // Waits until the other program holds what it opened; false when it could not.
    bool Holding()
    {
        char c = 0;
        return child_ > 0 && read(ready_[0], &c, 1) == 1 && c == 'y';
    }
    void Release()
    {
        if (child_ <= 0)
            return;
        char c = 'x';
        (void)!write(done_[1], &c, 1);
        waitpid(child_, nullptr, 0);
        child_ = 0;
        for (int fd : {ready_[0], ready_[1], done_[0], done_[1]})
            close(fd);
    }

private:
    int ready_[2] = {-1, -1}, done_[2] = {-1, -1};
    pid_t child_ = 0;
};

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
