// The help window: the program's help book (pages built into the program from resources/help/)
// with its contents, the topic, back and forward, and a search over the words of every topic. Each
// program has one help window; a help call opens it at the topic of a help context number.
#pragma once
#include <QString>
#include <QWidget>

#include <map>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTextBrowser;
class QTreeWidget;

namespace zn::foundation {

struct HelpTopic {
    QString page;  // file name of the page, e.g. "send_fax.html"
    QString title; // the page's <title>
    QString group; // the heading of the contents it is listed under ("" for the top)
};

// A help book as its ":/help/<name>.topics" file lists it: the topics in the order of the contents
// (the first is the contents page) and the help context numbers each one answers.
struct HelpBook {
    QString name;
    QString title;
    std::vector<HelpTopic> topics;
    std::map<int, QString> contexts;

    static HelpBook Load(const QString& name); // no topics when the book is missing
    QString PageFor(int context) const;        // the contents page for a number it does not know
    const HelpTopic* Find(const QString& page) const;
};

// The page's HTML with the folders this program really uses filled in (@PROGRAM_FOLDER@,
// @SETTINGS_FOLDER@); empty when there is no such page.
QString HelpPageHtml(const QString& page);

// The book that help calls open: "zn" unless the program chooses another (znptf chooses "znptf").
void SetHelpBook(const QString& name);

class THelpWindow : public QWidget {
public:
    explicit THelpWindow(HelpBook book, QWidget* parent = nullptr);
    const HelpBook& Book() const { return book_; }
    void ShowPage(const QString& page);
    QString Page() const;       // file name of the topic shown
    QString TopicTitle() const; // its title
    // Lists the topics that hold every word of the text (any case); an empty text shows the contents.
    void Search(const QString& words);
    // Shares the width between the contents and the topic after a resize.
    void FitPanes();

    static constexpr QSize kDesignedSize{900, 640};
    static constexpr QSize kSmallestSize{400, 300}; // frame included: beside a dialog, no smaller

    QLineEdit* SearchEdit;
    QStackedWidget* LeftPane;
    QTreeWidget* TopicTree;
    QListWidget* SearchResults;
    QTextBrowser* Topic;
    QSplitter* Panes;
    QPushButton *ContentsButton, *BackButton, *ForwardButton;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void TopicShown(const QString& page);
    QString PlainText(const HelpTopic& topic);
    HelpBook book_;
    std::map<QString, QString> plainText_; // page -> words, for the search
};

// Opens the help window at the context's topic and brings it to the front. While a modal dialog is
// up the window belongs to it, so that it can be read and scrolled beside the dialog and stays above
// it; it is placed beside the dialog when it opens or comes to a new dialog.
THelpWindow* OpenHelp(int context);
THelpWindow* OpenHelpWindow(); // the help window when one exists, else null
// Where the help window goes on the screen, frame included: beside the window it was opened from,
// on the side (right, left, below, above) with the most room for it, as large as `size` and that
// room allow; at the screen's edge covering as little of the window as it can when no side has room
// for `smallest`; centred when there is no window. Always inside the screen.
QRect PlaceBeside(const QRect& from, const QSize& size, const QSize& smallest, const QRect& screen);
QString ShownHelpTopic();      // the title of the topic on screen; empty while no help window shows

} // namespace zn::foundation
