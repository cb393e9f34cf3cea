// The hand-over to the print-to-fax controller: ZNPD.INI tells it where to leave jobs and how to
// start zn; the jobs it leaves in SEND become rows of the outgoing list.
#include "app/main_screen.h"

#include "foundation/program_folders.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/printable_text.h"

#include <QCoreApplication>
#include <QString>

#include <strings.h>

#include <fstream>
#include <vector>

namespace zn::app {

namespace {

// Whether a row of the list already names this image: a job file that could not be deleted must
// not add the same row again at every activation. The current row stays where it is.
bool ListNamesImage(data::TTable& table, const std::string& faxDoc)
{
    std::vector<data::TRecordBuffer> rows;
    table.ReadRows(0, 1, int(table.RecordCount()), rows);
    bool found = false;
    for (const data::TRecordBuffer& row : rows) {
        table.SetActiveRecord(&row);
        found = ::strcasecmp(table.FieldByName("FAXDOC").AsString().c_str(), faxDoc.c_str()) == 0;
        if (found)
            break;
    }
    table.SetActiveRecord(nullptr);
    return found;
}

// The three lines of a job file, read whatever the file holds: no more than a job file can hold is
// read, bytes that are not UTF-8 and control characters are left out, and each field is cut to its
// column by characters.
constexpr std::streamsize kLongestJobFile = 4096;

void ReadJobFile(const std::string& path, std::string (&lines)[3])
{
    std::ifstream in(platform::ResolvePath(path), std::ios::binary);
    std::string text(size_t(kLongestJobFile), '\0');
    in.read(text.data(), kLongestJobFile);
    text.resize(size_t(in.gcount()));
    constexpr int kWidths[3] = {25, 35, 50};
    size_t from = 0;
    for (int i = 0; i < 3 && from <= text.size(); ++i) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        lines[i] = platform::PrintableText(text.substr(from, end - from), kWidths[i]);
        from = end + 1;
    }
}

} // namespace

void TMainScreen::WriteQWPDINI()
{
    // There are no short 8.3 names here: the paths are written as they are.
    platform::IniFile ini(platform::WindowsFolder() + "/ZNPD.INI");
    ini.WriteString("Location", "ZNOutPath", foundation::GetSendFolder());
    ini.WriteString("Location", "ZNExecutable", QCoreApplication::applicationFilePath().toStdString());
}

bool TMainScreen::ProcessExtraPDFaxFiles()
{
    const std::string send = foundation::GetSendFolder();
    const auto jobs = platform::ListFolderCI(send, "*.jfd");
    for (const std::string& job : jobs)
        ProcessPDFaxFile(send + job.substr(0, job.size() - 4) + ".APF");
    if (jobs.empty())
        return false;
    FaxTableCloseAndOpen();
    return true;
}

void TMainScreen::ProcessPDFaxFile(const std::string& faxPath)
{
    if (!platform::FileExistsCI(faxPath))
        return; // the driver may still be writing it: the job waits for the next activation
    const std::string jobPath = faxPath.substr(0, faxPath.size() - 4) + ".JFD";
    std::string lines[3];
    if (platform::FileExistsCI(jobPath))
        ReadJobFile(jobPath, lines);
    try {
        const std::string resolved = platform::ResolvePath(faxPath);
        const std::string faxDoc = resolved.substr(resolved.find_last_of('/') + 1);
        if (ListNamesImage(FaxTable, faxDoc)) {
            platform::DeleteFileCI(jobPath); // taken up before; its job file stayed behind
            return;
        }
        FaxTable.Append();
        FaxTable.FieldByName("FAXDOC").SetAsString(faxDoc);
        FaxTable.FieldByName("PHONE").SetAsString(lines[0]);
        FaxTable.FieldByName("RECIPIENT").SetAsString(lines[1]);
        FaxTable.FieldByName("SUBJECT").SetAsString(lines[2]);
        FaxTable.Post();
        platform::DeleteFileCI(jobPath);
        QCoreApplication::processEvents();
    } catch (const std::exception&) {
        if (FaxTable.State() != data::TDataSetState::dsBrowse)
            FaxTable.Cancel(); // the job stays and is tried again at the next activation
    }
}

} // namespace zn::app
