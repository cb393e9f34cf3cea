// Result codes of the document engines: 0 success, negative failure (the library's codes).
#pragma once

#include "comms/base/error_codes.h"

namespace zn::faxdoc {

using comms::ecBadArgument;
using comms::ecBadGraphicsFormat;
using comms::ecCantMakeBitmap;
using comms::ecConvertAbort;
using comms::ecDeviceRead;
using comms::ecEnhFontTooBig;
using comms::ecFaxBadFormat;
using comms::ecFileNotFound;
using comms::ecFontFileNotFound;
using comms::ecGotQuitMsg;
using comms::ecOK;
using comms::ecOutOfMemory;
using comms::ecPageTooLong;
using comms::ecPageTooTallForFormat;
using comms::ecPictureTooLarge;
using comms::ecTooManyPages;

// The negated I/O code of an errno value.
int IoErrorCode(int err);

} // namespace zn::faxdoc
