#include "app/alt_fax_viewer_form.h"

#include "faxdoc/gui/mono_image.h"
#include "foundation/dialogs.h"
#include "foundation/program_folders.h"

#include <QApplication>
#include <QScrollArea>

namespace zn::app {

TAltFaxViewer::TAltFaxViewer(const std::string& fileName, const std::string& title, const std::string& headerText,
                             QWidget* parent)
    : TViewerFormBase(fileName, title, headerText, 50, parent)
{
    setObjectName("AltFaxViewer");
    setWindowTitle("Fax Viewer (alternate)");
    ScrollBox = new QScrollArea;
    ScrollBox->setObjectName("ScrollBox");
    ScrollBox->setBackgroundRole(QPalette::Dark);
    ZoomPanel = new foundation::gui::TGZoomPanel;
    ZoomPanel->setObjectName("ZoomPanel");
    ScrollBox->setWidget(ZoomPanel);
    ScrollBox->setWidgetResizable(false);
    BuildForm(ScrollBox, {"BMP", "PCX", "DCX"}, "View using Regular Fax Viewer");
}

void TAltFaxViewer::FormActivate()
{
    try {
        unpacker_.SetInFileName(FileName);
        currentPage_ = 1;
        pageCount_ = unpacker_.GetNumPages();
        ShowPageButtons(pageCount_ > 1);
        RenderPage();
    } catch (...) {
        pageCount_ = 0;
        ShowPageButtons(false);
        foundation::ShowMessageBox("Error opening fax file", "Error", 16);
        SetStatus("No file loaded");
    }
    QApplication::restoreOverrideCursor();
    DisablePrintingWithoutPrinters(true);
}

void TAltFaxViewer::RenderPage()
{
    ZoomPanel->setUpdatesEnabled(false);
    ZoomPanel->Zoom(1.0f);
    SetSquarePixels(unpacker_, unpacker_.GetFaxResolution());
    const faxdoc::TMonoBitmap bitmap = unpacker_.UnpackPageToBitmap(static_cast<unsigned>(currentPage_));
    ZoomPanel->resize(bitmap.width, bitmap.height);
    ZoomPanel->SetPicture(faxdoc::ToImage(bitmap));
    SetZoomValue(zoom_);
    ZoomPanel->setUpdatesEnabled(true);
    ZoomPanel->update();
}

void TAltFaxViewer::ApplyZoom(int value)
{
    zoom_ = value;
    ZoomPanel->Zoom(static_cast<float>(value) * 0.01f);
    const QString page = PageStatus(currentPage_, pageCount_);
    SetStatus(QString("%1, %2 percent").arg(page).arg(value * 2));
}

void TAltFaxViewer::GoToPage(int page)
{
    if (page == currentPage_ || page < 1 || page > pageCount_)
        return;
    currentPage_ = page;
    try {
        RenderPage();
    } catch (const std::exception& e) {
        foundation::ShowMessageBox(e.what(), "Error", 16);
    }
}

void TAltFaxViewer::FirstButtonClick() { GoToPage(1); }
void TAltFaxViewer::PrevButtonClick() { GoToPage(currentPage_ - 1); }
void TAltFaxViewer::NextButtonClick() { GoToPage(currentPage_ + 1); }
void TAltFaxViewer::LastButtonClick() { GoToPage(pageCount_); }

} // namespace zn::app
