#include "foundation/dialogs.h"

#include "platform/message_box.h"

#include <gtest/gtest.h>

namespace zn::foundation {
namespace {

struct Box {
    std::string text, caption;
    unsigned flags;
};

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned flags) {
            boxes_.push_back({text, caption, flags});
            return answer_;
        });
    }
    void TearDown() override { platform::SetMessageBoxHook({}); }
    std::vector<Box> boxes_;
    int answer_ = platform::IDYES;
};

TEST_F(DialogsTest, QuestionsUseTheirFlagsAndAnswerYes)
{
    EXPECT_TRUE(AskYesNo("Delete?", "Confirm"));
    answer_ = platform::IDNO;
    EXPECT_FALSE(AskYesNoDefaultNo("Really?", "Confirm"));
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[0].flags, 36u);
    EXPECT_EQ(boxes_[1].flags, 292u);
    EXPECT_EQ(boxes_[1].text, "Really?");
}

TEST_F(DialogsTest, InformationBox)
{
    ShowInformation("Done");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Information");
    EXPECT_EQ(boxes_[0].flags, 64u);
}

} // namespace
} // namespace zn::foundation
