// Controls as zn's forms place them: named after their component, with their hint and limits.
#pragma once
#include "foundation/form_controls.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QString>
#include <QStringList>

namespace zn::app {

using foundation::ButtonRow;
using foundation::MakeButton;
using foundation::MakeEdit;
using foundation::TabOrder;

} // namespace zn::app

namespace zn::app {

// A text of the system as a label shows it: a carriage return starts a new line.
inline QString ShownText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// A captioned group of radio buttons, one of them checked, read and set by its index; the buttons
// are named after the group with their index appended.
class TRadioGroup : public QGroupBox {
public:
    TRadioGroup(QWidget* parent, const char* name, const QString& caption, const QStringList& items)
        : QGroupBox(caption, parent)
    {
        setObjectName(name);
        auto* row = new QHBoxLayout(this);
        for (int i = 0; i < items.size(); ++i) {
            auto* b = new QRadioButton(items[i], this);
            b->setObjectName(QString("%1%2").arg(name).arg(i));
            group_.addButton(b, i);
            row->addWidget(b);
        }
        row->addStretch();
        setCurrentIndex(0);
        foundation::TabEntersAtCheckedButton(&group_);
    }
    int currentIndex() const { return group_.checkedId(); }
    // An index outside the items checks the first.
    void setCurrentIndex(int index)
    {
        QAbstractButton* b = group_.button(index);
        if (!b)
            b = group_.button(0);
        if (b)
            b->setChecked(true);
    }
    QRadioButton* Item(int index) const { return static_cast<QRadioButton*>(group_.button(index)); }
    // The buttons in their order, then `next`: a run of the tab order.
    std::vector<QWidget*> ThenTab(std::initializer_list<QWidget*> next) const
    {
        std::vector<QWidget*> run;
        for (QAbstractButton* b : group_.buttons())
            run.push_back(b);
        run.insert(run.end(), next.begin(), next.end());
        return run;
    }

private:
    QButtonGroup group_;
};

// The hourglass cursor while a form talks to the modem.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace zn::app
