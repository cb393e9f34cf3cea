// Opening and probing the modem on real pseudo-terminals: the texts the user reads for a missing
// device, a port in use and a modem that does not answer, and the answers that do come.
#include "foundation/modem_probe.h"

#include "comms/port/com_port.h"
#include "comms/port/port_driver.h"
#include "foundation/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace zn::foundation {
namespace {

// The far side of a pseudo-terminal playing the modem: each command line gets the reply the rule
// gives it ("" for none).
class PtyModem {
public:
    explicit PtyModem(std::function<std::string(const std::string&)> rule) : rule_(std::move(rule))
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        device_ = ::ptsname(master_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~PtyModem()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (master_ >= 0)
            ::close(master_);
    }
    const std::string& Device() const { return device_; }
    std::vector<std::string> Heard()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return heard_;
    }

private:
    void Serve()
    {
        std::string line;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            char c;
            if (::read(master_, &c, 1) != 1)
                continue;
            if (c != '\r') {
                line += c;
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                heard_.push_back(line);
            }
            const std::string reply = rule_(line);
            line.clear();
            if (!reply.empty()) {
                const std::string out = "\r\n" + reply + "\r\n";
                [[maybe_unused]] ssize_t n = ::write(master_, out.data(), out.size());
            }
        }
    }
    std::function<std::string(const std::string&)> rule_;
    int master_ = -1;
    std::string device_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> heard_;
};

class ModemProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::EnsureApplication();
        comms::UucpLock::SetLockFolderForTest(home_.Path());
        Settings().ResetString.clear();
    }
    void TearDown() override
    {
        ::unsetenv("ZN_COM9");
        comms::UucpLock::SetLockFolderForTest("/var/lock");
        Settings().ResetString.clear();
    }
    void UseDevice(const std::string& device, comms::TFxComPort& port)
    {
        ::setenv("ZN_COM9", device.c_str(), 1);
        SetFaxPortDefaults(port);
        port.SetComNumber(9);
    }
    // The port open on the modem's device, with the reset string given.
    void OpenOn(PtyModem& modem, comms::TFxComPort& port, const std::string& reset = {})
    {
        UseDevice(modem.Device(), port);
        std::string message;
        ASSERT_TRUE(OpenComPort(port, message)) << message;
        EXPECT_TRUE(message.empty());
        Settings().ResetString = reset;
    }
    test::TempHome home_;
};

TEST_F(ModemProbe, AMissingDeviceNamesThePortWithoutABlank)
{
    comms::TFxComPort port;
    UseDevice(home_.Path() + "/no-such-modem", port);
    std::string message = "left over";
    EXPECT_FALSE(OpenComPort(port, message));
    EXPECT_EQ(message, "Unable to open the specified communications port ( Com9 )");
    EXPECT_NE(LastPortError, -1);
    EXPECT_FALSE(port.Open());
}

// A port held by another component of this program, or locked by another running program.
class ModemProbeBusy : public ModemProbe, public ::testing::WithParamInterface<bool> {};

TEST_P(ModemProbeBusy, APortInUseSaysSoWithABlankBeforeTheNumber)
{
    PtyModem modem([](const std::string&) { return std::string("OK"); });
    ASSERT_FALSE(modem.Device().empty());
    comms::TFxComPort holder;
    std::string message;
    if (GetParam()) {
        UseDevice(modem.Device(), holder);
        ASSERT_TRUE(OpenComPort(holder, message)) << message;
    } else {
        // A live process (our parent) owns the device's lock file.
        char pid[16];
        std::snprintf(pid, sizeof pid, "%10ld\n", long(::getppid()));
        test::WriteFile(comms::UucpLock::LockPathFor(modem.Device()), pid);
    }
    comms::TFxComPort port;
    UseDevice(modem.Device(), port);
    EXPECT_FALSE(OpenComPort(port, message));
    EXPECT_EQ(message, "The communications port is in use ( Com 9 )\r\n\r\nPlease make sure that all communication "
                       "programs (internet, AOL, etc) are closed, and then try again.");
    EXPECT_TRUE(LastPortError == -2008 || LastPortError == -2005) << LastPortError;
    EXPECT_FALSE(port.Open());
}

INSTANTIATE_TEST_SUITE_P(Holders, ModemProbeBusy, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "ThisProgram" : "AnotherProgram"; });

TEST_F(ModemProbe, OpenedPortTakesItsLockAndClosingGivesItBack)
{
    PtyModem modem([](const std::string&) { return std::string("OK"); });
    comms::TFxComPort port;
    OpenOn(modem, port);
    const std::string lock = comms::UucpLock::LockPathFor(modem.Device());
    EXPECT_EQ(std::atol(test::ReadFile(lock).c_str()), long(::getpid()));
    port.SetOpen(false);
    EXPECT_NE(::access(lock.c_str(), F_OK), 0);
}

TEST_F(ModemProbe, AModemThatAnswersPassesTheCheckAtTheFirstAT)
{
    PtyModem modem([](const std::string& line) { return line == "AT" ? std::string("OK") : std::string(); });
    comms::TFxComPort port;
    OpenOn(modem, port);
    EXPECT_TRUE(CheckModemResponds(port));
    EXPECT_EQ(modem.Heard(), std::vector<std::string>{"AT"});
}

TEST_F(ModemProbe, ASilentModemFailsTheCheckAfterATAndTheResetString)
{
    PtyModem modem([](const std::string&) { return std::string(); });
    comms::TFxComPort port;
    OpenOn(modem, port, "ATZ");
    EXPECT_FALSE(CheckModemResponds(port));
    EXPECT_EQ(modem.Heard(), (std::vector<std::string>{"AT", "ATZ"}));
}

TEST_F(ModemProbe, AModemDeafToATIsFoundByTheResetStringAndCommandsGainTheirPrefix)
{
    PtyModem modem([](const std::string& line) {
        return line == "ATZ" || line == "AT&F" || line == "atz" ? std::string("OK") : std::string();
    });
    comms::TFxComPort port;
    OpenOn(modem, port, "ATZ");
    EXPECT_TRUE(CheckModemResponds(port));
    std::string command = "&F";
    EXPECT_TRUE(SendModemCommand(port, command));
    EXPECT_EQ(command, "AT&F");
    std::string lower = "atz";
    EXPECT_TRUE(SendModemCommand(port, lower)); // it holds the letters: sent as it is
    EXPECT_EQ(lower, "atz");
    EXPECT_EQ(modem.Heard(), (std::vector<std::string>{"AT", "ATZ", "AT&F", "atz"}));
}

} // namespace
} // namespace zn::foundation
