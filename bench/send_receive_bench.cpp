// Sending and receiving from the fax program, two latencies the user feels:
//  send:    from a click on "Send Fax Now" to the first AT command on the modem's port (a pseudo-
//           terminal whose far side notes the time of the first byte), beside efax started on the
//           same kind of port with the same far side (from its start to its first byte);
//  receive: from the moment the receive session reports the fax complete (the far end's last page
//           confirmed, the call ending) to the new ZNREC row painted in the received list, over the
//           fax line test bed's terminal.
//
//   zn_send_receive_bench [runs]    (default 7; prints min, median and max in milliseconds)
#include "app/main_screen.h"
#include "app/send_fax_form.h"
#include "comms/port/port_driver.h"
#include "data/gui/db_grid.h"
#include "foundation/settings.h"
#include "platform/message_box.h"

#include "faxline_harness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A pseudo-terminal whose far side waits for the first byte written to it.
class WatchedPort {
public:
    WatchedPort()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master_);
        ::unlockpt(master_);
        device_ = ::ptsname(master_);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{master_, POLLIN, 0};
                if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
                    char c;
                    if (::read(master_, &c, 1) == 1 && c == 'A') {
                        firstByte_ = Clock::now();
                        seen_ = true;
                        return;
                    }
                }
            }
        });
    }
    ~WatchedPort()
    {
        stop_ = true;
        thread_.join();
        ::close(master_);
    }
    const std::string& Device() const { return device_; }
    bool Seen() const { return seen_; }
    Clock::time_point FirstByte() const { return firstByte_; }

private:
    int master_ = -1;
    std::string device_;
    std::thread thread_;
    std::atomic<bool> stop_{false}, seen_{false};
    Clock::time_point firstByte_;
};

struct Figures {
    std::vector<double> ms;
    void Print(const char* what) const
    {
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        if (v.empty()) {
            std::printf("%-44s  no runs\n", what);
            return;
        }
        std::printf("%-44s  min %8.1f  median %8.1f  max %8.1f  (%zu runs)\n", what, v.front(), v[v.size() / 2],
                    v.back(), v.size());
    }
    double Median() const
    {
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
};

void Pump(const std::function<bool()>& done, int boundMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < boundMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

double OneSendClick()
{
    WatchedPort port;
    ::setenv("ZN_COM7", port.Device().c_str(), 1);
    auto& s = zn::foundation::Settings();
    s.PortNotConfigured = false;
    s.ComPort = 6;
    zn::app::TSendFaxForm dialog;
    dialog.show();
    dialog.sfPhoneNumber->setText("5550100");
    QElapsedTimer guard;
    Clock::time_point clicked;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (port.Seen() || guard.elapsed() > 10000)
            dialog.CloseButton->click(); // cancels the modem check: the figure is taken
    });
    watch.start(1);
    guard.start();
    clicked = Clock::now();
    dialog.SendFaxButton->click();
    watch.stop();
    return port.Seen() ? Ms(port.FirstByte() - clicked) : -1;
}

double OneEfaxStart(const std::string& tiff, const std::string& lockDir)
{
    WatchedPort port;
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const std::string lock = "-x" + lockDir + "/LCK..bench";
        ::execlp("efax", "efax", "-d", port.Device().c_str(), lock.c_str(), "-t", "5550100", tiff.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const Clock::time_point bound = start + std::chrono::seconds(10);
    while (!port.Seen() && Clock::now() < bound)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return port.Seen() ? Ms(port.FirstByte() - start) : -1;
}

// Paints of a widget after a moment: the row is on screen with the first paint after it was added.
class PaintWatch : public QObject {
public:
    std::function<void()> onPaint;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && onPaint)
            onPaint();
        return false;
    }
};

std::vector<double> ReceiveRun(int calls)
{
    std::vector<double> out;
    faxline::TempDir dir;
    faxline::Bitmap strip = faxline::ReadPbm(faxline::ItuChartPath(1))->Rows(0, 200);
    faxline::WriteFaxTiff(dir.File("tx.tif"), {strip});
    auto line = faxline::Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "BENCH", "--fast",
                                                  "--calls", std::to_string(calls), "--call-delay", "300"});
    if (!line)
        return out;
    ::setenv("ZN_COM7", line->Port('A').c_str(), 1);
    zn::app::TMainScreen screen;
    screen.FormActivate();
    screen.show();
    auto& s = zn::foundation::Settings();
    s.PortNotConfigured = false;
    s.ComPort = 6;
    s.FaxClassReceive = 1;
    s.Wav.clear();
    screen.SelectTab(1);
    screen.ReceiveButtonClick();
    if (!screen.ReceiveModeOn)
        return out;
    // The moment the session reports the fax complete (the far end's last page confirmed, the call
    // ending): from here on the time is the window's own.
    Clock::time_point hungUp;
    bool waitingForRow = false;
    auto log = screen.FxReceiveFax1.OnFaxLog;
    screen.FxReceiveFax1.OnFaxLog = [&](zn::comms::TFxCustomAbstractFax& f, int code) {
        if (code == zn::comms::lfReceiveOK) {
            hungUp = Clock::now();
            waitingForRow = true;
        }
        log(f, code);
    };
    auto rows = [&screen] { return screen.RecTable.Active() ? int(screen.RecTable.RecordCount()) : 0; };
    int known = 0;
    PaintWatch paints;
    paints.onPaint = [&] {
        if (!waitingForRow)
            return;
        const int n = rows();
        if (n > known) {
            known = n;
            out.push_back(Ms(Clock::now() - hungUp));
            waitingForRow = false;
        }
    };
    for (QWidget* w : screen.RecFaxGrid->findChildren<QWidget*>())
        w->installEventFilter(&paints);
    screen.RecFaxGrid->installEventFilter(&paints);
    Pump([&] { return int(out.size()) >= calls; }, 30000 * calls);
    Pump([] { return false; }, 500);
    screen.ReceiveButtonClick();
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    faxline::TempDir home;
    ::setenv("ZN_HOME", home.Path().c_str(), 1);
    ::setenv("ZN_WINDIR", home.Path().c_str(), 1);
    zn::platform::SetMessageBoxHook([](const std::string&, const std::string&, unsigned) { return 1; });
    zn::comms::UucpLock::SetLockFolderForTest(home.Path());

    Figures send, efax, receive;
    const std::string tiff = home.File("page.tif");
    faxline::WriteFaxTiff(tiff, {faxline::ReadPbm(faxline::ItuChartPath(1))->Rows(0, 200)});
    for (int i = 0; i < runs; ++i) {
        const double ours = OneSendClick();
        if (ours >= 0)
            send.ms.push_back(ours);
        const double peer = OneEfaxStart(tiff, home.Path());
        if (peer >= 0)
            efax.ms.push_back(peer);
    }
    receive.ms = ReceiveRun(runs);

    std::printf("times in milliseconds\n");
    send.Print("zn: Send Fax Now -> first AT on the port");
    efax.Print("efax: start -> first AT on the port");
    std::printf("%-44s  %.1f\n", "zn besides the check's 12-tick pause (660)", send.Median() - 660.0);
    if (efax.Median() > 0)
        std::printf("%-44s  %.2f\n", "ratio zn/efax (medians)", send.Median() / efax.Median());
    receive.Print("zn: fax complete -> ZNREC row painted");
    return 0;
}
