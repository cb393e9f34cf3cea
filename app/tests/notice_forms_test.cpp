// The quick-start window (copy and print) and the receive-mode notice, driven by their names.
#include "app/notice_forms.h"
#include "foundation/form_placement.h"
#include "foundation/settings.h"
#include "foundation/tests/test_support.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace zn::app {
namespace {

class NoticeFormsTest : public ::testing::Test {
protected:
    NoticeFormsTest()
    {
        platform::SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return int(platform::IDOK);
        });
    }
    ~NoticeFormsTest() override { platform::SetMessageBoxHook({}); }
    foundation::test::TempHome home_;
    std::vector<std::string> boxes;
};

// The first black pixel's column and row (-1 when the image is blank).
QPoint FirstInk(const QImage& image)
{
    int left = -1, top = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) {
                if (top < 0)
                    top = y;
                if (left < 0 || x < left)
                    left = x;
            }
    return {left, top};
}

TEST_F(NoticeFormsTest, QuickStartCopiesItsWholeTextToTheClipboard)
{
    TQuickStart form;
    EXPECT_EQ(form.windowTitle(), "Tarvel Quick-Start");
    auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
    ASSERT_NE(memo, nullptr);
    EXPECT_GT(memo->toPlainText().size(), 1500);
    EXPECT_TRUE(memo->toPlainText().contains("Tarvel Fax"));
    memo->selectAll();
    form.findChild<QPushButton*>("BitBtn2")->click();
    EXPECT_EQ(QApplication::clipboard()->text(), QuickStartText());
    EXPECT_FALSE(memo->textCursor().hasSelection());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Tarvel Quick-Start copied to the clipboard!");
}

TEST_F(NoticeFormsTest, QuickStartPrintsEveryLineHalfAnInchInOnOnePage)
{
    TQuickStart form;
    // A letter page at 100 dots per inch: the text starts half an inch (50 dots) in.
    QImage page(850, 1100, QImage::Format_RGB32);
    page.fill(Qt::white);
    page.setDotsPerMeterX(3937);
    page.setDotsPerMeterY(3937);
    ASSERT_TRUE(form.PrintLines(page));
    const QPoint ink = FirstInk(page);
    EXPECT_GE(ink.x(), 50);
    EXPECT_LE(ink.x(), 56);
    EXPECT_GE(ink.y(), 50);
    EXPECT_LE(ink.y(), 62);
    // Every line on the one page: the last line's ink lies above the bottom edge.
    const int lines = int(QuickStartText().count('\n')) + 1;
    EXPECT_LT(50 + lines * 17, page.height());

    // The print button goes through the print dialog; cancelling prints nothing and says nothing.
    form.RunPrintDialog = [](QPrinter&) { return false; };
    form.PrintButton->click();
    EXPECT_TRUE(boxes.empty());
    const std::string pdf = home_.Path() + "/quickstart.pdf";
    form.RunPrintDialog = [&pdf](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return true;
    };
    form.PrintButton->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Tarvel Quick-Start Printed!");
    EXPECT_EQ(foundation::test::ReadFile(pdf).substr(0, 5), "%PDF-");
}

TEST_F(NoticeFormsTest, TheReceiveNoticeSwitchesPanelsAndRemembersDoNotShow)
{
    foundation::Settings().DisableReceivingFaxesNotification = false;
    TStartingFaxForm form;
    EXPECT_EQ(form.windowTitle(), "Starting Receive mode...");
    form.show();
    form.ShowStarting();
    EXPECT_TRUE(form.StartingPanel->isVisible());
    EXPECT_EQ(form.StartingPanel->text(), "Please wait while fax receive mode is started.....");
    EXPECT_FALSE(form.ReadyPanel->isVisible());
    EXPECT_FALSE(form.okbutton->isVisible());
    EXPECT_FALSE(form.DoNotShow->isVisible());
    form.ShowReady();
    EXPECT_FALSE(form.StartingPanel->isVisible());
    EXPECT_TRUE(form.ReadyPanel->isVisible());
    QStringList texts;
    for (QLabel* l : form.ReadyPanel->findChildren<QLabel*>())
        texts << l->text();
    EXPECT_EQ(texts, (QStringList{"Tarvel is in receive mode now", "To end receive mode, press the STOP button",
                                  "While in receive mode, sending faxes is not possible"}));
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 15000);
    form.DoNotShow->click();
    EXPECT_TRUE(foundation::Settings().DisableReceivingFaxesNotification);
    form.okbutton->click();
    EXPECT_FALSE(form.isVisible());
}

// Placed while it says it is starting, the notice keeps its size and place when it turns to the
// ready panel, and shows every line of that panel whole.
TEST_F(NoticeFormsTest, TheReceiveNoticeKeepsItsSizeWhenItTurnsReady)
{
    TStartingFaxForm form;
    form.ShowStarting();
    foundation::CenterForm(form);
    const QSize placed = form.size();
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.size(), placed);
    const QRect shown = form.geometry();
    form.ShowReady();
    QApplication::processEvents();
    EXPECT_EQ(form.geometry(), shown);
    for (QLabel* l : form.ReadyPanel->findChildren<QLabel*>())
        EXPECT_GE(l->height(), l->sizeHint().height()) << l->text().toStdString();
    EXPECT_GE(form.okbutton->height(), form.okbutton->sizeHint().height());
    EXPECT_TRUE(form.rect().contains(QRect(form.okbutton->mapTo(&form, QPoint(0, 0)), form.okbutton->size())));
}

} // namespace
} // namespace zn::app
