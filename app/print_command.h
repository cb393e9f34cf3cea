// Printing a fax file after asking for the range and options in TPrePrintForm: shared by the viewer
// windows and the main window's Print command.
#pragma once

#include "faxdoc/gui/fax_printer.h"

#include <string>

namespace zn::app {

struct TPrintRequest {
    std::string headerText; // printed at the top of each page when the header is on
    int pageCount = 0;
    bool singlePage = false; // the range is fixed to currentPage and multi-page is off
    int currentPage = 1;
    int firstPage = 1; // the range offered otherwise
    int lastPage = 1;
};

// Shows the print dialog for the printer's file (the printer's FileName must be set), keeps the
// options in [Printing] whatever the answer, and on OK prints through `printer` onto the current
// printer. Print failures end the job as failed (the printer's log and status window say so) and
// are not raised. False when the dialog was cancelled.
bool PrintWithDialog(faxdoc::TFxFaxPrinter& printer, const TPrintRequest& request);

// The main window's Print command for a prepared fax file: with a usable printer (asking the user
// when needed), all pages offered, then PrintWithDialog. False when nothing was printed.
bool PrintFaxFile(faxdoc::TFxFaxPrinter& printer, const std::string& fileName, const std::string& headerText);

} // namespace zn::app
