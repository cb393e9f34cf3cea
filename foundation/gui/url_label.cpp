#include "foundation/gui/url_label.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QUrl>

namespace zn::foundation::gui {

namespace {
TUrlLabel::Opener& TestOpener()
{
    static TUrlLabel::Opener opener;
    return opener;
}
} // namespace

void TUrlLabel::SetOpenerForTest(Opener opener) { TestOpener() = std::move(opener); }

TUrlLabel::TUrlLabel(QWidget* parent) : QLabel(parent), popup_(this)
{
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    SetTextColor(QColor(0x00, 0x00, 0xFF));
    setCursor(Qt::PointingHandCursor);
    QAction* copy = popup_.addAction("Copy");
    copy->setObjectName("Copy");
    connect(copy, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(text()); });
}

void TUrlLabel::SetTextColor(const QColor& c)
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, c);
    setPalette(pal);
}

void TUrlLabel::Click()
{
    const QString target = URL.trimmed().isEmpty() ? text() : URL;
    if (target.trimmed().isEmpty())
        return;
    if (TestOpener())
        TestOpener()(target);
    else
        QDesktopServices::openUrl(QUrl::fromUserInput(target.trimmed()));
}

void TUrlLabel::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return QLabel::mousePressEvent(e);
    savedColor_ = palette().color(QPalette::WindowText);
    SetTextColor(ActiveColor);
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return QLabel::mouseReleaseEvent(e);
    SetTextColor(savedColor_);
    if (rect().contains(e->position().toPoint()))
        Click();
}

void TUrlLabel::contextMenuEvent(QContextMenuEvent* e) { popup_.exec(e->globalPos()); }

} // namespace zn::foundation::gui
