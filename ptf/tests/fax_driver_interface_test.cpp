// The driver channel against a test driver: a client of the socket that sends what the fax printer
// driver sends, while the GUI thread runs the component's events.
#include "ptf/fax_driver_interface.h"

#include "comms/base/exceptions.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zn::ptf {
namespace {

struct Reply {
    bool connected = false;
    ssize_t bytes = -1; // what came back: -1 nothing within the wait, 0 closed without an answer
    ChannelMessage message{};
};

// One driver connection: sends raw bytes and waits up to waitMs for an answer.
Reply Drive(const std::string& path, const std::vector<uint8_t>& bytes, int waitMs = 3000)
{
    Reply reply;
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return reply;
    }
    reply.connected = true;
    if (!bytes.empty())
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    else
        ::shutdown(fd, SHUT_WR); // a driver that hangs up without a word
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) > 0)
        reply.bytes = ::recv(fd, reply.message.data(), reply.message.size(), 0);
    ::close(fd);
    return reply;
}

std::vector<uint8_t> Message(uint8_t code, const std::string& text)
{
    const ChannelMessage m = MakeChannelMessage(code, text);
    return std::vector<uint8_t>(m.begin(), m.end());
}

// Runs the driver on its own thread while this (GUI) thread delivers the component's events.
template <typename F>
auto WhilePumping(F driver)
{
    auto future = std::async(std::launch::async, driver);
    while (future.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents(); // a document end is handled once it has been taken
    return future.get();
}

class DriverChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }
    QTemporaryDir runtime_;
};

TEST_F(DriverChannel, DocumentStartIsAnsweredWithCode3AndThePathTheHandlerSet)
{
    TFxFaxDriverInterface channel;
    EXPECT_EQ(channel.FileName, "C:\\DEFAULT.APF");
    EXPECT_EQ(channel.DocName(), "");
    EXPECT_EQ(channel.Version(), "v3.06");
    int starts = 0;
    channel.OnDocStart = [&](TFxFaxDriverInterface& sender) {
        ++starts;
        EXPECT_EQ(sender.DocName(), "Quarterly report.pdf");
        sender.FileName = "/home/u/SEND/FAX00002.APF";
    };
    const Reply reply = WhilePumping([&] { return Drive(channel.SocketPath(), Message(1, "Quarterly report.pdf")); });
    ASSERT_TRUE(reply.connected);
    ASSERT_EQ(reply.bytes, 257);
    EXPECT_EQ(reply.message[0], 3);
    EXPECT_EQ(ChannelMessageText(reply.message.data(), 257), "/home/u/SEND/FAX00002.APF");
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(channel.DocName(), "Quarterly report.pdf");
}

TEST_F(DriverChannel, DocumentEndFiresOnceAndGetsNoAnswer)
{
    TFxFaxDriverInterface channel;
    int ends = 0;
    int starts = 0;
    channel.OnDocEnd = [&](TFxFaxDriverInterface&) { ++ends; };
    channel.OnDocStart = [&](TFxFaxDriverInterface&) { ++starts; };
    const Reply reply = WhilePumping([&] { return Drive(channel.SocketPath(), Message(2, "")); });
    EXPECT_EQ(reply.bytes, 0); // closed by the component, nothing sent
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(starts, 0);
}

TEST_F(DriverChannel, CodeZeroAndAnEmptyConnectionFireNothing)
{
    TFxFaxDriverInterface channel;
    int events = 0;
    channel.OnDocStart = [&](TFxFaxDriverInterface&) { ++events; };
    channel.OnDocEnd = [&](TFxFaxDriverInterface&) { ++events; };
    EXPECT_EQ(WhilePumping([&] { return Drive(channel.SocketPath(), Message(0, "x")); }).bytes, 0);
    // A driver that connects and hangs up at once.
    EXPECT_EQ(WhilePumping([&] { return Drive(channel.SocketPath(), {}, 2000); }).bytes, 0);
    EXPECT_EQ(events, 0);
    // The channel still serves.
    channel.OnDocStart = [&](TFxFaxDriverInterface& s) { s.FileName = "next"; };
    const Reply reply = WhilePumping([&] { return Drive(channel.SocketPath(), Message(1, "doc")); });
    EXPECT_EQ(ChannelMessageText(reply.message.data(), size_t(reply.bytes)), "next");
}

TEST_F(DriverChannel, AnUnknownCodeIsLoggedAndTheNextJobServed)
{
    TFxFaxDriverInterface channel;
    std::mutex mutex;
    std::vector<std::string> lines;
    channel.OnLog = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    };
    channel.OnDocStart = [](TFxFaxDriverInterface& s) { s.FileName = "/tmp/FAX00000.APF"; };
    EXPECT_EQ(WhilePumping([&] { return Drive(channel.SocketPath(), Message(7, "?")); }).bytes, 0);
    const Reply reply = WhilePumping([&] { return Drive(channel.SocketPath(), Message(1, "doc")); });
    ASSERT_EQ(reply.bytes, 257);
    EXPECT_EQ(reply.message[0], 3);
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Unknown incoming event encountered:7");
}

TEST_F(DriverChannel, DriversThatConnectAndSayNothingKeepNoJobWaiting)
{
    TFxFaxDriverInterface channel;
    channel.OnDocStart = [](TFxFaxDriverInterface& s) { s.FileName = "/tmp/FAX00003.APF"; };
    // Two connections that stay open without a word, as a stalled or broken client leaves them.
    std::vector<int> silent;
    for (int i = 0; i < 2; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, channel.SocketPath().c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        silent.push_back(fd);
    }
    // A job's document start behind them is answered well within the time a driver waits (30 s).
    const Reply reply = WhilePumping([&] { return Drive(channel.SocketPath(), Message(1, "doc"), 20000); });
    for (const int fd : silent)
        ::close(fd);
    ASSERT_EQ(reply.bytes, 257);
    EXPECT_EQ(ChannelMessageText(reply.message.data(), 257), "/tmp/FAX00003.APF");
}

TEST_F(DriverChannel, AStartWhoseHandlerFailsGetsNoNameOfAnEarlierJob)
{
    TFxFaxDriverInterface channel;
    std::vector<std::string> lines;
    channel.OnLog = [&](const std::string& line) { lines.push_back(line); };
    int starts = 0;
    channel.OnDocStart = [&](TFxFaxDriverInterface& s) {
        if (++starts == 2)
            throw std::runtime_error("no name for this job");
        s.FileName = "/home/u/SEND/FAX00000.APF";
    };
    EXPECT_EQ(ChannelMessageText(WhilePumping([&] { return Drive(channel.SocketPath(), Message(1, "one")); })
                                     .message.data(),
                                 257),
              "/home/u/SEND/FAX00000.APF");
    const Reply failed = WhilePumping([&] { return Drive(channel.SocketPath(), Message(1, "two")); });
    ASSERT_EQ(failed.bytes, 257);
    EXPECT_EQ(failed.message[0], 3);
    EXPECT_EQ(ChannelMessageText(failed.message.data(), 257), "");
    EXPECT_EQ(lines, std::vector<std::string>{"no name for this job"});
    // The channel goes on serving.
    EXPECT_EQ(ChannelMessageText(WhilePumping([&] { return Drive(channel.SocketPath(), Message(1, "three")); })
                                     .message.data(),
                                 257),
              "/home/u/SEND/FAX00000.APF");
}

TEST_F(DriverChannel, AFileNameLongerThan255CharactersIsSentCut)
{
    TFxFaxDriverInterface channel;
    const std::string longName(300, 'a');
    channel.OnDocStart = [&](TFxFaxDriverInterface& s) { s.FileName = longName; };
    const Reply reply = WhilePumping([&] { return Drive(channel.SocketPath(), Message(1, std::string(400, 'd'))); });
    ASSERT_EQ(reply.bytes, 257);
    EXPECT_EQ(reply.message[1], 255);
    EXPECT_EQ(ChannelMessageText(reply.message.data(), 257), longName.substr(0, 255));
    EXPECT_EQ(channel.DocName(), std::string(255, 'd'));
}

TEST_F(DriverChannel, ASecondServerIsRefusedWhileTheFirstHoldsTheChannel)
{
    auto first = std::make_unique<TFxFaxDriverInterface>();
    try {
        TFxFaxDriverInterface second;
        FAIL() << "a second server was created";
    } catch (const comms::EFXException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to create named pipe. Error:" + std::to_string(EADDRINUSE));
    }
    // Once the first is gone the channel can be served again, and no socket was left behind.
    const std::string path = first->SocketPath();
    first.reset();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    TFxFaxDriverInterface again;
    EXPECT_EQ(again.SocketPath(), path);
}

TEST_F(DriverChannel, TheSocketIsPrivateToItsUser)
{
    TFxFaxDriverInterface channel;
    struct stat info {};
    ASSERT_EQ(::stat(channel.SocketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(DriverChannel, APeerOfAnotherUserIsNotServed)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    TFxFaxDriverInterface channel;
    int starts = 0;
    channel.OnDocStart = [&](TFxFaxDriverInterface&) { ++starts; };
    // Give the other user the way in that the socket's mode forbids, to reach the credential check.
    ::chmod(channel.SocketPath().c_str(), 0666);
    ::chmod(runtime_.path().toUtf8().constData(), 0755);
    const int status = WhilePumping([&] {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            const Reply reply = Drive(channel.SocketPath(), Message(1, "intruder"), 1000);
            // Connected, but closed without an answer.
            ::_exit(reply.connected && reply.bytes <= 0 ? 0 : 1);
        }
        int s = 0;
        ::waitpid(child, &s, 0);
        return s;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(starts, 0);
}

TEST_F(DriverChannel, DestroyingItWhileARequestWaitsForTheGuiThreadEndsTheThread)
{
    auto channel = std::make_unique<TFxFaxDriverInterface>();
    const std::string path = channel->SocketPath();
    // The request reaches the monitor thread, which waits for a GUI thread that is not pumping.
    auto driver = std::async(std::launch::async, [&] { return Drive(path, Message(1, "doc"), 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto started = std::chrono::steady_clock::now();
    channel.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_LE(driver.get().bytes, 0);
}

} // namespace
} // namespace zn::ptf
