// Controls as the forms of both programs place them: named after their component, with their hint and limits.
#pragma once
#include <QFontMetrics>
#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QString>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace zn::foundation {

inline QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QString& hint = {})
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    // Enter stays with the window's default button (OK, Next) wherever the focus is; a button
    // that has the focus is pressed with Space.
    b->setAutoDefault(false);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    return b;
}

// An edit of a table field or setting: at most maxLength characters, wide enough for most of them.
template <class Edit>
Edit* MakeEdit(QWidget* parent, const char* name, int maxLength, const QString& hint = {})
{
    auto* e = new Edit(parent);
    e->setObjectName(name);
    e->setMaxLength(maxLength);
    if (!hint.isEmpty())
        e->setToolTip(hint);
    e->setMinimumWidth(QFontMetrics(e->font()).averageCharWidth() * std::min(maxLength, 40) + 12);
    return e;
}

// Tab visits the controls in this order (the order a reader meets them).
inline void TabOrder(const std::vector<QWidget*>& widgets)
{
    QWidget* previous = nullptr;
    for (QWidget* w : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

// Tab enters an exclusive group of buttons at its checked button, wherever that lies (the arrows
// move within the group); without this the toolkit lets Tab stop at whichever button comes first.
inline void TabEntersAtCheckedButton(QButtonGroup* group)
{
    auto fix = [group] {
        for (QAbstractButton* b : group->buttons())
            b->setFocusPolicy(b->isChecked() || !group->checkedButton() ? Qt::StrongFocus : Qt::ClickFocus);
    };
    QObject::connect(group, &QButtonGroup::buttonToggled, group, fix);
    fix();
}

// Buttons at the right-hand end of a row.
inline QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* b : buttons)
        row->addWidget(b);
    return row;
}

} // namespace zn::foundation
