#include "table_result.h"

#include <cstdio>

namespace zn::data {
namespace {
TableNoticeHook& NoticeHook()
{
    static TableNoticeHook hook;
    return hook;
}

std::string Message(int code, const std::string& detail)
{
    std::string text = DbiErrorText(code);
    return detail.empty() ? text : text + " (" + detail + ")";
}
} // namespace

std::string DbiErrorText(int code)
{
    if (code == DBIERR_OPENFAILED)
        return "File Open Error";
    return "IDAPI Error : " + std::to_string(code);
}

EDatabaseError::EDatabaseError(int code, const std::string& detail)
    : std::runtime_error(Message(code, detail)), code_(code)
{
}

void Check(int result, const std::string& detail)
{
    if (result != DBIERR_NONE)
        throw EDatabaseError(result, detail);
}

void SetTableNoticeHook(TableNoticeHook hook) { NoticeHook() = std::move(hook); }

void TableNotice(const std::string& text)
{
    if (NoticeHook())
        NoticeHook()(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace zn::data
