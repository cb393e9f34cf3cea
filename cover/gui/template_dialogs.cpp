#include "cover/gui/template_dialogs.h"

#include "cover/template_files.h"
#include "faxdoc/file_names.h"
#include "foundation/dialogs.h"
#include "platform/folders.h"
#include "platform/window_title.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cctype>

namespace zn::cover::gui {

QStringList TemplateFiles(const QString& folder, const QString& extension)
{
    QStringList names;
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase))
        if (name.endsWith(extension, Qt::CaseInsensitive))
            names << name;
    return names;
}

namespace {

QPushButton* Button(QWidget* parent, const char* name, const char* caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

} // namespace

// ---- TPreviewCovers ------------------------------------------------------------------------------

TPreviewCovers::TPreviewCovers(const std::string& coversFolder, QWidget* parent)
    : QDialog(parent), folder_(coversFolder)
{
    setObjectName("PreviewCovers");
    setWindowTitle("Select  Fax Cover Template");
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Fax Cover Templates", this), 0, 0);
    grid->addWidget(new QLabel("Preview", this), 0, 1);
    FileListBox1 = new QListWidget(this);
    FileListBox1->setObjectName("FileListBox1");
    FileListBox1->addItems(TemplateFiles(QString::fromStdString(folder_), ".FCS"));
    grid->addWidget(FileListBox1, 1, 0);
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName("ScrollBox1");
    ScrollBox1->setStyleSheet("background: white");
    Image1 = new QLabel(ScrollBox1);
    Image1->setObjectName("Image1");
    Image1->setFixedSize(816 / 2, 1056 / 2); // the page shown at half its size
    Image1->setScaledContents(true);
    ScrollBox1->setWidget(Image1);
    ScrollBox1->setMinimumSize(430, 400);
    grid->addWidget(ScrollBox1, 1, 1);
    DescriptionPanel = new QLabel("DescriptionPanel", this);
    DescriptionPanel->setObjectName("DescriptionPanel");
    DescriptionPanel->setFrameShape(QFrame::Panel);
    grid->addWidget(DescriptionPanel, 2, 0, 1, 2);
    auto* buttons = buttonRow_ = new QHBoxLayout;
    buttons->addStretch();
    OKButton = Button(this, "OKButton", "Ok");
    OKButton->setDefault(true);
    Cancelbutton = Button(this, "Cancelbutton", "Cancel");
    Helpbutton = Button(this, "Helpbutton", "Help");
    buttons->addWidget(OKButton);
    buttons->addWidget(Cancelbutton);
    buttons->addWidget(Helpbutton);
    grid->addLayout(buttons, 3, 0, 1, 2);

    connect(FileListBox1, &QListWidget::currentRowChanged, this, [this] { FileListBox1Change(); });
    connect(OKButton, &QPushButton::clicked, this, [this] {
        if (!FileListBox1->currentItem())
            QApplication::beep();
        else
            accept();
    });
    connect(Cancelbutton, &QPushButton::clicked, this, &QDialog::reject);
    connect(Helpbutton, &QPushButton::clicked, this,
            [this] { foundation::ShowHelpContext(windowTitle().toUpper().contains("SELECT")
                                                ? foundation::kSelectTemplateHelpContext
                                                : foundation::kPreviewTemplatesHelpContext); });
}

std::string TPreviewCovers::SelectedPath() const
{
    const QListWidgetItem* item = FileListBox1->currentItem();
    return item ? folder_ + item->text().toStdString() : std::string();
}

void TPreviewCovers::SetBrowseOnly()
{
    Cancelbutton->hide();
    // The OK button takes the Cancel button's place, next to Help.
    buttonRow_->removeWidget(OKButton);
    buttonRow_->insertWidget(buttonRow_->indexOf(Helpbutton), OKButton);
}

void TPreviewCovers::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (FileListBox1->count() == 0 || FileListBox1->currentItem())
        return;
    int row = 0;
    const QString wanted = QString::fromStdString(SelectedName).toUpper();
    for (int i = 0; i < FileListBox1->count(); ++i)
        if (FileListBox1->item(i)->text().toUpper() == wanted)
            row = i;
    FileListBox1->setCurrentRow(row);
    FileListBox1Change();
}

void TPreviewCovers::FileListBox1Change()
{
    const QListWidgetItem* item = FileListBox1->currentItem();
    if (!item)
        return;
    const std::string path = folder_ + item->text().toStdString();
    const std::string preview = platform::ResolvePath(faxdoc::ForceExtension(path, "bmp"));
    QPixmap picture;
    if (platform::FileExistsCI(preview) && picture.load(QString::fromStdString(preview), "BMP"))
        Image1->setPixmap(picture);
    else
        foundation::ShowInformation("Image not available");
    SelectedName = item->text().toStdString();
    // A template without a description leaves the one shown before.
    if (const auto description = ReadDescription(path))
        DescriptionPanel->setText(QString::fromStdString(*description));
}

// ---- TSaveTemplateAs -----------------------------------------------------------------------------

TSaveTemplateAs::TSaveTemplateAs(const std::string& coversFolder, QWidget* parent)
    : QDialog(parent), folder_(coversFolder)
{
    setObjectName("SaveTemplateAs");
    setWindowTitle("Save fax cover template as");
    platform::MakeRoomForTitle(*this);
    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel("Enter the file name", this));
    TemplateName = new QLineEdit("*.fct", this);
    TemplateName->setObjectName("TemplateName");
    TemplateName->setToolTip("Enter the template file name");
    column->addWidget(TemplateName);
    column->addWidget(new QLabel("Existing Templates", this));
    FileListBox1 = new QListWidget(this);
    FileListBox1->setObjectName("FileListBox1");
    FileListBox1->setToolTip("Select from existing templates (overwrite)");
    FileListBox1->addItems(TemplateFiles(QString::fromStdString(folder_), ".FCT"));
    column->addWidget(FileListBox1);
    column->addWidget(new QLabel("Enter the description (required)", this));
    TemplateDescription = new QLineEdit(this);
    TemplateDescription->setObjectName("TemplateDescription");
    TemplateDescription->setToolTip("Enter the description for this template (required)");
    column->addWidget(TemplateDescription);
    InvalidFileName = new QLabel(
        "The file name must start with a character (A-Z) and may contain characters, numbers or underscores. The "
        "file extension must be .FCS. File name can be up to 12 characters long.",
        this);
    InvalidFileName->setObjectName("InvalidFileName");
    InvalidFileName->setWordWrap(true);
    column->addWidget(InvalidFileName);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    OKButton = Button(this, "OKButton", "Ok ");
    OKButton->setDefault(true);
    OKButton->setEnabled(false);
    Cancelbutton = Button(this, "Cancelbutton", "Cancel");
    Helpbutton = Button(this, "Helpbutton", "Help");
    buttons->addWidget(OKButton);
    buttons->addWidget(Cancelbutton);
    buttons->addWidget(Helpbutton);
    column->addLayout(buttons);

    connect(TemplateName, &QLineEdit::textChanged, this, [this] { TemplateNameChange(); });
    connect(TemplateDescription, &QLineEdit::textChanged, this, [this] { TemplateNameChange(); });
    connect(FileListBox1, &QListWidget::itemClicked, this, [this] { FileListBox1Click(); });
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cancelbutton, &QPushButton::clicked, this, &QDialog::reject);
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(foundation::kSaveTemplateHelpContext); });
}

bool TSaveTemplateAs::ValidTemplateName(const std::string& name)
{
    if (name.empty() || name.size() > 12 || name.size() < 5)
        return false;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (extension != ".FCS")
        return false;
    const std::string base = name.substr(0, name.size() - 4);
    if (base.empty() || !(std::isalpha(static_cast<unsigned char>(base[0])) || base[0] == '_'))
        return false;
    for (const char c : base)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
            return false;
    return true;
}

void TSaveTemplateAs::TemplateNameChange()
{
    OKButton->setEnabled(ValidTemplateName(TemplateName->text().toStdString())
                         && !TemplateDescription->text().isEmpty());
}

void TSaveTemplateAs::FileListBox1Click()
{
    const QListWidgetItem* item = FileListBox1->currentItem();
    if (!item)
        return;
    // The list shows the render files; the name to save under is the template's, so that a pick
    // can pass the ".FCS" rule.
    const std::string picked = item->text().toStdString();
    TemplateName->setText(QString::fromStdString(faxdoc::ForceExtension(picked, "FCS")));
    if (const auto description = ReadDescription(folder_ + picked))
        TemplateDescription->setText(QString::fromStdString(*description));
}

} // namespace zn::cover::gui
