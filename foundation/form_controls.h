// Controls as the forms of both programs place them: named after their component, with their hint and limits.
#pragma once
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPushButton>
#include <QString>

#include <algorithm>
#include <initializer_list>

namespace zn::foundation {

inline QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QString& hint = {})
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
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
