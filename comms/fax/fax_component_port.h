// The fax components' side of the port component: the fax line settings, the checked line a session
// runs on, and the component boundary's exceptions. Kept apart from the engine's headers.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "comms/engine/fax_port.h"

namespace zn::comms {

class TFxCustomComPort;

// 8 data bits, 1 stop bit, no parity, 19200 baud, queues of 8192 bytes, RTS/CTS flow control;
// nothing while the port is being loaded from its form.
void ApplyFaxLineSettings(TFxCustomComPort& port);

// The line a fax session runs on: the port's dispatcher, with every handler call counted, so that
// the component can wait until the dispatch thread has left its session before freeing it.
class FaxSessionLine {
public:
    FaxSessionLine();
    ~FaxSessionLine();
    // Checks the port (-1005 none, -1009 WinSock, -3006 OutSize below 8192, -2007 not open) and
    // ties the line to its dispatcher; raises the code's exception.
    FaxPort& Attach(TFxCustomComPort* port);
    // Waits until no handler call is in progress.
    void WaitIdle();

private:
    class Guarded;
    std::unique_ptr<Guarded> guarded_;
};

uint32_t PortBaud(const TFxCustomComPort& port);
// Calls watch before the port closes, while its dispatcher is there (TFxCustomComPort::WatchClose).
void WatchPortClose(TFxCustomComPort& port, const std::shared_ptr<std::function<void()>>& watch);
bool PortIsOpen(const TFxCustomComPort& port);

struct ComPortDeleter {
    void operator()(TFxCustomComPort* port) const;
};
using ComPortPtr = std::unique_ptr<TFxCustomComPort, ComPortDeleter>;
// A port component on COMn that never prompts and opens on first use: what a fax component needs
// where no form provides one (the command-line tool, tests).
ComPortPtr MakeFaxComPort(int comNumber);

// Raises the exception of code (CheckErrorCode) when it is negative.
void RaiseFaxComponentError(int code);
// The error-string text of code.
std::string FaxErrorText(int code);
// The file error of errno as EInOutError.
[[noreturn]] void RaiseFileError(int err);

} // namespace zn::comms
