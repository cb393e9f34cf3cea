// An open dispatcher over a fresh pseudo-terminal, for the port tests.
#pragma once

#include "comms/port/port_driver.h"
#include "comms/tests/pty_pair.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <memory>
#include <string>

namespace zn::comms::test {

struct OpenDispatcher {
    PtyPair pty;
    std::unique_ptr<TFxWin32Dispatcher> d;

    explicit OpenDispatcher(uint32_t outSize = 8192)
    {
        if (!pty.Ok())
            return;
        d = std::make_unique<TFxWin32Dispatcher>(nullptr);
        d->SetDeviceName("COM9");
        result = d->OpenPort(pty.SlavePath(), 19200, ParityNone, 8, 1, 8192, outSize, OptDtrOn | OptRtsOn);
    }
    int result = -1;
};

// Collects what the data-available notifications deliver, reading in the handler as the fax sessions do.
struct Collector {
    std::mutex lock;
    std::string bytes;
    std::atomic<int> notifications{0};
    void Attach(TFxBaseDispatcher& d)
    {
        d.AddProcedureHandler(this, [this, &d](uint32_t msg, uintptr_t, intptr_t) {
            if (msg != MsgTriggerAvail)
                return;
            ++notifications;
            uint8_t c;
            std::lock_guard<std::mutex> g(lock);
            while (d.ReadChar(c) == 0)
                bytes.push_back(char(c));
        });
    }
    size_t Size()
    {
        std::lock_guard<std::mutex> g(lock);
        return bytes.size();
    }
};

inline std::string ReadFile(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    std::string s;
    if (!f)
        return s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

} // namespace zn::comms::test
