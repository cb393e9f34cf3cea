// The tray icon on a real X display with a real notification area (trayer): clicks on the icon are
// made by xdotool, what shows is checked through the widgets and saved as pictures for the eye
// (folder $ZN_SHOTS, else the temporary folder). The last case runs znptf itself and ends it
// through its menu.
#include "ptf/main_form.h"
#include "ptf/phone_picker.h"

#include "data/gui/db_grid.h"

#include "platform/message_box.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

namespace zn::ptf {
namespace {

QString Shots()
{
    const QString folder = qEnvironmentVariable("ZN_SHOTS", QDir::tempPath());
    QDir().mkpath(folder);
    return folder;
}

void SaveScreen(const QString& name)
{
    QApplication::processEvents();
    QApplication::primaryScreen()->grabWindow(0).save(Shots() + "/" + name);
}

void ClickAt(QPoint at)
{
    QProcess::execute("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
}

// Steps run in turn, each once its condition holds. They are polled from a timer and each action
// runs from the event loop on its own, so that the steps after it also run inside the modal loops
// (menus, dialogs, message boxes) it opens. When the guard runs out, open modal windows and menus
// are closed so that a failing case ends instead of waiting for a user.
class Script {
public:
    void Then(std::function<bool()> when, std::function<void()> action)
    {
        steps_.push_back({std::move(when), std::move(action)});
    }
    // Pumps events until every step has run; false when the guard ran out first.
    bool Run(int guardMs = 60000)
    {
        QElapsedTimer guard;
        guard.start();
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (guard.elapsed() > guardMs) {
                if (QWidget* popup = QApplication::activePopupWidget())
                    popup->close();
                if (QWidget* modal = QApplication::activeModalWidget())
                    modal->close();
                return;
            }
            if (steps_.empty() || !steps_.front().when())
                return;
            auto step = std::make_shared<Step>(std::move(steps_.front()));
            steps_.pop_front();
            ++running_;
            QTimer::singleShot(0, [this, step] {
                step->action();
                --running_;
            });
        });
        poll.start();
        while ((!steps_.empty() || running_ > 0) && guard.elapsed() < guardMs)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        // Let actions still in their loops end (their windows were closed above).
        while (running_ > 0)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return steps_.empty();
    }

private:
    struct Step {
        std::function<bool()> when;
        std::function<void()> action;
    };
    std::deque<Step> steps_;
    int running_ = 0;
};

class TrayOnTheDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X display (run under xvfb-run with QT_QPA_PLATFORM=xcb)";
        for (const char* program : {"trayer", "xdotool"})
            if (QStandardPaths::findExecutable(program).isEmpty())
                GTEST_SKIP() << program << " is not installed";
        ASSERT_TRUE(home_.isValid() && runtime_.isValid());
        qputenv("ZN_HOME", home_.path().toUtf8());
        qputenv("ZN_WINDIR", home_.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
        trayer_.start("trayer", {"--edge", "top", "--align", "left", "--widthtype", "pixel", "--width", "120",
                                 "--height", "32", "--SetDockType", "true", "--transparent", "false"});
        ASSERT_TRUE(trayer_.waitForStarted());
        Script wait;
        wait.Then([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, [] {});
        ASSERT_TRUE(wait.Run()) << "no notification area came up";
    }
    void TearDown() override
    {
        if (trayer_.state() != QProcess::NotRunning) {
            trayer_.terminate();
            trayer_.waitForFinished(5000);
        }
    }
    QTemporaryDir home_, runtime_;
    QProcess trayer_;
};

// How many windows of that program are on the screen (its tray icon, its open menu).
int VisibleWindows(const QString& program)
{
    QProcess search;
    search.start("xdotool", {"search", "--onlyvisible", "--classname", program});
    search.waitForFinished(10000);
    return int(search.readAllStandardOutput().split('\n').count()) - 1;
}

// The modal window of that name that is open, else null.
QWidget* Modal(const char* name)
{
    QWidget* modal = QApplication::activeModalWidget();
    return modal && modal->isVisible() && modal->objectName() == name ? modal : nullptr;
}

bool IconShown(TTrayIcon& icon)
{
    return icon.SystemTrayIcon() && icon.SystemTrayIcon()->isVisible() && icon.SystemTrayIcon()->geometry().width() > 0;
}

QPoint ItemCentre(QMenu* menu, QAction* action) { return menu->mapToGlobal(menu->actionGeometry(action).center()); }

TEST_F(TrayOnTheDesktop, LeftClickShowsTheMenuAndAboutShowsItsText)
{
    TMainForm form;
    EXPECT_FALSE(form.isVisible()); // only the icon shows
    QStringList items;
    QString aboutText, aboutCaption;
    Script script;
    script.Then([&] { return IconShown(*form.TrayIcon1); },
                [&] {
                    EXPECT_EQ(form.TrayIcon1->SystemTrayIcon()->toolTip(), "Tarvel NT Print To Fax");
                    ClickAt(form.TrayIcon1->SystemTrayIcon()->geometry().center());
                });
    script.Then([&] { return form.PopupMenu1->isVisible(); },
                [&] {
                    for (QAction* action : form.PopupMenu1->actions())
                        items << action->text();
                    SaveScreen("tray_menu.png");
                    ClickAt(ItemCentre(form.PopupMenu1, form.About1));
                });
    script.Then([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
                [&] {
                    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    aboutText = box->text();
                    aboutCaption = box->windowTitle();
                    SaveScreen("tray_about.png");
                    box->button(QMessageBox::Ok)->click();
                });
    script.Then([] { return QApplication::activeModalWidget() == nullptr; }, [] {});
    ASSERT_TRUE(script.Run());
    EXPECT_EQ(items, (QStringList{"Close", "About", "Start Tarvel"}));
    EXPECT_EQ(aboutCaption, "Information");
    EXPECT_EQ(aboutText, QString(TMainForm::kAboutText).replace('\r', '\n'));
    EXPECT_FALSE(form.isVisible());
}

TEST_F(TrayOnTheDesktop, TheJobDialogShowsAboveEverything)
{
    TGetDataForm dialog;
    dialog.Phone->setText("555 0100");
    dialog.Recipient->setText("Ann Smith");
    dialog.Subject->setText("Quarterly figures");
    dialog.show();
    {
        TMainScreen book;
        ASSERT_TRUE(book.FormCreate());
        const std::pair<const char*, const char*> entries[] = {{"Bolt Brothers", "555-0102"},
                                                               {"Acme Supplies", "555-0101"}};
        for (const auto& [name, phone] : entries) {
            book.PhoneTable.Append();
            book.PhoneTable.FieldByName("NAME").SetAsString(name);
            book.PhoneTable.FieldByName("PHONE").SetAsString(phone);
            book.PhoneTable.Post();
        }
    }
    Script script;
    script.Then([&] { return dialog.isActiveWindow(); },
                [&] {
                    SaveScreen("job_dialog.png");
                    EXPECT_TRUE(dialog.Phone->hasFocus());
                    dialog.Button2->click();
                });
    script.Then([] { return Modal("TMainScreen") != nullptr; },
                [] {
                    QWidget* picker = Modal("TMainScreen");
                    QTableView* view = picker->findChild<data::TDBGrid*>("PhoneGrid")->View();
                    ClickAt(view->viewport()->mapToGlobal(view->visualRect(view->model()->index(1, 0)).center()));
                });
    script.Then([] { return Modal("TMainScreen") != nullptr; },
                [] {
                    SaveScreen("phone_picker.png");
                    Modal("TMainScreen")->findChild<QPushButton*>("OKButton")->click();
                });
    ASSERT_TRUE(script.Run());
    EXPECT_EQ(dialog.windowTitle(), "Tarvel NT Print To Fax");
    // The second row, in name order.
    EXPECT_EQ(dialog.Recipient->text(), "Bolt Brothers");
    EXPECT_EQ(dialog.Phone->text(), "555-0102");
}

TEST_F(TrayOnTheDesktop, CloseInTheMenuEndsZnptf)
{
    // Where the notification area puts its first icon: learnt from an icon of our own.
    QRect slot;
    {
        TTrayIcon probe(nullptr);
        probe.SetIcon(ProgramIcon());
        probe.Loaded();
        Script wait;
        wait.Then([&] { return IconShown(probe); }, [&] { slot = probe.SystemTrayIcon()->geometry(); });
        ASSERT_TRUE(wait.Run());
    }
    QProcess znptf;
    znptf.setProcessChannelMode(QProcess::ForwardedChannels);
    znptf.start(ZNPTF_PROGRAM, {});
    ASSERT_TRUE(znptf.waitForStarted());
    // Its icon takes the slot once it shows: a click there pops the menu, whose first item is Close.
    Script script;
    script.Then([] { return VisibleWindows("znptf") >= 1; }, [&] { ClickAt(slot.center()); });
    script.Then([] { return VisibleWindows("znptf") >= 2; },
                [] {
                    SaveScreen("znptf_menu.png");
                    QProcess::execute("xdotool", {"key", "Down", "Return"});
                });
    script.Then([&] { return znptf.state() == QProcess::NotRunning; }, [] {});
    const bool ended = script.Run();
    if (!ended)
        znptf.kill();
    znptf.waitForFinished(5000);
    ASSERT_TRUE(ended) << "znptf still runs";
    EXPECT_EQ(znptf.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(znptf.exitCode(), 0);
}

} // namespace
} // namespace zn::ptf
