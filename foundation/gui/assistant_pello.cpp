#include "foundation/gui/assistant_pello.h"

#include "foundation/dialogs.h"
#include "foundation/gui/graphic_panel.h"
#include "foundation/gui/quib_button.h"

#include <QApplication>
#include <QDataStream>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

namespace zn::foundation::gui {

namespace {
constexpr int kTopicsPerPage = 5;
} // namespace

int TopicPageCount(int topicCount) { return topicCount / kTopicsPerPage + (topicCount % kTopicsPerPage > 0 ? 1 : 0); }

TopicPage TopicPageAt(int page, int topicCount)
{
    TopicPage t;
    t.first = page * kTopicsPerPage - 4;
    t.shown = page * kTopicsPerPage < topicCount ? kTopicsPerPage : topicCount - page * kTopicsPerPage + kTopicsPerPage;
    return t;
}

TAssistantPelloForm::TAssistantPelloForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("TAssistantPelloForm");
    resize(270, 410);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::ToolTipText));
    setPalette(pal);
    const QColor face = pal.color(QPalette::Window);

    auto quib = [&](QWidget* parent, const char* name, const QString& caption) {
        auto* b = new TQuibButton(parent);
        b->setObjectName(name);
        b->SetCaption(caption);
        b->Color = face;
        b->CaptionX = 10;
        return b;
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    TitleBar = new TGraphicPanel(this);
    TitleBar->setObjectName("TitleBar");
    TitleBar->SetCaption("Assistant");
    TitleBar->SetColor(palette().color(QPalette::Highlight));
    TitleBar->setFixedHeight(22);
    QPalette titlePal = TitleBar->palette();
    titlePal.setColor(QPalette::WindowText, palette().color(QPalette::HighlightedText));
    TitleBar->setPalette(titlePal);
    TitleBar->installEventFilter(this);
    layout->addWidget(TitleBar);

    auto* panel3 = new QWidget(this);
    panel3->setObjectName("Panel3");
    auto* panel3Layout = new QHBoxLayout(panel3);
    panel3Layout->setContentsMargins(0, 0, 0, 0);
    Backbutton = quib(panel3, "Backbutton", "Back  ");
    Backbutton->setFixedHeight(25);
    Backbutton->setVisible(false);
    QuibButton1 = quib(panel3, "QuibButton1", "Close");
    QuibButton1->setFixedHeight(25);
    panel3Layout->addWidget(Backbutton);
    panel3Layout->addStretch();
    panel3Layout->addWidget(QuibButton1);

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName("Notebook1");
    auto* mainPage = new QWidget;
    mainPage->setObjectName("Main");
    auto* mainLayout = new QVBoxLayout(mainPage);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);
    for (int k = 0; k < kTopicsPerPage; ++k) {
        QB[k] = quib(mainPage, QString("QB%1").arg(k + 1).toLatin1().constData(), QString());
        QB[k]->setFixedHeight(43);
        mainLayout->addWidget(QB[k]);
        connect(QB[k], &TQuibButton::OnClick, this, [this, k] { GButtonclick(k); });
    }
    QuibButton2 = quib(mainPage, "QuibButton2", "See also: Frequently Asked Questions");
    QuibButton2->setFixedHeight(43);
    mainLayout->addWidget(QuibButton2);
    mainLayout->addStretch();
    auto* pagingPanel = new QWidget(mainPage);
    auto* pagingLayout = new QHBoxLayout(pagingPanel);
    pagingLayout->setContentsMargins(0, 0, 0, 0);
    QBPrev = quib(pagingPanel, "QBPrev", "Previous");
    QBNext = quib(pagingPanel, "QBNext", "More");
    QBPrev->setFixedSize(100, 25);
    QBNext->setFixedSize(90, 25);
    pagingLayout->addWidget(QBPrev);
    pagingLayout->addStretch();
    pagingLayout->addWidget(QBNext);
    mainLayout->addWidget(pagingPanel);

    auto* labelPage = new QWidget;
    labelPage->setObjectName("LabelPage");
    auto* labelLayout = new QVBoxLayout(labelPage);
    LabelPageCaption = new QLabel(labelPage);
    LabelPageCaption->setObjectName("LabelPageCaption");
    QFont bold = LabelPageCaption->font();
    bold.setBold(true);
    LabelPageCaption->setFont(bold);
    LabelPageCaption->setWordWrap(true);
    LabelPageLabel = new QLabel(labelPage);
    LabelPageLabel->setObjectName("LabelPageLabel");
    LabelPageLabel->setWordWrap(true);
    LabelPageLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    labelLayout->addWidget(LabelPageCaption);
    labelLayout->addWidget(LabelPageLabel, 1);

    auto* memoPage = new QWidget;
    memoPage->setObjectName("MemoPage");
    auto* memoLayout = new QVBoxLayout(memoPage);
    MemoPageCaption = new QLabel(memoPage);
    MemoPageCaption->setObjectName("MemoPageCaption");
    MemoPageCaption->setFont(bold);
    MemoPageCaption->setWordWrap(true);
    MemoPageMemo = new QTextEdit(memoPage);
    MemoPageMemo->setObjectName("MemoPageMemo");
    MemoPageMemo->setReadOnly(true);
    MemoPageMemo->setFrameShape(QFrame::NoFrame);
    MemoPageMemo->viewport()->setAutoFillBackground(false);
    memoLayout->addWidget(MemoPageCaption);
    memoLayout->addWidget(MemoPageMemo, 1);

    Notebook1->addWidget(mainPage);
    Notebook1->addWidget(labelPage);
    Notebook1->addWidget(memoPage);
    layout->addWidget(Notebook1, 1);
    layout->addWidget(panel3);

    connect(Notebook1, &QStackedWidget::currentChanged, this, [this] { PageChanged(); });
    connect(Backbutton, &TQuibButton::OnClick, this, [this] { WexbyButton4Click(); });
    connect(QuibButton1, &TQuibButton::OnClick, this, [this] { close(); });
    connect(QuibButton2, &TQuibButton::OnClick, this, [] { ShowHelpContext(kFaqHelpContext); });
    connect(QBNext, &TQuibButton::OnClick, this, [this] { ShowPage(page_ + 1); });
    connect(QBPrev, &TQuibButton::OnClick, this, [this] { ShowPage(page_ - 1); });
    Notebook1->setCurrentIndex(0);
}

void TAssistantPelloForm::SetTopics(const QStringList& titles, const QStringList& answers)
{
    titles_ = titles;
    answers_ = answers;
}

void TAssistantPelloForm::StartPaging()
{
    count_ = int(titles_.size());
    pages_ = TopicPageCount(count_);
    ShowPage(1);
}

void TAssistantPelloForm::ShowPage(int page)
{
    page_ = page;
    const TopicPage t = TopicPageAt(page, count_);
    for (int k = 1; k <= kTopicsPerPage; ++k) {
        TQuibButton* b = QB[k - 1];
        const int topic = t.first + k - 2; // 0-based
        if (k <= t.shown && topic >= 0 && topic < count_)
            b->SetCaption(titles_[topic]);
        b->setProperty("tag", topic);
        b->setVisible(k <= t.shown);
        b->setEnabled(k <= t.shown);
    }
    QCoreApplication::processEvents();
    QBPrev->setVisible(t.first > 1);
    QBNext->setVisible(page_ < pages_);
}

void TAssistantPelloForm::GButtonclick(int button)
{
    const int topic = QB[button]->property("tag").toInt();
    if (topic < 0 || topic >= answers_.size())
        return;
    const QString answer = answers_[topic];
    const QRect room = LabelPageLabel->contentsRect();
    const QRect needed = LabelPageLabel->fontMetrics().boundingRect(QRect(0, 0, std::max(1, room.width()), 100000),
                                                                    Qt::TextWordWrap, answer);
    if (needed.height() > room.height()) {
        MemoPageMemo->setPlainText(answer);
        MemoPageCaption->setText(QB[button]->Caption());
        Notebook1->setCurrentIndex(2);
    } else {
        LabelPageLabel->setText(answer);
        LabelPageCaption->setText(QB[button]->Caption());
        Notebook1->setCurrentIndex(1);
    }
}

void TAssistantPelloForm::WexbyButton4Click() { Notebook1->setCurrentIndex(0); }

void TAssistantPelloForm::PageChanged() { Backbutton->setVisible(Notebook1->currentIndex() > 0); }

void TAssistantPelloForm::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, width(), height()), width() / 16.0, height() / 16.0);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void TAssistantPelloForm::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1));
    p.drawRoundedRect(QRectF(1, 1, width() - 2, height() - 2), width() / 16.0, height() / 16.0);
}

bool TAssistantPelloForm::eventFilter(QObject* watched, QEvent* event)
{
    // The title bar drags the window, as a caption would.
    if (watched == TitleBar) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(event);
            dragging_ = me->button() == Qt::LeftButton;
            dragOffset_ = me->globalPosition().toPoint() - frameGeometry().topLeft();
            return true;
        }
        if (event->type() == QEvent::MouseMove && dragging_) {
            move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - dragOffset_);
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            dragging_ = false;
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

TAssistantPello::TAssistantPello(QWidget* owner) : QObject(owner), owner_(owner) {}
TAssistantPello::~TAssistantPello() = default;

QByteArray TAssistantPello::WriteTopics() const
{
    QByteArray out;
    if (Titles.isEmpty())
        return out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s << qint32(Titles.size() - 1);
    for (const QString& t : Titles)
        s << t;
    for (int i = 0; i < Titles.size(); ++i)
        s << (i < Answers.size() ? Answers[i] : QString());
    return out;
}

void TAssistantPello::ReadTopics(const QByteArray& stored)
{
    Titles.clear();
    Answers.clear();
    QDataStream s(stored);
    qint32 n = -1;
    s >> n;
    if (n < 0 || s.status() != QDataStream::Ok)
        return;
    for (qint32 i = 0; i <= n && s.status() == QDataStream::Ok; ++i) {
        QString t;
        s >> t;
        Titles << t;
    }
    for (qint32 i = 0; i <= n && s.status() == QDataStream::Ok; ++i) {
        QString a;
        s >> a;
        Answers << a;
    }
}

QPoint TAssistantPello::Placement(const QRect& ownerFrame, const QPoint& ownerClientOrigin, const QSize& window,
                                  const QSize& screen)
{
    int left = ownerFrame.left() + ownerFrame.width() - window.width() / 2;
    if (left + window.width() > screen.width())
        left = screen.width() - window.width();
    int top = ownerClientOrigin.y();
    if (top + window.height() > screen.height())
        top = screen.height() - window.height();
    return {left, top};
}

void TAssistantPello::Execute()
{
    if (!form_)
        form_ = std::make_unique<TAssistantPelloForm>(owner_);
    form_->TitleBar->SetCaption(Caption);
    form_->SetTopics(Titles, Answers);
    form_->StartPaging();
    form_->Notebook1->setCurrentIndex(0);
    const QScreen* screen = owner_ && owner_->screen() ? owner_->screen() : QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->size() : QSize(1024, 768);
    const QRect frame = owner_ ? owner_->frameGeometry() : QRect();
    const QPoint client = owner_ ? owner_->mapToGlobal(QPoint(0, 0)) : QPoint();
    form_->move(Placement(frame, client, form_->size(), screenSize));
    form_->show();
    form_->raise();
}

} // namespace zn::foundation::gui
