// The small widgets, driven as a user would: keys, clicks and zooms, checked by what they show.
#include "foundation/gui/assist_hint_button.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/gui/graphic_panel.h"
#include "foundation/gui/quib_button.h"
#include "foundation/gui/scroll_box.h"
#include "foundation/gui/url_label.h"
#include "foundation/gui/zoom_panel.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace zn::foundation::gui;

TEST(TEnterEdit, EnterMovesToTheNextControlAndInsertsNothing)
{
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    auto* first = new TEnterEdit(&form);
    auto* second = new QLineEdit(&form);
    auto* ok = new QPushButton("OK", &form);
    layout->addWidget(first);
    layout->addWidget(second);
    layout->addWidget(ok);
    bool okPressed = false;
    QObject::connect(ok, &QPushButton::clicked, [&] { okPressed = true; });
    form.show();
    QApplication::setActiveWindow(&form);
    first->setFocus();
    QTest::keyClicks(first, "abc");
    QTest::keyClick(first, Qt::Key_Return);
    EXPECT_EQ(first->text(), "abc");
    EXPECT_TRUE(second->hasFocus());
    EXPECT_FALSE(okPressed);
    // Other keys behave as in any edit box.
    QTest::keyClicks(second, "x");
    EXPECT_EQ(second->text(), "x");
}

TEST(TUrlLabel, OpensItsAddressElseItsCaptionElseNothing)
{
    std::vector<QString> opened;
    TUrlLabel::SetOpenerForTest([&](const QString& t) { opened.push_back(t); });
    TUrlLabel label;
    label.setText("www.example.org");
    label.resize(200, 20);
    label.URL = "  ";
    label.show();
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    label.URL = "https://shop.example.org/";
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    label.URL.clear();
    label.setText(" ");
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], "www.example.org");
    EXPECT_EQ(opened[1], "https://shop.example.org/");
    TUrlLabel::SetOpenerForTest({});
}

TEST(TUrlLabel, LooksLikeALinkShowsTheActiveColourWhileHeldAndCopiesItsCaption)
{
    TUrlLabel::SetOpenerForTest([](const QString&) {});
    TUrlLabel label;
    label.setText("www.example.org");
    label.resize(200, 20);
    label.show();
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0x80, 0, 0x80));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QAction* copy = label.PopupMenu()->findChild<QAction*>("Copy");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text(), "Copy");
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "www.example.org");
    TUrlLabel::SetOpenerForTest({});
}

TEST(TGZoomPanel, SizeFollowsTheFactorRelativeToFactorOne)
{
    TGZoomPanel panel;
    panel.resize(200, 100);
    panel.Zoom(2.0f);
    EXPECT_EQ(panel.size(), QSize(400, 200));
    panel.Zoom(1.0f);
    EXPECT_EQ(panel.size(), QSize(200, 100));
    panel.resize(150, 90);
    panel.Zoom(1.0f); // the current factor: nothing
    EXPECT_EQ(panel.size(), QSize(150, 90));
    panel.Zoom(0.5f);
    EXPECT_EQ(panel.size(), QSize(75, 45));
}

TEST(TGZoomPanel, StretchesThePictureInsideAOnePixelFrame)
{
    QImage picture(2, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(0, 0, 0));
    picture.setPixel(1, 0, qRgb(255, 255, 255));
    TGZoomPanel panel;
    panel.resize(40, 20);
    panel.SetPicture(picture);
    const QImage shot = panel.grab().toImage();
    EXPECT_EQ(shot.pixelColor(0, 10), QColor(Qt::black));  // frame
    EXPECT_EQ(shot.pixelColor(10, 10), QColor(Qt::black)); // left half of the picture
    EXPECT_EQ(shot.pixelColor(30, 10), QColor(Qt::white)); // right half
    EXPECT_EQ(shot.pixelColor(39, 10), QColor(Qt::black)); // frame
}

TEST(TRSScrollBox, ReportsAScrollBeforeTheContentMoves)
{
    TRSScrollBox box;
    auto* content = new QWidget;
    content->resize(1000, 1000);
    box.setWidget(content);
    box.resize(200, 200);
    box.show();
    int valueAtReport = -1;
    int reports = 0;
    QObject::connect(&box, &TRSScrollBox::OnScroll, [&] {
        ++reports;
        valueAtReport = box.verticalScrollBar()->value();
    });
    box.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(valueAtReport, 0);
    EXPECT_GT(box.verticalScrollBar()->value(), 0);
}

TEST(TGraphicPanel, DrawsARaisedBevelAndItsCaptionAndReportsResizes)
{
    TGraphicPanel panel;
    EXPECT_EQ(panel.size(), QSize(185, 41));
    panel.SetColor(QColor(200, 200, 200));
    panel.SetCaption("Ready");
    int resizes = 0;
    panel.OnResize = [&] { ++resizes; };
    panel.show();
    const QImage shot = panel.grab().toImage();
    EXPECT_EQ(shot.pixel(0, 20), panel.palette().color(QPalette::Light).rgb());
    EXPECT_EQ(shot.pixel(184, 20), panel.palette().color(QPalette::Dark).rgb());
    EXPECT_EQ(shot.pixelColor(5, 5), QColor(200, 200, 200));
    // The caption leaves ink in the middle line.
    int ink = 0;
    for (int x = 1; x < 184; ++x)
        for (int y = 10; y < 31; ++y)
            ink += shot.pixelColor(x, y) != QColor(200, 200, 200) ? 1 : 0;
    EXPECT_GT(ink, 20);
    panel.resize(300, 41);
    EXPECT_EQ(resizes, 1);
}

class QuibButtonTest : public ::testing::Test {
protected:
    QuibButtonTest()
    {
        parent.resize(200, 60);
        button = new TQuibButton(&parent);
        button->setGeometry(10, 10, 120, 30);
        parent.show();
    }
    QWidget parent;
    TQuibButton* button;
};

TEST_F(QuibButtonTest, StartsAsDesignedAndClicksOnlyWhileEnabled)
{
    TQuibButton plain;
    EXPECT_EQ(plain.size(), QSize(100, 25));
    EXPECT_EQ(plain.Caption(), "Quib Button");
    int clicks = 0;
    QObject::connect(button, &TQuibButton::OnClick, [&] { ++clicks; });
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(clicks, 1);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_TRUE(button->Down());
    EXPECT_TRUE(button->Hovering());
    button->setEnabled(false);
    EXPECT_FALSE(button->Down());
    EXPECT_FALSE(button->Hovering());
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(clicks, 1);
}

TEST_F(QuibButtonTest, ACaptionWiderThanItsRoomWraps)
{
    button->SetCaption("Short");
    EXPECT_FALSE(button->CaptionWraps());
    button->SetCaption("See also: Frequently Asked Questions about every single thing");
    EXPECT_TRUE(button->CaptionWraps());
    button->resize(120, 60);
    const QImage shot = button->grab().toImage();
    // Ink in both the upper and the lower half of the caption area: two lines.
    auto inkIn = [&](int y0, int y1) {
        int ink = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = button->CaptionX; x < 110; ++x)
                ink += shot.pixelColor(x, y).lightness() < 100 ? 1 : 0;
        return ink;
    };
    EXPECT_GT(inkIn(0, 30), 0);
    EXPECT_GT(inkIn(31, 60), 0);
}

TEST_F(QuibButtonTest, MagentaCornerGlyphShowsNoMagentaEnabledOrDisabled)
{
    const QColor magenta(255, 0, 255);
    QImage glyph(16, 16, QImage::Format_RGB32);
    glyph.fill(magenta);
    for (int y = 4; y < 12; ++y)
        for (int x = 4; x < 12; ++x)
            glyph.setPixelColor(x, y, QColor(0, 0, 60)); // dark: black when greyed
    for (int y = 6; y < 10; ++y)
        glyph.setPixelColor(6, y, QColor(250, 250, 250)); // light: white when greyed
    button->SetBitmapOn(glyph);
    button->GlyphPosition = 4;
    auto countMagenta = [&](const QImage& shot) {
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                n += shot.pixelColor(x, y) == magenta ? 1 : 0;
        return n;
    };
    QImage shot = button->grab().toImage();
    EXPECT_EQ(countMagenta(shot), 0);
    EXPECT_EQ(shot.pixelColor(4 + 5, 7 + 6), QColor(0, 0, 60)); // glyph drawn at (4, (30-16)/2)

    const QImage disabled = button->GeneratedDisabledGlyph();
    ASSERT_FALSE(disabled.isNull());
    EXPECT_EQ(disabled.pixelColor(0, 0), magenta); // keeps its transparent areas
    EXPECT_EQ(disabled.pixelColor(5, 5), QColor(Qt::black));
    EXPECT_EQ(disabled.pixelColor(6, 7), QColor(Qt::white));
    button->setEnabled(false);
    shot = button->grab().toImage();
    EXPECT_EQ(countMagenta(shot), 0);
    EXPECT_EQ(shot.pixelColor(4 + 5, 7 + 5), QColor(Qt::black)); // disabled: the offset is 0
}

TEST(TQuibButtonGlyph, BrightnessBandsOfTheDisabledGlyph)
{
    QImage glyph(5, 1, QImage::Format_RGB32);
    glyph.setPixel(0, 0, qRgb(255, 0, 255)); // the transparent key
    glyph.setPixel(1, 0, qRgb(69, 69, 68));  // 206: white
    glyph.setPixel(2, 0, qRgb(68, 68, 69));  // 205: highlight
    glyph.setPixel(3, 0, qRgb(23, 23, 23));  // 69: shadow
    glyph.setPixel(4, 0, qRgb(23, 23, 22));  // 68: black
    QPalette pal;
    pal.setColor(QPalette::Light, QColor(230, 230, 230));
    pal.setColor(QPalette::Dark, QColor(120, 120, 120));
    const QImage d = TQuibButton::MakeDisabledGlyph(glyph, pal);
    EXPECT_EQ(d.pixelColor(0, 0), QColor(255, 0, 255));
    EXPECT_EQ(d.pixelColor(1, 0), QColor(255, 255, 255));
    EXPECT_EQ(d.pixelColor(2, 0), QColor(230, 230, 230));
    EXPECT_EQ(d.pixelColor(3, 0), QColor(120, 120, 120));
    EXPECT_EQ(d.pixelColor(4, 0), QColor(0, 0, 0));
}

TEST(TAssistShowHintSpeedbutton, LinesUpWithItsControlAndKeepsACopyOfItsLines)
{
    QWidget form;
    form.resize(300, 200);
    auto* edit = new QLineEdit(&form);
    edit->setGeometry(10, 57, 150, 22);
    auto* tip = new TAssistShowHintSpeedbutton(&form);
    tip->setGeometry(170, 40, 22, 22);
    tip->HintControl = edit;
    form.show();
    tip->Loaded();
    EXPECT_EQ(tip->y(), 57);
    tip->AlignTop = false;
    tip->move(170, 10);
    tip->Loaded();
    EXPECT_EQ(tip->y(), 10);
    QStringList lines{"Choose the port", "your modem uses."};
    tip->SetAssistLines(lines);
    lines.clear();
    EXPECT_EQ(tip->AssistLines(), (QStringList{"Choose the port", "your modem uses."}));
}
