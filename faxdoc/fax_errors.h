// Result codes of the document engines: 0 success, negative failure.
#pragma once

namespace zn::faxdoc {

constexpr int kOk = 0;
constexpr int kErrFileNotFound = -2;
constexpr int kErrInsufficientMemory = -8;
constexpr int kErrDeviceRead = -161;
constexpr int kErrBadArgument = -1002;
constexpr int kErrGotQuit = -1003;
constexpr int kErrFaxBadFormat = -8001;          // "File is not an APF file"
constexpr int kErrBadGraphicsFormat = -8002;     // "Unsupported graphics file format"
constexpr int kErrConvertAbort = -8003;          // "User aborted fax conversion"
constexpr int kErrBitmapFailure = -8005;         // "CreateBitmapIndirect API failure"
constexpr int kErrFaxFontMissing = -8052;        // "APFAX.FNT not found, or resource bad"
constexpr int kErrEnhFontTooLarge = -8055;       // "Font selected for enhanced text converter too large"

// The negated I/O error code of an errno value.
int IoErrorCode(int err);

} // namespace zn::faxdoc
