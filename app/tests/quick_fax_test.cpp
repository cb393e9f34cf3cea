// Quick faxes from the main window: the cover editor driven by its control names, the cover data
// file's bytes, the cover page decoded by g3topbm, the ZNOUT row, editing and deleting.
#include "app/quick_fax.h"
#include "app/small_forms.h"
#include "cover/cover_items.h"
#include "cover/cover_renderer.h"
#include "cover/template_files.h"
#include "faxdoc/tests/test_support.h"
#include "foundation/gui/enter_edit.h"
#include "main_screen_fixture.h"
#include "modal_driver.h"
#include "platform/folders.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <fstream>
#include <sstream>

namespace zn::app::test {
namespace fx = zn::faxdoc::test;

namespace {

// A template with the recipient's name in large letters near the top and the message below it.
void SaveCoverTemplate(const std::string& fcsName, const std::string& description)
{
    cover::TFaxCoverField recipient;
    recipient.ChooseField(cover::cfRecipient);
    recipient.Font.SetSize(20);
    recipient.SetBounds(100, 100, 700, 60);
    cover::TFaxCoverMessage message;
    message.SetBounds(100, 600, 700, 300);
    cover::SaveTemplate({&recipient, &message}, fcsName, description);
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(platform::ResolvePath(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The page the renderer draws for these values, rows as g3topbm gives them.
fx::TRaster RenderedPage(const std::string& fct, const cover::TCoverValues& values,
                         const std::vector<std::string>& message)
{
    cover::TMonoCanvas canvas(cover::kFaxPageWidth, cover::kFaxPageHeight);
    cover::RenderCoverFile(canvas, fct, values, message, 1);
    int stride = 0;
    fx::TRaster r;
    r.width = cover::kFaxPageWidth;
    r.height = cover::kFaxPageHeight;
    r.bits = canvas.Rows(stride);
    EXPECT_EQ(stride, r.Stride());
    for (uint8_t& b : r.bits)
        b = uint8_t(~b); // the canvas keeps white as 1, g3topbm gives black as 1
    return r;
}

fx::TRaster Decoded(fx::TTempDir& dir, const std::string& apf)
{
    EXPECT_EQ(fx::RunCommand("'" + fx::ZnfaxPath() + "' raw '" + apf + "' '" + dir.Path("p.g3") + "'"), 0);
    EXPECT_EQ(
        fx::RunCommand("g3topbm -reversebits '" + dir.Path("p.g3") + "' > '" + dir.Path("p.pbm") + "' 2>/dev/null"), 0);
    return fx::ReadPbm(dir.Path("p.pbm"));
}

// Rows [top, bottom) of two pages, all columns.
bool SameBand(const fx::TRaster& a, const fx::TRaster& b, int top, int bottom)
{
    if (a.width != b.width || a.height < bottom || b.height < bottom)
        return false;
    for (int y = top; y < bottom; ++y)
        if (!std::equal(a.Row(y), a.Row(y) + a.Stride(), b.Row(y)))
            return false;
    return true;
}

int BlackInBand(const fx::TRaster& r, int top, int bottom)
{
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int i = 0; i < r.Stride(); ++i)
            n += __builtin_popcount(r.Row(y)[i]);
    return n;
}

void Type(QWidget* dialog, const char* name, const QString& text)
{
    auto* edit = Find<QLineEdit>(dialog, name);
    ASSERT_NE(edit, nullptr) << name;
    edit->setText(text);
}

class QuickFaxTest : public MainScreenFixture {
protected:
    void SetUp() override
    {
        // A Covers folder of its own: the test's template is the only one (no shipped ones).
        covers = platform::EnsureFolderCI(foundation::GetCoversFolder());
        foundation::CreateDataFolders();
        SaveCoverTemplate(foundation::GetCoversFolder() + "zn0001.fcs", "Plain cover");
        Start();
        foundation::Settings().Name = "Sam Sender";
    }
    // Fills the editor as a user would and saves.
    void FillAndSave(QWidget* d, const QString& recipient, const QString& message, bool flags)
    {
        Type(d, "Recipient", recipient);
        Type(d, "RecipientFax", "555-0199");
        Type(d, "Regarding", "Lunch order");
        Type(d, "Notes", "call back");
        Type(d, "Codes", "B7");
        Find<QPlainTextEdit>(d, "FaxMessage")->setPlainText(message);
        for (const char* name : {"cUrgent", "cForReview", "cPleaseComment", "cPleaseReply", "cPleaseRecycle"})
            Find<QCheckBox>(d, name)->setChecked(flags);
        Find<QPushButton>(d, "OkButton")->click();
    }
    std::vector<std::string> SendFiles() const { return platform::ListFolderCI(foundation::GetSendFolder(), "*.*"); }
    std::string covers;
};

TEST(CoverDataFile, FlagsLineAndTemplateNames)
{
    const bool all[5] = {true, true, true, true, true};
    const bool none[5] = {};
    const bool some[5] = {true, false, true, false, false};
    EXPECT_EQ(FlagsText(all), "XXXXX");
    EXPECT_EQ(FlagsText(none), "     ");
    EXPECT_EQ(FlagsText(some), "X X  ");
    const struct {
        const char* line1;
        const char* templateName;
    } cases[] = {{"zn0001.fct", "zn0001.fct"},
                 {"zn0002.fcs", "zn0002.fct"},
                 {"ZN0003.FCT", "ZN0003.FCT"},
                 {"C:\\Tarvel\\Covers\\zn0004.FCS", "zn0004.fct"},
                 {"plain", "plain.fct"}};
    for (const auto& c : cases)
        EXPECT_EQ(TemplateOfCoverData(c.line1), c.templateName) << c.line1;
    EXPECT_EQ(CoverDataBytes({"zn0001.fct", "X    ", {"one", "", "three"}}),
              "zn0001.fct\r\nX    \r\none\r\n\r\nthree\r\n");
    EXPECT_EQ(CoverDataPathOf("/a/SEND/COV00001.APF"), "/a/SEND/COV00001.FCD");
}

TEST_F(QuickFaxTest, ANewQuickFaxWritesItsCoverItsDataFileAndItsRow)
{
    ModalDriver driver;
    driver.Then([this](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "Fax Cover Sheet Editor");
        EXPECT_EQ(Find<QLabel>(d, "CurrentQFileLabel")->text(), "zn0001.fct");
        EXPECT_EQ(Find<QPushButton>(d, "ChangeSenderInfoButton")->toolTip(), "Sam Sender\n\n\n");
        FillAndSave(d, "Wilhelmina Broadbent", "Two sandwiches\nand a pear", true);
    });
    screen->Newbutton->click();
    ASSERT_TRUE(driver.Done());
    ASSERT_TRUE(boxes.empty()) << boxes[0].text;

    data::TTable& t = screen->FaxTable;
    ASSERT_EQ(t.RecordCount(), 1);
    t.First();
    EXPECT_EQ(t.FieldByName("RECIPIENT").AsString(), "Wilhelmina Broadbent");
    EXPECT_EQ(t.FieldByName("PHONE").AsString(), "555-0199");
    EXPECT_EQ(t.FieldByName("SUBJECT").AsString(), "Lunch order");
    EXPECT_EQ(t.FieldByName("NOTES").AsString(), "call back");
    EXPECT_EQ(t.FieldByName("CODES").AsString(), "B7");
    EXPECT_EQ(t.FieldByName("FAXDOC").AsString(), "");
    const std::string cover = t.FieldByName("FAXCOVER").AsString();
    ASSERT_FALSE(cover.empty());
    EXPECT_EQ(cover.substr(0, 3), "COV");
    const std::string coverPath = foundation::GetSendFolder() + cover;
    EXPECT_EQ(ReadBytes(CoverDataPathOf(coverPath)), "zn0001.fct\r\nXXXXX\r\nTwo sandwiches\r\nand a pear\r\n");
    EXPECT_EQ(foundation::Settings().LastUsedCoversheetTemplate, "zn0001.fct");

    // The page carries the recipient where the template puts it, as the renderer draws it.
    if (!fx::HaveProgram("g3topbm"))
        GTEST_SKIP() << "g3topbm (netpbm) is not installed";
    fx::TTempDir dir;
    const fx::TRaster page = Decoded(dir, coverPath);
    ASSERT_EQ(page.width, cover::kFaxPageWidth);
    cover::TCoverValues values;
    values.Recipient = "Wilhelmina Broadbent";
    const std::string fct = foundation::GetCoversFolder() + "zn0001.FCT";
    const fx::TRaster expected = RenderedPage(fct, values, {"Two sandwiches", "and a pear"});
    // The field's box lies 98 dots right of and below twice its design place: rows 298 to 418.
    EXPECT_GT(BlackInBand(page, 250, 450), 1000);
    EXPECT_TRUE(SameBand(page, expected, 250, 450));
    EXPECT_GT(BlackInBand(page, 1250, 1500), 500); // the message
    EXPECT_TRUE(SameBand(page, expected, 1250, 1500));
    values.Recipient = "Somebody Else";
    EXPECT_FALSE(SameBand(page, RenderedPage(fct, values, {}), 250, 450));
}

TEST_F(QuickFaxTest, TheEditorRefusesMissingInputAndStaysOpen)
{
    struct Case {
        const char* recipient;
        const char* fax;
        const char* regarding;
        const char* message;
        const char* box;
    };
    const Case cases[] = {
        {"", "1", "r", "", "Please enter a recipient"},
        {"A", "", "r", "", "Please enter a recipient fax number"},
        {"A", "1", "", "", "Please enter text for the \"regarding\" field\rand/or enter a message"},
    };
    for (const Case& c : cases) {
        boxes.clear();
        ModalDriver driver;
        bool stayed = false;
        driver.Then([&](QWidget* d) {
            Type(d, "Recipient", c.recipient);
            Type(d, "RecipientFax", c.fax);
            Type(d, "Regarding", c.regarding);
            Find<QPlainTextEdit>(d, "FaxMessage")->setPlainText(c.message);
            Find<QPushButton>(d, "OkButton")->click();
            stayed = d->isVisible();
            Find<QPushButton>(d, "Cancelbutton")->click();
        });
        screen->Newbutton->click();
        EXPECT_TRUE(stayed) << c.box;
        ASSERT_EQ(boxes.size(), 1u) << c.box;
        EXPECT_EQ(boxes[0].text, c.box);
    }
    EXPECT_EQ(screen->FaxTable.RecordCount(), 0);
    EXPECT_TRUE(SendFiles().empty());
}

TEST_F(QuickFaxTest, AMissingTemplateIsRefusedAndNothingIsQueued)
{
    foundation::Settings().LastUsedCoversheetTemplate = "gone.fct";
    ModalDriver driver;
    bool stayed = false;
    driver.Then([&](QWidget* d) {
        FillAndSave(d, "Ann", "hello", false);
        stayed = d->isVisible();
        Find<QPushButton>(d, "Cancelbutton")->click();
    });
    screen->Newbutton->click();
    EXPECT_TRUE(stayed);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("gone.fct"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(screen->FaxTable.RecordCount(), 0);
    EXPECT_TRUE(SendFiles().empty());
}

TEST_F(QuickFaxTest, EditingACoverRendersIntoTheSameFileAndRewritesItsData)
{
    ModalDriver driver;
    driver.Then([this](QWidget* d) { FillAndSave(d, "First Name", "line one", false); });
    screen->Newbutton->click();
    screen->FaxTable.First();
    const std::string cover = screen->FaxTable.FieldByName("FAXCOVER").AsString();
    const std::string coverPath = foundation::GetSendFolder() + cover;
    EXPECT_EQ(ReadBytes(CoverDataPathOf(coverPath)), "zn0001.fct\r\n     \r\nline one\r\n");

    driver.Then([](QWidget* d) {
        // The editor comes back with what was saved.
        EXPECT_EQ(Find<QLineEdit>(d, "Recipient")->text(), "First Name");
        EXPECT_EQ(Find<QPlainTextEdit>(d, "FaxMessage")->toPlainText(), "line one");
        EXPECT_FALSE(Find<QCheckBox>(d, "cUrgent")->isChecked());
        Type(d, "Recipient", "Second Name");
        Find<QCheckBox>(d, "cPleaseReply")->setChecked(true);
        Find<QPlainTextEdit>(d, "FaxMessage")->setPlainText("changed");
        Find<QPushButton>(d, "OkButton")->click();
    });
    screen->EditButton->click();
    ASSERT_TRUE(driver.Done());
    screen->FaxTable.First();
    EXPECT_EQ(screen->FaxTable.RecordCount(), 1);
    EXPECT_EQ(screen->FaxTable.FieldByName("FAXCOVER").AsString(), cover);
    EXPECT_EQ(screen->FaxTable.FieldByName("RECIPIENT").AsString(), "Second Name");
    EXPECT_EQ(ReadBytes(CoverDataPathOf(coverPath)), "zn0001.fct\r\n   X \r\nchanged\r\n");
    EXPECT_EQ(SendFiles().size(), 2u);
}

TEST_F(QuickFaxTest, EditingACoverWithoutDataFileLeavesNoOrphanCover)
{
    ModalDriver driver;
    driver.Then([this](QWidget* d) { FillAndSave(d, "Old", "x", true); });
    screen->Newbutton->click();
    screen->FaxTable.First();
    const std::string cover = screen->FaxTable.FieldByName("FAXCOVER").AsString();
    ASSERT_TRUE(platform::DeleteFileCI(CoverDataPathOf(foundation::GetSendFolder() + cover)));

    driver.Then([](QWidget* d) {
        // Without its data file the editor has the row's fields, no flags and no message.
        EXPECT_EQ(Find<QLineEdit>(d, "Recipient")->text(), "Old");
        EXPECT_FALSE(Find<QCheckBox>(d, "cUrgent")->isChecked());
        EXPECT_TRUE(Find<QPlainTextEdit>(d, "FaxMessage")->toPlainText().isEmpty());
        Type(d, "Recipient", "New");
        Find<QPushButton>(d, "OkButton")->click();
    });
    screen->EditButton->click();
    screen->FaxTable.First();
    const std::string after = screen->FaxTable.FieldByName("FAXCOVER").AsString();
    EXPECT_TRUE(SendFileExists(after));
    const std::vector<std::string> files = SendFiles();
    EXPECT_EQ(files.size(), 2u); // the cover and its new data file, nothing else
    EXPECT_TRUE(platform::FileExistsCI(CoverDataPathOf(foundation::GetSendFolder() + after)));
}

TEST_F(QuickFaxTest, ADataFileWithABadFlagsLineOrAnFcsTemplateIsReadSafely)
{
    SaveCoverTemplate(foundation::GetCoversFolder() + "zn0002.fcs", "Second");
    ModalDriver driver;
    driver.Then([this](QWidget* d) { FillAndSave(d, "R", "m", true); });
    screen->Newbutton->click();
    screen->FaxTable.First();
    const std::string coverPath = foundation::GetSendFolder() + screen->FaxTable.FieldByName("FAXCOVER").AsString();
    fx::WriteFile(CoverDataPathOf(coverPath), std::string("zn0002.fcs\r\nXXXX\r\nkept\r\n"));
    driver.Then([](QWidget* d) {
        EXPECT_EQ(Find<QLabel>(d, "CurrentQFileLabel")->text(), "zn0002.fct");
        for (const char* name : {"cUrgent", "cForReview", "cPleaseComment", "cPleaseReply", "cPleaseRecycle"})
            EXPECT_FALSE(Find<QCheckBox>(d, name)->isChecked()) << name;
        EXPECT_EQ(Find<QPlainTextEdit>(d, "FaxMessage")->toPlainText(), "kept");
        Find<QPushButton>(d, "Cancelbutton")->click();
    });
    screen->EditButton->click();
    EXPECT_TRUE(driver.Done());
}

TEST_F(QuickFaxTest, TheTemplateChooserShowsPreviewAndDescriptionAndHandsBackItsChoice)
{
    SaveCoverTemplate(foundation::GetCoversFolder() + "zn0002.fcs", "The second one");
    ModalDriver driver;
    // The chooser opens from inside the editor: the click comes after the driver's turn, so that the
    // driver can answer the chooser too.
    driver.Then(
        [](QWidget* d) { QTimer::singleShot(0, d, [d] { Find<QPushButton>(d, "ExplorerButton1")->click(); }); });
    driver.Then([](QWidget* chooser) {
        EXPECT_EQ(chooser->windowTitle(), "Select  Fax Cover Template");
        auto* list = Find<QListWidget>(chooser, "FileListBox1");
        ASSERT_EQ(list->count(), 2);
        EXPECT_EQ(list->currentItem()->text().toUpper(), "ZN0001.FCT");
        EXPECT_EQ(Find<QLabel>(chooser, "DescriptionPanel")->text(), "Plain cover");
        EXPECT_FALSE(Find<QLabel>(chooser, "Image1")->pixmap().isNull());
        list->setCurrentRow(1);
        EXPECT_EQ(Find<QLabel>(chooser, "DescriptionPanel")->text(), "The second one");
        Find<QPushButton>(chooser, "OKButton")->click();
        // The editor it returns to takes the driver's next answer.
        chooser->parentWidget()->setProperty("answeredByTest", false);
    });
    driver.Then([this](QWidget* d) {
        EXPECT_EQ(Find<QLabel>(d, "CurrentQFileLabel")->text().toUpper(), "ZN0002.FCT");
        FillAndSave(d, "Chosen", "m", false);
    });
    screen->Newbutton->click();
    ASSERT_TRUE(driver.Done());
    screen->FaxTable.First();
    const std::string coverPath = foundation::GetSendFolder() + screen->FaxTable.FieldByName("FAXCOVER").AsString();
    EXPECT_EQ(ReadBytes(CoverDataPathOf(coverPath)).substr(0, 12), "zn0002.FCT\r\n");
    EXPECT_EQ(QString::fromStdString(foundation::Settings().LastUsedCoversheetTemplate).toUpper(), "ZN0002.FCT");
}

TEST_F(QuickFaxTest, ATemplateWithoutPreviewSaysSoAndIsStillAccepted)
{
    ASSERT_TRUE(platform::DeleteFileCI(foundation::GetCoversFolder() + "zn0001.bmp"));
    TPreviewQuickFaxForms chooser;
    chooser.SetFolder(foundation::GetCoversFolder());
    chooser.TemplateName = "zn0001.fct";
    chooser.show();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Image not available");
    chooser.OKButton->click();
    EXPECT_EQ(chooser.result(), 1);
    EXPECT_EQ(QString::fromStdString(chooser.TemplateName).toUpper(), "ZN0001.FCT");
}

TEST_F(QuickFaxTest, DeletingAQuickFaxTakesTheCoverAndItsDataFile)
{
    ModalDriver driver;
    driver.Then([this](QWidget* d) { FillAndSave(d, "Gone", "m", false); });
    screen->Newbutton->click();
    ASSERT_EQ(SendFiles().size(), 2u);
    answers.push_back(platform::IDYES);
    screen->DeleteButton->click();
    EXPECT_TRUE(Subjects().empty());
    EXPECT_TRUE(SendFiles().empty());
}

TEST_F(QuickFaxTest, ACoverAddedToADocumentFaxGoesOnItsRow)
{
    const std::string doc = MakeFax("FAX00001.APF");
    AddOutgoing("Report", "FAX00001.APF");
    screen->FaxTable.First();
    ModalDriver driver;
    driver.Then([this](QWidget* d) {
        EXPECT_EQ(Find<QLineEdit>(d, "Regarding")->text(), "Report");
        FillAndSave(d, "Covered", "see attached", false);
    });
    screen->AddCoverButton->click();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(screen->FaxTable.RecordCount(), 1);
    screen->FaxTable.First();
    EXPECT_EQ(screen->FaxTable.FieldByName("FAXDOC").AsString(), "FAX00001.APF");
    const std::string cover = screen->FaxTable.FieldByName("FAXCOVER").AsString();
    EXPECT_TRUE(SendFileExists(cover));
    EXPECT_EQ(screen->FaxTable.FieldByName("RECIPIENT").AsString(), "Covered");
}

// A program folder as a new user has it: nothing but what zn itself makes.
class FreshFolderTest : public MainScreenFixture {};

TEST_F(FreshFolderTest, AFirstQuickFaxNeedsNoDesigner)
{
    Start();
    for (const char* name : {"ZN0001", "ZN0002", "ZN0003"})
        for (const char* ext : {".FCS", ".FCT", ".DES", ".bmp"})
            EXPECT_TRUE(platform::FileExistsCI(foundation::GetCoversFolder() + name + ext)) << name << ext;
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        EXPECT_EQ(Find<QLabel>(d, "CurrentQFileLabel")->text(), "zn0001.fct");
        Type(d, "Recipient", "Ada Reader");
        Type(d, "RecipientFax", "555-0123");
        Type(d, "Regarding", "First fax");
        Find<QPlainTextEdit>(d, "FaxMessage")->setPlainText("Hello from zn.");
        Find<QPushButton>(d, "OkButton")->click();
        // An editor that could not save stays open: it is closed, so that the test goes on.
        QTimer::singleShot(0, d, [d] {
            if (d->isVisible())
                static_cast<QDialog*>(d)->done(2);
        });
    });
    screen->Newbutton->click();
    ASSERT_TRUE(driver.Done());
    ASSERT_TRUE(boxes.empty()) << boxes[0].text;
    data::TTable& t = screen->FaxTable;
    ASSERT_EQ(t.RecordCount(), 1);
    t.First();
    const std::string coverPath = foundation::GetSendFolder() + t.FieldByName("FAXCOVER").AsString();
    ASSERT_TRUE(platform::FileExistsCI(coverPath));
    if (!fx::HaveProgram("g3topbm"))
        GTEST_SKIP() << "g3topbm (netpbm) is not installed";
    // The page is the shipped template filled in: what the renderer draws for these values.
    fx::TTempDir dir;
    const fx::TRaster page = Decoded(dir, coverPath);
    cover::TCoverValues values;
    values.Recipient = "Ada Reader";
    values.RecipientFax = "555-0123";
    values.Regarding = "First fax";
    const fx::TRaster expected =
        RenderedPage(foundation::GetCoversFolder() + "ZN0001.FCT", values, {"Hello from zn."});
    EXPECT_GT(BlackInBand(page, 410, 1100), 2000);
    EXPECT_TRUE(SameBand(page, expected, 410, 1100)); // below the date, which moves on
}

TEST_F(FreshFolderTest, TheChooserOffersTheShippedTemplatesWithPreviewAndDescription)
{
    Start();
    TPreviewQuickFaxForms chooser;
    chooser.SetFolder(foundation::GetCoversFolder());
    chooser.TemplateName = foundation::Settings().LastUsedCoversheetTemplate;
    chooser.show();
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(chooser.FileListBox1->count(), 3);
    EXPECT_EQ(chooser.FileListBox1->currentItem()->text(), "ZN0001.FCT");
    EXPECT_EQ(chooser.DescriptionPanel->text(), "Fax cover sheet");
    EXPECT_FALSE(chooser.Image1->pixmap().isNull());
}

// Covers the user emptied stay empty; the chooser then says how to make a template.
TEST_F(FreshFolderTest, AnEmptyChooserSaysHowToMakeATemplate)
{
    platform::EnsureFolderCI(foundation::GetCoversFolder());
    Start();
    EXPECT_TRUE(platform::ListFolderCI(foundation::GetCoversFolder(), "*.*").empty());
    TPreviewQuickFaxForms chooser;
    chooser.SetFolder(foundation::GetCoversFolder());
    chooser.show();
    EXPECT_EQ(chooser.FileListBox1->count(), 0);
    EXPECT_TRUE(chooser.DescriptionPanel->isVisible());
    EXPECT_TRUE(chooser.DescriptionPanel->text().contains("Tools > Cover Sheet Template Editor"));
}

TEST_F(QuickFaxTest, ReceiveModeRefusesTheQuickFaxCommands)
{
    screen->ReceiveModeOn = true;
    screen->Newbutton->click();
    screen->ReceiveModeOn = false;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kReceiveModeRefusal);
}

} // namespace
} // namespace zn::app::test
