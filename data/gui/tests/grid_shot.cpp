// Test tool: draws the grid over a small ZNOUT and the "Rebuild Indexes" window into PNG files,
// to look at what users see.   data_gui_shot FOLDER
#include <QApplication>
#include <QDate>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>

#include "db_grid.h"
#include "rebuild_indexes.h"
#include "system_tables.h"

using namespace zn::data;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    std::string folder = std::string(argv[1]) + "/";
    TVeldraneEnv env;
    env.SetCentury(true);
    env.SetDeleted(true);
    TTable table;
    table.SetExclusive(true);
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    if (!OpenFaxDBF(table, veldrane, folder))
        return 1;
    veldrane.Query("");
    const char* subjects[] = {"Quarterly report", "Invoice 2291", "Meeting agenda", "Signed contract", "Price list"};
    for (int i = 0; i < 40; ++i) {
        table.Append();
        table.FieldByName("SUBJECT").SetAsString(subjects[i % 5]);
        table.FieldByName("DATESENT").SetAsDate(QDate(2026, 11, 1).addDays(i));
        table.FieldByName("TIMESENT").SetAsString("09:" + std::to_string(10 + i));
        table.FieldByName("RECIPIENT").SetAsString("Recipient " + std::to_string(i));
        table.FieldByName("PHONE").SetAsString("555-01" + std::to_string(10 + i));
        table.FieldByName("LASTRESULT").SetAsString(i % 4 ? "OK" : "BUSY");
        table.FieldByName("ARCHIVED").SetAsBoolean(i % 6 == 0);
        table.Post();
    }
    veldrane.SetOrder(veldrane.TagArea("DATESENT"));
    table.First();
    for (const char* hidden : {"FAXDOC", "FAXCOVER"})
        table.FieldByName(hidden).SetVisible(false);
    TDBGrid grid;
    grid.resize(900, 320);
    grid.SetDataSource(&source);
    grid.SetRowColor([](TTable& t) { return t.FieldByName("ARCHIVED").AsBoolean() ? QColor(Qt::red) : QColor(); });
    grid.show();
    app.processEvents();
    grid.Model().MoveBy(3);
    app.processEvents();
    grid.grab().save(QString::fromStdString(folder + "grid.png"));

    TTable rec, phone;
    TDataSource recSource(&rec), phoneSource(&phone);
    TVeldrane recV(&recSource), phoneV(&phoneSource);
    rec.SetExclusive(true);
    OpenRecFaxDBF(rec, recV, folder);
    TRebuildInd window(RebuildTables{&table, &veldrane, &rec, &recV, &phone, &phoneV, folder});
    window.show();
    window.WhatAmIDoing()->setVisible(true);
    window.Gauge1()->setVisible(true);
    window.WhatAmIDoing()->setText("Rebuilding FAX file indexes");
    window.Gauge1()->setValue(50);
    window.grab().save(QString::fromStdString(folder + "rebuild.png"));
    return 0;
}
