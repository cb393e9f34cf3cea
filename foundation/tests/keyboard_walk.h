// Walks a window from the keyboard as a user does: Tab and Shift+Tab from stop to stop, and the
// Alt letters its controls and menus offer. Used by the GUI tests of both programs.
#pragma once
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace zn::foundation::test {

// The widget that takes the focus for `w` (its focus proxies followed).
inline QWidget* FocusTaker(QWidget* w)
{
    while (w && w->focusProxy())
        w = w->focusProxy();
    return w;
}


// The stops Tab should reach: shown, enabled controls that take the focus by Tab; of a group of
// exclusive radio buttons only the checked one (Tab enters a group at its checked button).
inline std::vector<QWidget*> TabStops(QWidget* window)
{
    std::vector<QWidget*> stops;
    std::set<QWidget*> seen;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || !w->isEnabled() || w->window() != window)
            continue;
        QWidget* taker = FocusTaker(w);
        if (!taker || !(taker->focusPolicy() & Qt::TabFocus) || !taker->isVisible() || !taker->isEnabled())
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(taker)) {
            const bool exclusive = (qobject_cast<QRadioButton*>(button) && button->autoExclusive())
                                   || (button->group() && button->group()->exclusive());
            if (exclusive && !button->isChecked())
                continue;
        }
        if (seen.insert(taker).second)
            stops.push_back(taker);
    }
    return stops;
}

// The part of `w` the user sees, in its window's coordinates (a page in a scroll box is seen only
// through the box).
inline QRect InWindow(QWidget* w)
{
    QRect seen = w->visibleRegion().boundingRect();
    if (seen.isEmpty())
        seen = w->rect();
    return seen.translated(w->mapTo(w->window(), QPoint(0, 0)));
}

// True when a reader meets `a` before `b`: `a` lies above `b` in the same column, or left of it on
// the same line.
inline bool ReadBefore(const QRect& a, const QRect& b)
{
    const bool sameColumn = a.left() <= b.right() && b.left() <= a.right();
    const bool sameLine = a.top() <= b.bottom() && b.top() <= a.bottom();
    if (sameColumn && a.bottom() < b.top())
        return true;
    if (sameLine && a.right() < b.left())
        return true;
    return false;
}

inline QString Describe(QWidget* w)
{
    if (!w)
        return "(nothing)";
    QString text;
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        text = " \"" + b->text() + "\"";
    const QString name = w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
    const QRect r = InWindow(w);
    return name + text + QString(" (%1,%2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

inline void PressTab(QWidget* w, bool backwards)
{
    const int key = backwards ? Qt::Key_Backtab : Qt::Key_Tab;
    const Qt::KeyboardModifiers mods = backwards ? Qt::ShiftModifier : Qt::NoModifier;
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods);
    QApplication::sendEvent(w, &release);
    QApplication::processEvents();
}

// The widgets that have the focus, one a Tab (or Shift+Tab), from `start` until the focus comes
// back to it, stays put, or `limit` keys were pressed.
inline std::vector<QWidget*> TabWalk(QWidget* start, bool backwards, int limit = 120)
{
    QWidget* window = start->window();
    start->setFocus(backwards ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    QApplication::processEvents();
    std::vector<QWidget*> walk{window->focusWidget()};
    for (int i = 0; i < limit; ++i) {
        QWidget* before = window->focusWidget();
        PressTab(before, backwards);
        QWidget* now = window->focusWidget();
        if (now == walk.front())
            break;
        walk.push_back(now);
        if (now == before) // trapped: Tab went into the control
            break;
    }
    return walk;
}

// The mnemonic letter of a caption ("&Save" gives 'S'); 0 when it has none.
inline QChar AltLetter(const QString& text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&')
            continue;
        if (text[i + 1] == '&') {
            ++i;
            continue;
        }
        return text[i + 1].toUpper();
    }
    return QChar();
}

// Every Alt letter the window offers now, with the captions that offer it: shown buttons, check
// boxes and radio buttons, labels that lead to a control, group boxes, tabs, and the menu bar's
// menus.
inline std::map<QChar, QStringList> AltLetters(QWidget* window)
{
    std::map<QChar, QStringList> letters;
    auto add = [&](const QString& caption) {
        const QChar c = AltLetter(caption);
        if (!c.isNull())
            letters[c] << caption;
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window)
            continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            add(b->text());
        else if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy())
            add(l->text());
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            add(g->title());
        else if (auto* t = qobject_cast<QTabBar*>(w))
            for (int i = 0; i < t->count(); ++i)
                add(t->tabText(i));
        else if (auto* m = qobject_cast<QMenuBar*>(w))
            for (QAction* a : m->actions())
                if (a->isVisible())
                    add(a->text());
    }
    return letters;
}

// "Letter X: a, b" for each letter offered more than once.
inline QStringList AltLetterClashes(QWidget* window)
{
    QStringList clashes;
    for (const auto& [letter, captions] : AltLetters(window))
        if (captions.size() > 1)
            clashes << QString("Alt+%1: %2").arg(letter).arg(captions.join(", "));
    return clashes;
}

// Pairs of a walk that a reader meets the other way round, as "a before b".
inline QStringList OutOfReadingOrder(const std::vector<QWidget*>& walk)
{
    QStringList wrong;
    for (size_t i = 0; i < walk.size(); ++i)
        for (size_t j = i + 1; j < walk.size(); ++j)
            if (ReadBefore(InWindow(walk[j]), InWindow(walk[i])))
                wrong << Describe(walk[j]) + " before " + Describe(walk[i]);
    return wrong;
}

// The walk is a round: it is in reading order when one of its starting points reads right. The
// round from the best starting point.
inline std::vector<QWidget*> BestRound(const std::vector<QWidget*>& walk)
{
    std::vector<QWidget*> best = walk;
    int fewest = OutOfReadingOrder(walk).size();
    for (size_t start = 1; start < walk.size() && fewest > 0; ++start) {
        std::vector<QWidget*> round(walk.begin() + start, walk.end());
        round.insert(round.end(), walk.begin(), walk.begin() + start);
        const int wrong = OutOfReadingOrder(round).size();
        if (wrong < fewest) {
            fewest = wrong;
            best = round;
        }
    }
    return best;
}

inline void ShowActive(QWidget* w)
{
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w);
    QApplication::processEvents();
}

// The stop a reader meets first: nothing is read before it; of several, the topmost.
inline QWidget* FirstRead(const std::vector<QWidget*>& stops)
{
    QWidget* first = nullptr;
    for (QWidget* w : stops) {
        bool preceded = false;
        for (QWidget* other : stops)
            preceded = preceded || (other != w && ReadBefore(InWindow(other), InWindow(w)));
        if (!preceded && (!first || InWindow(w).top() < InWindow(first).top()))
            first = w;
    }
    return first;
}

inline QStringList Names(const std::vector<QWidget*>& walk)
{
    QStringList names;
    for (QWidget* w : walk)
        names << Describe(w);
    return names;
}

// Tab from the first control a reader meets reaches every control, in reading order, and comes
// back round; Shift+Tab walks the same way backwards.
inline void ExpectTabWalksInReadingOrder(QWidget* window)
{
    ShowActive(window);
    const std::vector<QWidget*> stops = TabStops(window);
    ASSERT_FALSE(stops.empty());
    QWidget* first = FirstRead(stops);
    ASSERT_NE(first, nullptr);

    const std::vector<QWidget*> forward = TabWalk(first, false);
    const std::set<QWidget*> reached(forward.begin(), forward.end());
    for (QWidget* stop : stops)
        EXPECT_TRUE(reached.count(stop)) << "Tab never reaches " << Describe(stop).toStdString()
                                         << "; walk: " << Names(forward).join(" > ").toStdString();
    const std::vector<QWidget*> round = BestRound(forward);
    EXPECT_EQ(OutOfReadingOrder(round).join("; ").toStdString(), "")
        << "walk: " << Names(round).join(" > ").toStdString();

    std::vector<QWidget*> expectedBack{forward.front()};
    expectedBack.insert(expectedBack.end(), forward.rbegin(), forward.rend() - 1);
    EXPECT_EQ(Names(TabWalk(first, true)).join(" < ").toStdString(), Names(expectedBack).join(" < ").toStdString());
}

// No Alt letter is offered twice; with a default button, Enter stays with it wherever the focus
// goes (no other button takes Enter once focused).
inline void ExpectUniqueAltLettersAndDefault(QWidget* window, const QString& defaultButton)
{
    ShowActive(window);
    EXPECT_EQ(AltLetterClashes(window).join("; ").toStdString(), "");
    if (defaultButton.isEmpty())
        return;
    auto* button = window->findChild<QPushButton*>(defaultButton);
    ASSERT_NE(button, nullptr) << defaultButton.toStdString();
    EXPECT_TRUE(button->isDefault());
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        if (b != button && b->isVisible()) {
            EXPECT_FALSE(b->autoDefault()) << "Enter would press " << Describe(b).toStdString()
                                           << " once it had the focus";
        }
    }
}

} // namespace zn::foundation::test
