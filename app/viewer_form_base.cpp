#include "app/viewer_form_base.h"

#include "app/print_command.h"
#include "comms/base/exceptions.h"
#include "faxdoc/page_files.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/printer_choice.h"
#include "foundation/settings.h"
#include "foundation/text_values.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>

namespace zn::app {

namespace {

using foundation::kViewerHelpContext;
constexpr int kZoomValues[] = {25, 50, 75, 100};

QPushButton* Button(const char* name, const char* caption, const char* tip = nullptr)
{
    auto* button = new QPushButton(QString::fromLatin1(caption));
    button->setObjectName(name);
    button->setAutoDefault(false);
    if (tip)
        button->setToolTip(QString::fromLatin1(tip));
    return button;
}

} // namespace

void SetSquarePixels(faxdoc::TFxFaxUnpacker& unpacker, bool highResolution)
{
    // The component's own double height does it; scaling on top of it would double the rows again.
    unpacker.SetScaling(false);
    unpacker.SetAutoScaleMode(highResolution ? faxdoc::asNone : faxdoc::asDoubleHeight);
}

TViewerFormBase::TViewerFormBase(const std::string& fileName, const std::string& title, const std::string& headerText,
                                 int initialZoom, QWidget* parent)
    : QDialog(parent), FileName(fileName), Title(title), HeaderText(headerText), zoom_(initialZoom)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    status_ = std::make_unique<faxdoc::TFxFaxPrinterStatus>(this);
    printer_.SetStatusDisplay(status_.get());
    // Keeps the window answering while a job prints.
    printer_.OnFaxPrintStatus = [](faxdoc::TFxCustomFaxPrinter&, int) { QCoreApplication::processEvents(); };
}

void TViewerFormBase::BuildForm(QWidget* pages, const std::vector<std::string>& kinds, const char* switchCaption,
                                QMenu* extraMenu)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* menus = new QMenuBar;
    menus->setObjectName("MainMenu");
    QMenu* file = menus->addMenu("&File");
    QMenu* exportMenu = file->addMenu("&Export");
    exportMenu->setObjectName("ExportMenu");
    for (const std::string& kind : kinds) {
        QAction* item = exportMenu->addAction(QString::fromStdString("Export as " + kind + " file..."));
        item->setObjectName(QString::fromStdString("Export" + kind + "Item"));
        connect(item, &QAction::triggered, this, [this, item] { ExportClick(item->text()); });
    }
    file->addSeparator();
    QAction* closeItem = file->addAction("C&lose");
    connect(closeItem, &QAction::triggered, this, &QDialog::reject);

    QMenu* zoomMenu = menus->addMenu("&Zoom");
    zoomMenu->setObjectName("ZoomMenu");
    QAction** items[] = {&N25PercentItem, &N50PercentItem, &N75PercentItem, &N100PercentItem};
    for (int i = 0; i < 4; ++i) {
        const int value = kZoomValues[i];
        QAction* item = zoomMenu->addAction(QString("%1%").arg(value * 2));
        item->setObjectName(QString("N%1PercentItem").arg(value));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, value] { SetZoomValue(value); });
        *items[i] = item;
    }
    if (extraMenu)
        menus->addMenu(extraMenu);
    QMenu* options = menus->addMenu("&Options");
    QAction* other = options->addAction(QString::fromLatin1(switchCaption));
    other->setObjectName("SwitchViewerItem");
    connect(other, &QAction::triggered, this, [this] {
        foundation::Settings().UseAlternateFaxViewer = !foundation::Settings().UseAlternateFaxViewer;
        switchViewer_ = true;
        reject();
    });
    layout->setMenuBar(menus);

    // A tool bar rather than a row of buttons: a narrow window folds the buttons that do not fit
    // behind the bar's extension button instead of growing.
    auto* bar = new QToolBar;
    bar->setObjectName("ButtonBar");
    bar->setMovable(false);
    FirstButton = Button("FirstButton", "|<", "First page");
    PrevButton = Button("PrevButton", "<", "Previous page");
    NextButton = Button("NextButton", ">", "Next page");
    LastButton = Button("LastButton", ">|", "Last page");
    ZoomInButton = Button("ZoomInButton", "Zoom In");
    ZoomOutButton = Button("ZoomOutButton", "Zoom Out");
    Printbutton = Button("Printbutton", "Print");
    PrintSinglePageButton = Button("PrintSinglePageButton", "Print current page");
    PrinterSetupButton = Button("PrinterSetupButton", "Printer Setup");
    Helpbutton = Button("Helpbutton", "Help");
    CloseButton = Button("CloseButton", "C&lose");
    for (QPushButton* b : {FirstButton, PrevButton, NextButton, LastButton})
        b->setFixedWidth(36);
    // The style's least width for a captioned button (and its margins) made the bar wider than the
    // window's own 760 pixels, folding Close behind the extension button: each button is as wide
    // as its caption and a small margin, so that the whole bar fits.
    for (QPushButton* b : {ZoomInButton, ZoomOutButton, Printbutton, PrintSinglePageButton, PrinterSetupButton,
                           Helpbutton, CloseButton})
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(b->text().remove('&')) + 18);
    for (QPushButton* b : {FirstButton, PrevButton, NextButton, LastButton, ZoomInButton, ZoomOutButton, Printbutton,
                           PrintSinglePageButton, PrinterSetupButton})
        pageButtonActions_.push_back(bar->addWidget(b));
    pageButtonActions_.resize(4); // the first four: the page buttons
    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    bar->addWidget(Helpbutton);
    bar->addWidget(CloseButton);
    layout->addWidget(bar);
    layout->addWidget(pages, 1);
    statusLine_ = new QLabel;
    statusLine_->setObjectName("StatusBar");
    statusLine_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusLine_->setContentsMargins(4, 1, 4, 1);
    layout->addWidget(statusLine_);

    connect(FirstButton, &QPushButton::clicked, this, [this] { FirstButtonClick(); });
    connect(PrevButton, &QPushButton::clicked, this, [this] { PrevButtonClick(); });
    connect(NextButton, &QPushButton::clicked, this, [this] { NextButtonClick(); });
    connect(LastButton, &QPushButton::clicked, this, [this] { LastButtonClick(); });
    connect(ZoomInButton, &QPushButton::clicked, this, [this] { ZoomInButtonClick(); });
    connect(ZoomOutButton, &QPushButton::clicked, this, [this] { ZoomOutButtonClick(); });
    connect(Printbutton, &QPushButton::clicked, this, [this] { PrintbuttonClick(1); });
    connect(PrintSinglePageButton, &QPushButton::clicked, this, [this] { PrintbuttonClick(2); });
    connect(PrinterSetupButton, &QPushButton::clicked, this, [this] { PrinterSetupButtonClick(); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(kViewerHelpContext); });
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);

    resize(760, 560);
    try {
        foundation::LoadFormPlacement(*this);
    } catch (...) {
    }
}

QString TViewerFormBase::StatusText() const { return statusLine_ ? statusLine_->text() : QString(); }

void TViewerFormBase::SetStatus(const QString& text)
{
    if (statusLine_)
        statusLine_->setText(text);
}

QString TViewerFormBase::PageStatus(int page, int pages) const
{
    if (Title.empty())
        return QString::asprintf("Page %d of %d", page, pages);
    return QString::asprintf("%s: Page %d of %d", Title.c_str(), page, pages);
}

void TViewerFormBase::ShowPageButtons(bool visible)
{
    // In a tool bar a widget shows and hides through its action.
    for (QAction* action : pageButtonActions_)
        action->setVisible(visible);
}

void TViewerFormBase::DisablePrintingWithoutPrinters(bool alsoSinglePage)
{
    if (!foundation::PrinterNames().empty())
        return;
    Printbutton->setEnabled(false);
    PrinterSetupButton->setEnabled(false);
    if (alsoSinglePage)
        PrintSinglePageButton->setEnabled(false);
}

void TViewerFormBase::CheckZoomItem(int value)
{
    for (QAction* item : {N25PercentItem, N50PercentItem, N75PercentItem, N100PercentItem})
        item->setChecked(false);
    switch (value) {
    case 25: N25PercentItem->setChecked(true); break;
    case 50: N50PercentItem->setChecked(true); break;
    case 75: N75PercentItem->setChecked(true); break;
    case 100: N100PercentItem->setChecked(true); break;
    default: break;
    }
}

void TViewerFormBase::SetZoomValue(int value)
{
    ApplyZoom(value);
    CheckZoomItem(value);
}

void TViewerFormBase::ZoomInButtonClick()
{
    if (zoom_ >= 100) {
        QApplication::beep();
        return;
    }
    SetZoomValue(std::min(100, (zoom_ / 25 + 1) * 25));
}

void TViewerFormBase::ZoomOutButtonClick()
{
    if (zoom_ <= 25) {
        QApplication::beep();
        return;
    }
    SetZoomValue(std::max(25, ((zoom_ + 24) / 25 - 1) * 25));
}

void TViewerFormBase::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (activated_)
        return;
    activated_ = true;
    FormActivate();
}

void TViewerFormBase::done(int result)
{
    try {
        foundation::SaveFormPlacement(*this);
    } catch (...) {
    }
    QDialog::done(result);
}

void TViewerFormBase::InitPrintRange()
{
    printer_.SetFileName(FileName);
    if (!printRangeInitialised_ || printRangeFile_ != FileName) {
        printRangeInitialised_ = true;
        printRangeFile_ = FileName;
        printer_.SetFirstPage(1);
        printer_.SetLastPage(static_cast<unsigned>(PageCount()));
    }
}

void TViewerFormBase::PrintbuttonClick(int tag)
{
    if (!foundation::SelectUsablePrinter(true) || foundation::TrimBlanks(FileName).empty())
        return;
    try {
        InitPrintRange();
    } catch (...) {
        return;
    }
    TPrintRequest request;
    request.headerText = HeaderText;
    request.pageCount = PageCount();
    request.singlePage = tag == 2;
    request.currentPage = CurrentPageNo();
    request.firstPage = static_cast<int>(printer_.FirstPage());
    request.lastPage = static_cast<int>(printer_.LastPage());
    if (PrintWithDialog(printer_, request) && request.singlePage) {
        printer_.SetFirstPage(1);
        printer_.SetLastPage(static_cast<unsigned>(request.pageCount));
    }
}

void TViewerFormBase::PrinterSetupButtonClick()
{
    if (!foundation::SelectUsablePrinter(true) || foundation::TrimBlanks(FileName).empty())
        return;
    try {
        InitPrintRange();
        printer_.PrintSetup(this);
    } catch (...) {
    }
}

void TViewerFormBase::ExportClick(const QString& caption)
{
    std::string kind;
    for (const char* k : {"BMP", "PCX", "TIF", "DCX"})
        if (caption.contains(QLatin1String(k))) {
            kind = k;
            break;
        }
    if (kind.empty() || FileName.empty())
        return;
    QFileDialog dialog(this, "Export");
    dialog.setObjectName("ExportDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromStdString(kind + " File (*." + kind + ")"));
    dialog.selectFile(QString::fromStdString("*." + kind));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string outName = dialog.selectedFiles().front().toStdString();
    if (outName.empty() || outName.find('*') != std::string::npos)
        return;
    try {
        faxdoc::TFxFaxUnpacker unpacker;
        unpacker.SetInFileName(FileName);
        unpacker.SetOutFileName(outName);
        SetSquarePixels(unpacker, unpacker.GetFaxResolution());
        const unsigned page = static_cast<unsigned>(CurrentPageNo());
        if (kind == "BMP") {
            const faxdoc::TMonoBitmap bitmap = unpacker.UnpackPageToBitmap(page);
            comms::CheckErrorCode(&unpacker, faxdoc::WriteFileData(outName, faxdoc::EncodeBmp(bitmap)));
        } else if (kind == "PCX") {
            unpacker.UnpackPageToPcx(page);
        } else if (kind == "TIF") {
            unpacker.UnpackPageToTiff(page);
        } else {
            unpacker.UnpackPageToDcx(page);
        }
    } catch (const std::exception& e) {
        foundation::ShowMessageBox(std::string("Export failed: ") + e.what(), "Error", 16);
    }
}

} // namespace zn::app
