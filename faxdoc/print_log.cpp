#include "faxdoc/print_log.h"

#include "faxdoc/fax_errors.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace zn::faxdoc {

std::string PrintLogEntry(const std::string& faxFileName, TFaxPLCode code, const std::string& when)
{
    static const char* const kWords[] = {" started at ", " finished at ", " aborted at ", " failed at "};
    std::string line = "Printing " + faxFileName + kWords[code] + when;
    if (code != lcStart)
        line += "\r\n";
    return line + "\r\n";
}

int AppendPrintLog(const std::string& logFileName, const std::string& faxFileName, TFaxPLCode code,
                   const std::string& when)
{
    if (logFileName.empty())
        return ecOK;
    const std::string entry = PrintLogEntry(faxFileName, code, when);
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(logFileName.c_str(), "ab"), std::fclose);
    if (!f)
        return IoErrorCode(errno);
    if (std::fwrite(entry.data(), 1, entry.size(), f.get()) != entry.size() || std::fflush(f.get()) != 0)
        return IoErrorCode(errno ? errno : EIO);
    return ecOK;
}

} // namespace zn::faxdoc
