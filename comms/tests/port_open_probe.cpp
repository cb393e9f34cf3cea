// Opens a serial port as zn opens its modem (COM3, mapped to the device given) and closes it again:
// for tests that open a port as another user. Prints "open", or "error CODE: TEXT" when the port
// layer refused it; exit status 0 only when it opened.
#include "comms/base/exceptions.h"
#include "comms/port/com_port.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: port_open_probe DEVICE\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    ::setenv("ZN_COM3", argv[1], 1);
    zn::comms::TFxComPort port;
    port.SetComNumber(3);
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    try {
        port.SetOpen(true);
    } catch (const std::exception& e) {
        std::printf("error %d: %s\n", zn::comms::ExceptionToErrorCode(e), e.what());
        return 1;
    }
    std::printf("open\n");
    port.SetOpen(false);
    return 0;
}
