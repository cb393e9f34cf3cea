// The component stream and the design filer: value forms, bounds on every length read, template
// round trips, naming, pasting and atomic writes.
#include "cover/cover_renderer.h"
#include "cover/design_filer.h"
#include "cover/render_file.h"
#include "faxdoc/tests/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sys/resource.h>

namespace zn::cover {
namespace {

using faxdoc::test::ReadFile;
using faxdoc::test::TTempDir;
using faxdoc::test::WriteFile;

using TBytes = std::vector<uint8_t>;

struct TIntegerCase {
    int64_t value;
    TBytes bytes;
};

class IntegerForms : public ::testing::TestWithParam<TIntegerCase> {};

TEST_P(IntegerForms, SmallestFormIsWrittenAndReadBack)
{
    TValueWriter w;
    w.WriteInteger(GetParam().value);
    EXPECT_EQ(w.Bytes(), GetParam().bytes);
    TValueReader r(w.Bytes());
    EXPECT_EQ(r.ReadInteger(), GetParam().value);
    EXPECT_TRUE(r.AtEnd());
}

INSTANTIATE_TEST_SUITE_P(CoverStream, IntegerForms,
                         ::testing::Values(TIntegerCase{0, {2, 0}}, TIntegerCase{-128, {2, 0x80}},
                                           TIntegerCase{127, {2, 0x7F}}, TIntegerCase{128, {3, 0x80, 0}},
                                           TIntegerCase{-32768, {3, 0x00, 0x80}},
                                           TIntegerCase{32768, {4, 0x00, 0x80, 0, 0}},
                                           TIntegerCase{-32769, {4, 0xFF, 0x7F, 0xFF, 0xFF}}),
                         [](const ::testing::TestParamInfo<TIntegerCase>& info) {
                             const int64_t v = info.param.value;
                             return (v < 0 ? "Minus" : "Plus") + std::to_string(v < 0 ? -v : v);
                         });

TEST(CoverStream, StringsUpTo255UseTheShortFormLongerOnesTheLong)
{
    TValueWriter w;
    w.WriteString(std::string(255, 'a'));
    w.WriteString(std::string(256, 'b'));
    w.WriteString("");
    EXPECT_EQ(w.Bytes()[0], vaString);
    EXPECT_EQ(w.Bytes()[1], 255);
    EXPECT_EQ(w.Bytes()[257], vaLString);
    EXPECT_EQ(TBytes(w.Bytes().end() - 2, w.Bytes().end()), (TBytes{vaString, 0}));
    TValueReader r(w.Bytes());
    EXPECT_EQ(r.ReadString(), std::string(255, 'a'));
    EXPECT_EQ(r.ReadString(), std::string(256, 'b'));
    EXPECT_EQ(r.ReadString(), "");
}

// Lengths claimed by a corrupt file are checked against what is left before anything is allocated.
class CorruptLengths : public ::testing::TestWithParam<TBytes> {};

TEST_P(CorruptLengths, GiveAStreamErrorNotAnAllocationOrAReadPastTheEnd)
{
    TValueReader r(GetParam());
    EXPECT_THROW(r.SkipValue(), TStreamError);
    TValueReader raw(GetParam());
    EXPECT_THROW(raw.ReadRawBlock(), TStreamError);
}

INSTANTIATE_TEST_SUITE_P(CoverStream, CorruptLengths,
                         ::testing::Values(TBytes{vaLString, 0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b'},
                                           TBytes{vaBinary, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3},
                                           TBytes{vaWString, 0x00, 0x00, 0x00, 0x80, 'x', 0},
                                           TBytes{vaUTF8String, 5, 0, 0, 0, 'a'}, TBytes{vaString, 200, 'a'},
                                           TBytes{vaList, vaInt8}, TBytes{vaInt16, 1}, TBytes{}),
                         ([](const ::testing::TestParamInfo<TBytes>& info) {
                             const TBytes& b = info.param;
                             const std::pair<uint8_t, const char*> types[] = {
                                 {vaList, "List"},     {vaInt16, "Int16"},     {vaString, "String"},
                                 {vaBinary, "Binary"}, {vaLString, "LString"}, {vaWString, "WString"},
                                 {vaUTF8String, "UTF8String"}};
                             for (const auto& [type, name] : types)
                                 if (!b.empty() && b[0] == type)
                                     return std::string(name);
                             return std::string(b.empty() ? "NoBytes" : "Other");
                         }));

TEST(CoverStream, RawBlockLongerThanTheFileIsRefused)
{
    TValueWriter w;
    w.WriteInteger(INT32_MAX);
    w.WriteBytes("abc", 3);
    TValueReader r(w.Bytes());
    EXPECT_THROW(r.ReadRawBlock(), TStreamError);
    TValueWriter neg;
    neg.WriteInteger(-5);
    TValueReader rn(neg.Bytes());
    EXPECT_THROW(rn.ReadRawBlock(), TStreamError);
}

TEST(CoverStream, DeeplyNestedListsAreRefusedWhenSkipped)
{
    TBytes deep(10000, vaList);
    TValueReader r(deep);
    EXPECT_THROW(r.SkipValue(), TStreamError);
}

// One item of every class, each with properties away from their defaults.
TItemList EveryItem()
{
    TItemList items;
    auto label = std::make_unique<TFaxCoverLabel>();
    label->SetBounds(10, 20, 142, 33);
    label->Caption = "Fax from us";
    label->Font.bold = true;
    label->Locked = true;
    items.push_back(std::move(label));
    auto symbol = std::make_unique<TFaxCoverSymbol>();
    symbol->SetBounds(300, 20, 40, 40);
    symbol->Caption = "(";
    items.push_back(std::move(symbol));
    auto shape = std::make_unique<TFaxCoverShapes>();
    shape->SetBounds(5, 100, 600, 80);
    shape->Shape = stRoundRect;
    shape->ShapeFilltype = sftFilledBlack;
    shape->RoundPerc = 40;
    shape->Pen.width = 3;
    items.push_back(std::move(shape));
    auto line = std::make_unique<TFaxCoverLine>();
    line->SetBounds(5, 200, 700, 10);
    line->LineStyle = stAngleSlopingDown;
    line->Pen.width = 4;
    items.push_back(std::move(line));
    auto message = std::make_unique<TFaxCoverMessage>();
    message->SetBounds(10, 300, 600, 200);
    items.push_back(std::move(message));
    auto importance = std::make_unique<TFaxCoverImportance>();
    importance->SetBounds(10, 520, 650, 20);
    importance->SetUnselectable(true);
    items.push_back(std::move(importance));
    auto field = std::make_unique<TFaxCoverField>();
    field->SetBounds(10, 560, 200, 20);
    field->ChooseField(cfSenderVoice);
    items.push_back(std::move(field));
    auto image = std::make_unique<TFaxImage>();
    image->SetBounds(400, 600, 64, 32);
    QImage picture(16, 8, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (int x = 0; x < 16; ++x)
        picture.setPixel(x, x / 2, qRgb(0, 0, 0));
    image->Picture.kind = TPicture::pkBitmap;
    image->Picture.bitmap = picture;
    image->Flip = true;
    image->BorderStyle = bsSingle;
    items.push_back(std::move(image));
    auto multi = std::make_unique<TFaxMultiLineLabel>();
    multi->SetBounds(10, 700, 300, 100);
    multi->Items = {"First line", "", std::string(300, 'x')};
    multi->Alignment = taCenter;
    multi->SetWordWrap(true);
    multi->Font.name = "Courier New";
    items.push_back(std::move(multi));
    return items;
}

std::vector<const TFaxGraphicControl*> Pointers(const TItemList& items)
{
    std::vector<const TFaxGraphicControl*> out;
    for (const auto& i : items)
        out.push_back(i.get());
    return out;
}

TEST(CoverFiler, TemplateSavesLoadsAndSavesToTheSameBytes)
{
    TItemList items = EveryItem();
    for (size_t i = 0; i < items.size(); ++i)
        items[i]->Name = "Component" + std::to_string(i);
    const TBytes first = TFaxDesignObjectFiler::Encode(Pointers(items));
    TFaxDesignObjectFiler filer;
    const TItemList loaded = filer.Decode(first, nullptr);
    ASSERT_EQ(loaded.size(), items.size());
    EXPECT_EQ(TFaxDesignObjectFiler::Encode(Pointers(loaded)), first);
    // What was set came back.
    auto* shape = dynamic_cast<TFaxCoverShapes*>(loaded[2].get());
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->Shape, stRoundRect);
    EXPECT_EQ(shape->Pen.width, 3);
    EXPECT_EQ(shape->RoundPerc, 40);
    auto* field = dynamic_cast<TFaxCoverField*>(loaded[6].get());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->CoverFieldType, cfSenderVoice);
    EXPECT_EQ(field->Caption, "[Sender Phone]");
    auto* image = dynamic_cast<TFaxImage*>(loaded[7].get());
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(image->Picture == dynamic_cast<TFaxImage&>(*items[7]).Picture);
    EXPECT_TRUE(loaded[0]->Locked);
    EXPECT_TRUE(loaded[5]->Unselectable());
    auto* multi = dynamic_cast<TFaxMultiLineLabel*>(loaded[8].get());
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->Items.size(), 3u);
    EXPECT_TRUE(multi->WordWrap());
}

TEST(CoverFiler, EmptySurfaceSavesAsTwoBytes)
{
    TTempDir dir;
    TFaxDesignObjectFiler::SaveToFile({}, dir.Path("E.FCS"));
    EXPECT_EQ(ReadFile(dir.Path("E.FCS")), (TBytes{1, 0}));
    EXPECT_TRUE(TFaxDesignObjectFiler().LoadFromFile(dir.Path("E.FCS"), nullptr).empty());
    EXPECT_TRUE(TFaxDesignObjectFiler().LoadFromFile(dir.Path("MISSING.FCS"), nullptr).empty());
}

TEST(CoverFiler, ReadItemsTakeTheFirstFreeComponentNames)
{
    TItemList items = EveryItem();
    items[0]->Name = "Heading";
    const TBytes bytes = TFaxDesignObjectFiler::Encode(Pointers(items));
    TFaxDesignObjectFiler filer;
    TItemList fresh = filer.Decode(bytes, nullptr);
    for (size_t i = 0; i < fresh.size(); ++i)
        EXPECT_EQ(fresh[i]->Name, "Component" + std::to_string(i));
    const std::set<std::string> owned = {"Component0", "Component2"};
    TItemList more = filer.Decode(bytes, [&](const std::string& n) { return owned.count(n) > 0; });
    EXPECT_EQ(more[0]->Name, "Component1");
    EXPECT_EQ(more[1]->Name, "Component3");
    EXPECT_EQ(more[2]->Name, "Component4");
    // All 1001 names taken: the stored name stays.
    TItemList kept = filer.Decode(bytes, [](const std::string&) { return true; });
    EXPECT_EQ(kept[0]->Name, "Heading");
}

TEST(CoverFiler, PastingTheSameClipboardTwiceOffsetsBothFromTheSavedPlace)
{
    TTempDir dir;
    TItemList items = EveryItem();
    TFaxDesignObjectFiler::SaveSelection({items[0].get(), items[2].get()}, dir.Path("Clipbrd.tmp"));
    TFaxDesignObjectFiler filer;
    for (int round = 0; round < 2; ++round) {
        TItemList pasted = filer.PasteFromFile(dir.Path("Clipbrd.tmp"), nullptr);
        ASSERT_EQ(pasted.size(), 2u);
        EXPECT_EQ(pasted[0]->Left, 25);
        EXPECT_EQ(pasted[0]->Top, 35);
        EXPECT_EQ(pasted[1]->Left, 20);
        EXPECT_EQ(pasted[1]->Top, 115);
    }
    EXPECT_FALSE(filer.PasteOffset);
    EXPECT_EQ(filer.LoadFromFile(dir.Path("Clipbrd.tmp"), nullptr)[0]->Left, 10);
    // Nothing selected: the clipboard file stays as it was.
    const TBytes before = ReadFile(dir.Path("Clipbrd.tmp"));
    TFaxDesignObjectFiler::SaveSelection({}, dir.Path("Clipbrd.tmp"));
    EXPECT_EQ(ReadFile(dir.Path("Clipbrd.tmp")), before);
}

TEST(CoverFiler, CloneIsACopyWithAFreshName)
{
    TItemList items = EveryItem();
    items[0]->Name = "Component0";
    const auto copy =
        TFaxDesignObjectFiler().CloneItem(*items[0], [](const std::string& n) { return n == "Component0"; });
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Name, "Component1");
    EXPECT_EQ(dynamic_cast<TFaxCoverLabel&>(*copy).Caption, "Fax from us");
    EXPECT_EQ(copy->Left, 10);
}

// A label record as the binary component stream writes it, with an event handler the designer
// does not have and the font's name and style as another writer orders them.
TEST(CoverFiler, ReadsARecordWrittenByAnotherWriterAndSkipsUnknownHandlers)
{
    TBytes b = {1, 'T', 'P', 'F', '0', 14};
    const auto str = [&b](const std::string& s) {
        b.push_back(static_cast<uint8_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    };
    const std::string cls = "TFaxCoverLabel";
    b.insert(b.end(), cls.begin(), cls.end());
    str("Label7");
    str("Left"), b.insert(b.end(), {2, 10});
    str("Top"), b.insert(b.end(), {2, 20});
    str("Width"), b.insert(b.end(), {3, 0x8E, 0});
    str("Height"), b.insert(b.end(), {2, 33});
    str("Font.Color"), b.push_back(7), str("clBlack");
    str("Font.Height"), b.insert(b.end(), {2, 0xF3});
    str("Font.Name"), b.push_back(6), str("Arial");
    str("Font.Style"), b.push_back(11), str("fsBold"), b.push_back(0);
    str("OnClick"), b.push_back(7), str("LabelClick");
    str("Caption"), b.push_back(6), str("Text");
    b.insert(b.end(), {0, 0, 0});
    const TItemList items = TFaxDesignObjectFiler().Decode(b, nullptr);
    ASSERT_EQ(items.size(), 1u);
    const auto& label = dynamic_cast<const TFaxCoverLabel&>(*items[0]);
    EXPECT_EQ(label.Left, 10);
    EXPECT_EQ(label.Top, 20);
    EXPECT_EQ(label.Width, 142);
    EXPECT_EQ(label.Height, 33);
    EXPECT_TRUE(label.Font.bold);
    EXPECT_EQ(label.Font.Size(), 10);
    EXPECT_EQ(label.Caption, "Text");
    // Cut anywhere, the same record is an error, never a crash.
    for (size_t n = 0; n + 1 < b.size(); ++n)
        EXPECT_THROW(TFaxDesignObjectFiler().Decode(TBytes(b.begin(), b.begin() + static_cast<long>(n)), nullptr),
                     TStreamError)
            << n;
}

TEST(CoverFiler, UnknownClassIsAnError)
{
    TBytes b = {1, 'T', 'P', 'F', '0', 6, 'T', 'B', 'u', 't', 't', 'n', 2, 'B', '1', 0, 0, 0};
    EXPECT_THROW(TFaxDesignObjectFiler().Decode(b, nullptr), TStreamError);
}

// A write that fails part way (here: past the file size limit) leaves the old template whole.
TEST(CoverFiler, FailedWriteKeepsTheOldFile)
{
    TTempDir dir;
    const std::string name = dir.Path("KEEP.FCS");
    TFaxDesignObjectFiler::SaveToFile({}, name);
    const TItemList items = EveryItem();
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(TFaxDesignObjectFiler::SaveToFile(Pointers(items), name), TStreamError);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(ReadFile(name), (TBytes{1, 0}));
    EXPECT_EQ(dir.Files().size(), 1u); // no temporary file left behind
}

// The render file written from the items draws them where they were placed: at scale 2 the design
// geometry, shifted by 98 pixels.
TEST(CoverRenderFile, ItemsRenderAtTheirDesignPlaceAtHalfScale)
{
    TItemList items;
    auto shape = std::make_unique<TFaxCoverShapes>();
    shape->SetBounds(11, 21, 50, 30);
    shape->ShapeFilltype = sftFilledBlack;
    items.push_back(std::move(shape));
    TValueWriter w;
    for (const auto& item : items)
        WriteRenderRecord(w, item->RenderRecord());
    TMonoCanvas preview(kPreviewWidth, kPreviewHeight);
    RenderCoverBytes(preview, w.Bytes(), {}, {}, 2);
    int black = 0, outside = 0;
    for (int y = 0; y < kPreviewHeight; ++y)
        for (int x = 0; x < kPreviewWidth; ++x) {
            const bool inside = x >= 109 && x < 159 && y >= 119 && y < 149;
            (inside ? black : outside) += preview.IsBlack(x, y);
        }
    EXPECT_EQ(black, 50 * 30);
    EXPECT_EQ(outside, 0);
    // Stored values are doubled; an odd one divides with truncation.
    TRenderRecord rec = items[0]->RenderRecord();
    EXPECT_EQ(rec.left, 22);
    EXPECT_EQ(rec.penWidth, 2);
    rec.left = 3;
    EXPECT_EQ(rec.left / 2, 1);
}

TEST(CoverRenderFile, EveryItemKindRoundTripsThroughRecords)
{
    const TItemList items = EveryItem();
    TValueWriter w;
    for (const auto& item : items)
        WriteRenderRecord(w, item->RenderRecord());
    TValueReader r(w.Bytes());
    for (const auto& item : items) {
        const TRenderRecord rec = ReadRenderRecord(r);
        EXPECT_EQ(rec.kind, item->RenderKind());
        EXPECT_EQ(rec.width, item->Width * 2);
    }
    EXPECT_TRUE(r.AtEnd());
}

} // namespace
} // namespace zn::cover
