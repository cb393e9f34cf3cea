// The tips window's paging and pages, its placement, and the help-text dialog's height, copy and print.
#include "foundation/dialogs.h"
#include "foundation/gui/assistant_help.h"
#include "foundation/gui/assistant_pello.h"
#include "foundation/gui/graphic_panel.h"
#include "foundation/gui/quib_button.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

using namespace zn::foundation::gui;

namespace {
QStringList Numbered(const QString& stem, int n)
{
    QStringList out;
    for (int i = 1; i <= n; ++i)
        out << QString("%1 %2").arg(stem).arg(i);
    return out;
}
} // namespace

TEST(TAssistantPello, TwelveTopicsPageFiveFiveAndTwo)
{
    QWidget owner;
    owner.resize(400, 300);
    TAssistantPello assistant(&owner);
    assistant.Titles = Numbered("Topic", 12);
    assistant.Answers = Numbered("Answer", 12);
    assistant.Execute();
    TAssistantPelloForm* form = assistant.Form();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->TitleBar->Caption(), "Quick Tips");
    EXPECT_EQ(form->PageCount(), 3);
    auto captions = [&] {
        QStringList shown;
        for (TQuibButton* b : form->QB)
            if (b->isVisibleTo(form))
                shown << b->Caption();
        return shown;
    };
    EXPECT_EQ(captions(), Numbered("Topic", 5));
    EXPECT_FALSE(form->QBPrev->isVisibleTo(form));
    EXPECT_TRUE(form->QBNext->isVisibleTo(form));
    emit form->QBNext->OnClick();
    EXPECT_EQ(captions(), Numbered("Topic", 10).mid(5));
    EXPECT_TRUE(form->QBPrev->isVisibleTo(form));
    emit form->QBNext->OnClick();
    EXPECT_EQ(captions(), (QStringList{"Topic 11", "Topic 12"}));
    EXPECT_FALSE(form->QBNext->isVisibleTo(form));
    EXPECT_FALSE(form->QB[2]->isEnabled());
    emit form->QBPrev->OnClick();
    EXPECT_EQ(form->CurrentPage(), 2);
}

TEST(TAssistantPello, PagingArithmetic)
{
    EXPECT_EQ(TopicPageCount(0), 0);
    EXPECT_EQ(TopicPageCount(5), 1);
    EXPECT_EQ(TopicPageCount(6), 2);
    EXPECT_EQ(TopicPageAt(1, 5).shown, 5);
    EXPECT_EQ(TopicPageAt(3, 12).first, 11);
    EXPECT_EQ(TopicPageAt(3, 12).shown, 2);
    EXPECT_EQ(TopicPageAt(2, 10).shown, 5);
}

TEST(TAssistantPello, ShortAnswerOnTheLabelPageLongOneInTheScrollingMemo)
{
    QWidget owner;
    TAssistantPello assistant(&owner);
    QString longAnswer;
    for (int i = 0; i < 200; ++i)
        longAnswer += "a long answer that goes on ";
    assistant.Titles = {"Short", "Long"};
    assistant.Answers = {"Three words here", longAnswer};
    assistant.Execute();
    TAssistantPelloForm* form = assistant.Form();
    QApplication::processEvents();
    form->GButtonclick(0);
    EXPECT_EQ(form->Notebook1->currentIndex(), 1);
    EXPECT_EQ(form->LabelPageLabel->text(), "Three words here");
    EXPECT_EQ(form->LabelPageCaption->text(), "Short");
    EXPECT_TRUE(form->Backbutton->isVisibleTo(form));
    form->WexbyButton4Click();
    EXPECT_EQ(form->Notebook1->currentIndex(), 0);
    EXPECT_FALSE(form->Backbutton->isVisibleTo(form));
    form->GButtonclick(1);
    EXPECT_EQ(form->Notebook1->currentIndex(), 2);
    EXPECT_EQ(form->MemoPageCaption->text(), "Long");
    QApplication::processEvents();
    EXPECT_GT(form->MemoPageMemo->verticalScrollBar()->maximum(), 0);
}

TEST(TAssistantPello, StoredTopicsReadBackAndAnEmptyListStoresNothing)
{
    TAssistantPello a(nullptr);
    EXPECT_TRUE(a.WriteTopics().isEmpty());
    a.Titles = {"One", "Two"};
    a.Answers = {"First answer", "Second answer"};
    TAssistantPello b(nullptr);
    b.Titles = {"stale"};
    b.ReadTopics(a.WriteTopics());
    EXPECT_EQ(b.Titles, a.Titles);
    EXPECT_EQ(b.Answers, a.Answers);
}

TEST(TAssistantPello, WindowStaysOnTheScreenBesideItsOwner)
{
    const QSize screen(1024, 768);
    const QSize window(260, 340);
    // Beside an owner in the middle: half over the owner's right edge, level with its client area.
    EXPECT_EQ(TAssistantPello::Placement(QRect(100, 100, 400, 300), QPoint(104, 130), window, screen),
              QPoint(100 + 400 - 130, 130));
    // An owner at the right edge: the window's right edge is the screen's.
    EXPECT_EQ(TAssistantPello::Placement(QRect(800, 600, 224, 150), QPoint(804, 630), window, screen),
              QPoint(1024 - 260, 768 - 340));
}

class HelpDialogTest : public ::testing::Test {
protected:
    ~HelpDialogTest() override
    {
        zn::platform::SetMessageBoxHook({});
        TShowAssistantHelpForm::SetPrintDialogHookForTest({});
    }
};

TEST_F(HelpDialogTest, HeightFollowsTheLineCountWithFourAtLeast)
{
    TShowAssistantHelpForm form;
    EXPECT_EQ(form.windowTitle(), "Assistance");
    EXPECT_EQ(form.width(), 427);
    const int designed = form.DesignedHeight();
    const int line = form.LineHeight();
    form.SetLines(Numbered("line", 2));
    EXPECT_EQ(form.height(), designed - 10 * line);
    form.SetLines(Numbered("line", 4));
    EXPECT_EQ(form.height(), designed - 10 * line);
    form.SetLines(Numbered("line", 14));
    EXPECT_EQ(form.height(), designed);
}

class HelpDialogLines : public HelpDialogTest, public ::testing::WithParamInterface<int> {};

// Every line can be read: either all fit, or the memo scrolls to the last.
TEST_P(HelpDialogLines, TheLastLineCanBeSeen)
{
    TShowAssistantHelpForm form;
    form.SetLines(Numbered("line", GetParam()));
    form.show();
    QApplication::processEvents();
    QScrollBar* bar = form.Memo1->verticalScrollBar();
    bar->setValue(bar->maximum());
    QApplication::processEvents();
    QTextCursor end(form.Memo1->document());
    end.movePosition(QTextCursor::End);
    EXPECT_LE(form.Memo1->cursorRect(end).bottom(), form.Memo1->viewport()->height())
        << GetParam() << " lines, bar " << bar->value() << "/" << bar->maximum() << " visible " << bar->isVisible()
        << " viewport " << form.Memo1->viewport()->height();
    EXPECT_EQ(bar->isVisible(), GetParam() > 14);
}
INSTANTIATE_TEST_SUITE_P(Counts, HelpDialogLines, ::testing::Values(2, 14, 15, 16, 20),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "Lines"; });

TEST_F(HelpDialogTest, CopyPutsTheTextOnTheClipboardAndSaysSo)
{
    std::vector<std::string> boxes;
    zn::platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return 1;
    });
    TShowAssistantHelpForm form;
    form.SetLines({"first line", "second line"});
    form.Button1->click();
    EXPECT_EQ(QApplication::clipboard()->text(), "first line\nsecond line");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Information copied to Windows clipboard");
}

TEST_F(HelpDialogTest, CancelledPrintSaysNothingAndAConfirmedOnePrintsEveryLine)
{
    std::vector<std::string> boxes;
    zn::platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return 1;
    });
    TShowAssistantHelpForm form;
    form.SetLines(Numbered("printed line", 150));
    TShowAssistantHelpForm::SetPrintDialogHookForTest([](QPrinter&) { return false; });
    form.Button3->click();
    EXPECT_TRUE(boxes.empty());

    QTemporaryDir dir;
    const QString pdf = dir.filePath("help.pdf");
    TShowAssistantHelpForm::SetPrintDialogHookForTest([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QPageSize::A4));
        return true;
    });
    form.Button3->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "The information has been printed.");
    EXPECT_GT(QFileInfo(pdf).size(), 0);
    // 150 lines of 11-point text do not fit on one A4 page between 3/4-inch margins.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("count.pdf"));
    printer.setPageSize(QPageSize(QPageSize::A4));
    EXPECT_EQ(PrintHelpLines(Numbered("printed line", 150), QFont("Arial"), printer), 3);
}
