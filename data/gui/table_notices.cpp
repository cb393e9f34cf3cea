#include "table_notices.h"

#include <QCoreApplication>

#include "platform/message_box.h"
#include "table_result.h"

namespace zn::data {

void ShowTableNoticesInBoxes()
{
    SetTableNoticeHook([](const std::string& text) {
        platform::MessageBoxShow(text, QCoreApplication::applicationName().toStdString(),
                                 platform::MB_OK | platform::MB_ICONINFORMATION);
    });
}

} // namespace zn::data
