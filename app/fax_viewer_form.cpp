#include "app/fax_viewer_form.h"

#include "foundation/dialogs.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

namespace zn::app {

namespace {

// Starts other than every zoom value, so that the first one chosen always applies.
constexpr int kUnsetZoom = 66;

} // namespace

TFaxViewer::TFaxViewer(const std::string& fileName, const std::string& title, const std::string& headerText,
                       QWidget* parent)
    : TViewerFormBase(fileName, title, headerText, kUnsetZoom, parent)
{
    setObjectName("FaxViewer");
    setWindowTitle("Fax Viewer ");
    FaxViewer = new faxdoc::TFxFaxViewer;
    FaxViewer->setObjectName("FaxViewer1");
    FaxViewer->OnPageChange = [this](faxdoc::TFxCustomFaxViewer&) { ShowPageStatus(); };
    FaxViewer->OnViewerError = [this](faxdoc::TFxCustomFaxViewer&, int code) {
        foundation::ShowMessageBox(QString::asprintf("Viewer error %d", code).toStdString(), "Error", 16);
        // A page that fails to decode leaves the viewer empty; the status line says so.
        ShowPageStatus();
    };

    auto* rotation = new QMenu("&Rotation", this);
    rotation->setObjectName("RotationMenu");
    const char* captions[] = {"No rotation", "Rotate 90 degrees", "Rotate 180 degrees", "Rotate 270 degrees"};
    const char* names[] = {"NoRotateItem", "Rotate90Item", "Rotate180Item", "Rotate270Item"};
    QAction** items[] = {&NoRotateItem, &Rotate90Item, &Rotate180Item, &Rotate270Item};
    for (int r = 0; r < 4; ++r) {
        QAction* item = rotation->addAction(captions[r]);
        item->setObjectName(names[r]);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, r] { SetRotation(r); });
        *items[r] = item;
    }
    BuildForm(FaxViewer, {"BMP", "PCX", "TIF", "DCX"}, "View using Alternate Fax Viewer", rotation);
}

void TFaxViewer::FormActivate()
{
    for (QAction* item : {NoRotateItem, Rotate90Item, Rotate180Item, Rotate270Item})
        item->setChecked(false);
    DisablePrintingWithoutPrinters(false);
    SetFaxFile();
    QApplication::restoreOverrideCursor();
}

void TFaxViewer::SetFaxFile()
{
    try {
        FaxViewer->BeginUpdate();
        FaxViewer->SetFileName(FileName);
        const int width = FaxViewer->Window().viewport()->width();
        const int pageWidth = FaxViewer->PageWidth();
        int zoom = 50;
        if (width < pageWidth) {
            const int r = static_cast<int>(static_cast<double>(width) / pageWidth * 150);
            zoom = r > 36 ? 50 : 25;
        }
        SetZoomValue(zoom); // also resumes repainting
        ShowPageStatus();
    } catch (...) {
        try {
            FaxViewer->SetFileName("");
        } catch (...) {
        }
        FaxViewer->EndUpdate();
        foundation::ShowMessageBox("Error opening fax file", "Error", 16);
        SetStatus("No file loaded");
    }
    ShowPageButtons(FaxViewer->NumPages() > 1);
}

void TFaxViewer::ShowPageStatus()
{
    if (FaxViewer->FileName().empty() || FaxViewer->NumPages() == 0)
        SetStatus("No file loaded");
    else
        SetStatus(PageStatus(FaxViewer->CurrentPage(), FaxViewer->NumPages()));
}

void TFaxViewer::ApplyZoom(int value)
{
    if (value == zoom_)
        return;
    zoom_ = value;
    if (value == 100) {
        FaxViewer->SetScaling(false);
        FaxViewer->EndUpdate();
        return;
    }
    FaxViewer->BeginUpdate();
    FaxViewer->SetScaling(true);
    FaxViewer->SetHorizMult(static_cast<uint32_t>(value));
    FaxViewer->SetHorizDiv(100);
    FaxViewer->SetVertMult(static_cast<uint32_t>(value));
    FaxViewer->SetVertDiv(100);
    FaxViewer->EndUpdate();
}

void TFaxViewer::SetRotation(int rotation)
{
    try {
        FaxViewer->SetRotation(rotation);
    } catch (const std::exception& e) {
        foundation::ShowMessageBox(e.what(), "Error", 16);
    }
    QAction* items[] = {NoRotateItem, Rotate90Item, Rotate180Item, Rotate270Item};
    for (int r = 0; r < 4; ++r)
        items[r]->setChecked(r == FaxViewer->Rotation());
}

} // namespace zn::app
