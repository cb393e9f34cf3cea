// The scripted Class 2 / 2.0 modem of the test bed as a child process, for the fax component tests.
#pragma once
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "faxline_harness.h"

namespace zn::comms::test {

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts class2sim with args; Device() is its pseudo-terminal, empty when it did not come up.
class Class2SimProcess {
public:
    Class2SimProcess(const faxline::TempDir& dir, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/python3", faxline::Class2SimPath()});
        args.insert(args.end(), {"--log", dir.File("sim.log")});
        log_ = dir.File("sim.log");
        std::string out = dir.File("sim.out");
        // A simulator started before in the same folder left its device there: read only this one's.
        std::remove(out.c_str());
        process_ = std::make_unique<faxline::ChildProcess>(args, out, dir.File("sim.err"));
        for (int i = 0; i < 500 && device_.empty(); ++i) {
            std::istringstream in(ReadWholeFile(out));
            std::string name, device;
            while (in >> name >> device)
                if (name == "A")
                    device_ = device;
            if (device_.empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    const std::string& Device() const { return device_; }
    std::string Log() const { return ReadWholeFile(log_); }
    faxline::ChildProcess& Process() { return *process_; }

private:
    std::string device_, log_;
    std::unique_ptr<faxline::ChildProcess> process_;
};

} // namespace zn::comms::test
