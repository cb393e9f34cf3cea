#include "foundation/help_window.h"

#include "platform/folders.h"
#include "platform/user_clicks.h"

#include <algorithm>

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

// The pages are a resource of a static library: naming it makes the linker keep it.
static bool InitHelpPages()
{
    Q_INIT_RESOURCE(help_pages);
    return true;
}

namespace zn::foundation {

namespace {

constexpr const char* kHelpRoot = ":/help/";
constexpr int kPageRole = Qt::UserRole; // the page of a contents or search item

void EnsureHelpPages()
{
    static const bool done = InitHelpPages();
    (void)done;
}

QString ReadResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString TitleOf(const QString& html)
{
    static const QRegularExpression title("<title>(.*?)</title>",
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = title.match(html);
    return m.hasMatch() ? m.captured(1).simplified() : QString();
}

QString& BookName()
{
    static QString name = "zn";
    return name;
}

// The help page of a text browser comes from HelpPageHtml, with the folders filled in; pictures
// and everything else are read by the browser itself.
class HelpBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override
    {
        if (type == QTextDocument::HtmlResource && name.scheme() == "qrc") {
            const QString html = HelpPageHtml(name.fileName());
            if (!html.isEmpty())
                return html;
        }
        return QTextBrowser::loadResource(type, name);
    }
};

QUrl PageUrl(const QString& page) { return QUrl("qrc:/help/" + page); }

QPointer<THelpWindow>& TheWindow()
{
    static QPointer<THelpWindow> window;
    return window;
}

void Rehome(THelpWindow* window, QWidget* owner);

// Gives the help window back to the desktop when the modal dialog it belonged to goes away, so that
// it stays open after the dialog; a dialog still up below that one takes it again.
class OwnerWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        THelpWindow* window = TheWindow();
        if (event->type() == QEvent::Hide && window && window->parentWidget() == watched) {
            Rehome(window, nullptr);
            QTimer::singleShot(0, window, [window] {
                QWidget* modal = QApplication::activeModalWidget();
                if (modal && modal != window && window->isVisible())
                    Rehome(window, modal);
            });
        }
        return false;
    }
};

OwnerWatch& Watch()
{
    static OwnerWatch watch;
    return watch;
}

// The window flags of the help window: a window of its own, or, while it belongs to a modal dialog,
// a dialog of that dialog in the layer above the ordinary windows. Window managers keep a modal
// dialog above the other windows that belong to it and raise it over them whenever it or a window
// it blocks is clicked; only the layer above keeps the help over the dialog it explains (a dialog
// that is itself in that layer is handled by the raise after each click).
Qt::WindowFlags HelpWindowFlags(const QWidget* owner)
{
    if (!owner)
        return Qt::Window;
    return Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
           | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint;
}

// Makes the window a window of its own belonging to the owner (or to nobody), where it was.
void Rehome(THelpWindow* window, QWidget* owner)
{
    if (window->parentWidget() == owner && window->windowFlags() == HelpWindowFlags(owner))
        return;
    const bool visible = window->isVisible();
    const bool placed = visible || window->testAttribute(Qt::WA_Moved);
    const QRect geometry = window->geometry();
    if (QWidget* old = window->parentWidget())
        old->removeEventFilter(&Watch());
    window->setParent(owner, HelpWindowFlags(owner));
    if (owner)
        owner->installEventFilter(&Watch());
    if (placed)
        window->setGeometry(geometry);
    if (visible)
        window->show();
}

// The width of a window's frame on each side, as the window manager drew it; zero before it did.
QMargins FrameMargins(const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
}

// Places the help window, frame included, beside the window it was opened from.
void Place(THelpWindow* window, const QWidget* from)
{
    const QScreen* screen = from && from->screen() ? from->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // A window not shown yet has no frame: the window it was opened from has one from the same
    // window manager.
    QMargins margins = FrameMargins(window);
    if (margins.isNull() && from)
        margins = FrameMargins(from);
    const QSize frameExtra(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QRect frame = PlaceBeside(from ? from->frameGeometry() : QRect(), THelpWindow::kDesignedSize + frameExtra,
                                    THelpWindow::kSmallestSize, screen->availableGeometry());
    window->resize(frame.size() - frameExtra);
    window->move(frame.topLeft()); // a window's position is its frame's
    window->FitPanes();
}

} // namespace

QRect PlaceBeside(const QRect& from, const QSize& size, const QSize& smallest, const QRect& screen)
{
    const int width = std::min(size.width(), screen.width());
    const int height = std::min(size.height(), screen.height());
    const auto clampX = [&](int x, int w) { return std::clamp(x, screen.left(), screen.right() + 1 - w); };
    const auto clampY = [&](int y, int h) { return std::clamp(y, screen.top(), screen.bottom() + 1 - h); };
    if (from.isNull())
        return {screen.center() - QRect(0, 0, width, height).center(), QSize(width, height)};

    // The room on each side, in the order tried when two give the same room.
    const int right = std::min(width, screen.right() - from.right());
    const int left = std::min(width, from.left() - screen.left());
    const int below = std::min(height, screen.bottom() - from.bottom());
    const int above = std::min(height, from.top() - screen.top());
    const QRect sides[] = {
        {from.right() + 1, clampY(from.top(), height), right, height},
        {from.left() - left, clampY(from.top(), height), left, height},
        {clampX(from.left(), width), from.bottom() + 1, width, below},
        {clampX(from.left(), width), from.top() - above, width, above},
    };
    const QRect* best = nullptr;
    for (const QRect& side : sides) {
        const bool fits = side.width() >= smallest.width() && side.height() >= smallest.height();
        if (fits && (!best || side.width() * side.height() > best->width() * best->height()))
            best = &side;
    }
    if (best)
        return *best;
    // No side has room: at the screen's edge where it covers as little of the window as it can.
    const int x = screen.right() - from.right() >= from.left() - screen.left() ? screen.right() + 1 - width
                                                                             : screen.left();
    return {x, clampY(from.top(), height), width, height};
}

HelpBook HelpBook::Load(const QString& name)
{
    EnsureHelpPages();
    HelpBook book;
    book.name = name;
    const QString text = ReadResource(kHelpRoot + name + ".topics");
    QString group;
    for (const QString& raw : text.split('\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith("title ")) {
            book.title = line.mid(6).trimmed();
            continue;
        }
        if (line.startsWith('=')) {
            group = line.mid(1).trimmed();
            continue;
        }
        const QStringList fields = line.split(QRegularExpression("\\s+"));
        HelpTopic topic{fields[0], TitleOf(ReadResource(kHelpRoot + fields[0])), group};
        for (int i = 1; i < fields.size(); ++i)
            book.contexts[fields[i].toInt()] = topic.page;
        book.topics.push_back(topic);
    }
    return book;
}

QString HelpBook::PageFor(int context) const
{
    const auto it = contexts.find(context);
    if (it != contexts.end())
        return it->second;
    return topics.empty() ? QString() : topics.front().page;
}

const HelpTopic* HelpBook::Find(const QString& page) const
{
    for (const HelpTopic& topic : topics)
        if (topic.page == page)
            return &topic;
    return nullptr;
}

QString HelpPageHtml(const QString& page)
{
    EnsureHelpPages();
    QString html = ReadResource(kHelpRoot + page);
    html.replace("@PROGRAM_FOLDER@", QString::fromStdString(platform::ProgramFolder()).toHtmlEscaped());
    html.replace("@SETTINGS_FOLDER@", QString::fromStdString(platform::WindowsFolder()).toHtmlEscaped());
    return html;
}

void SetHelpBook(const QString& name)
{
    BookName() = name;
    if (THelpWindow* window = TheWindow(); window && window->Book().name != name)
        delete window;
}

THelpWindow::THelpWindow(HelpBook book, QWidget* parent) : QWidget(parent, Qt::Window), book_(std::move(book))
{
    setObjectName("HelpWindow");

    ContentsButton = new QPushButton("&Contents", this);
    ContentsButton->setObjectName("ContentsButton");
    BackButton = new QPushButton("< &Back", this);
    BackButton->setObjectName("BackButton");
    BackButton->setEnabled(false);
    ForwardButton = new QPushButton("&Forward >", this);
    ForwardButton->setObjectName("ForwardButton");
    ForwardButton->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ContentsButton);
    buttons->addWidget(BackButton);
    buttons->addWidget(ForwardButton);
    buttons->addStretch();

    SearchEdit = new QLineEdit(this);
    SearchEdit->setObjectName("SearchEdit");
    SearchEdit->setPlaceholderText("words to find");
    SearchEdit->setClearButtonEnabled(true);
    auto* searchLabel = new QLabel("&Search:", this);
    searchLabel->setBuddy(SearchEdit);

    TopicTree = new QTreeWidget(this);
    TopicTree->setObjectName("TopicTree");
    TopicTree->setHeaderHidden(true);
    QTreeWidgetItem* groupItem = nullptr;
    for (const HelpTopic& topic : book_.topics) {
        if (topic.group.isEmpty()) {
            groupItem = nullptr;
        } else if (!groupItem || groupItem->text(0) != topic.group) {
            groupItem = new QTreeWidgetItem(TopicTree, QStringList{topic.group});
            groupItem->setFlags(Qt::ItemIsEnabled);
            QFont bold = groupItem->font(0);
            bold.setBold(true);
            groupItem->setFont(0, bold);
        }
        auto* item = groupItem ? new QTreeWidgetItem(groupItem, QStringList{topic.title})
                               : new QTreeWidgetItem(TopicTree, QStringList{topic.title});
        item->setData(0, kPageRole, topic.page);
        item->setToolTip(0, topic.title); // a long title is cut at the pane's edge
    }
    TopicTree->expandAll();

    SearchResults = new QListWidget(this);
    SearchResults->setObjectName("SearchResults");
    LeftPane = new QStackedWidget(this);
    LeftPane->setObjectName("LeftPane");
    LeftPane->addWidget(TopicTree);
    LeftPane->addWidget(SearchResults);

    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(SearchEdit);
    leftLayout->addLayout(searchRow);
    leftLayout->addWidget(LeftPane);

    Topic = new HelpBrowser(this);
    Topic->setObjectName("Topic");
    Topic->setOpenExternalLinks(true);

    Panes = new QSplitter(this);
    Panes->setObjectName("Panes");
    Panes->addWidget(left);
    Panes->addWidget(Topic);
    Panes->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(Panes, 1);
    resize(kDesignedSize);
    FitPanes();

    connect(ContentsButton, &QPushButton::clicked, this, [this] {
        if (!book_.topics.empty())
            ShowPage(book_.topics.front().page);
    });
    connect(BackButton, &QPushButton::clicked, Topic, &QTextBrowser::backward);
    connect(ForwardButton, &QPushButton::clicked, Topic, &QTextBrowser::forward);
    connect(Topic, &QTextBrowser::backwardAvailable, BackButton, &QWidget::setEnabled);
    connect(Topic, &QTextBrowser::forwardAvailable, ForwardButton, &QWidget::setEnabled);
    connect(Topic, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) { TopicShown(url.fileName()); });
    const auto openItem = [this](QTreeWidgetItem* item) {
        const QString page = item->data(0, kPageRole).toString();
        if (!page.isEmpty())
            ShowPage(page);
    };
    connect(TopicTree, &QTreeWidget::itemClicked, this, openItem);
    connect(TopicTree, &QTreeWidget::itemActivated, this, openItem);
    connect(SearchEdit, &QLineEdit::textChanged, this, [this](const QString& text) { Search(text); });
    const auto openResult = [this](QListWidgetItem* item) {
        const QString page = item->data(kPageRole).toString();
        if (page.isEmpty())
            return;
        ShowPage(page);
        // Marks the first searched word in the topic.
        const QStringList words = SearchEdit->text().split(' ', Qt::SkipEmptyParts);
        if (!words.isEmpty())
            Topic->find(words.front());
    };
    connect(SearchResults, &QListWidget::itemClicked, this, openResult);
    connect(SearchResults, &QListWidget::itemActivated, this, openResult);
    connect(SearchEdit, &QLineEdit::returnPressed, this, [this, openResult] {
        if (LeftPane->currentWidget() == SearchResults && SearchResults->count() > 0)
            openResult(SearchResults->item(0));
    });
}

void THelpWindow::FitPanes()
{
    // The topic is what is read: the contents take a third of a narrow window, 280 pixels at most.
    const int contents = std::min(280, width() / 3);
    Panes->setSizes({contents, std::max(0, width() - contents)});
}

void THelpWindow::keyPressEvent(QKeyEvent* event)
{
    // Esc closes the help wherever the keyboard is in it (the search box, the contents, the topic).
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void THelpWindow::ShowPage(const QString& page)
{
    if (Page() == page)
        Topic->reload();
    else
        Topic->setSource(PageUrl(page));
}

QString THelpWindow::Page() const { return Topic->source().fileName(); }

QString THelpWindow::TopicTitle() const { return Topic->documentTitle(); }

// The browser's source() is still the old page while it tells of the new one.
void THelpWindow::TopicShown(const QString& page)
{
    const QString title = TopicTitle();
    // The contents page is called after the book.
    setWindowTitle(title.isEmpty() || title == book_.title ? book_.title : title + " - " + book_.title);
    for (QTreeWidgetItemIterator it(TopicTree); *it; ++it)
        if ((*it)->data(0, kPageRole).toString() == page) {
            TopicTree->setCurrentItem(*it);
            break;
        }
}

QString THelpWindow::PlainText(const HelpTopic& topic)
{
    auto it = plainText_.find(topic.page);
    if (it == plainText_.end()) {
        QTextDocument document;
        document.setHtml(HelpPageHtml(topic.page));
        it = plainText_.emplace(topic.page, document.toPlainText()).first;
    }
    return it->second;
}

void THelpWindow::Search(const QString& text)
{
    if (SearchEdit->text() != text)
        SearchEdit->setText(text); // comes back here through textChanged
    const QStringList words = text.split(' ', Qt::SkipEmptyParts);
    SearchResults->clear();
    if (words.isEmpty()) {
        LeftPane->setCurrentWidget(TopicTree);
        return;
    }
    for (const HelpTopic& topic : book_.topics) {
        const QString plain = PlainText(topic);
        bool all = true;
        for (const QString& word : words)
            all = all && plain.contains(word, Qt::CaseInsensitive);
        if (all) {
            auto* item = new QListWidgetItem(topic.title, SearchResults);
            item->setData(kPageRole, topic.page);
        }
    }
    if (SearchResults->count() == 0)
        SearchResults->addItem("No topic holds these words.");
    LeftPane->setCurrentWidget(SearchResults);
}

THelpWindow* OpenHelpWindow() { return TheWindow(); }

QString ShownHelpTopic()
{
    const THelpWindow* window = TheWindow();
    return window && window->isVisible() ? window->TopicTitle() : QString();
}

THelpWindow* OpenHelp(int context)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    QPointer<THelpWindow>& window = TheWindow();
    if (!window) {
        window = new THelpWindow(HelpBook::Load(BookName()));
        // Window managers stack a modal dialog above every other window of its layer that
        // belongs to it whenever it or a window it blocks is clicked: the help of a dialog goes
        // back on top.
        THelpWindow* made = window;
        platform::WatchUserClicks(made, [made] {
            if (made->parentWidget() && made->isVisible())
                made->raise();
        });
    }
    // A modal dialog blocks every window that is not its own: the help window joins the dialog.
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == window)
        owner = window->parentWidget();
    const bool newOwner = window->parentWidget() != owner;
    Rehome(window, owner);
    if (!window->isVisible() || (owner && newOwner)) {
        // A help window opened again starts a new session: Back leads to no topic of the last one.
        if (!window->isVisible())
            window->Topic->clearHistory();
        Place(window, owner ? owner : QApplication::activeWindow());
    }
    window->ShowPage(window->Book().PageFor(context));
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace zn::foundation
