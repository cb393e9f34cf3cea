// send and receive: the fax components driven without a window. Status, log and error events are
// printed as they come; the last line is the result code and its text. Exit 0 only when every fax
// went through.
#include "tools/znfax/commands.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

#include "comms/fax/fax_component_port.h"
#include "comms/fax/fax_components.h"
#include "comms/port/port_names.h"
#include "platform/date_format.h"
#include "platform/termination_signals.h"

namespace zn::tools {

using namespace zn::comms;

namespace {

struct TLineOptions {
    std::map<std::string, std::string> values;
    std::vector<std::string> operands;
    std::string error;
};

TLineOptions ParseLine(const TArgs& args, const std::vector<std::string>& valued)
{
    TLineOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            o.operands.push_back(a);
            continue;
        }
        if (std::find(valued.begin(), valued.end(), a) == valued.end() || i + 1 >= args.size()) {
            o.error = "unknown option or missing value: " + a;
            return o;
        }
        o.values[a] = args[++i];
    }
    return o;
}

// "COM3" (any letter case) or "3" -> 3; 0 for anything else.
int ComNumberOf(std::string text)
{
    if (text.size() > 3 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o')
        && (text[2] == 'M' || text[2] == 'm'))
        text = text.substr(3);
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == 0 && n > 0 && n < 65536 ? int(n) : 0;
}

// The common options into the component; an error text, or empty.
std::string ApplyCommon(const TLineOptions& o, TFxCustomAbstractFax& fax)
{
    auto it = o.values.find("--class");
    if (it != o.values.end()) {
        if (it->second == "1")
            fax.FaxClass = fcClass1;
        else if (it->second == "2")
            fax.FaxClass = fcClass2;
        else if (it->second == "2.0")
            fax.FaxClass = fcClass2_0;
        else
            return "--class must be 1, 2 or 2.0";
    }
    if ((it = o.values.find("--bps")) != o.values.end()) {
        char* end = nullptr;
        long bps = std::strtol(it->second.c_str(), &end, 10);
        if (*end || bps < 2400 || bps > 14400)
            return "--bps must lie between 2400 and 14400";
        fax.DesiredBPS = uint16_t(bps);
    }
    if ((it = o.values.find("--station")) != o.values.end())
        fax.SetStationID(it->second);
    return {};
}

std::string ResultText(int code)
{
    if (code == 0)
        return "OK";
    std::string text = FaxErrorText(code);
    return text.empty() ? "error" : text;
}

// Prints what the component tells; keeps the first error.
struct TReporter {
    int lastStatus = -1;
    int firstError = 0;
    int received = 0, sent = 0, failed = 0, callsEnded = 0;

    void Attach(TFxCustomAbstractFax& fax)
    {
        fax.OnFaxStatus = [this](TFxCustomAbstractFax& f, bool first, bool last) {
            int code = f.GetProgressCode();
            if (code != lastStatus && code != 0) {
                std::printf("status %d: %s\n", code, StatusText(code).c_str());
                lastStatus = code;
            }
            if (last)
                ++callsEnded;
            std::fflush(stdout);
        };
        fax.OnFaxLog = [this](TFxCustomAbstractFax& f, int code) {
            std::string entry = TFxFaxLog::EntryText(f, code, platform::FormatDateTime("c", platform::Now()));
            while (!entry.empty() && (entry.back() == '\r' || entry.back() == '\n'))
                entry.pop_back();
            for (char& c : entry)
                if (c == '\r')
                    c = ' ';
            std::printf("log %d: %s\n", code, entry.c_str());
            sent += code == 2;
            received += code == 5;
            failed += code == 3 || code == 6 || code == 7;
            std::fflush(stdout);
        };
        fax.OnFaxError = [this](TFxCustomAbstractFax&, int code) {
            std::printf("error %d: %s\n", code, ResultText(code).c_str());
            if (!firstError)
                firstError = code;
            std::fflush(stdout);
        };
    }
};

QCoreApplication& Application()
{
    static int argc = 1;
    static char name[] = "znfax";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Starts the session and runs the event loop until the component finishes with finishCode; false,
// with the result line printed, when the session could not start.
bool RunSession(TFxCustomAbstractFax& fax, const std::function<void()>& start, int& finishCode)
{
    QCoreApplication& app = Application();
    bool finished = false;
    fax.OnFaxFinish = [&](TFxCustomAbstractFax&, int code) {
        finishCode = code;
        finished = true;
        app.exit(0);
    };
    // SIGTERM or SIGINT cancels the call; the session's end then ends the loop, and the caller lets
    // go of the port (and its lock files) before the process ends.
    platform::WatchTerminationSignals([&](int) {
        if (fax.Busy())
            fax.CancelFax();
        else
            app.exit(0);
    });
    bool started = true;
    try {
        start();
    } catch (const std::exception& e) {
        std::printf("result -1: %s\n", e.what());
        started = false;
    }
    if (started && !finished)
        app.exec();
    fax.OnFaxFinish = nullptr; // it refers to this frame
    platform::WatchTerminationSignals(nullptr);
    return started;
}

constexpr int kModemWatchMs = 1000;

// Prints the result line and returns the exit code.
int Finish(int code, bool allThrough, int signal = 0)
{
    int result = allThrough ? 0 : (code ? code : -1);
    if (signal)
        std::printf("result %d: %s (ended by signal %d)\n", result, ResultText(result).c_str(), signal);
    else
        std::printf("result %d: %s\n", result, ResultText(result).c_str());
    std::fflush(stdout);
    return allThrough ? kExitOk : kExitFailed;
}

int SendFiles(const TArgs& args)
{
    TLineOptions o = ParseLine(args, {"--port", "--class", "--bps", "--station", "--cover", "--number"});
    if (!o.error.empty())
        return UsageError(o.error);
    int com = o.values.count("--port") ? ComNumberOf(o.values["--port"]) : 0;
    if (!com)
        return UsageError("send needs --port COMn");
    if (o.values["--number"].empty())
        return UsageError("send needs --number NUMBER");
    if (o.operands.empty())
        return UsageError("send needs at least one FILE.APF");
    Application(); // the components live on this thread's event loop

    ComPortPtr port = MakeFaxComPort(com);
    TFxSendFax fax;
    fax.SetComPort(port.get());
    if (std::string e = ApplyCommon(o, fax); !e.empty())
        return UsageError(e);
    fax.FaxFileList = o.operands;
    fax.CoverFile = o.values["--cover"];
    fax.PhoneNumber = o.values["--number"];
    fax.ExitOnError = true;
    TReporter report;
    report.Attach(fax);
    int finishCode = 0;
    if (!RunSession(
            fax, [&] { fax.StartTransmit(); }, finishCode))
        return kExitFailed;
    if (int signal = platform::TerminationSignal())
        return Finish(finishCode ? finishCode : ecCancelRequested, false, signal);
    int code = finishCode ? finishCode : report.firstError;
    return Finish(code, code == 0 && report.sent == 1 && report.failed == 0);
}

int ReceiveCalls(const TArgs& args)
{
    TLineOptions o = ParseLine(args, {"--port", "--class", "--bps", "--station", "--dir", "--calls"});
    if (!o.error.empty())
        return UsageError(o.error);
    if (!o.operands.empty())
        return UsageError("receive takes no operands");
    int com = o.values.count("--port") ? ComNumberOf(o.values["--port"]) : 0;
    if (!com)
        return UsageError("receive needs --port COMn");
    if (o.values["--dir"].empty())
        return UsageError("receive needs --dir FOLDER");
    long calls = 1;
    if (o.values.count("--calls")) {
        char* end = nullptr;
        calls = std::strtol(o.values["--calls"].c_str(), &end, 10);
        if (*end || calls < 1)
            return UsageError("--calls must be 1 or more");
    }
    Application();

    ComPortPtr port = MakeFaxComPort(com);
    TFxReceiveFax fax;
    fax.SetComPort(port.get());
    if (std::string e = ApplyCommon(o, fax); !e.empty())
        return UsageError(e);
    fax.SetDestinationDir(o.values["--dir"]);
    // One call: the session ends with it. More: the session answers call after call and is
    // cancelled once the last has ended.
    fax.OneFax = calls == 1;
    fax.ExitOnError = calls == 1;
    TReporter report;
    report.Attach(fax);
    auto status = fax.OnFaxStatus;
    fax.OnFaxStatus = [&](TFxCustomAbstractFax& f, bool first, bool last) {
        status(f, first, last);
        if (last && calls > 1 && report.callsEnded >= calls)
            f.CancelFax();
    };
    // A fax that does not come in whole (a failed call, a cancel, a signal) leaves no file: the
    // session writes it under a temporary name, and discards it.
    // Waiting for a ring can last days: a modem that is unplugged meanwhile ends the wait.
    bool modemGone = false;
    QTimer watch;
    watch.setInterval(kModemWatchMs);
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        if (ComPortDeviceThere(com))
            return;
        modemGone = true;
        watch.stop();
        std::printf("error: the modem on COM%d (%s) is gone\n", com, ComPortDevice(com).c_str());
        std::fflush(stdout);
        if (fax.Busy())
            fax.CancelFax();
        else
            Application().exit(0);
    });
    int finishCode = 0;
    if (!RunSession(
            fax,
            [&] {
                fax.StartReceive();
                watch.start();
            },
            finishCode))
        return kExitFailed;
    const int signal = platform::TerminationSignal();
    if (signal || modemGone)
        return Finish(modemGone ? ecDeviceRead : ecCancelRequested, false, signal);
    bool allThrough = report.received == calls && report.failed == 0;
    int code = allThrough ? 0 : report.firstError ? report.firstError : finishCode;
    return Finish(code, allThrough);
}

// The port and the session are gone by now: a signal ends the process as it would have at once.
int EndIfSignalled(int exitCode)
{
    if (int signal = platform::TerminationSignal())
        platform::EndAsSignalled(signal);
    return exitCode;
}

int Send(const TArgs& args) { return EndIfSignalled(SendFiles(args)); }
int Receive(const TArgs& args) { return EndIfSignalled(ReceiveCalls(args)); }

} // namespace

const TCommand kFaxLineCommands[] = {{"send", kSendUsage, Send}, {"receive", kReceiveUsage, Receive}};
const size_t kFaxLineCommandCount = sizeof kFaxLineCommands / sizeof kFaxLineCommands[0];

} // namespace zn::tools
