#include "cover/gui/cover_dialogs.h"

#include "cover/mono_canvas.h"
#include "cover/symbol_font.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStorageInfo>
#include <QVBoxLayout>

namespace zn::cover::gui {

namespace {

constexpr int kLabelTextHelp = foundation::kLabelTextHelpContext;
constexpr int kSymbolHelp = foundation::kSymbolHelpContext;
constexpr int kMultiLineHelp = foundation::kMultiLineHelpContext;
constexpr int kImageBrowserHelp = foundation::kImageBrowserHelpContext;

QHBoxLayout* ButtonRow(QDialog* dialog, int helpContext, QPushButton** ok = nullptr, QPushButton** cancel = nullptr,
                       QPushButton** help = nullptr)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* okButton = new QPushButton(QStringLiteral("Ok"), dialog);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), dialog);
    auto* helpButton = new QPushButton(QStringLiteral("Help"), dialog);
    okButton->setObjectName(QStringLiteral("OKButton"));
    cancelButton->setObjectName(QStringLiteral("CancelButton"));
    helpButton->setObjectName(QStringLiteral("HelpButton"));
    okButton->setDefault(true);
    // Enter stays with Ok wherever the focus is.
    cancelButton->setAutoDefault(false);
    helpButton->setAutoDefault(false);
    QObject::connect(okButton, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancelButton, &QPushButton::clicked, dialog, &QDialog::reject);
    QObject::connect(helpButton, &QPushButton::clicked, dialog,
                     [helpContext] { foundation::ShowHelpContext(helpContext); });
    row->addWidget(okButton);
    row->addWidget(cancelButton);
    row->addWidget(helpButton);
    if (ok)
        *ok = okButton;
    if (cancel)
        *cancel = cancelButton;
    if (help)
        *help = helpButton;
    return row;
}

// The dialogs centre themselves on the main form when created.
void Centre(QDialog& dialog)
{
    dialog.adjustSize();
    foundation::CenterForm(dialog);
}

} // namespace

QFont ToQFont(const TFontSpec& font)
{
    QFont f = MakeFont(font.name, font.Size(), font.bold, font.italic, font.underline);
    f.setStrikeOut(font.strikeOut);
    return f;
}

TFontSpec FromQFont(const QFont& font, uint32_t color)
{
    TFontSpec described;
    const QString family = font.family();
    described.name = family == QLatin1String("Liberation Sans")    ? "Arial"
                     : family == QLatin1String("Liberation Mono")  ? "Courier New"
                     : family == QLatin1String("Liberation Serif") ? "Times New Roman"
                     : family == QLatin1String(kSymbolFontFamily)  ? "WingDings"
                                                                   : family.toStdString();
    described.SetSize(font.pointSize() > 0 ? font.pointSize() : std::max(1, font.pixelSize() * 72 / 96));
    described.bold = font.bold();
    described.italic = font.italic();
    described.underline = font.underline();
    described.strikeOut = font.strikeOut();
    described.color = color;
    if (described.name == "WingDings")
        described.charset = "SYMBOL_CHARSET";
    return described;
}

TFaxGetLabelText::TFaxGetLabelText(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FaxGetLabelText"));
    setWindowTitle(QStringLiteral("Text"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Enter Text"), this));
    LabelText = new QLineEdit(this);
    LabelText->setObjectName(QStringLiteral("LabelText"));
    LabelText->setMinimumWidth(320);
    layout->addWidget(LabelText);
    layout->addLayout(ButtonRow(this, kLabelTextHelp));
    LabelText->setFocus();
    Centre(*this);
}

TFaxGetSymbol::TFaxGetSymbol(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FaxGetSymbol"));
    setWindowTitle(QStringLiteral("Symbol Selector"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* fontLabel = new QLabel(QStringLiteral("&Font"), this);
    Fontbutton = new QPushButton(this);
    Fontbutton->setAutoDefault(false); // Enter stays with Ok
    Fontbutton->setObjectName(QStringLiteral("Fontbutton"));
    fontLabel->setBuddy(Fontbutton);
    SelectedChar = new QLabel(this);
    SelectedChar->setObjectName(QStringLiteral("SelectedChar"));
    SelectedChar->hide();
    top->addWidget(fontLabel);
    top->addWidget(Fontbutton, 1);
    top->addWidget(SelectedChar);
    layout->addLayout(top);
    SymbolList = new QListWidget(this);
    SymbolList->setObjectName(QStringLiteral("SymbolList"));
    SymbolList->setFlow(QListView::LeftToRight);
    SymbolList->setWrapping(true);
    SymbolList->setResizeMode(QListView::Adjust);
    SymbolList->setUniformItemSizes(true);
    for (int code = 32; code <= 255; ++code) {
        auto* item = new QListWidgetItem(SymbolText(std::string(1, static_cast<char>(code))), SymbolList);
        item->setTextAlignment(Qt::AlignCenter);
    }
    layout->addWidget(SymbolList, 1);
    layout->addLayout(ButtonRow(this, kSymbolHelp));
    connect(Fontbutton, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, ToQFont(sample_), this);
        if (!ok)
            return;
        sample_ = FromQFont(chosen, sample_.color);
        Refresh();
    });
    TFontSpec wingdings;
    wingdings.name = "WingDings";
    wingdings.SetSize(24);
    SetSymbolFont(wingdings);
    resize(560, 420);
    foundation::CenterForm(*this);
}

int TFaxGetSymbol::ColumnsForSize(int points)
{
    struct TBand {
        int from, to, columns;
    };
    static const TBand kBands[] = {{6, 10, 14}, {11, 20, 10}, {21, 30, 8}, {31, 40, 6},
                                   {41, 50, 4}, {51, 60, 3},  {61, 72, 2}};
    for (const TBand& b : kBands)
        if (points >= b.from && points <= b.to)
            return b.columns;
    return 1;
}

void TFaxGetSymbol::SetSymbolFont(const TFontSpec& font)
{
    sample_ = font;
    Refresh();
}

QString TFaxGetSymbol::FontButtonCaption() const
{
    QString style;
    if (sample_.bold)
        style = QStringLiteral("Bold ");
    if (sample_.italic)
        style = QStringLiteral("Italic ");
    return QString::fromStdString(sample_.name) + QStringLiteral(", ") + QString::number(sample_.Size())
           + QStringLiteral("pt ") + style;
}

void TFaxGetSymbol::Refresh()
{
    QFont listFont = ToQFont(sample_);
    listFont.setPixelSize(30 * 2 / 3); // the list keeps its own size: item height 30
    SymbolList->setFont(listFont);
    SelectedChar->setFont(ToQFont(sample_));
    const int columns = ColumnsForSize(sample_.Size());
    const int cell = std::max(30, (SymbolList->viewport()->width() - 4) / columns);
    SymbolList->setGridSize(QSize(cell, 30));
    Fontbutton->setText(FontButtonCaption());
}

TFaxMultiLineTextEditor::TFaxMultiLineTextEditor(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FaxMultiLineTextEditor"));
    setWindowTitle(QStringLiteral("Multi-line Text Editor"));
    auto* layout = new QVBoxLayout(this);
    Memo = new QPlainTextEdit(this);
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setTabChangesFocus(true); // Tab goes on to Ok; a tab character would be drawn as a box
    layout->addWidget(Memo, 1);
    layout->addLayout(ButtonRow(this, kMultiLineHelp));
    resize(480, 320);
    foundation::CenterForm(*this);
}

TFaxImageBrowser::TFaxImageBrowser(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FaxImageBrowser"));
    setWindowTitle(QStringLiteral("Load Image File"));
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady() && !volume.rootPath().startsWith(QLatin1String("/proc"))
            && !volume.rootPath().startsWith(QLatin1String("/sys"))
            && !volume.rootPath().startsWith(QLatin1String("/dev")))
            DriveComboBox1->addItem(volume.rootPath());
    if (DriveComboBox1->findText(QStringLiteral("/")) < 0)
        DriveComboBox1->insertItem(0, QStringLiteral("/"));
    DirectoryListBox1 = new QListWidget(this);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    FileListBox1 = new QListWidget(this);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    folderLabel_ = new QLabel(this);
    folderLabel_->setObjectName(QStringLiteral("FolderLabel"));
    folderLabel_->setTextFormat(Qt::PlainText);
    left->addWidget(DriveComboBox1);
    left->addWidget(folderLabel_);
    left->addWidget(DirectoryListBox1, 1);
    left->addWidget(FileListBox1, 1);
    layout->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setScaledContents(false);
    ScrollBox1->setWidget(Image1);
    ScrollBox1->setWidgetResizable(true);
    ScrollBox1->setMinimumSize(360, 300);
    right->addWidget(ScrollBox1, 1);
    auto* note = new QLabel(QStringLiteral("Note: A fax can only be monochrome black and white. The image above is "
                                           "shown as it will appear in the fax."),
                            this);
    note->setWordWrap(true);
    right->addWidget(note);
    auto* buttons = ButtonRow(this, kImageBrowserHelp, &OKButton, &Cancelbutton, &Helpbutton);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    Cancelbutton->setObjectName(QStringLiteral("Cancelbutton"));
    Helpbutton->setObjectName(QStringLiteral("Helpbutton"));
    AssistShowHintSpeedbutton4 = new QPushButton(QStringLiteral("?"), this);
    AssistShowHintSpeedbutton4->setObjectName(QStringLiteral("AssistShowHintSpeedbutton4"));
    AssistShowHintSpeedbutton4->setFixedWidth(28);
    AssistShowHintSpeedbutton4->setEnabled(false); // no assistant lines for this form
    buttons->insertWidget(0, AssistShowHintSpeedbutton4);
    right->addLayout(buttons);
    layout->addLayout(right, 2);

    connect(DriveComboBox1, &QComboBox::textActivated, this, [this](const QString& root) { SetDirectory(root); });
    connect(DirectoryListBox1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        SetDirectory(QDir::cleanPath(QDir(directory_).absoluteFilePath(item->text())));
    });
    connect(FileListBox1, &QListWidget::currentRowChanged, this, [this] { FileListBox1Change(); });
    resize(760, 480);
    SetDirectory(QDir::currentPath());
    foundation::CenterForm(*this);
}

void TFaxImageBrowser::SetDirectory(const QString& folder)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        return;
    directory_ = info.absoluteFilePath();
    FillLists();
}

void TFaxImageBrowser::FillLists()
{
    QDir dir(directory_);
    folderLabel_->setText(QFontMetrics(folderLabel_->font()).elidedText(directory_, Qt::ElideMiddle, 300));
    folderLabel_->setToolTip(directory_);
    DirectoryListBox1->clear();
    if (!dir.isRoot())
        DirectoryListBox1->addItem(QStringLiteral(".."));
    DirectoryListBox1->addItems(dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase));
    FileListBox1->clear();
    // The mask "*.BMP;*.JPG;*.JIF;*.WMF", in any letter case.
    QStringList files;
    for (const QString& name : QDir(directory_).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        const QString ext = QFileInfo(name).suffix().toUpper();
        if (ext == QLatin1String("BMP") || ext == QLatin1String("JPG") || ext == QLatin1String("JIF")
            || ext == QLatin1String("WMF"))
            files << name;
    }
    FileListBox1->addItems(files);
    picture_ = TPicture();
    Image1->clear();
}

QString TFaxImageBrowser::FileName() const
{
    const QListWidgetItem* item = FileListBox1->currentItem();
    return item ? QDir(directory_).absoluteFilePath(item->text()) : QString();
}

void TFaxImageBrowser::SelectFile(const QString& name)
{
    const QList<QListWidgetItem*> found = FileListBox1->findItems(name, Qt::MatchFixedString);
    if (!found.isEmpty())
        FileListBox1->setCurrentItem(found.front());
}

void TFaxImageBrowser::FileListBox1Change()
{
    Image1->clear();
    picture_ = TPicture();
    if (busy_ || FileName().isEmpty())
        return;
    busy_ = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    bool failed = false;
    try {
        const std::optional<TPicture> loaded = LoadPictureFile(FileName().toStdString());
        if (!loaded) {
            failed = true;
        } else {
            // Shown as the fax will show it: reduced with the Stucki kernel.
            const QImage mono = ReduceImage(loaded->ToImage(), 2);
            if (mono.isNull()) {
                failed = true;
            } else {
                picture_.kind = TPicture::pkBitmap;
                picture_.bitmap = mono;
                Image1->setPixmap(QPixmap::fromImage(mono));
            }
        }
    } catch (const std::exception&) {
        failed = true;
    }
    QGuiApplication::restoreOverrideCursor();
    busy_ = false;
    if (failed) {
        picture_ = TPicture();
        Image1->clear();
        platform::MessageBoxShow(kErrorLoadingFile, "Error", platform::MB_OK | platform::MB_ICONERROR);
    }
}

std::optional<TFontSpec> TDialogItemEditor::EditFont(const TFontSpec& font, bool effects)
{
    bool ok = false;
    // The toolkit's font dialog always offers underline and strike-out; the colour a label keeps
    // stays as it was (labels are black or white).
    (void)effects;
    const QFont chosen = QFontDialog::getFont(&ok, ToQFont(font), parent_, QStringLiteral("Font"));
    if (!ok)
        return std::nullopt;
    return FromQFont(chosen, font.color);
}

std::optional<std::string> TDialogItemEditor::EditLabelText(const std::string& text)
{
    TFaxGetLabelText dialog(parent_);
    dialog.LabelText->setText(QString::fromLatin1(text.c_str()));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.LabelText->text().toLatin1().toStdString();
}

std::optional<TItemEditor::TSymbolChoice> TDialogItemEditor::SelectSymbol(uint8_t code, const TFontSpec& font)
{
    TFaxGetSymbol dialog(parent_);
    dialog.SetSymbolFont(font);
    dialog.SymbolList->setCurrentRow(std::max(0, code - 32));
    if (dialog.exec() != QDialog::Accepted || dialog.SymbolList->currentRow() < 0)
        return std::nullopt;
    return TSymbolChoice{static_cast<uint8_t>(dialog.SymbolList->currentRow() + 32), dialog.SampleFont()};
}

std::optional<std::vector<std::string>> TDialogItemEditor::EditLines(const std::vector<std::string>& lines,
                                                                     const TFontSpec& font)
{
    TFaxMultiLineTextEditor dialog(parent_);
    dialog.Memo->setFont(ToQFont(font));
    QStringList text;
    for (const std::string& l : lines)
        text << QString::fromLatin1(l.c_str());
    dialog.Memo->setPlainText(text.join(QLatin1Char('\n')));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    std::vector<std::string> out;
    for (const QString& l : dialog.Memo->toPlainText().split(QLatin1Char('\n')))
        out.push_back(l.toLatin1().toStdString());
    if (!out.empty() && out.back().empty())
        out.pop_back();
    return out;
}

std::optional<TItemEditor::TImageChoice> TDialogItemEditor::BrowseImage(const std::string& folder)
{
    const QString current = QDir::currentPath();
    TFaxImageBrowser browser(parent_);
    if (!folder.empty())
        browser.SetDirectory(QString::fromStdString(folder));
    const int result = browser.exec();
    QDir::setCurrent(current);
    if (result != QDialog::Accepted || browser.FileName().isEmpty())
        return std::nullopt;
    return TImageChoice{browser.Picture(), QFileInfo(browser.FileName()).absolutePath().toStdString()};
}

void TDialogItemEditor::ShowError(const std::string& text)
{
    platform::MessageBoxShow(text, "Error", platform::MB_OK | platform::MB_ICONERROR);
}

void BuildMenu(QMenu& menu, std::vector<TMenuEntry>& entries)
{
    for (TMenuEntry& e : entries) {
        if (e.caption == "-") {
            menu.addSeparator();
        } else if (!e.submenu.empty()) {
            QMenu* sub = menu.addMenu(QString::fromStdString(e.caption));
            BuildMenu(*sub, e.submenu);
        } else {
            QAction* action = menu.addAction(QString::fromStdString(e.caption));
            action->setEnabled(e.enabled);
            if (e.checked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            if (e.action) {
                std::function<void()> run = e.action;
                QObject::connect(action, &QAction::triggered, &menu, [run] { run(); });
            }
        }
    }
}

} // namespace zn::cover::gui
