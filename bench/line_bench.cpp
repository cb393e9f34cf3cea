// Line devices with 32 serial devices present (configured aliases to pseudo-terminals): the time to
// list them (initialise, negotiate and read every device's capabilities, shut down) and to open a
// passthrough call (open the line, place the call, wait for CONNECTED, take the descriptor). The
// budget is 50 ms for each. Every run checks what it got: 32 names in order, and a descriptor that
// reaches the pseudo-terminal of the device chosen.
//
//   zn_line_bench [runs]
#include "comms/port/port_names.h"
#include "comms/tapi/serial_line_provider.h"
#include "comms/tapi/tapi_binding.h"
#include "platform/messages.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace zn::comms;
using namespace zn::comms::tapi;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kDevices = 32;

struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
        slave = ::ptsname(master);
    }
    ~Pty() { ::close(master); }
};

double Ms(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool Fail(const std::string& what)
{
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    return false;
}

// Lists the devices; true when they are the 32 aliases in order.
bool ListDevices(std::vector<std::string>& names)
{
    names.clear();
    HLineApp app = 0;
    uint32_t count = 0;
    if (lineInitialize(&app, nullptr, nullptr, "zn", &count) != 0)
        return Fail("lineInitialize");
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t version = 0;
        StructurePtr<LINEDEVCAPS> caps;
        if (lineNegotiateAPIVersion(app, i, ApiVersion14, ApiVersion14, &version, nullptr) != 0
            || lineGetDevCaps(app, i, version, 0, caps) != 0)
            return Fail("device " + std::to_string(i));
        names.push_back(StructureText(caps.get(), caps->lineNameOffset, caps->lineNameSize));
    }
    lineShutdown(app);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QCoreApplication qt(argc, argv);
    char pattern[] = "/tmp/zn_line_bench_XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    std::string folder = pattern;
    std::vector<Pty> ptys(kDevices);
    {
        std::ofstream ini(folder + "/" + PortsFileName);
        ini << "[Lines]\r\n";
        for (int i = 0; i < kDevices; ++i) {
            std::string alias = folder + "/ttyBench" + std::to_string(i);
            if (::symlink(ptys[size_t(i)].slave.c_str(), alias.c_str()) != 0)
                return 1;
            ini << "Bench line " << i << "=" << alias << "\r\n";
        }
    }
    ::setenv("ZN_WINDIR", folder.c_str(), 1);
    SerialLineProvider provider;
    SetLineProvider(&provider);

    bool ok = true;
    std::vector<double> listing, opening;
    for (int run = 0; run < runs && ok; ++run) {
        std::vector<std::string> names;
        auto t0 = Clock::now();
        ok = ListDevices(names);
        listing.push_back(Ms(t0));
        for (int i = 0; ok && i < kDevices; ++i)
            if (names.size() <= size_t(i) || names[size_t(i)] != "Bench line " + std::to_string(i))
                ok = Fail("device list: " + (names.size() > size_t(i) ? names[size_t(i)] : std::string("missing")));

        // A passthrough call on a device picked in turn.
        int pick = run % kDevices;
        bool connected = false;
        HLineApp app = 0;
        uint32_t count = 0;
        lineInitialize(
            &app, nullptr,
            [&](uint32_t, uint32_t msg, uintptr_t, uintptr_t p1, uintptr_t, uintptr_t) {
                if (msg == LineCallStateMsg && p1 == CallStateConnected)
                    connected = true;
            },
            "zn", &count);
        t0 = Clock::now();
        HLine line = 0;
        HCall call = 0;
        LINECALLPARAMS params = PassthroughCallParams();
        int fd = -1;
        if (lineOpen(app, uint32_t(pick), &line, ApiVersion14, 0, 1, PrivilegeNone, MediaModeDataModem, nullptr) != 0
            || lineMakeCall(line, &call, "", 0, &params) <= 0) {
            ok = Fail("placing the call");
        } else {
            while (!connected && Ms(t0) < 5000) {
                QCoreApplication::processEvents();
                zn::platform::PumpOneMessage();
            }
            std::vector<uint8_t> buffer(sizeof(VARSTRING) + 16);
            auto* id = reinterpret_cast<VARSTRING*>(buffer.data());
            id->totalSize = uint32_t(buffer.size());
            if (!connected || lineGetID(line, 0, call, CallSelectCall, id, "comm/datamodem") != 0)
                ok = Fail("connecting");
            else
                std::memcpy(&fd, buffer.data() + id->stringOffset, 4);
        }
        opening.push_back(Ms(t0));
        if (ok) {
            // The descriptor reaches the device chosen.
            char text[] = "ATI\r";
            char got[8] = {};
            struct pollfd p = {ptys[size_t(pick)].master, POLLIN, 0};
            if (::write(fd, text, 4) != 4 || ::poll(&p, 1, 2000) != 1 || ::read(p.fd, got, sizeof got) != 4
                || std::memcmp(got, text, 4) != 0)
                ok = Fail("the descriptor does not reach device " + std::to_string(pick));
        }
        if (fd >= 0)
            ::close(fd);
        lineDrop(call, nullptr, 0);
        lineDeallocateCall(call);
        lineClose(line);
        lineShutdown(app);
    }
    SetLineProvider(nullptr);
    std::system(("rm -rf '" + folder + "'").c_str());
    if (!ok)
        return 1;
    std::printf("Line devices with %d serial devices present (median of %d runs)\n", kDevices, runs);
    std::printf("| step | zn (ms) | budget (ms) | ratio |\n|---|---:|---:|---:|\n");
    std::printf("| list the line devices | %.2f | 50 | %.2f |\n", Median(listing), Median(listing) / 50);
    std::printf("| open a passthrough call | %.2f | 50 | %.2f |\n", Median(opening), Median(opening) / 50);
    std::printf("every run listed the %d devices in order and reached the device it called: ok\n", kDevices);
    return 0;
}
