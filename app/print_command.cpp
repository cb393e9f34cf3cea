#include "app/print_command.h"

#include "app/pre_print_form.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/printer_choice.h"
#include "foundation/settings.h"

#include <QCheckBox>
#include <QPrinter>
#include <QSpinBox>

namespace zn::app {

bool PrintWithDialog(faxdoc::TFxFaxPrinter& printer, const TPrintRequest& request)
{
    foundation::PrintOptions& options = foundation::PrintSettings();
    try {
        foundation::LoadPrintSettings();
    } catch (...) {
    }
    const std::string printerName = foundation::CurrentPrinterName();
    if (!printerName.empty())
        printer.Printer().setPrinterName(QString::fromStdString(printerName));

    TPrePrintForm form;
    if (request.singlePage) {
        form.FromPage->setValue(request.currentPage);
        form.ToPage->setValue(request.currentPage);
        form.FromPage->setEnabled(false);
        form.ToPage->setEnabled(false);
        form.PrintMultiPage->setEnabled(false);
    } else {
        form.FromPage->setMaximum(std::max(1, request.pageCount));
        form.ToPage->setMaximum(std::max(1, request.pageCount));
        form.FromPage->setValue(request.firstPage);
        form.ToPage->setValue(request.lastPage);
        form.PrintMultiPage->setEnabled(true);
    }
    form.PrintHeader->setEnabled(true);
    form.PrintFooter->setEnabled(true);
    form.PrintMultiPage->setChecked(options.MultiPage);
    form.PrintHeader->setChecked(options.Header);
    form.PrintFooter->setChecked(options.Footer);
    form.StretchToFit->setChecked(options.Stretch);
    foundation::CenterForm(form);
    const bool ok = form.exec() == QDialog::Accepted;

    int from = request.currentPage, to = request.currentPage;
    if (!request.singlePage) {
        from = form.FromPage->value();
        to = form.ToPage->value();
        options.MultiPage = form.PrintMultiPage->isChecked();
    }
    options.Header = form.PrintHeader->isChecked();
    options.Footer = form.PrintFooter->isChecked();
    options.Stretch = form.StretchToFit->isChecked();
    try {
        foundation::SavePrintSettings();
    } catch (...) {
    }
    if (!ok)
        return false;
    printer.SetFirstPage(static_cast<unsigned>(from));
    printer.SetLastPage(static_cast<unsigned>(to));
    printer.PrintScale = options.Stretch ? faxdoc::psFitToPage : faxdoc::psNone;
    printer.MultiPage = request.singlePage ? false : options.MultiPage;
    printer.FaxHeader().Enabled = options.Header;
    printer.FaxHeader().Caption = options.Header ? request.headerText : "";
    printer.FaxFooter().Enabled = options.Footer;
    printer.FaxFooter().Caption = options.Footer ? "Page: $P of $N" : "";
    try {
        printer.PrintFax();
    } catch (const std::exception& e) {
        foundation::ShowMessageBox(e.what(), "Error", 16);
        return false;
    }
    return true;
}

bool PrintFaxFile(faxdoc::TFxFaxPrinter& printer, const std::string& fileName, const std::string& headerText)
{
    if (!foundation::SelectUsablePrinter(true))
        return false;
    try {
        printer.SetFileName(fileName);
    } catch (const std::exception&) {
        // A damaged or unreadable file: said as the viewers say it, not left without a word.
        foundation::ShowMessageBox("Error opening fax file", "Error", 16);
        return false;
    }
    printer.SetFirstPage(1);
    printer.SetLastPage(static_cast<unsigned>(printer.TotalPages()));
    TPrintRequest request;
    request.headerText = headerText;
    request.pageCount = printer.TotalPages();
    request.firstPage = 1;
    request.lastPage = printer.TotalPages();
    return PrintWithDialog(printer, request);
}

} // namespace zn::app
