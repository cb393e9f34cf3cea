// What the two fax viewer windows share: the page and zoom buttons, the zoom and export menus,
// the status line, printing through the fax printer (with TPrePrintForm) and exporting the current
// page as BMP, PCX, TIF or DCX. Each window shows the pages its own way.
#pragma once

#include "faxdoc/fax_unpacker.h"
#include "faxdoc/gui/fax_printer.h"
#include "faxdoc/gui/fax_printer_status.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QVBoxLayout;

namespace zn::app {

class TViewerFormBase : public QDialog {
public:
    // Set by the caller before the window is shown.
    std::string FileName;
    std::string Title;      // may be empty
    std::string HeaderText; // printed at the top of each page

    int Zoom() const { return zoom_; }
    faxdoc::TFxFaxPrinter& FaxPrinter() { return printer_; }
    faxdoc::TFxFaxPrinterStatus& PrinterStatus() { return *status_; }
    // True after the user chose the other viewer from the menu.
    bool SwitchViewer() const { return switchViewer_; }
    QString StatusText() const;

    QPushButton* FirstButton;
    QPushButton* PrevButton;
    QPushButton* NextButton;
    QPushButton* LastButton;
    QPushButton* ZoomInButton;
    QPushButton* ZoomOutButton;
    QPushButton* Printbutton;
    QPushButton* PrintSinglePageButton;
    QPushButton* PrinterSetupButton;
    QPushButton* CloseButton;
    QPushButton* Helpbutton;
    QAction* N25PercentItem;
    QAction* N50PercentItem;
    QAction* N75PercentItem;
    QAction* N100PercentItem;

protected:
    TViewerFormBase(const std::string& fileName, const std::string& title, const std::string& headerText,
                    int initialZoom, QWidget* parent);
    // Lays out menus, buttons, `pages` and the status line; `kinds` are the export formats offered.
    void BuildForm(QWidget* pages, const std::vector<std::string>& kinds, const char* switchCaption,
                   QMenu* extraMenu = nullptr);

    virtual int CurrentPageNo() const = 0;
    virtual int PageCount() const = 0;
    virtual void ApplyZoom(int value) = 0;
    virtual void FirstButtonClick() = 0;
    virtual void PrevButtonClick() = 0;
    virtual void NextButtonClick() = 0;
    virtual void LastButtonClick() = 0;
    virtual void FormActivate() = 0;

    void SetZoomValue(int value);
    void CheckZoomItem(int value);
    void SetStatus(const QString& text);
    void ShowPageButtons(bool visible);
    void DisablePrintingWithoutPrinters(bool alsoSinglePage);
    // "Page %d of %d" or "%s: Page %d of %d" with the title.
    QString PageStatus(int page, int pages) const;

    void showEvent(QShowEvent* event) override;
    void done(int result) override;

    int zoom_;

private:
    void ZoomInButtonClick();
    void ZoomOutButtonClick();
    void PrintbuttonClick(int tag);
    void PrinterSetupButtonClick();
    void ExportClick(const QString& caption);
    void InitPrintRange();

    bool activated_ = false;
    bool printRangeInitialised_ = false;
    std::string printRangeFile_;
    bool switchViewer_ = false;
    faxdoc::TFxFaxPrinter printer_;
    std::unique_ptr<faxdoc::TFxFaxPrinterStatus> status_;
    QLabel* statusLine_ = nullptr;
    std::vector<QAction*> pageButtonActions_;
};

// The unpacker of a page export or of a page shown by the alternate viewer: normal-resolution
// pages get their rows doubled once, so that they come out at square pixels.
void SetSquarePixels(faxdoc::TFxFaxUnpacker& unpacker, bool highResolution);

} // namespace zn::app
