// The standard status window of the fax printer: the file's facts, the page being printed and an
// Abort button.
#pragma once

#include "faxdoc/gui/fax_printer.h"

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;

namespace zn::faxdoc {

class TStandardFaxPrinterStatusDisplay : public QDialog {
public:
    explicit TStandardFaxPrinterStatusDisplay(QWidget* parent = nullptr);
    void SetFaxPrinter(TFxCustomFaxPrinter* printer) { printer_ = printer; }
    TFxCustomFaxPrinter* FaxPrinter() const { return printer_; }
    void UpdateValues();

private:
    void fpsAbortButtonClick();

    TFxCustomFaxPrinter* printer_ = nullptr;
    QLabel* fpsFileName_;
    QLabel* fpsTotalPages_;
    QLabel* fpsResolution_;
    QLabel* fpsWidth_;
    QLabel* fpsFirstPage_;
    QLabel* fpsLastPage_;
    QLabel* fpsStatusLine_;
    QPushButton* fpsAbortButton_;
};

class TFxFaxPrinterStatus : public TFxAbstractFaxPrinterStatus {
public:
    explicit TFxFaxPrinterStatus(QWidget* parent = nullptr);
    ~TFxFaxPrinterStatus() override;
    void UpdateDisplay(bool first, bool last) override;
    void CreateDisplay() override;
    void DestroyDisplay() override;
    bool DisplayVisible() const override;
    TStandardFaxPrinterStatusDisplay* Display() const { return display_.get(); }

private:
    QWidget* parent_;
    std::unique_ptr<TStandardFaxPrinterStatusDisplay> display_;
};

} // namespace zn::faxdoc
