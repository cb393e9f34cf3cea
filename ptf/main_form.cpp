#include "ptf/main_form.h"
#include "ptf/phone_picker.h"

#include "faxdoc/apf_file.h"
#include "foundation/dialogs.h"
#include "platform/message_box.h"
#include "platform/folders.h"
#include "platform/messages.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zn::ptf {

// ---- TGetDataForm ------------------------------------------------------------------------------

TGetDataForm::TGetDataForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("GetDataForm");
    setWindowTitle("Tarvel NT Print To Fax");
    // It belongs to no window of ours and must show above the program that printed.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);

    auto* fields = new QVBoxLayout;
    // A title is the printing program's text: shown as it is, never read as markup.
    Document = new QLabel(this);
    Document->setObjectName("Document");
    Document->setTextFormat(Qt::PlainText);
    fields->addWidget(Document);
    fields->addSpacing(4);
    const auto addField = [&](const char* labelName, const char* caption, const char* editName, int width) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(labelName);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(editName);
        edit->setMaxLength(width);
        edit->setMinimumWidth(320);
        label->setBuddy(edit);
        fields->addWidget(label);
        fields->addWidget(edit);
        fields->addSpacing(4);
        return edit;
    };
    Phone = addField("Label1", "Phone Number", "Phone", kPhoneWidth);
    Recipient = addField("Label2", "Recipient", "Recipient", kRecipientWidth);
    Subject = addField("Label3", "Subject", "Subject", kSubjectWidth);

    Button1 = new QPushButton("Ok", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Button2 = new QPushButton("&Phone Book", this);
    Button2->setObjectName("Button2");
    Button2->setAutoDefault(false);
    Button3 = new QPushButton("Cancel", this);
    Button3->setObjectName("Button3");
    Button3->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addStretch();
    buttons->addWidget(Button3);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    PickPhoneNumber = [this](std::string* name, std::string* phone) { return ptf::PickPhoneNumber(this, name, phone); };
    Phone->setFocus();
}

void TGetDataForm::Button1Click() { done(1); }

void TGetDataForm::Button3Click() { done(2); }

void TGetDataForm::Button2Click()
{
    std::string name;
    std::string phone;
    if (PickPhoneNumber(&name, &phone)) {
        Recipient->setText(QString::fromStdString(name));
        Phone->setText(QString::fromStdString(phone));
    }
}

void TGetDataForm::ShowDocument(const std::string& title, const std::string& image)
{
    QString text = QString::fromStdString(title).simplified();
    if (text.isEmpty())
        text = QString::fromStdString(image.substr(image.find_last_of("/\\") + 1));
    else
        text = "\"" + text + "\"";
    faxdoc::TApfFileHeader header;
    if (faxdoc::ReadApfHeader(image, header) == 0 && header.pageCount > 0)
        text += header.pageCount == 1 ? ", 1 page" : ", " + QString::number(header.pageCount) + " pages";
    // A long title is cut in its middle, so that the dialog keeps its size and both ends show.
    Document->setText(Document->fontMetrics().elidedText("Document: " + text, Qt::ElideMiddle,
                                                         Phone->minimumWidth() * 3 / 2));
    Document->setToolTip(QString::fromStdString(title));
}

void TGetDataForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    raise();
    activateWindow();
    Phone->setFocus();
}

// ---- TMainForm ---------------------------------------------------------------------------------

TMainForm::TMainForm()
{
    setObjectName("MainForm");
    setWindowTitle("MainForm");
    setWindowState(Qt::WindowMinimized);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    CloseTarvelNTDriver1 = PopupMenu1->addAction("Close");
    CloseTarvelNTDriver1->setObjectName("CloseTarvelNTDriver1");
    About1 = PopupMenu1->addAction("About");
    About1->setObjectName("About1");
    StartTarvel1 = PopupMenu1->addAction("Start Tarvel");
    StartTarvel1->setObjectName("StartTarvel1");
    connect(CloseTarvelNTDriver1, &QAction::triggered, this, [this] { CloseTarvelNTDriver1Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
    connect(StartTarvel1, &QAction::triggered, this, [this] { StartTarvel1Click(); });

    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->setObjectName("TrayIcon1");
    TrayIcon1->SetHint("Tarvel NT Print To Fax");
    TrayIcon1->SetShowHint(true);
    TrayIcon1->SetIcon(ProgramIcon());
    TrayIcon1->PopupMenu = PopupMenu1;
    TrayIcon1->LeftPopup = true;
    TrayIcon1->StartMinimized = true;
    TrayIcon1->MinimizeToTray = true;
    TrayIcon1->SetCycleInterval(0);

    // The channel last: once it serves, document starts may arrive.
    FaxConvController1 = std::make_unique<TFxFaxDriverInterface>();
    FaxConvController1->FileName = "C:\\DEFAULT.APF";
    FaxConvController1->OnDocStart = [this](TFxFaxDriverInterface& s) { FaxConvController1DocStart(s); };
    FaxConvController1->OnDocEnd = [this](TFxFaxDriverInterface& s) { FaxConvController1DocEnd(s); };
    FaxConvController1->OnAnswerLost = [this](const std::string& image) { ForgetJob(image); };

    RunJobDialog = [](TGetDataForm& dialog) { return dialog.exec(); };
    TrayIcon1->Loaded();
    QApplication::processEvents();
    QTimer::singleShot(0, this, [this] { OfferUnfinishedJobs(); });
}

TMainForm::~TMainForm()
{
    FaxConvController1.reset(); // the monitor thread ends before the form it calls goes
}

void TMainForm::FaxConvController1DocStart(TFxFaxDriverInterface& sender)
{
    TJobName name = NameJobImage();
    sender.FileName = name.path;
    if (name.usable)
        MarkUnfinished(name.path);
    const std::string path = name.path;
    jobs_[path] = TPrintedJob{std::move(name), sender.DocName()};
}

void TMainForm::ForgetJob(const std::string& image)
{
    const auto found = jobs_.find(image);
    if (found == jobs_.end())
        return;
    jobs_.erase(found);
    // The driver never had the name, so nothing was written there: the empty file that only held
    // the name goes.
    struct stat info {};
    if (::stat(image.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) {
        ::unlink(image.c_str());
        UnmarkUnfinished(image);
    }
}

void TMainForm::OfferUnfinishedJobs()
{
    const TZnpdLocation location = ReadZnpdIni();
    if (location.outPath.empty() || location.outPath.front() != '/')
        return;
    // A driver between its document start and end holds the job lock: its fax is not left over.
    const std::string channel = ChannelPath(::getuid(), true);
    const int lock = channel.empty() ? -1
                                     : ::open(JobLockPath(channel).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                                              0600);
    if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock);
        QTimer::singleShot(1000, this, [this] { OfferUnfinishedJobs(); });
        return;
    }
    std::set<std::string> underWay;
    for (const auto& job : jobs_)
        underWay.insert(job.first);
    for (const TPrintedJob& job : waiting_)
        underWay.insert(job.name.path);
    if (!asking_.empty())
        underWay.insert(asking_);
    const std::vector<std::string> unfinished = CollectUnfinishedJobs(location.outPath, underWay);
    if (lock >= 0)
        ::close(lock);
    for (const std::string& image : unfinished)
        AskInTurn(TPrintedJob{TJobName{image, true, {}}, {}});
}

void TMainForm::FaxConvController1DocEnd(TFxFaxDriverInterface& sender)
{
    const std::string image = sender.FileName;
    TPrintedJob job;
    if (const auto found = jobs_.find(image); found != jobs_.end()) {
        job = found->second;
        jobs_.erase(found);
    } else {
        job.name = TJobName{image, false, "No print job was started for this document."};
    }
    // The fax as the driver finished it: if this znptf goes before the dialog is done, the next
    // one offers this file, and no other, again.
    if (job.name.usable)
        MarkUnfinished(image);
    AskInTurn(std::move(job));
}

void TMainForm::AskInTurn(TPrintedJob job)
{
    waiting_.push_back(std::move(job));
    // The dialog's own loop brings the next document's end here: it waits for the open one.
    if (!asking_.empty())
        return;
    while (!waiting_.empty() && !endingBySignal_) {
        const TPrintedJob next = waiting_.front();
        waiting_.pop_front();
        asking_ = next.name.path;
        try {
            FinishJob(next);
        } catch (...) {
            // The caller reports it; the jobs still waiting are asked when the next one ends.
            asking_.clear();
            throw;
        }
        asking_.clear();
    }
    // Ended by a signal: the jobs still waiting keep their marks and are offered at the next start.
}

void TMainForm::FinishJob(const TPrintedJob& printed)
{
    const TJobName& job = printed.name;
    const std::string& image = job.path;
    // Said only of a file that is there: an end nobody started names no pages of this job.
    const std::string kept =
        platform::FileExistsCI(image) ? "\r\rThe printed pages are kept in\r" + image : std::string();
    if (!job.usable) {
        foundation::ShowMessageBox("The fax was not created.\r\r" + job.problem + kept, "Tarvel NT Print To Fax",
                                   platform::MB_OK | platform::MB_ICONWARNING);
        return;
    }

    TGetDataForm dialog;
    dialog.ShowDocument(printed.title, image);
    const int result = RunJobDialog(dialog);
    if (result != 1 && result != 2 && endingBySignal_) {
        // The program is being ended while the user fills in the job: the printed pages are not
        // thrown away but become a fax with what was typed so far, to be completed in zn.
        if (WriteJobFile(image, dialog.Phone->text().toStdString(), dialog.Recipient->text().toStdString(),
                         dialog.Subject->text().toStdString()))
            UnmarkUnfinished(image);
        return;
    }
    if (result == 1) {
        if (!WriteJobFile(image, dialog.Phone->text().toStdString(), dialog.Recipient->text().toStdString(),
                          dialog.Subject->text().toStdString())) {
            // The mark stays: the next start offers the fax again.
            const std::string why = std::strerror(errno);
            foundation::ShowMessageBox("The fax was not created: its job file " + JobFilePath(image)
                                           + " could not be written (" + why + ")." + kept,
                                       "Tarvel NT Print To Fax", platform::MB_OK | platform::MB_ICONWARNING);
        } else {
            UnmarkUnfinished(image);
            if (foundation::AskYesNo("Switch to Tarvel now?", "FAX CREATED"))
                Switch(ReadZnpdIni().executable);
        }
    } else {
        platform::DeleteFileCI(image);
        UnmarkUnfinished(image);
    }
    QApplication::processEvents();
}

void TMainForm::EndBySignal()
{
    endingBySignal_ = true;
    // Ends the job dialog's loop and any message box's as well as the program's own.
    platform::PostQuitMessage(0);
}

void TMainForm::CloseTarvelNTDriver1Click()
{
    close();
    QApplication::quit();
}

void TMainForm::About1Click() { foundation::ShowInformation(kAboutText); }

void TMainForm::StartTarvel1Click() { Switch(ReadZnpdIni().executable); }

} // namespace zn::ptf
