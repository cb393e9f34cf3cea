// The tips assistant: a list of topics (title and answer) shown five to a page in a floating,
// rounded, stay-on-top window beside its owner form.
#pragma once
#include <QStringList>
#include <QWidget>

#include <memory>

class QLabel;
class QStackedWidget;
class QTextEdit;

namespace zn::foundation::gui {

class TGraphicPanel;
class TQuibButton;

// Which topics a page shows, 5 a page, pages counted from 1.
struct TopicPage {
    int first = 0; // 1-based number of the first topic shown
    int shown = 0; // buttons in use on this page
};
int TopicPageCount(int topicCount);
TopicPage TopicPageAt(int page, int topicCount);

class TAssistantPelloForm : public QWidget {
    Q_OBJECT
public:
    explicit TAssistantPelloForm(QWidget* parent = nullptr);

    TGraphicPanel* TitleBar;
    TQuibButton* Backbutton;
    TQuibButton* QuibButton1; // Close
    QStackedWidget* Notebook1;
    TQuibButton* QB[5];
    TQuibButton* QuibButton2; // the questions-and-answers help topic
    TQuibButton* QBPrev;
    TQuibButton* QBNext;
    QLabel* LabelPageCaption;
    QLabel* LabelPageLabel;
    QLabel* MemoPageCaption;
    QTextEdit* MemoPageMemo;

    void SetTopics(const QStringList& titles, const QStringList& answers);
    void StartPaging(); // page 1 of the topics
    void ShowPage(int page);
    int CurrentPage() const { return page_; }
    int PageCount() const { return pages_; }
    void GButtonclick(int button); // 0..4: the topic button pressed
    void WexbyButton4Click();      // back to the topic list
    void ExplorerButton1Click() { hide(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PageChanged();

    QStringList titles_, answers_;
    int count_ = 0, pages_ = 0, page_ = 1;
    QPoint dragOffset_;
    bool dragging_ = false;
};

class TAssistantPello : public QObject {
    Q_OBJECT
public:
    explicit TAssistantPello(QWidget* owner);
    ~TAssistantPello() override;

    QString Caption = "Quick Tips";
    int Toggle = 0; // stored only
    QStringList Titles;
    QStringList Answers; // index i answers Titles[i]

    // Stored form of the topics: n (titles - 1), the titles, then the answers.
    QByteArray WriteTopics() const;
    void ReadTopics(const QByteArray& stored);

    void Execute();
    TAssistantPelloForm* Form() const { return form_.get(); } // null before the first Execute

    // Where the tips window goes beside the owner, kept on a screen of the given size.
    static QPoint Placement(const QRect& ownerFrame, const QPoint& ownerClientOrigin, const QSize& window,
                            const QSize& screen);

private:
    QWidget* owner_;
    std::unique_ptr<TAssistantPelloForm> form_;
};

} // namespace zn::foundation::gui
