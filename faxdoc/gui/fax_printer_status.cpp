#include "faxdoc/gui/fax_printer_status.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace zn::faxdoc {

namespace {

QLabel* AddRow(QGridLayout* grid, int row, const char* caption, const char* valueName)
{
    grid->addWidget(new QLabel(QString::fromLatin1(caption)), row, 0);
    auto* value = new QLabel;
    value->setObjectName(QString::fromLatin1(valueName));
    grid->addWidget(value, row, 1);
    return value;
}

} // namespace

TStandardFaxPrinterStatusDisplay::TStandardFaxPrinterStatusDisplay(QWidget* parent) : QDialog(parent)
{
    setObjectName("StandardFaxPrinterStatusDisplay");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    auto* info = new QGroupBox("Fax Information");
    auto* grid = new QGridLayout(info);
    fpsFileName_ = AddRow(grid, 0, "Filename", "fpsFileName");
    fpsTotalPages_ = AddRow(grid, 1, "Total Pages", "fpsTotalPages");
    fpsResolution_ = AddRow(grid, 2, "Resolution", "fpsResolution");
    fpsWidth_ = AddRow(grid, 3, "Width", "fpsWidth");
    fpsFirstPage_ = AddRow(grid, 4, "First Page to Print", "fpsFirstPage");
    fpsLastPage_ = AddRow(grid, 5, "Last Page to Print", "fpsLastPage");
    layout->addWidget(info);
    auto* status = new QGroupBox("Status");
    auto* statusLayout = new QVBoxLayout(status);
    fpsStatusLine_ = new QLabel;
    fpsStatusLine_->setObjectName("fpsStatusLine");
    statusLayout->addWidget(fpsStatusLine_);
    layout->addWidget(status);
    fpsAbortButton_ = new QPushButton("Abort");
    fpsAbortButton_->setObjectName("fpsAbortButton");
    layout->addWidget(fpsAbortButton_, 0, Qt::AlignHCenter);
    connect(fpsAbortButton_, &QPushButton::clicked, this, [this] { fpsAbortButtonClick(); });
    resize(267, 225);
}

void TStandardFaxPrinterStatusDisplay::UpdateValues()
{
    if (!printer_)
        return;
    fpsFileName_->setText(QFileInfo(QString::fromStdString(printer_->FileName())).fileName().toUpper());
    fpsTotalPages_->setText(QString::number(printer_->TotalPages()));
    fpsResolution_->setText(printer_->FaxResolution() ? "high" : "standard");
    fpsWidth_->setText(printer_->FaxWidth() ? "2048" : "1728");
    fpsFirstPage_->setText(QString::number(printer_->FirstPage()));
    fpsLastPage_->setText(QString::number(printer_->LastPage()));
    fpsStatusLine_->setText(QString::asprintf("%s %u of %u", PrintProgressWord(printer_->LastStatus()),
                                              printer_->CurrentPage(), printer_->LastPage()));
}

void TStandardFaxPrinterStatusDisplay::fpsAbortButtonClick()
{
    if (printer_)
        printer_->AbortPrint();
}

TFxFaxPrinterStatus::TFxFaxPrinterStatus(QWidget* parent) : parent_(parent) { CreateDisplay(); }

TFxFaxPrinterStatus::~TFxFaxPrinterStatus() { DestroyDisplay(); }

void TFxFaxPrinterStatus::CreateDisplay()
{
    display_ = std::make_unique<TStandardFaxPrinterStatusDisplay>(parent_);
    display_->setWindowTitle(QString::fromStdString(Caption));
}

void TFxFaxPrinterStatus::DestroyDisplay() { display_.reset(); }

bool TFxFaxPrinterStatus::DisplayVisible() const { return display_ && display_->isVisible(); }

void TFxFaxPrinterStatus::UpdateDisplay(bool first, bool last)
{
    if (!display_)
        return;
    if (first) {
        display_->SetFaxPrinter(FaxPrinter());
        display_->setWindowTitle(QString::fromStdString(Caption));
        display_->UpdateValues();
        if (QScreen* screen = QGuiApplication::primaryScreen())
            display_->move(screen->availableGeometry().center() - display_->rect().center());
        display_->show();
    } else if (last) {
        display_->hide();
    } else {
        display_->UpdateValues();
    }
}

} // namespace zn::faxdoc
