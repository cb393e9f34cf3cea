// Drives modal dialogs from a test: each queued action runs on the next modal window that opens,
// as a user would answer it, while the code under test waits in its exec().
#pragma once
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace zn::foundation::test {

class ModalDriver {
public:
    using Action = std::function<void(QWidget* dialog)>;
    ModalDriver()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    // The action for the next modal window; its class name is recorded.
    void Then(Action action) { actions_.push_back(std::move(action)); }
    const std::vector<std::string>& Seen() const { return seen_; }
    bool Done() const { return actions_.empty(); }

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        // A dialog is answered once; a later one may reuse the same address.
        if (!modal || modal->property("answeredByTest").toBool() || actions_.empty() || !modal->isVisible())
            return;
        modal->setProperty("answeredByTest", true);
        seen_.push_back(modal->objectName().toStdString());
        Action action = std::move(actions_.front());
        actions_.pop_front();
        action(modal);
    }
    QTimer timer_;
    std::deque<Action> actions_;
    std::vector<std::string> seen_;
};

template <class T>
T* Find(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(name);
}

} // namespace zn::foundation::test
