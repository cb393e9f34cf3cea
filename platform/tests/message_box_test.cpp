#include "platform/message_box.h"
#include "platform/window_title.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace zn::platform {
namespace {

// What a box on the (offscreen) screen showed.
struct Shown {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::vector<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Waits for the next modal box, records it and presses the button (NoButton: Esc).
void AnswerNextBox(Shown& shown, QMessageBox::StandardButton press)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &shown, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        shown.caption = box->windowTitle();
        shown.text = box->text();
        shown.icon = box->icon();
        // The order on screen is the desktop's convention, not the flags'.
        for (auto* b : box->buttons())
            shown.buttons.push_back(box->standardButton(b));
        std::sort(shown.buttons.begin(), shown.buttons.end());
        shown.defaultButton = box->standardButton(box->defaultButton());
        if (press == QMessageBox::NoButton) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(box, &esc);
        } else {
            box->button(press)->click();
        }
    });
    timer->start(5);
}

struct BoxCase {
    const char* name;
    unsigned flags;
    std::vector<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton defaultButton;
    QMessageBox::StandardButton press; // NoButton: Esc
    int answer;
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.name; }

class MessageBoxScreenTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxScreenTest, ShowsTheButtonsOfTheFlagsAndAnswersWithTheirIds)
{
    const BoxCase& c = GetParam();
    Shown shown;
    AnswerNextBox(shown, c.press);
    EXPECT_EQ(MessageBoxShow("First line\rsecond line", "Tarvel", c.flags), c.answer);
    EXPECT_EQ(shown.caption, "Tarvel");
    EXPECT_EQ(shown.text, "First line\nsecond line");
    auto buttons = c.buttons;
    std::sort(buttons.begin(), buttons.end());
    EXPECT_EQ(shown.buttons, buttons);
    EXPECT_EQ(shown.defaultButton, c.defaultButton);
}

using B = QMessageBox;
INSTANTIATE_TEST_SUITE_P(
    Flags, MessageBoxScreenTest,
    ::testing::Values(BoxCase{"Ok", MB_OK, {B::Ok}, B::Ok, B::Ok, IDOK},
                      BoxCase{"OkEsc", MB_OK, {B::Ok}, B::Ok, B::NoButton, IDOK},
                      BoxCase{"OkCancelEsc", MB_OKCANCEL, {B::Ok, B::Cancel}, B::Ok, B::NoButton, IDCANCEL},
                      BoxCase{"AbortRetryIgnore",
                              MB_ABORTRETRYIGNORE | MB_DEFBUTTON3,
                              {B::Abort, B::Retry, B::Ignore},
                              B::Ignore,
                              B::Retry,
                              IDRETRY},
                      BoxCase{"YesNoCancel", MB_YESNOCANCEL, {B::Yes, B::No, B::Cancel}, B::Yes, B::Cancel, IDCANCEL},
                      BoxCase{"YesNoDefaultNo", 292, {B::Yes, B::No}, B::No, B::Yes, IDYES},
                      BoxCase{"YesNoClosed", MB_YESNO, {B::Yes, B::No}, B::Yes, B::NoButton, IDNO},
                      BoxCase{"RetryCancel", MB_RETRYCANCEL, {B::Retry, B::Cancel}, B::Retry, B::Retry, IDRETRY}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

// A caption longer than the text: the box is wide enough for a window manager to show the whole
// caption beside its title bar buttons.
TEST(MessageBoxTest, AShortTextUnderALongCaptionLeavesRoomForTheCaption)
{
    for (const char* caption : {"Save Preferences", "Save fax cover template as"}) {
        int width = 0;
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [timer, &width] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer->stop();
            timer->deleteLater();
            width = box->width();
            box->button(QMessageBox::Yes)->click();
        });
        timer->start(5);
        MessageBoxShow("Save changes?", caption, MB_YESNO);
        EXPECT_GE(width, WidthForTitle(caption)) << caption;
        // The room asked for: the caption in a bold title font and the bar's controls.
        QFont bold = QApplication::font();
        bold.setBold(true);
        EXPECT_GT(WidthForTitle(caption), QFontMetrics(bold).horizontalAdvance(caption) + 90) << caption;
    }
}

// A text wider than its caption is shown whole, on one line where it fits and wrapped where it is
// long: the label is as wide as each line it shows and as tall as its wrapped lines.
TEST(MessageBoxTest, EveryTextIsShownWhole)
{
    const std::string paragraph = "The fax could not be sent because the modem did not answer, although it was "
                                  "asked three times; check that it is switched on and plugged in, then try again.";
    for (const std::string& text : {std::string("Please enter a recipient fax number"),
                                    std::string("Please enter text for the \"regarding\" field\rand/or enter a message"),
                                    paragraph}) {
        bool seen = false, whole = false;
        QString detail;
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [&, timer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer->stop();
            timer->deleteLater();
            seen = true;
            auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            if (label) {
                const QRect room = label->contentsRect();
                const QFontMetrics metrics(label->font());
                int widest = 0;
                for (const QString& line : label->text().split('\n'))
                    widest = std::max(widest, metrics.horizontalAdvance(line));
                whole = label->wordWrap() ? room.height() >= label->heightForWidth(label->width())
                                          : room.width() >= widest;
                detail = QString("label %1x%2, text %3 wide, wrapped %4")
                             .arg(room.width())
                             .arg(room.height())
                             .arg(widest)
                             .arg(label->wordWrap());
            }
            box->button(QMessageBox::Ok)->click();
        });
        timer->start(5);
        MessageBoxShow(text, "Tarvel", MB_OK);
        ASSERT_TRUE(seen);
        EXPECT_TRUE(whole) << text << ": " << detail.toStdString();
    }
}

TEST(MessageBoxTest, IconsFollowTheFlags)
{
    for (auto [flags, icon] : {std::pair{MB_ICONHAND, B::Critical}, std::pair{MB_ICONQUESTION, B::Question},
                               std::pair{MB_ICONEXCLAMATION, B::Warning}, std::pair{MB_ICONASTERISK, B::Information}}) {
        Shown shown;
        AnswerNextBox(shown, B::Ok);
        MessageBoxShow("x", "y", flags);
        EXPECT_EQ(shown.icon, icon) << flags;
    }
}

TEST(MessageBoxTest, BoxFromAnotherThreadShowsOnTheGuiThread)
{
    Shown shown;
    AnswerNextBox(shown, B::No);
    std::atomic<int> answer{0};
    std::thread worker([&] { answer = MessageBoxShow("Port in use", "Error", MB_YESNO); });
    while (answer == 0)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(shown.text, "Port in use");
}

TEST(MessageBoxTest, HookSeesTheBoxAndGivesTheAnswer)
{
    std::string text, caption;
    unsigned flags = 0;
    SetMessageBoxHook([&](const std::string& t, const std::string& c, unsigned f) {
        text = t, caption = c, flags = f;
        return IDNO;
    });
    EXPECT_EQ(MessageBoxShow("Delete the fax?\r", "Confirm", MB_YESNO | MB_ICONQUESTION), IDNO);
    SetMessageBoxHook(nullptr);
    EXPECT_EQ(text, "Delete the fax?\r") << "text reaches the hook as given";
    EXPECT_EQ(caption, "Confirm");
    EXPECT_EQ(flags, 36u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
} // namespace zn::platform
