// A template's four files: written together, proposed names, descriptions, deletion in any case.
#include "cover/cover_renderer.h"
#include "cover/template_files.h"
#include "faxdoc/tests/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace zn::cover {
namespace {

using faxdoc::test::FileExists;
using faxdoc::test::ReadFile;
using faxdoc::test::TTempDir;
using faxdoc::test::WriteFile;

TItemList TwoItems()
{
    TItemList items;
    auto label = std::make_unique<TFaxCoverLabel>();
    label->SetBounds(10, 10, 142, 33);
    label->Caption = "Cover";
    items.push_back(std::move(label));
    auto box = std::make_unique<TFaxCoverShapes>();
    box->SetBounds(20, 60, 200, 100);
    box->ShapeFilltype = sftFilledBlack;
    items.push_back(std::move(box));
    return items;
}

std::vector<const TFaxGraphicControl*> Pointers(const TItemList& items)
{
    std::vector<const TFaxGraphicControl*> out;
    for (const auto& i : items)
        out.push_back(i.get());
    return out;
}

TEST(CoverTemplateFiles, SavingWritesTheFourFilesThatReadBack)
{
    TTempDir dir;
    const TItemList items = TwoItems();
    SaveTemplate(Pointers(items), dir.Path("ZN0001.FCS"), "Company cover");
    for (const char* f : {"ZN0001.FCS", "ZN0001.FCT", "ZN0001.DES", "ZN0001.bmp"})
        EXPECT_TRUE(FileExists(dir.Path(f))) << f;
    EXPECT_EQ(ReadDescription(dir.Path("ZN0001.FCS")), "Company cover");
    EXPECT_EQ(ReadFile(dir.Path("ZN0001.FCT")), RenderFileBytes(Pointers(items)));
    EXPECT_EQ(TFaxDesignObjectFiler().LoadFromFile(dir.Path("ZN0001.FCS"), nullptr).size(), 2u);
    // The preview shows the filled box at half of the fax page's place: (20 + 98, 60 + 98).
    const std::vector<uint8_t> bmp = ReadFile(dir.Path("ZN0001.bmp"));
    EXPECT_EQ(bmp, PreviewBitmap(ReadFile(dir.Path("ZN0001.FCT"))));
    EXPECT_FALSE(ReadDescription(dir.Path("NONE.FCS")).has_value());
}

TEST(CoverTemplateFiles, ProposedNamesCountUpPastTakenOnesInAnyCase)
{
    TTempDir dir;
    EXPECT_EQ(ProposeTemplateName(dir.Path("")), dir.Path("") + "/ZN0001.FCS");
    WriteFile(dir.Path("zn0001.fcs"), std::string("\x01\x00", 2));
    EXPECT_EQ(ProposeTemplateName(dir.Path("")), dir.Path("") + "/ZN0002.FCS");
}

TEST(CoverTemplateFiles, DeleteRemovesTheQuartetWhateverTheCaseOfEach)
{
    TTempDir dir;
    for (const char* f : {"Cover.FCS", "cover.fct", "COVER.DES", "Cover.bmp", "Other.FCS"})
        WriteFile(dir.Path(f), std::string("x"));
    EXPECT_FALSE(DeleteTemplate(dir.Path("Cover.FCT")));
    EXPECT_TRUE(FileExists(dir.Path("cover.fct")));
    EXPECT_TRUE(DeleteTemplate(dir.Path("COVER.FCS")));
    EXPECT_EQ(dir.Files().size(), 1u);
    EXPECT_TRUE(FileExists(dir.Path("Other.FCS")));
}

// A write that fails part way keeps every file of the old template.
TEST(CoverTemplateFiles, FailedSaveKeepsTheOldTemplateWhole)
{
    TTempDir dir;
    const TItemList items = TwoItems();
    SaveTemplate({items[0].get()}, dir.Path("T.FCS"), "old");
    const auto before = std::vector<std::vector<uint8_t>>{ReadFile(dir.Path("T.FCS")), ReadFile(dir.Path("T.FCT")),
                                                          ReadFile(dir.Path("T.DES")), ReadFile(dir.Path("T.bmp"))};
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096; // the templates fit, the preview bitmap does not
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(SaveTemplate(Pointers(items), dir.Path("T.FCS"), "new"), TStreamError);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    const auto after = std::vector<std::vector<uint8_t>>{ReadFile(dir.Path("T.FCS")), ReadFile(dir.Path("T.FCT")),
                                                         ReadFile(dir.Path("T.DES")), ReadFile(dir.Path("T.bmp"))};
    EXPECT_EQ(after, before);
    EXPECT_EQ(dir.Files().size(), 4u);
}

} // namespace
} // namespace zn::cover
