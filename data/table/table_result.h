// Result codes of the table layer and their texts. 0 is success; the table classes turn any other
// code into an EDatabaseError whose message is the code's text.
#pragma once
#include <functional>
#include <stdexcept>
#include <string>

namespace zn::data {

enum DbiResult : int {
    DBIERR_NONE = 0,
    DBIERR_UNUSABLE = 99,      // the engine cannot be used
    DBIERR_BOF = 8705,         // at the beginning
    DBIERR_EOF = 8706,         // at the end
    DBIERR_RECDELETED = 8709,  // the record no longer qualifies (filter, deleted)
    DBIERR_RECNOTFOUND = 8710, // key not found
    DBIERR_NOSUCHTABLE = 8712,
    DBIERR_INVALIDHNDL = 9990,   // the handle names no open work area
    DBIERR_FLDLIMIT = 10019,     // value too wide for its field
    DBIERR_LOCKED = 10245,       // record lock refused
    DBIERR_NOASSOCINDEX = 10757, // no active index order
    DBIERR_NOCURRREC = 10764,    // seek without an index order
    DBIERR_OPENFAILED = 11011,   // "File Open Error"
    DBIERR_NOTSUPPORTED = 12289,
};

// "File Open Error" for 11011, else "IDAPI Error : " and the code in decimal.
std::string DbiErrorText(int code);

class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(int code, const std::string& detail = std::string());
    int Code() const { return code_; }

private:
    int code_;
};

// Throws EDatabaseError for a non-zero result.
void Check(int result, const std::string& detail = std::string());

// Information boxes of the layer ("Invalid Field Type C"). The GUI library routes them to a message
// box; without a hook they go to stderr. Tests set their own to read them.
using TableNoticeHook = std::function<void(const std::string& text)>;
void SetTableNoticeHook(TableNoticeHook hook);
void TableNotice(const std::string& text);

} // namespace zn::data
