// Benchmark: quick faxes and the fax log clean-up.
//   quick_fax_bench quickfax FOLDER [RUNS]   from Save in the cover editor to the new row on screen
//                                            (cover rendered, .FCD written, row posted, list reopened)
//   quick_fax_bench cleanup FOLDER [ROWS]    ZNOUT of ROWS rows, each with its fax file; deletes every
//                                            second one with its file and packs (the clean-up window's
//                                            delete run, then the index rebuild); beside it, in the same
//                                            run, `find -delete` on the same files and SQLite deleting
//                                            the same rows and vacuuming.
// Prints a table: our figure, the peer's, the ratio.
#include "app/log_cleanup.h"
#include "app/main_screen.h"
#include "app/quick_fax.h"
#include "cover/cover_items.h"
#include "cover/template_files.h"
#include "data/table/system_tables.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "platform/folders.h"
#include "platform/message_box.h"
#include "xbase_vd.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

void FreshHome(const std::string& folder)
{
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    ::setenv("ZN_HOME", folder.c_str(), 1);
    ::setenv("ZN_WINDIR", (folder + "/win").c_str(), 1);
    zn::platform::SetMessageBoxHook(
        [](const std::string&, const std::string&, unsigned) { return int(zn::platform::IDYES); });
}

int QuickFax(const std::string& folder, int runs)
{
    FreshHome(folder);
    zn::foundation::CreateDataFolders();
    zn::platform::EnsureFolderCI(zn::foundation::GetCoversFolder());
    zn::cover::TFaxCoverField recipient;
    recipient.ChooseField(zn::cover::cfRecipient);
    recipient.SetBounds(100, 100, 700, 60);
    zn::cover::TFaxCoverMessage message;
    message.SetBounds(100, 600, 700, 300);
    zn::cover::SaveTemplate({&recipient, &message}, zn::foundation::GetCoversFolder() + "zn0001.fcs", "Bench");

    zn::app::TMainScreen screen;
    screen.show();
    screen.FormActivate();
    std::vector<double> ms;
    Clock::time_point saved;
    QTimer driver;
    driver.setInterval(2);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* editor = qobject_cast<zn::app::TCreateEditQuickFax*>(QApplication::activeModalWidget());
        if (!editor || editor->property("answered").toBool())
            return;
        editor->setProperty("answered", true);
        editor->Recipient->setText("Bench Recipient");
        editor->RecipientFax->setText("555-0100");
        editor->Regarding->setText("Bench run");
        editor->FaxMessage->setPlainText("A short message\nof two lines");
        saved = Clock::now();
        editor->OkButton->click();
    });
    driver.start();
    for (int i = 0; i < runs; ++i) {
        screen.Newbutton->click();
        QApplication::processEvents(); // the list repaints with its new row
        screen.FaxGrid->repaint();
        ms.push_back(MsSince(saved));
    }
    if (screen.FaxTable.RecordCount() != runs) {
        fprintf(stderr, "expected %d rows, found %d\n", runs, int(screen.FaxTable.RecordCount()));
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    printf("| quick fax, Save to its row on screen (%d runs) | median %.1f ms, max %.1f ms | target 100 ms | %.2f |\n",
           runs, ms[ms.size() / 2], ms.back(), ms[ms.size() / 2] / 100.0);
    return 0;
}

// ZNOUT with `rows` rows, row i naming FAXnnnnn.APF, and those files (a few bytes each).
bool PrepareCleanup(const std::string& folder, long rows)
{
    FreshHome(folder);
    zn::foundation::CreateDataFolders();
    {
        zn::data::TVeldrane make;
        if (!zn::data::MakeFaxDBF(make, folder + "/") || !zn::data::MakeRecFaxDBF(make, folder + "/"))
            return false;
    }
    const std::string send = zn::foundation::GetSendFolder();
    if (!vd_Use((folder + "/ZNOUT.DBF").c_str(), "ZNOUT", 2, 2))
        return false;
    for (long i = 0; i < rows; ++i) {
        char name[32];
        snprintf(name, sizeof name, "FAX%05ld.APF", i);
        vd_AppendBlank();
        vd_Replace("SUBJECT", 1024, ("subject " + std::to_string(i)).c_str());
        vd_Replace("RECIPIENT", 1024, (i % 2 ? "Keep Me" : "Delete Me"));
        vd_Replace("PHONE", 1024, "555-0100");
        vd_Replace("DATESENT", 1024, "20260101");
        vd_Replace("FAXDOC", 1024, name);
        std::ofstream(send + name) << "APF";
    }
    vd_Commit();
    vd_CloseAll();
    {
        zn::data::TTable table;
        zn::data::TDataSource source(&table);
        zn::data::TVeldrane veldrane(&source);
        if (!zn::data::OpenFaxDBF(table, veldrane, folder + "/"))
            return false;
        zn::data::BuildTags(veldrane, zn::data::FaxTags(), false);
    }
    return true;
}

int Cleanup(const std::string& folder, long rows)
{
    if (!PrepareCleanup(folder, rows)) {
        fprintf(stderr, "could not prepare %s\n", folder.c_str());
        return 1;
    }
    double ours = 0;
    long left = 0;
    {
        zn::app::TMainScreen screen;
        screen.FormActivate();
        zn::app::TDMForm form({&screen.FaxTable, &screen.FaxVeldrane, &screen.FaxDataSource, &screen.RecTable,
                               &screen.RecVeldrane, &screen.RecDataSource, &screen.VeldraneEnv1,
                               zn::foundation::GetProgramFolder()});
        fprintf(stderr, "delete run starts\n");
        const Clock::time_point start = Clock::now();
        const int deleted =
            form.DeleteRun([](zn::data::TTable& t) { return t.FieldByName("RECIPIENT").AsString() == "Delete Me"; });
        const double runMs = MsSince(start);
        screen.mnuRebuildIndexesClick();
        ours = MsSince(start);
        fprintf(stderr, "delete run %.0f ms, index rebuild %.0f ms\n", runMs, ours - runMs);
        if (deleted != rows / 2 + rows % 2)
            fprintf(stderr, "deleted %d of %ld\n", deleted, rows);
        screen.FaxTable.First();
        for (; !screen.FaxTable.Eof(); screen.FaxTable.Next())
            ++left;
    }
    const long files = long(zn::platform::ListFolderCI(zn::foundation::GetSendFolder(), "*.APF").size());
    if (left != rows / 2 || files != rows / 2)
        fprintf(stderr, "after the clean-up: %ld rows and %ld files (expected %ld)\n", left, files, rows / 2);
    const size_t aside = zn::platform::ListFolderCI(zn::foundation::GetSendFolder(), "*.deleting").size();
    if (aside > 0)
        fprintf(stderr, "after the clean-up: %zu files left aside\n", aside);

    // The peers on the same data: the files by find, the rows by SQLite.
    if (!PrepareCleanup(folder, rows))
        return 1;
    const std::string send = zn::foundation::GetSendFolder();
    Clock::time_point start = Clock::now();
    // Even numbers are the rows of "Delete Me".
    const std::string command = "find '" + send + "' -name 'FAX????[02468].APF' -delete";
    if (std::system(command.c_str()) != 0)
        return 1;
    const double findMs = MsSince(start);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peer");
        db.setDatabaseName(QString::fromStdString(folder + "/peer.sqlite"));
        if (!db.open())
            return 1;
        QSqlQuery q(db);
        q.exec("CREATE TABLE znout (subject TEXT, recipient TEXT, phone TEXT, datesent TEXT, faxdoc TEXT)");
        q.exec("CREATE INDEX bydate ON znout(datesent)");
        q.exec("CREATE INDEX bysubject ON znout(subject)");
        q.exec("CREATE INDEX byrecipient ON znout(recipient)");
        db.transaction();
        q.prepare("INSERT INTO znout VALUES (?, ?, '555-0100', '20260101', ?)");
        for (long i = 0; i < rows; ++i) {
            char name[32];
            snprintf(name, sizeof name, "FAX%05ld.APF", i);
            q.addBindValue(QString("subject %1").arg(i));
            q.addBindValue(QString(i % 2 ? "Keep Me" : "Delete Me"));
            q.addBindValue(QString(name));
            q.exec();
        }
        db.commit();
        start = Clock::now();
        q.exec("DELETE FROM znout WHERE recipient = 'Delete Me'");
        q.exec("VACUUM");
        const double sqlMs = MsSince(start);
        db.close();
        printf("| clean-up of %ld of %ld outgoing faxes | ours (rows, files, pack) %.0f ms | find -delete %.0f ms + "
               "SQLite delete and vacuum %.0f ms = %.0f ms | %.2f |\n",
               rows / 2, rows, ours, findMs, sqlMs, findMs + sqlMs, ours / (findMs + sqlMs));
    }
    QSqlDatabase::removeDatabase("peer");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s quickfax|cleanup FOLDER [N]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const std::string mode = argv[1];
    const std::string folder = std::filesystem::absolute(argv[2]).string();
    printf("| what | ours | peer | ratio |\n|---|---|---|---|\n");
    if (mode == "quickfax")
        return QuickFax(folder, argc > 3 ? std::atoi(argv[3]) : 20);
    if (mode == "cleanup")
        return Cleanup(folder, argc > 3 ? std::atol(argv[3]) : 100000);
    return 2;
}
