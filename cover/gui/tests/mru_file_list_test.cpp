// The recent-files list: order, the maximum, clicks and the INI section.
#include "cover/gui/mru_file_list.h"
#include "faxdoc/tests/test_support.h"
#include "platform/ini_file.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

namespace zn::cover::gui {
namespace {

using Names = std::vector<std::string>;

QStringList Captions(const QMenu& menu)
{
    QStringList out;
    for (QAction* a : menu.actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

TEST(CoverRecentFiles, AddingMovesToTheTopAndTheMaximumDropsTheOldest)
{
    TMRUFileList mru;
    mru.AutoSave = false;
    for (const char* n : {"A.FCS", "B.FCS", "C.FCS", "D.FCS", "E.FCS"})
        mru.Add(n);
    EXPECT_EQ(mru.Names(), (Names{"E.FCS", "D.FCS", "C.FCS", "B.FCS", "A.FCS"}));
    mru.Add("C.FCS");
    EXPECT_EQ(mru.Names(), (Names{"C.FCS", "E.FCS", "D.FCS", "B.FCS", "A.FCS"}));
    mru.Add("c.fcs"); // another name: the comparison keeps letter case
    EXPECT_EQ(mru.Names(), (Names{"c.fcs", "C.FCS", "E.FCS", "D.FCS", "B.FCS"}));
    mru.SetMaximum(3);
    EXPECT_EQ(mru.Names(), (Names{"c.fcs", "C.FCS", "E.FCS"}));
}

TEST(CoverRecentFiles, EntriesFollowTheMenuAndAClickRemovesAndReports)
{
    QMenu file;
    file.addAction("New");
    file.addAction("Exit");
    TMRUFileList mru;
    mru.AutoSave = false;
    mru.SetFileMenu(&file);
    EXPECT_EQ(Captions(file), (QStringList{"New", "Exit"}));
    mru.Add("ONE.FCS");
    mru.Add("TWO.FCS");
    mru.Add("THREE.FCS");
    EXPECT_EQ(Captions(file), (QStringList{"New", "Exit", "-", "&1 THREE.FCS", "&2 TWO.FCS", "&3 ONE.FCS"}));
    std::string clicked;
    mru.OnMRUItemClick = [&clicked](const std::string& n) { clicked = n; };
    file.actions()[4]->trigger();
    EXPECT_EQ(clicked, "TWO.FCS");
    EXPECT_EQ(Captions(file), (QStringList{"New", "Exit", "-", "&1 THREE.FCS", "&2 ONE.FCS"}));
}

TEST(CoverRecentFiles, SavedSectionHoldsOnlyTheCurrentNames)
{
    faxdoc::test::TTempDir dir;
    const std::string ini = dir.Path("ZN.INI");
    {
        TMRUFileList mru;
        mru.AutoSaveName = ini;
        mru.AutoSaveKey = "CDMRU";
        for (const char* n : {"A.FCS", "B.FCS", "C.FCS", "D.FCS"})
            mru.Add(n);
    } // saved when destroyed
    {
        TMRUFileList mru;
        mru.AutoSaveName = ini;
        mru.AutoSaveKey = "CDMRU";
        mru.LoadFromIni();
        EXPECT_EQ(mru.Names(), (Names{"D.FCS", "C.FCS", "B.FCS", "A.FCS"}));
        mru.SetMaximum(2);
        EXPECT_TRUE(mru.SaveToIni());
    }
    const platform::IniFile file(ini);
    EXPECT_EQ(file.ReadSection("CDMRU"), (Names{"F0", "F1"}));
    EXPECT_EQ(file.ReadString("CDMRU", "F0", ""), "D.FCS");
    TMRUFileList none;
    none.AutoSave = false;
    none.AutoSaveName = "";
    EXPECT_FALSE(none.LoadFromIni());
}

} // namespace
} // namespace zn::cover::gui
