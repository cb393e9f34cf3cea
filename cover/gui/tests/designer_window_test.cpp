// The designer window offscreen: saving under proposed names, the four files, the recent list and
// the font preferences in ZN.INI, reopening, deleting, zoom, and the questions before unsaved work
// is dropped. Dialogs are answered through their widgets, message boxes through the box seam.
#include "cover/gui/cover_dialogs.h"
#include "cover/gui/designer_window.h"
#include "cover/gui/mru_file_list.h"
#include "cover/gui/template_dialogs.h"
#include "cover/render_file.h"
#include "cover/template_files.h"
#include "faxdoc/tests/test_support.h"
#include "foundation/dialogs.h"
#include "foundation/help_window.h"
#include "foundation/program_folders.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/message_box.h"
#include "platform/tests/param_name.h"

#include <QAction>
#include <QCursor>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace zn::cover::gui {
namespace {

using faxdoc::test::ReadFile;
using faxdoc::test::TTempDir;
using faxdoc::test::WriteFile;

// Runs `act` on the next modal dialog of type D once it is up.
template <class D>
void WhenShown(std::function<void(D&)> act)
{
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        D* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && qobject_cast<D*>(w))
                dialog = qobject_cast<D*>(w);
        if (dialog) {
            poll->stop();
            poll->deleteLater();
            act(*dialog);
        }
    });
    poll->start();
}

struct DesignerFixture : ::testing::Test {
    TTempDir home;
    int64_t now = 5000;
    std::vector<std::string> boxes; // text of every message box, in order
    int answer = platform::IDYES;
    std::unique_ptr<TCoverDesMainScreen> window;

    void SetUp() override
    {
        setenv("ZN_HOME", home.Path("").c_str(), 1);
        platform::SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return answer;
        });
        Open();
    }
    void TearDown() override
    {
        window.reset();
        platform::SetMessageBoxHook(nullptr);
        unsetenv("ZN_HOME");
    }
    void Open()
    {
        window = std::make_unique<TCoverDesMainScreen>(nullptr, [this] { return now; });
        window->show();
        QApplication::processEvents();
    }
    void Reopen()
    {
        window->close();
        Open();
    }
    std::string Covers() const { return foundation::GetCoversFolder(); }

    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
    {
        QWidget* surface = window->LabelPanel;
        QMouseEvent event(type, QPointF(at), QPointF(surface->mapToGlobal(at)), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(surface, &event);
    }
    void Drag(QPoint from, QPoint to)
    {
        Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        now += 200;
        Mouse(QEvent::MouseMove, to, Qt::LeftButton);
        Mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
        now += 200;
    }
    void DrawRectangle(QRect r)
    {
        window->DrawRectanglebutton->click();
        Drag(r.topLeft(), r.topLeft() + QPoint(r.width(), r.height()));
    }
    // Save As through its dialog: checks what it proposes, then saves under `name`.
    void SaveAs(const QString& expectProposed, const QString& name = {})
    {
        QString proposed, description;
        WhenShown<TSaveTemplateAs>([&](TSaveTemplateAs& dialog) {
            proposed = dialog.TemplateName->text();
            description = dialog.TemplateDescription->text();
            if (!name.isEmpty())
                dialog.TemplateName->setText(name);
            dialog.OKButton->click();
        });
        window->SaveButton->click();
        EXPECT_EQ(proposed, expectProposed);
        if (expectProposed.startsWith("ZN")) {
            EXPECT_EQ(description, "[Description]");
        }
    }
};

// The window is made at a size its tool bar fits in (a window made narrower is laid out at that
// width by the display, its minimum notwithstanding), and every tool button shows its whole
// caption, side by side.
TEST_F(DesignerFixture, TheToolBarShowsEveryCaptionWhole)
{
    {
        TCoverDesMainScreen fresh(nullptr, [this] { return now; });
        EXPECT_GE(fresh.width(), fresh.minimumSizeHint().width());
        EXPECT_GE(fresh.height(), 404);
    }
    QWidget* bar = window->findChild<QWidget*>("Panel2");
    ASSERT_NE(bar, nullptr);
    int right = -1;
    int count = 0;
    for (QToolButton* b : bar->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly)) {
        if (b->text().isEmpty())
            continue;
        ++count;
        EXPECT_GE(b->width(), b->sizeHint().width()) << b->objectName().toStdString();
        EXPECT_GE(b->x(), right) << b->objectName().toStdString();
        EXPECT_LE(b->x() + b->width(), bar->width()) << b->objectName().toStdString();
        right = b->x() + b->width();
    }
    EXPECT_EQ(count, 14); // twelve tools, Grid and Snap
}

TEST_F(DesignerFixture, SaveAsProposesNumberedNamesAndWritesTheFourFilesAndSettings)
{
    EXPECT_EQ(window->windowTitle(), "Cover Sheet Template Designer");
    EXPECT_FALSE(window->SaveButton->isVisible());
    DrawRectangle(QRect(100, 120, 200, 80));
    EXPECT_TRUE(window->ChangesMade());
    EXPECT_EQ(window->SaveButton->text(), "&Save As");
    SaveAs("ZN0001.FCS");
    for (const char* ext : {"FCS", "FCT", "DES", "bmp"})
        EXPECT_TRUE(platform::FileExistsCI(Covers() + "ZN0001." + ext)) << ext;
    EXPECT_EQ(window->windowTitle(), "Cover Sheet Template Designer - [Description]");
    EXPECT_FALSE(window->ChangesMade());
    const platform::IniFile ini(foundation::GetIniFileName());
    EXPECT_EQ(ini.ReadString("CDMRU", "F0", ""), Covers() + "ZN0001.FCS");

    // The render file holds the rectangle where it was drawn (stored at twice the design pixels).
    const std::vector<uint8_t> fct = ReadFile(Covers() + "ZN0001.FCT");
    TValueReader reader(fct);
    const TRenderRecord box = ReadRenderRecord(reader);
    EXPECT_EQ(QRect(box.left, box.top, box.width, box.height), QRect(200, 240, 400, 160));

    window->New1Click();
    DrawRectangle(QRect(10, 10, 50, 50));
    SaveAs("ZN0002.FCS");
    EXPECT_TRUE(platform::FileExistsCI(Covers() + "ZN0002.FCS"));
    window->close();
    EXPECT_EQ(ini.ReadString("CD Default Font", "Name", ""), "Arial");
    EXPECT_EQ(ini.ReadInteger("CD Default Font", "Size", 0), 10);
    EXPECT_EQ(ini.ReadSection("CDMRU"), (std::vector<std::string>{"F0", "F1"}));
}

TEST_F(DesignerFixture, TheMostRecentTemplateOpensAgainAndTheListReopensOthers)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    SaveAs("ZN0001.FCS");
    window->New1Click();
    DrawRectangle(QRect(300, 300, 40, 40));
    DrawRectangle(QRect(400, 300, 40, 40));
    SaveAs("ZN0002.FCS");
    Reopen();
    EXPECT_EQ(window->CurrentFile(), Covers() + "ZN0002.FCS");
    EXPECT_EQ(window->LabelPanel->Items().size(), 2u);
    EXPECT_FALSE(window->ChangesMade());
    // Entry 2 of the File menu's list is ZN0001.
    QAction* second = nullptr;
    for (QAction* a : window->RecentFiles().Entries())
        if (a->text().startsWith("&2 "))
            second = a;
    ASSERT_NE(second, nullptr);
    second->trigger();
    EXPECT_EQ(window->CurrentFile(), Covers() + "ZN0001.FCS");
    ASSERT_EQ(window->LabelPanel->Items().size(), 1u);
    EXPECT_EQ(window->LabelPanel->Items().front()->Left, 100);
    EXPECT_TRUE(boxes.empty());
}

// A multi-line text typed in its editor looks the same after the template is opened again.
TEST_F(DesignerFixture, AReopenedTemplateShowsTheLinesOfItsMultiLineText)
{
    WhenShown<TFaxMultiLineTextEditor>([](TFaxMultiLineTextEditor& editor) {
        editor.Memo->setPlainText("Dear customer,\nthe order follows.");
        editor.findChild<QPushButton*>("OKButton")->click();
    });
    window->DrawMLTextButton->click();
    Drag(QPoint(100, 100), QPoint(400, 180));
    ASSERT_EQ(window->LabelPanel->Items().size(), 1u);
    const TFaxGraphicControl& text = *window->LabelPanel->Items().front();
    const QRect at(text.Left, text.Top, text.Width, text.Height);
    SaveAs("ZN0001.FCS");
    window->LabelPanel->Handle().ClearSelection();
    const QImage shown = window->LabelPanel->Snapshot().copy(at);
    Reopen();
    ASSERT_EQ(window->CurrentFile(), Covers() + "ZN0001.FCS");
    ASSERT_EQ(window->LabelPanel->Items().size(), 1u);
    EXPECT_EQ(window->LabelPanel->Snapshot().copy(at), shown);
}

TEST_F(DesignerFixture, NewAndOpenAskBeforeDroppingUnsavedWork)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    answer = platform::IDNO;
    window->New1Click();
    EXPECT_EQ(boxes, (std::vector<std::string>{"Save changes?"}));
    EXPECT_TRUE(window->LabelPanel->Items().empty());
    // Answering yes saves first.
    DrawRectangle(QRect(100, 120, 200, 80));
    answer = platform::IDYES;
    WhenShown<TSaveTemplateAs>([](TSaveTemplateAs& dialog) { dialog.OKButton->click(); });
    window->New1Click();
    EXPECT_TRUE(platform::FileExistsCI(Covers() + "ZN0001.FCS"));
    // Open with changes asks too.
    DrawRectangle(QRect(10, 10, 20, 20));
    boxes.clear();
    answer = platform::IDNO;
    WhenShown<TPreviewCovers>([](TPreviewCovers& dialog) { dialog.OKButton->click(); });
    window->Open1Click();
    EXPECT_EQ(boxes.front(), "Save changes?");
    EXPECT_EQ(window->CurrentFile(), Covers() + "ZN0001.FCS");
}

TEST_F(DesignerFixture, DeleteRemovesTheQuartetWhateverItsLetterCase)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    SaveAs("ZN0001.FCS", "Letter.fcs");
    std::rename((Covers() + "Letter.FCT").c_str(), (Covers() + "LETTER.fct").c_str());
    ASSERT_TRUE(platform::FileExistsCI(Covers() + "letter.bmp"));
    WhenShown<QFileDialog>([this](QFileDialog& dialog) {
        dialog.selectFile(QString::fromStdString(Covers() + "Letter.fcs"));
        static_cast<QDialog&>(dialog).done(QDialog::Accepted);
    });
    window->Delete1Click();
    EXPECT_EQ(boxes.back(), "Delete " + Covers() + "Letter.fcs?");
    for (const char* ext : {"FCS", "FCT", "DES", "BMP"})
        EXPECT_FALSE(platform::FileExistsCI(Covers() + "Letter." + ext)) << ext;
}

TEST_F(DesignerFixture, ZoomStopsAtFiftyAndOneHundredFiftyAndSavingWritesAtOneHundred)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    const std::vector<uint8_t> shown = RenderFileBytes(window->LabelPanel->ItemList());
    for (int i = 0; i < 20; ++i)
        window->ZoomSpinnerDown->click();
    EXPECT_EQ(window->ZoomCaption->text(), "50%");
    for (int i = 0; i < 20; ++i)
        window->ZoomSpinnerUp->click();
    EXPECT_EQ(window->ZoomCaption->text(), "150%");
    for (int i = 0; i < 3; ++i)
        window->ZoomSpinnerDown->click();
    EXPECT_EQ(window->ZoomCaption->text(), "120%");
    SaveAs("ZN0001.FCS");
    EXPECT_EQ(ReadFile(Covers() + "ZN0001.FCT"), shown);
    EXPECT_EQ(std::lround(window->LabelPanel->Zoom() * 100), 120);
}

TEST_F(DesignerFixture, AnUnreadableTemplateLeavesAnEmptyPageAndSaysSo)
{
    platform::EnsureFolderCI(Covers());
    WriteFile(Covers() + "BAD.FCS", std::vector<uint8_t>{'T', 'P', 'F', '0', 9, 9, 9});
    window->OpenLabelFile(Covers() + "BAD.FCS");
    EXPECT_EQ(boxes, (std::vector<std::string>{"Unable to open " + Covers()
                                               + "BAD.FCS. Possibly corrupted, posibly not a Tessaline file"}));
    EXPECT_TRUE(window->CurrentFile().empty());
    EXPECT_TRUE(window->LabelPanel->Items().empty());
}

TEST_F(DesignerFixture, ClosingWithChangesOnANewTemplateOffersSaveAsAndCancelKeepsNothing)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    WhenShown<TSaveTemplateAs>([](TSaveTemplateAs& dialog) { dialog.Cancelbutton->click(); });
    window->CloseButton->click();
    EXPECT_EQ(boxes, (std::vector<std::string>{"Save changes?"}));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(platform::FileExistsCI(Covers() + "ZN0001.FCS"));
}

TEST_F(DesignerFixture, ClosingFromTheTitleBarAsksAsExitDoesAndCancelRestoresTheSavedTemplate)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    SaveAs("ZN0001.FCS");
    DrawRectangle(QRect(300, 300, 40, 40));
    ASSERT_EQ(window->LabelPanel->Items().size(), 2u);
    window->CancelButton->click();
    EXPECT_EQ(boxes, (std::vector<std::string>{"Cancel all changes?"}));
    EXPECT_EQ(window->LabelPanel->Items().size(), 1u);
    EXPECT_FALSE(window->ChangesMade());
    DrawRectangle(QRect(300, 300, 40, 40));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    answer = platform::IDNO;
    QApplication::sendEvent(window.get(), &escape); // Esc is the Cancel button
    EXPECT_EQ(boxes.back(), "Cancel all changes?");
    EXPECT_TRUE(window->isVisible());
    answer = platform::IDYES;
    window->close(); // the title bar's close button
    EXPECT_EQ(boxes.back(), "Save changes?");
    Open();
    EXPECT_EQ(window->LabelPanel->Items().size(), 2u); // saved before closing
}

TEST_F(DesignerFixture, DraggingBelowTheScrollBoxScrollsFourLines)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    window->Pointerbutton->click();
    Mouse(QEvent::MouseButtonPress, QPoint(150, 150), Qt::LeftButton); // selects, and the handle takes the mouse
    now += 200;
    Mouse(QEvent::MouseMove, QPoint(150, 160), Qt::LeftButton);
    ASSERT_TRUE(window->LabelPanel->IsDragging());
    QScrollBar* bar = window->ScrollBox1->verticalScrollBar();
    const QRect box = window->ScrollBox1->geometry();
    QCursor::setPos(window->mapToGlobal(QPoint(box.center().x(), box.bottom() + 5)));
    window->LabelPanelHandleMouseMoveEvent();
    EXPECT_TRUE(window->Timer1->isActive());
    window->Timer1Timer();
    EXPECT_EQ(bar->value(), 4 * bar->singleStep());
    EXPECT_FALSE(window->Timer1->isActive());
    EXPECT_TRUE(window->AutoScrolled());
    Mouse(QEvent::MouseButtonRelease, QPoint(150, 160), Qt::NoButton);
    EXPECT_FALSE(window->AutoScrolled());
    // Inside the box no timer runs.
    QCursor::setPos(window->mapToGlobal(box.center()));
    window->LabelPanelHandleMouseMoveEvent();
    EXPECT_FALSE(window->Timer1->isActive());
}

TEST_F(DesignerFixture, KeypadPlusAndMinusZoomAndTheFontEntryNamesTheDefaultFont)
{
    EXPECT_EQ(window->mnuDefaultFont->text(), "Default Font: Arial, 10 pt ");
    QKeyEvent plus(QEvent::KeyRelease, Qt::Key_Plus, Qt::KeypadModifier);
    QApplication::sendEvent(window.get(), &plus);
    EXPECT_EQ(window->ZoomCaption->text(), "110%");
    QKeyEvent minus(QEvent::KeyRelease, Qt::Key_Minus, Qt::KeypadModifier);
    QApplication::sendEvent(window.get(), &minus);
    QApplication::sendEvent(window.get(), &minus);
    EXPECT_EQ(window->ZoomCaption->text(), "90%");
    window->Helpbutton->click();
    EXPECT_EQ(foundation::ShownHelpTopic(), "Cover Sheet Template Designer");
}

TEST_F(DesignerFixture, AMissingRecentFileSaysSo)
{
    window->RecentFiles().Add(Covers() + "GONE.FCS");
    window->RecentFileClick(Covers() + "GONE.FCS");
    EXPECT_EQ(boxes, (std::vector<std::string>{Covers() + "GONE.FCS no longer exists"}));
}

struct TNameCase {
    const char* name;
    bool valid;
};
class TemplateNames : public ::testing::TestWithParam<TNameCase> {};
TEST_P(TemplateNames, OnlyIdentifiersEndingInFcsPass)
{
    EXPECT_EQ(TSaveTemplateAs::ValidTemplateName(GetParam().name), GetParam().valid);
}
INSTANTIATE_TEST_SUITE_P(CoverDesigner, TemplateNames,
                         ::testing::Values(TNameCase{"ZN0001.FCS", true}, TNameCase{"cover_1.fcs", true},
                                           TNameCase{"_A.FCS", true}, TNameCase{"1COVER.FCS", false},
                                           TNameCase{"COVER.FCT", false}, TNameCase{"ABCDEFGH9.FCS", false},
                                           TNameCase{"A-B.FCS", false}, TNameCase{".FCS", false},
                                           TNameCase{"ABCDEFGH.FCS", true}),
                         [](const ::testing::TestParamInfo<TNameCase>& info) { return zn::test::ParamName(info.param.name); });

TEST_F(DesignerFixture, PickingAnExistingTemplateFillsInItsFcsNameAndDescription)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    SaveAs("ZN0001.FCS", "Office.FCS");
    TSaveTemplateAs dialog(Covers());
    dialog.TemplateDescription->clear();
    ASSERT_EQ(dialog.FileListBox1->count(), 1);
    dialog.FileListBox1->setCurrentRow(0);
    dialog.FileListBox1Click();
    EXPECT_EQ(dialog.TemplateName->text(), "Office.FCS");
    EXPECT_EQ(dialog.TemplateDescription->text(), "[Description]");
    EXPECT_TRUE(dialog.OKButton->isEnabled());
    dialog.TemplateDescription->clear();
    EXPECT_FALSE(dialog.OKButton->isEnabled());
}

TEST_F(DesignerFixture, PreviewListShowsTheDescriptionOfTheChosenTemplate)
{
    DrawRectangle(QRect(100, 120, 200, 80));
    SaveAs("ZN0001.FCS");
    TPreviewCovers dialog(Covers());
    dialog.SelectedName = "zn0001.fcs";
    dialog.show();
    EXPECT_EQ(dialog.FileListBox1->currentRow(), 0);
    EXPECT_EQ(dialog.DescriptionPanel->text(), "[Description]");
    EXPECT_FALSE(dialog.Image1->pixmap().isNull());
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace zn::cover::gui
