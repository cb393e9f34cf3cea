// The fax printer's log (FAXPRINT.LOG): one entry per print job event.
#pragma once

#include <string>

namespace zn::faxdoc {

enum TFaxPLCode { lcStart = 0, lcFinish = 1, lcAborted = 2, lcFailed = 3 };

// The entry: "Printing <file> started at <when>" and a line break; the other codes say "finished",
// "aborted" or "failed" and end with an empty line.
std::string PrintLogEntry(const std::string& faxFileName, TFaxPLCode code, const std::string& when);

// Appends the entry to `logFileName`, creating the file when it does not exist. Nothing when the
// name is empty. 0, or the negated I/O code.
int AppendPrintLog(const std::string& logFileName, const std::string& faxFileName, TFaxPLCode code,
                   const std::string& when);

} // namespace zn::faxdoc
