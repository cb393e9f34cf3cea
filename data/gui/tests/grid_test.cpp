// The grid model and the grid over the system's tables: the rows on screen in tag order, the
// current row in step with the dataset, dates in the short date format, the row painter, double
// clicks, column widths; and a table written by another program.
#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>
#include <random>

#include "db_grid.h"
#include "platform/message_box.h"
#include "table_notices.h"
#include "platform/date_format.h"
#include "table_test_util.h"

namespace zn::data::test {
namespace {

class Grid : public TableFixture {
protected:
    void SetUp() override
    {
        TableFixture::SetUp();
        shortDate_ = zn::platform::SetShortDateFormat("mm/dd/yyyy");
        Link(table_, source_, veldrane_);
        ASSERT_TRUE(OpenFaxDBF(table_, veldrane_, folder_));
        // Building the tags leaves the last one selected; the main window picks date order.
        veldrane_.SetOrder(veldrane_.TagArea("DATESENT"));
    }
    void TearDown() override
    {
        zn::platform::SetShortDateFormat(shortDate_);
        TableFixture::TearDown();
    }
    // `count` faxes sent on consecutive days from 1 January 2026; every third one archived.
    void Fill(int count)
    {
        table_.DisableControls();
        for (int i = 0; i < count; ++i) {
            QDate d = QDate(2026, 1, 1).addDays(i);
            AppendFax(table_, {"Subject " + std::to_string(1000 + (i * 7919) % count),
                               d.toString("yyyyMMdd").toStdString(), "10:00", "Recipient", i % 3 == 2});
        }
        table_.EnableControls();
        table_.First();
    }
    std::string Cell(const TTableModel& m, int row, const std::string& field)
    {
        return m.data(m.index(row, m.FieldColumn(field))).toString().toStdString();
    }
    // The user drags the thumb there and lets go.
    static void Drag(QScrollBar* bar, int position)
    {
        bar->setSliderDown(true);
        bar->setSliderPosition(position);
        bar->setSliderDown(false);
    }
    void Key(TDBGrid& grid, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, mods);
        QApplication::sendEvent(grid.View(), &press);
    }

    std::string shortDate_;
    TTable table_;
    TDataSource source_;
    TVeldrane veldrane_;
};

TEST_F(Grid, ModelHoldsTheRowsOnScreenInTagOrder)
{
    Fill(300);
    TTableModel model(&table_);
    model.SetWindowSize(30);
    EXPECT_EQ(model.rowCount(), 30);
    EXPECT_EQ(model.headerData(model.FieldColumn("PHONE"), Qt::Horizontal).toString(), "Fax#");
    EXPECT_EQ(model.headerData(model.FieldColumn("DATESENT"), Qt::Horizontal).toString(), "Date Sent");
    // DATESENT is descending and the archive filter hides every third day: 300 days end on
    // 27 October 2026, which is archived, so the first row is the day before.
    EXPECT_EQ(Cell(model, 0, "DATESENT"), "10/26/2026");
    EXPECT_EQ(Cell(model, 1, "DATESENT"), "10/25/2026");
    EXPECT_EQ(Cell(model, 2, "DATESENT"), "10/23/2026");
    EXPECT_EQ(model.CurrentRow(), 0);
    EXPECT_TRUE(model.AtTop());
    EXPECT_FALSE(model.AtBottom());

    // Sorting by subject: the same window, now in subject order.
    veldrane_.SetOrder(veldrane_.TagArea("SUBJECT"));
    table_.First();
    std::vector<std::string> subjects;
    for (int r = 0; r < model.rowCount(); ++r)
        subjects.push_back(Cell(model, r, "SUBJECT"));
    EXPECT_TRUE(std::is_sorted(subjects.begin(), subjects.end()));
    EXPECT_EQ(model.rowCount(), 30);

    // The last row: the window ends at the bottom with the current record on its last row.
    table_.Last();
    EXPECT_EQ(model.rowCount(), 30);
    EXPECT_EQ(model.CurrentRow(), 29);
    EXPECT_TRUE(model.AtBottom());
    EXPECT_EQ(model.RowRecNo(29), table_.RecNo());

    // Moving by a page past the window: the window follows, the current row stays on screen.
    table_.First();
    model.MoveBy(45);
    EXPECT_EQ(model.RowRecNo(model.CurrentRow()), table_.RecNo());
    std::vector<TRecordBuffer> expected;
    table_.ReadRows(0, 1, 46, expected);
    EXPECT_EQ(table_.RecNo(), expected[45].recno);
    EXPECT_EQ(model.rowCount(), 30);
}

TEST_F(Grid, WindowIsAlwaysASliceOfTheOrderAroundTheCurrentRecord)
{
    Fill(200);
    veldrane_.SetOrder(veldrane_.TagArea("SUBJECT"));
    std::vector<TRecordBuffer> all;
    table_.ReadRows(0, 1, 1000, all);
    ASSERT_EQ(all.size(), 134u); // every third day archived
    std::vector<long> order;
    for (const TRecordBuffer& r : all)
        order.push_back(r.recno);
    table_.First();
    TTableModel model(&table_);
    model.SetWindowSize(17);
    std::mt19937 rng(7);
    for (int step = 0; step < 400; ++step) {
        switch (rng() % 6) {
        case 0: model.MoveBy(static_cast<int>(rng() % 60) - 30); break;
        case 1: model.MoveBy(rng() % 2 ? 1 : -1); break;
        case 2: model.SetCurrentRow(static_cast<int>(rng() % 17)); break;
        case 3: rng() % 2 ? table_.First() : table_.Last(); break;
        case 4: table_.MoveBy(static_cast<int>(rng() % 40) - 20); break;
        case 5: model.SetWindowSize(5 + static_cast<int>(rng() % 20)); break;
        }
        SCOPED_TRACE("step " + std::to_string(step));
        int rows = model.rowCount();
        ASSERT_EQ(rows, std::min<int>(model.WindowSize(), static_cast<int>(order.size())));
        auto first = std::find(order.begin(), order.end(), model.RowRecNo(0));
        ASSERT_NE(first, order.end());
        size_t start = static_cast<size_t>(first - order.begin());
        ASSERT_LE(start + static_cast<size_t>(rows), order.size());
        for (int r = 0; r < rows; ++r)
            ASSERT_EQ(model.RowRecNo(r), order[start + static_cast<size_t>(r)]) << r;
        ASSERT_GE(model.CurrentRow(), 0);
        ASSERT_EQ(model.RowRecNo(model.CurrentRow()), table_.RecNo());
        if (model.AtTop())
            ASSERT_EQ(start, 0u);
        if (model.AtBottom())
            ASSERT_EQ(start + static_cast<size_t>(rows), order.size());
    }
}

TEST_F(Grid, WindowShrinksToASmallTableAndEmptiesWithTheFilter)
{
    Fill(5); // four rows pass the archive filter
    TTableModel model(&table_);
    model.SetWindowSize(30);
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_TRUE(model.AtTop());
    EXPECT_TRUE(model.AtBottom());
    veldrane_.Query("");
    EXPECT_EQ(model.rowCount(), 5);
    veldrane_.Query(".F.");
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.CurrentRow(), -1);
    table_.Close();
    EXPECT_EQ(model.columnCount(), 0);
}

TEST_F(Grid, GridFollowsKeysAndReportsDoubleClicks)
{
    Fill(200);
    TDBGrid grid;
    grid.resize(700, 400);
    grid.SetDataSource(&source_);
    grid.SetRowColor([](TTable& t) { return t.FieldByName("ARCHIVED").AsBoolean() ? QColor(Qt::red) : QColor(); });
    grid.show();
    QApplication::processEvents();
    int visible = grid.VisibleRowCount();
    ASSERT_GT(visible, 5);
    EXPECT_EQ(grid.Model().rowCount(), visible);
    EXPECT_EQ(grid.View()->currentIndex().row(), 0);

    Key(grid, Qt::Key_Down);
    Key(grid, Qt::Key_Down);
    EXPECT_EQ(grid.View()->currentIndex().row(), 2);
    EXPECT_EQ(grid.Model().RowRecNo(2), table_.RecNo());
    Key(grid, Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(table_.Eof());
    EXPECT_EQ(grid.View()->currentIndex().row(), grid.Model().rowCount() - 1);
    EXPECT_EQ(grid.ScrollBar()->value(), grid.ScrollBar()->maximum());
    Key(grid, Qt::Key_PageUp);
    EXPECT_FALSE(table_.Eof());
    EXPECT_EQ(grid.Model().RowRecNo(grid.View()->currentIndex().row()), table_.RecNo());
    Key(grid, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_TRUE(table_.Bof());
    EXPECT_EQ(grid.ScrollBar()->value(), 0);

    // Archived rows painted red: shown once the filter is off.
    veldrane_.Query("");
    table_.First();
    int reds = 0;
    for (int r = 0; r < grid.Model().rowCount(); ++r) {
        QVariant colour = grid.Model().data(grid.Model().index(r, 0), Qt::ForegroundRole);
        table_.SetActiveRecord(nullptr);
        bool red = colour.isValid() && colour.value<QColor>() == QColor(Qt::red);
        reds += red;
    }
    EXPECT_GT(reds, 0);

    // A double click makes the row current and tells the field under the mouse.
    std::string clicked;
    grid.OnDblClick = [&](const std::string& field) { clicked = field; };
    int column = grid.Model().FieldColumn("RECIPIENT");
    QRect cell = grid.View()->visualRect(grid.Model().index(3, column));
    QPoint at = cell.center();
    QMouseEvent press(QEvent::MouseButtonPress, at, grid.View()->viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, grid.View()->viewport()->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, grid.View()->viewport()->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid.View()->viewport(), &press);
    QApplication::sendEvent(grid.View()->viewport(), &release);
    QApplication::sendEvent(grid.View()->viewport(), &dbl);
    QApplication::sendEvent(grid.View()->viewport(), &release);
    EXPECT_EQ(clicked, "RECIPIENT");
    EXPECT_EQ(table_.RecNo(), grid.Model().RowRecNo(3));

    // Column widths saved and given back.
    std::vector<int> widths = grid.ColumnWidths();
    ASSERT_EQ(widths.size(), static_cast<size_t>(grid.Model().columnCount()));
    widths[0] = 123;
    widths[2] = 45;
    grid.SetColumnWidths(widths);
    EXPECT_EQ(grid.View()->columnWidth(0), 123);
    EXPECT_EQ(grid.ColumnWidths(), widths);
    // Closing and opening the table again (as after new rows from elsewhere) keeps them.
    table_.DisableControls();
    table_.Close();
    table_.Open();
    table_.EnableControls();
    EXPECT_EQ(grid.ColumnWidths(), widths);
    EXPECT_EQ(grid.Model().rowCount(), grid.VisibleRowCount());
}

TEST_F(Grid, TableWrittenByAnotherProgramOpensFiltersAndSorts)
{
    table_.Close();
    const char* script =
        "import sys, datetime, dbf\n"
        "t = dbf.Table(sys.argv[1], 'SUBJECT C(50); DATESENT D; TIMESENT C(5); RECIPIENT C(35); PHONE C(25); "
        "LASTRESULT C(100); FAXDOC C(12); FAXCOVER C(12); NOTES C(50); CODES C(25); ARCHIVED L', dbf_type='db3')\n"
        "t.open(dbf.READ_WRITE)\n"
        "rows = [('delta', datetime.date(2024, 3, 1), '09:00', False), ('alpha', None, '', False),\n"
        "        ('charlie', datetime.date(2023, 12, 31), '10:00', True), ('bravo', datetime.date(2024, 3, 2), "
        "'08:00', False)]\n"
        "for s, d, tm, a in rows:\n"
        "    t.append({'subject': s, 'datesent': d, 'timesent': tm, 'archived': a})\n"
        "t.close()\n";
    zn::xbase::test::RunCommand("rm -f '" + folder_ + "ZNOUT.DBF' '" + folder_ + "ZNOUT.CDX'");
    {
        std::ofstream(folder_ + "write.py") << script;
    }
    int status = -1;
    std::string out = RunCommand("/usr/bin/python3 '" + folder_ + "write.py' '" + folder_ + "ZNOUT.DBF' 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    ASSERT_TRUE(OpenFaxDBF(table_, veldrane_, folder_));
    TTableModel model(&table_);
    model.SetWindowSize(10);
    veldrane_.SetOrder(veldrane_.TagArea("DATESENT"));
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(Cell(model, 0, "SUBJECT"), "bravo");
    EXPECT_EQ(Cell(model, 1, "SUBJECT"), "delta");
    EXPECT_EQ(Cell(model, 2, "SUBJECT"), "alpha");
    EXPECT_EQ(Cell(model, 0, "DATESENT"), "03/02/2024");
    EXPECT_EQ(Cell(model, 2, "DATESENT"), "");
    veldrane_.SetOrder(veldrane_.TagArea("SUBJECT"));
    table_.First();
    EXPECT_EQ(Cell(model, 0, "SUBJECT"), "alpha");
    EXPECT_EQ(Cell(model, 2, "SUBJECT"), "delta");
    veldrane_.Query("");
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(Cell(model, 2, "SUBJECT"), "charlie");
    EXPECT_EQ(Cell(model, 2, "ARCHIVED"), "True");
}

TEST_F(Grid, ScrollBarDragInRecordOrderGoesToThatPartOfTheTable)
{
    Fill(200);
    veldrane_.SetOrder(0);
    table_.First();
    TDBGrid grid;
    grid.resize(700, 300);
    grid.SetDataSource(&source_);
    grid.show();
    QApplication::processEvents();
    QScrollBar* bar = grid.ScrollBar();
    EXPECT_EQ(bar->value(), bar->minimum());
    Drag(bar, (bar->minimum() + bar->maximum()) / 2);
    EXPECT_EQ(table_.RecNo(), 100);
    EXPECT_EQ(grid.Model().RowRecNo(grid.View()->currentIndex().row()), 100);
    EXPECT_NEAR(bar->value(), (bar->minimum() + bar->maximum()) / 2, 2);
    // A quarter down is record 48, archived (every third record): the filter's next one is shown.
    Drag(bar, 24);
    EXPECT_EQ(table_.RecNo(), 49);
    Drag(bar, bar->maximum());
    EXPECT_TRUE(table_.Eof());
    EXPECT_EQ(bar->value(), bar->maximum());

    // In tag order the middle of the bar means nothing: the thumb goes back, the row stays.
    veldrane_.SetOrder(veldrane_.TagArea("SUBJECT"));
    table_.First();
    table_.MoveBy(20);
    long recno = table_.RecNo();
    Drag(bar, 30);
    EXPECT_EQ(table_.RecNo(), recno);
    EXPECT_EQ(bar->value(), (bar->minimum() + bar->maximum()) / 2);
}

TEST_F(Grid, OwnColumnsWithCalculatedFieldsPerRow)
{
    table_.Close();
    table_.AddCalcField("ISDELETED", TFieldType::ftString, 3);
    table_.AddCalcField("ISARCHIVED", TFieldType::ftString, 3);
    // As the main window computes them: the row's own deletion mark and archive flag.
    table_.OnCalcFields = [this](TTable& t) {
        t.FieldByName("ISDELETED").SetAsString(veldrane_.Deleted() ? "Yes" : "No ");
        t.FieldByName("ISARCHIVED").SetAsString(t.FieldByName("ARCHIVED").AsBoolean() ? "Yes" : "No ");
    };
    ASSERT_TRUE(OpenFaxDBF(table_, veldrane_, folder_));
    veldrane_.Query("");
    veldrane_.SetOrder(0);
    for (const char* subject : {"one", "two", "three"})
        AppendFax(table_, {subject, "", "", "R", subject[0] == 't'});
    table_.First();
    table_.Next();
    table_.Delete(); // "two": marked, still shown (deleted rows are not hidden here)
    table_.First();
    TTableModel model(&table_);
    model.SetColumns({{"ISDELETED", "Deleted?"}, {"ISARCHIVED", "Archived?"}, {"SUBJECT", ""}});
    model.SetWindowSize(10);
    ASSERT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Deleted?");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "Subject");
    ASSERT_EQ(model.rowCount(), 3);
    std::vector<std::string> rows;
    for (int r = 0; r < 3; ++r)
        rows.push_back(Cell(model, r, "SUBJECT") + "|" + Cell(model, r, "ISDELETED") + "|"
                       + Cell(model, r, "ISARCHIVED"));
    EXPECT_EQ(rows, (std::vector<std::string>{"one|No |No ", "two|Yes|Yes", "three|No |Yes"}));
}

TEST_F(Grid, ComponentsOutliveTheirDataset)
{
    auto table = std::make_unique<TTable>();
    TDataSource source(table.get());
    TVeldrane veldrane(&source);
    TDBGrid grid;
    grid.SetDataSource(&source);
    ASSERT_TRUE(OpenPhoneDBF(*table, veldrane, false, folder_));
    table->Append();
    table->FieldByName("NAME").SetAsString("Ann");
    table->Post();
    EXPECT_EQ(grid.Model().rowCount(), 1);
    table.reset();
    EXPECT_EQ(grid.Model().DataSet(), nullptr);
    EXPECT_EQ(grid.Model().rowCount(), 0);
    EXPECT_EQ(veldrane.DataSet(), nullptr);
    EXPECT_FALSE(veldrane.Active());
}

TEST(TableNotices, ShowAsInformationBoxesWithOk)
{
    std::vector<std::pair<std::string, unsigned>> boxes;
    zn::platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned flags) {
        boxes.emplace_back(text, flags);
        return zn::platform::IDOK;
    });
    ShowTableNoticesInBoxes();
    TableNotice("Invalid Field Type X");
    SetTableNoticeHook({});
    zn::platform::SetMessageBoxHook({});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Invalid Field Type X");
    EXPECT_EQ(boxes[0].second, zn::platform::MB_OK | zn::platform::MB_ICONINFORMATION);
}

} // namespace
} // namespace zn::data::test
