#include "app/quick_fax.h"

#include "app/fax_forms.h"
#include "app/form_controls.h"
#include "app/main_screen.h"
#include "app/small_forms.h"
#include "cover/cover_renderer.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "platform/date_format.h"
#include "platform/folders.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cerrno>
#include <fstream>

namespace zn::app {

namespace {

using foundation::kQuickFaxHelpContext;
using foundation::kTemplateChooserHelpContext;
constexpr int kFlagCount = 5;

std::string NamePart(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

std::string ReplaceExtension(const std::string& path, const std::string& extension)
{
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + extension;
    return path.substr(0, dot) + extension;
}

bool TemplateExists(const std::string& templateName)
{
    return !templateName.empty() && platform::FileExistsCI(foundation::GetCoversFolder() + templateName);
}

} // namespace

// --- The cover data file ---

std::string FlagsText(const bool flags[5])
{
    std::string text;
    for (int i = 0; i < kFlagCount; ++i)
        text += flags[i] ? 'X' : ' ';
    return text;
}

std::string CoverDataBytes(const TCoverData& data)
{
    std::string bytes = data.TemplateName + "\r\n" + data.Flags + "\r\n";
    for (const std::string& line : data.Message)
        bytes += line + "\r\n";
    return bytes;
}

std::optional<TCoverData> ReadCoverData(const std::string& path)
{
    if (!platform::FileExistsCI(path))
        return std::nullopt;
    std::ifstream in(platform::ResolvePath(path), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    if (in.bad())
        return std::nullopt;
    TCoverData data;
    if (!lines.empty())
        data.TemplateName = lines[0];
    if (lines.size() > 1)
        data.Flags = lines[1];
    if (lines.size() > 2)
        data.Message.assign(lines.begin() + 2, lines.end());
    return data;
}

bool WriteCoverData(const std::string& path, const TCoverData& data)
{
    QSaveFile file(QString::fromStdString(platform::ResolvePath(path)));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const std::string bytes = CoverDataBytes(data);
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

std::string TemplateOfCoverData(const std::string& line1)
{
    std::string name = NamePart(line1);
    if (name.empty())
        return name;
    const char last = name.back();
    if (last != 'T' && last != 't')
        name = ReplaceExtension(name, ".fct");
    return name;
}

std::string CoverDataPathOf(const std::string& coverPath) { return ReplaceExtension(coverPath, ".FCD"); }

// --- The cover editor ---

TCreateEditQuickFax::TCreateEditQuickFax(QWidget* parent) : QDialog(parent)
{
    using foundation::gui::TEnterEdit;
    setObjectName("TCreateEditQuickFax");
    setWindowTitle("Fax Cover Sheet Editor");
    setFont(QFont("Arial", 9));
    Recipient = MakeEdit<TEnterEdit>(this, "Recipient", 35, "The name of the person receiving this fax");
    RecipientFax = MakeEdit<TEnterEdit>(this, "RecipientFax", 25, "The fax number to send this fax to");
    Regarding = MakeEdit<TEnterEdit>(this, "Regarding", 50, "What this fax is about");
    Notes = MakeEdit<QLineEdit>(this, "Notes", 50, "Your own notes (not sent)");
    Codes = MakeEdit<QLineEdit>(this, "Codes", 25, "Your own codes, for example a billing code (not sent)");
    FaxMessage = new QPlainTextEdit(this);
    FaxMessage->setObjectName("FaxMessage");
    FaxMessage->setFont(QFont("Courier New", 10));
    FaxMessage->setMinimumSize(420, 140);
    FaxMessage->setTabChangesFocus(true); // Tab goes on to the next control, as everywhere else
    ImportanceFlags = new QGroupBox("Importance Flags", this);
    ImportanceFlags->setObjectName("ImportanceFlags");
    auto check = [this](const char* name, const QString& caption) {
        auto* c = new QCheckBox(caption, ImportanceFlags);
        c->setObjectName(name);
        return c;
    };
    cUrgent = check("cUrgent", "Urgent");
    cForReview = check("cForReview", "For Review");
    cPleaseComment = check("cPleaseComment", "Please Comment");
    cPleaseReply = check("cPleaseReply", "Please Reply");
    cPleaseRecycle = check("cPleaseRecycle", "Please Recycle");
    auto* flags = new QVBoxLayout(ImportanceFlags);
    for (int i = 0; i < kFlagCount; ++i)
        flags->addWidget(Flag(i));
    CurrentQFileLabel = new QLabel(this);
    CurrentQFileLabel->setObjectName("CurrentQFileLabel");
    CurrentQFileLabel->setFrameShape(QFrame::Panel);
    CurrentQFileLabel->setFrameShadow(QFrame::Sunken);
    OkButton = MakeButton(this, "OkButton", "&Save", "Save this cover sheet");
    OkButton->setDefault(true);
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l", "Close without saving");
    Helpbutton = MakeButton(this, "Helpbutton", "&Help", "Get help for the cover sheet editor");
    ExplorerButton1 =
        MakeButton(this, "ExplorerButton1", "Select Fax Cover &Template", "Choose the cover sheet template to use");
    ChangeSenderInfoButton = MakeButton(this, "ChangeSenderInfoButton", "&Change Sender Info");
    AddressButton = MakeButton(this, "AddressButton", "&Phonebook", "Click here to access the Phone Book");

    auto* form = new QFormLayout;
    auto* recipientRow = new QHBoxLayout;
    recipientRow->addWidget(Recipient, 1);
    recipientRow->addWidget(AddressButton);
    form->addRow("Recipient", recipientRow);
    form->addRow("Recipient Fax #", RecipientFax);
    form->addRow("Regarding", Regarding);
    form->addRow("Notes", Notes);
    form->addRow("Codes", Codes);
    auto* top = new QHBoxLayout;
    top->addLayout(form, 1);
    top->addWidget(ImportanceFlags);
    auto* templateRow = new QHBoxLayout;
    templateRow->addWidget(new QLabel("Template:", this));
    templateRow->addWidget(CurrentQFileLabel, 1);
    templateRow->addWidget(ExplorerButton1);
    templateRow->addWidget(ChangeSenderInfoButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(new QLabel("Message (short messages only please)", this));
    layout->addWidget(FaxMessage, 1);
    layout->addLayout(templateRow);
    layout->addLayout(ButtonRow({OkButton, Cancelbutton, Helpbutton}));

    TabOrder({Recipient, AddressButton, RecipientFax, Regarding, Notes, Codes, cUrgent, cForReview, cPleaseComment,
              cPleaseReply, cPleaseRecycle, FaxMessage, ExplorerButton1, ChangeSenderInfoButton, OkButton, Cancelbutton,
              Helpbutton});

    connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(kQuickFaxHelpContext); });
    connect(ChangeSenderInfoButton, &QPushButton::clicked, this, [this] { ChangeSenderInfoButtonClick(); });
    connect(ExplorerButton1, &QPushButton::clicked, this, [this] { ExplorerButton1Click(); });
    connect(AddressButton, &QPushButton::clicked, this, [this] { AddressButtonClick(); });
}

QCheckBox* TCreateEditQuickFax::Flag(int index) const
{
    QCheckBox* const flags[kFlagCount] = {cUrgent, cForReview, cPleaseComment, cPleaseReply, cPleaseRecycle};
    return index >= 0 && index < kFlagCount ? flags[index] : nullptr;
}

std::vector<std::string> TCreateEditQuickFax::MessageLines() const
{
    std::vector<std::string> lines;
    const QString text = FaxMessage->toPlainText();
    if (text.isEmpty())
        return lines;
    QStringList parts = text.split('\n');
    if (parts.size() > 1 && parts.back().isEmpty())
        parts.removeLast(); // a final line break ends the last line rather than starting one
    for (const QString& part : parts)
        lines.push_back(part.toStdString());
    return lines;
}

void TCreateEditQuickFax::SetMessageLines(const std::vector<std::string>& lines)
{
    QStringList parts;
    for (const std::string& line : lines)
        parts << QString::fromStdString(line);
    FaxMessage->setPlainText(parts.join('\n'));
}

void TCreateEditQuickFax::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    UpdateSenderHint();
    CurrentQFileLabel->setText(QString::fromStdString(TemplateName));
}

void TCreateEditQuickFax::UpdateSenderHint()
{
    const auto& s = foundation::Settings();
    if (s.Name.empty() && s.Company.empty() && s.Fax.empty() && s.Voice.empty())
        ChangeSenderInfoButton->setToolTip("No sender information entered");
    else
        ChangeSenderInfoButton->setToolTip(
            QString::fromStdString(s.Name + "\n" + s.Company + "\n" + s.Fax + "\n" + s.Voice));
}

void TCreateEditQuickFax::OkButtonClick()
{
    auto refuse = [](QWidget* edit, const std::string& text) {
        foundation::ShowInformation(text);
        edit->setFocus();
    };
    if (Recipient->text().isEmpty())
        return refuse(Recipient, "Please enter a recipient");
    if (RecipientFax->text().isEmpty())
        return refuse(RecipientFax, "Please enter a recipient fax number");
    if (Regarding->text().isEmpty() && MessageLines().empty())
        return refuse(Regarding, "Please enter text for the \"regarding\" field\rand/or enter a message");
    // A cover without its template would be rendered blank and sent as an empty page.
    if (!TemplateExists(TemplateName))
        return refuse(ExplorerButton1,
                      "The fax cover template \"" + TemplateName
                          + "\" was not found in the Covers folder.\rPlease select a fax cover template.");
    FaxMessage->setLineWrapMode(QPlainTextEdit::NoWrap);
    QCoreApplication::processEvents();
    done(1);
}

void TCreateEditQuickFax::ChangeSenderInfoButtonClick()
{
    try {
        EditSenderInformation(this);
    } catch (const foundation::IniFileError& e) {
        foundation::ShowMessageBox(e.what(), "Sender Information", platform::MB_OK | platform::MB_ICONERROR);
    }
    UpdateSenderHint();
}

void TCreateEditQuickFax::ExplorerButton1Click()
{
    TPreviewQuickFaxForms chooser(this);
    foundation::CenterForm(chooser);
    chooser.SetFolder(foundation::GetCoversFolder());
    chooser.TemplateName = TemplateName;
    if (chooser.exec() == 1)
        TemplateName = chooser.TemplateName;
    CurrentQFileLabel->setText(QString::fromStdString(TemplateName));
}

void TCreateEditQuickFax::AddressButtonClick() { PickPhoneBookEntry(this, Recipient, RecipientFax); }

// --- The template chooser ---

TPreviewQuickFaxForms::TPreviewQuickFaxForms(QWidget* parent) : QDialog(parent)
{
    setObjectName("TPreviewQuickFaxForms");
    setWindowTitle("Select  Fax Cover Template");
    setFont(QFont("Arial", 9));
    FileListBox1 = new QListWidget(this);
    FileListBox1->setObjectName("FileListBox1");
    FileListBox1->setMaximumWidth(180);
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName("ScrollBox1");
    Image1 = new QLabel;
    Image1->setObjectName("Image1");
    ScrollBox1->setWidget(Image1);
    ScrollBox1->setMinimumSize(440, 420);
    DescriptionPanel = new QLabel(this);
    DescriptionPanel->setObjectName("DescriptionPanel");
    DescriptionPanel->setFrameShape(QFrame::Panel);
    DescriptionPanel->setFrameShadow(QFrame::Sunken);
    DescriptionPanel->setWordWrap(true);
    OKButton = MakeButton(this, "OKButton", "&OK", "Use the selected template");
    OKButton->setDefault(true);
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l");
    Helpbutton = MakeButton(this, "Helpbutton", "&Help");
    auto* row = new QHBoxLayout;
    row->addWidget(FileListBox1);
    row->addWidget(ScrollBox1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addWidget(DescriptionPanel);
    layout->addLayout(ButtonRow({OKButton, Cancelbutton, Helpbutton}));
    connect(FileListBox1, &QListWidget::currentRowChanged, this, [this](int) { FileListBox1Change(); });
    connect(FileListBox1, &QListWidget::itemDoubleClicked, this, [this] { OKButtonClick(); });
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(kTemplateChooserHelpContext); });
    foundation::LoadFormPlacement(*this);
}

void TPreviewQuickFaxForms::SetFolder(const std::string& folder)
{
    folder_ = folder;
    const QSignalBlocker quiet(FileListBox1);
    FileListBox1->clear();
    for (const std::string& name : platform::ListFolderCI(folder, "*.FCT"))
        FileListBox1->addItem(QString::fromStdString(name));
    DescriptionPanel->clear();
    if (FileListBox1->count() == 0)
        DescriptionPanel->setText(QString::fromStdString(
            "There are no cover templates in " + folder
            + " yet. To make one, open Tools > Cover Sheet Template Editor, draw the cover and save it: "
              "it then appears in this list."));
}

void TPreviewQuickFaxForms::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (FileListBox1->count() > 0 && FileListBox1->currentRow() < 0) {
        int row = 0;
        const QString wanted = QString::fromStdString(TemplateName).toUpper();
        for (int i = 0; i < FileListBox1->count(); ++i)
            if (FileListBox1->item(i)->text().toUpper() == wanted)
                row = i;
        const QSignalBlocker quiet(FileListBox1);
        FileListBox1->setCurrentRow(row);
        FileListBox1Change();
    }
    FileListBox1->setFocus();
}

void TPreviewQuickFaxForms::FileListBox1Change()
{
    QListWidgetItem* item = FileListBox1->currentItem();
    if (!item)
        return;
    const std::string name = item->text().toStdString();
    const std::string path = folder_ + name;
    const std::string bitmap = ReplaceExtension(path, ".bmp");
    QPixmap preview;
    if (platform::FileExistsCI(bitmap) && preview.load(QString::fromStdString(platform::ResolvePath(bitmap)))) {
        Image1->setPixmap(preview);
        Image1->resize(preview.size());
    } else {
        Image1->clear();
        foundation::ShowInformation("Image not available");
    }
    TemplateName = name;
    const std::string description = ReplaceExtension(path, ".des");
    DescriptionPanel->clear();
    if (platform::FileExistsCI(description)) {
        std::ifstream in(platform::ResolvePath(description), std::ios::binary);
        std::string first;
        std::getline(in, first);
        if (!first.empty() && first.back() == '\r')
            first.pop_back();
        DescriptionPanel->setText(QString::fromStdString(first));
    }
}

void TPreviewQuickFaxForms::OKButtonClick()
{
    if (!FileListBox1->currentItem()) {
        QApplication::beep();
        return;
    }
    done(1);
}

void TPreviewQuickFaxForms::done(int result)
{
    try {
        foundation::SaveFormPlacement(*this);
    } catch (const foundation::IniFileError&) {
        // The placement is a convenience; the choice itself is what counts.
    }
    QDialog::done(result);
}

// --- The main window's quick fax command ---

void TMainScreen::EditAddQuickFax(bool isNew)
{
    if (RefuseInReceiveMode())
        return;
    if (!isNew && !ListHasRows(FaxTable)) {
        QApplication::beep();
        return;
    }
    auto& settings = foundation::Settings();
    const long recno = FaxTable.RecNo();
    TCreateEditQuickFax editor(this);
    foundation::CenterForm(editor);
    std::string flags;
    std::string templateName = settings.LastUsedCoversheetTemplate;
    std::string oldCover; // the cover file the row names, when editing
    const std::string rowCover = isNew ? std::string() : FaxTable.FieldByName("FAXCOVER").AsString();
    // A cover named outside the send folder is neither read nor rendered over: the edited cover
    // becomes a new file of the send folder.
    if (!rowCover.empty() && !SayForeignFileNames({rowCover}, "SEND")) {
        oldCover = foundation::GetSendFolder() + rowCover;
        if (const std::optional<TCoverData> data = ReadCoverData(CoverDataPathOf(oldCover))) {
            templateName = TemplateOfCoverData(data->TemplateName);
            flags = data->Flags;
            editor.SetMessageLines(data->Message);
        }
    }
    if (flags.size() == kFlagCount)
        for (int i = 0; i < kFlagCount; ++i)
            editor.Flag(i)->setChecked(flags[size_t(i)] == 'X');
    editor.TemplateName = templateName;
    if (!isNew) {
        editor.Recipient->setText(QString::fromStdString(FaxTable.FieldByName("RECIPIENT").AsString()));
        editor.RecipientFax->setText(QString::fromStdString(FaxTable.FieldByName("PHONE").AsString()));
        editor.Regarding->setText(QString::fromStdString(FaxTable.FieldByName("SUBJECT").AsString()));
        editor.Notes->setText(QString::fromStdString(FaxTable.FieldByName("NOTES").AsString()));
        editor.Codes->setText(QString::fromStdString(FaxTable.FieldByName("CODES").AsString()));
    }
    if (editor.exec() != 1) {
        SetButtons();
        return;
    }
    const std::string templatePath = foundation::GetCoversFolder() + editor.TemplateName;
    if (isNew) {
        settings.LastUsedCoversheetTemplate = editor.TemplateName;
    }

    cover::TCoverValues values;
    const platform::DateTime now = platform::Now();
    values.Date = platform::FormatDateTime(platform::LongDateFormat(), now);
    values.Time = platform::FormatDateTime(platform::LongTimeFormat(), now);
    values.Regarding = editor.Regarding->text().toStdString();
    values.Recipient = editor.Recipient->text().toStdString();
    values.RecipientFax = editor.RecipientFax->text().toStdString();
    values.Sender = settings.Name;
    values.SenderCompany = settings.Company;
    values.SenderFax = settings.Fax;
    values.SenderVoice = settings.Voice;
    bool flagSet[kFlagCount];
    for (int i = 0; i < kFlagCount; ++i) {
        flagSet[i] = editor.Flag(i)->isChecked();
        values.SetFlag(i, flagSet[i]);
    }
    const std::vector<std::string> message = editor.MessageLines();

    auto fail = [this](const std::string& text) {
        foundation::ShowMessageBox(text, "Fax Cover Sheet Editor", platform::MB_OK | platform::MB_ICONERROR);
        SetButtons();
    };
    // An edited cover is rendered into the file the row already names, .FCD file or not, so that
    // no cover file is left behind without a row.
    const std::string coverTarget = oldCover.empty() ? std::string() : platform::ResolvePath(oldCover);
    std::string coverPath;
    try {
        coverPath = cover::RenderCoverPageToFax(coverTarget, templatePath, values, message);
    } catch (const std::exception& e) {
        return fail(std::string("The cover sheet could not be made: ") + e.what() + ".\rNothing was saved.");
    }
    const bool madeNewFile = coverTarget.empty() || NamePart(coverPath) != NamePart(coverTarget);
    auto dropNewCover = [&] {
        if (madeNewFile) {
            platform::DeleteFileCI(coverPath);
            platform::DeleteFileCI(CoverDataPathOf(coverPath));
        }
    };
    TCoverData data{NamePart(editor.TemplateName), FlagsText(flagSet), message};
    if (!WriteCoverData(CoverDataPathOf(coverPath), data)) {
        dropNewCover();
        return fail("The cover data file " + NamePart(CoverDataPathOf(coverPath))
                    + " could not be written (is the disk full?).\rNothing was saved.");
    }
    try {
        if (isNew) {
            FaxTable.Append();
        } else {
            GoBackTo(FaxTable, recno);
            FaxTable.Edit();
        }
        FaxTable.FieldByName("RECIPIENT").SetAsString(values.Recipient);
        FaxTable.FieldByName("SUBJECT").SetAsString(values.Regarding);
        FaxTable.FieldByName("PHONE").SetAsString(values.RecipientFax);
        FaxTable.FieldByName("NOTES").SetAsString(editor.Notes->text().toStdString());
        FaxTable.FieldByName("CODES").SetAsString(editor.Codes->text().toStdString());
        FaxTable.FieldByName("FAXCOVER").SetAsString(NamePart(coverPath));
        FaxTable.Post();
    } catch (const std::exception& e) {
        if (FaxTable.State() != data::TDataSetState::dsBrowse)
            FaxTable.Cancel();
        dropNewCover();
        return fail(std::string("The fax could not be saved: ") + e.what());
    }
    // The row now names the new file; the one it named before goes with its data file.
    if (!oldCover.empty() && madeNewFile) {
        platform::DeleteFileCI(oldCover);
        platform::DeleteFileCI(CoverDataPathOf(oldCover));
    }
    SetButtons();
    if (isNew)
        FaxTableCloseAndOpen();
}

} // namespace zn::app
