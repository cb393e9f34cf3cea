// A link label: blue and underlined, it opens its address (or its caption) in the desktop's browser
// and offers "Copy" on its context menu.
#pragma once
#include <QColor>
#include <QLabel>
#include <QMenu>

#include <functional>

namespace zn::foundation::gui {

class TUrlLabel : public QLabel {
    Q_OBJECT
public:
    explicit TUrlLabel(QWidget* parent = nullptr);

    QString URL;
    QColor ActiveColor{0x80, 0x00, 0x80}; // while the button is held
    QMenu* PopupMenu() { return &popup_; }

    // Tests see the address instead of a browser starting.
    using Opener = std::function<void(const QString& target)>;
    static void SetOpenerForTest(Opener opener);

    void Click();

protected:
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    void SetTextColor(const QColor& c);
    QColor savedColor_;
    QMenu popup_;
};

} // namespace zn::foundation::gui
