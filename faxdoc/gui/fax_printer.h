// TFxFaxPrinter: prints the pages of a fax file, one or several to a sheet, with a header and a
// footer line on each page, reporting progress to events, to a status window and to a print log.
//
// The job goes to a page target (page_target.h): by default the toolkit's printer object
// (Printer(): a CUPS queue, or a PDF file when an output file name is set on it). Printing blocks
// the caller but processes pending events between steps, so the status window's Abort button
// works; callers must expect re-entry.
#pragma once

#include "comms/base/fx_misc.h"
#include "faxdoc/fax_unpacker.h"
#include "faxdoc/gui/page_target.h"
#include "faxdoc/print_log.h"

#include <QFont>

#include <functional>
#include <memory>
#include <string>

class QPrinter;
class QPrintDialog;
class QWidget;

namespace zn::faxdoc {

class TFxCustomFaxPrinter;

enum TFaxPrintScale { psNone, psFitToPage };
// The status codes and their words on the status window.
enum TFaxPrintProgress { ppIdle = 0, ppComposing = 1, ppRendering = 2, ppSubmitting = 3, ppConverting = 4 };
const char* PrintProgressWord(int code);

class TFxFaxPrinterMargin {
public:
    TFxFaxPrinterMargin();
    std::string Caption;
    bool Enabled = false;
    const QFont& Font() const { return font_; }
    void SetFont(const QFont& font) { font_ = font; }
    int FontHeight() const { return fontHeight_; }
    void SetFontHeight(int h) { fontHeight_ = h; }

private:
    QFont font_;
    int fontHeight_ = 0;
};

class TFxFaxPrinterLog {
public:
    std::string LogFileName = "FAXPRINT.LOG";
    TFxCustomFaxPrinter* FaxPrinter() const { return printer_; }
    void SetFaxPrinter(TFxCustomFaxPrinter* printer) { printer_ = printer; }
    // Appends the entry for `code`; raises the library's I/O exception when the log cannot be written.
    virtual void UpdateLog(TFaxPLCode code);
    virtual ~TFxFaxPrinterLog() = default;

private:
    TFxCustomFaxPrinter* printer_ = nullptr;
};

// A status window for the printer. Derived classes make the window in their constructor
// (CreateDisplay) and drop it in their destructor (DestroyDisplay).
class TFxAbstractFaxPrinterStatus {
public:
    virtual ~TFxAbstractFaxPrinterStatus() = default;
    std::string Caption = "Print Status";
    TFxCustomFaxPrinter* FaxPrinter() const { return printer_; }
    void SetFaxPrinter(TFxCustomFaxPrinter* printer) { printer_ = printer; }

    // first: a job starts (show the window); last: it ended (hide it); neither: show the values.
    virtual void UpdateDisplay(bool first, bool last) = 0;
    virtual void CreateDisplay() = 0;
    virtual void DestroyDisplay() = 0;
    virtual bool DisplayVisible() const = 0;

private:
    TFxCustomFaxPrinter* printer_ = nullptr;
};

class TFxCustomFaxPrinter : public comms::TFxBaseComponent {
public:
    using TFaxPrnNextPageEvent = std::function<void(TFxCustomFaxPrinter&, unsigned current, unsigned total)>;
    using TFaxPLEvent = std::function<void(TFxCustomFaxPrinter&, TFaxPLCode)>;
    using TFaxPrintStatusEvent = std::function<void(TFxCustomFaxPrinter&, int statusCode)>;

    TFxCustomFaxPrinter();
    ~TFxCustomFaxPrinter() override;
    TFxCustomFaxPrinter(const TFxCustomFaxPrinter&) = delete;
    TFxCustomFaxPrinter& operator=(const TFxCustomFaxPrinter&) = delete;

    const std::string& FileName() const { return fileName_; }
    // Reads the file's page count and page 1's resolution and width, and offers all its pages.
    void SetFileName(const std::string& name);
    // The print job's title.
    std::string Caption() const;
    void SetCaption(const std::string& caption);

    TFxFaxPrinterMargin& FaxHeader() { return header_; }
    TFxFaxPrinterMargin& FaxFooter() { return footer_; }
    bool MultiPage = false;
    TFaxPrintScale PrintScale = psFitToPage;

    TFxAbstractFaxPrinterStatus* StatusDisplay() const { return status_; }
    void SetStatusDisplay(TFxAbstractFaxPrinterStatus* status);
    TFxFaxPrinterLog* FaxPrinterLog() const { return log_; }
    void SetFaxPrinterLog(TFxFaxPrinterLog* log);

    TFaxPrnNextPageEvent OnNextPage;
    TFaxPLEvent OnFaxPrintLog;
    TFaxPrintStatusEvent OnFaxPrintStatus;

    int TotalPages() const { return totalPages_; }
    unsigned CurrentPage() const { return currentPage_; }
    unsigned FirstPage() const { return firstPage_; }
    void SetFirstPage(unsigned page) { firstPage_ = page; }
    unsigned LastPage() const { return lastPage_; }
    void SetLastPage(unsigned page) { lastPage_ = page; }
    bool FaxResolution() const { return faxResolution_; } // page 1 in high resolution
    bool FaxWidth() const { return faxWidth_; }           // page 1 of 2048 pixels
    int LastStatus() const { return lastStatus_; }

    // The toolkit's printer: choose the queue (setPrinterName) or a PDF file (setOutputFileName).
    QPrinter& Printer();
    TFxFaxUnpacker& Unpacker() { return unpacker_; }
    // Where the sheets go; null: Printer(). The target must outlive the print.
    void SetPageTarget(TPageTarget* target) { target_ = target; }
    TPageTarget& PageTarget();

    // Shows the print dialog; on OK the dialog's page range becomes FirstPage..LastPage.
    bool PrintSetup(QWidget* parent = nullptr);
    // Prints FirstPage..LastPage. An unpacking failure ends the job as failed (logged, status reset,
    // window hidden) and raises the library's exception; so does a device that cannot start or finish
    // the job.
    void PrintFax();
    // The status window's Abort: drops the job being printed.
    void AbortPrint();

    std::string ReplaceMarginTags(const std::string& caption, unsigned page) const;
    virtual void PrintHeader(QPainter& canvas, unsigned page, TPrintRect& rect);
    virtual void PrintFooter(QPainter& canvas, unsigned page, TPrintRect& rect);

    void DoStatus(int code);
    void DoLog(TFaxPLCode code);

private:
    void PrintPages(TPageTarget& target);
    void EndJob(TPageTarget& target, bool failed);
    QFont MarginFont(const TFxFaxPrinterMargin& margin, QPainter& canvas) const;

    std::string fileName_;
    std::string caption_;
    TFxFaxPrinterMargin header_, footer_;
    TFxAbstractFaxPrinterStatus* status_ = nullptr;
    TFxFaxPrinterLog* log_ = nullptr;
    int totalPages_ = 0;
    unsigned currentPage_ = 0;
    unsigned firstPage_ = 0, lastPage_ = 0;
    bool faxResolution_ = false, faxWidth_ = false;
    int lastStatus_ = 0;
    bool aborted_ = false;
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<TPrinterPageTarget> printerTarget_;
    TPageTarget* target_ = nullptr;
    TFxFaxUnpacker unpacker_;
};

class TFxFaxPrinter : public TFxCustomFaxPrinter {};

} // namespace zn::faxdoc
