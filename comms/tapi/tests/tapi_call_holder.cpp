// A program that places a passthrough call on the first line device and holds it until it is
// killed: what a program that dies mid-call leaves behind. Prints "held" (or "refused") once the
// call is placed.
#include "comms/tapi/serial_line_provider.h"
#include "comms/tapi/tapi_binding.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>

using namespace zn::comms::tapi;

int main(int argc, char** argv)
{
    QCoreApplication qt(argc, argv);
    SerialLineProvider provider;
    SetLineProvider(&provider);
    HLineApp app = 0;
    uint32_t count = 0;
    HLine line = 0;
    HCall call = 0;
    LINECALLPARAMS params = PassthroughCallParams();
    bool held = lineInitialize(&app, nullptr, nullptr, "zn", &count) == 0 && count > 0
                && lineOpen(app, 0, &line, ApiVersion14, 0, 1, PrivilegeNone, MediaModeDataModem, nullptr) == 0
                && lineMakeCall(line, &call, "", 0, &params) > 0;
    std::printf(held ? "held\n" : "refused\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
