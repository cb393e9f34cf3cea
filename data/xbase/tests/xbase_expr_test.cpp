// xBase expressions: a table of texts and what they give on one record.
#include <gtest/gtest.h>

#include <ctime>
#include <algorithm>
#include <iterator>
#include <memory>

#include "xbase_common.h"
#include "xbase_expr.h"
#include "platform/tests/param_name.h"

namespace zn::xbase {
namespace {

const std::vector<Field> kFields = {
    {"SUBJECT", 'C', 10, 0, 1},  {"DATESENT", 'D', 8, 0, 11}, {"TIMESENT", 'C', 5, 0, 19},
    {"ARCHIVED", 'L', 1, 0, 24}, {"PAGES", 'N', 5, 2, 25},    {"EMPTYDATE", 'D', 8, 0, 30},
};
// Deleted, "  Hello   ", 2024-02-29, "12:30", archived, 12.50, blank date.
const std::string kRecord = std::string("*") + "  Hello   " + "20240229" + "12:30" + "T" + "12.50" + "        ";

struct Case {
    const char* expression;
    const char* result; // the value as vd_EvalString shows it
};

class XbaseEvaluates : public ::testing::TestWithParam<Case> {};

TEST_P(XbaseEvaluates, ToTheExpectedValue)
{
    std::unique_ptr<Expression> e;
    ASSERT_EQ(Expression::Compile(GetParam().expression, kFields, e), Err::Ok) << GetParam().expression;
    Settings settings;
    settings.century = true;
    EvalContext context{kRecord.data(), 7, &settings};
    EXPECT_EQ(ValueText(e->Evaluate(context), settings), GetParam().result) << GetParam().expression;
}

// A case's name: the expression with its operators spelled out, so that "A=B" and "A==B" differ.
std::string ExpressionName(const std::string& expression)
{
    const std::pair<char, const char*> spelled[] = {{'=', " Eq "},    {'<', " Lt "},   {'>', " Gt "},
                                                    {'!', " Not "},   {'#', " Hash "}, {'$', " In "},
                                                    {'+', " Plus "},  {'-', " Minus "}, {'*', " Times "},
                                                    {'/', " Slash "}, {'.', " Dot "}};
    std::string words;
    for (const char c : expression) {
        const auto* s = std::find_if(std::begin(spelled), std::end(spelled), [c](const auto& p) { return p.first == c; });
        words += s == std::end(spelled) ? std::string(1, c) : s->second;
    }
    return zn::test::ParamName(words);
}

INSTANTIATE_TEST_SUITE_P(
    Table, XbaseEvaluates,
    ::testing::Values(
        Case{"subject", "  Hello   "}, Case{"UPPER(Subject)", "  HELLO   "}, Case{"ALLTRIM(SUBJECT)", "Hello"},
        Case{"LTRIM(SUBJECT)", "Hello   "}, Case{"TRIM(SUBJECT)+\"!\"", "  Hello!"},
        Case{"SUBSTR(SUBJECT, 3, 2)", "He"}, Case{"SUBSTR(SUBJECT, 9)", "  "}, Case{"SUBSTR(SUBJECT, 99, 2)", ""},
        Case{"LEFT(SUBJECT, 4)", "  He"}, Case{"RIGHT(ALLTRIM(SUBJECT), 3)", "llo"}, Case{"RIGHT('ab', 9)", "ab"},
        Case{"DTOS(DATESENT)+TIMESENT", "2024022912:30"}, Case{"DTOS(EMPTYDATE)", "        "},
        Case{"DTOC(DATESENT)", "02/29/2024"}, Case{"DTOS(CTOD(\"03/01/2024\"))", "20240301"},
        Case{"DTOS(CTOD(\"02/30/2024\"))", "        "}, Case{"DTOS(CTOD(\"03/01/20SE24\"))", "        "},
        Case{"DTOS(CTOD('1/2/2024/5'))", "        "}, Case{"DTOS(CTOD(' 1/2/2024 '))", "20240102"},
        Case{"DTOS(DATESENT + 1)", "20240301"}, Case{"DATESENT - CTOD('01/01/2024')", "        59"},
        Case{"STR(PAGES)", "        13"}, Case{"STR(PAGES, 6, 2)", " 12.50"}, Case{"STR(PAGES * 1000, 3)", "***"},
        Case{"LTRIM(STR(RECNO(), 19))", "7"}, Case{"VAL(\"  42.5xyz\") + 1", "     43.50"},
        Case{"IIF(ARCHIVED, 'yes', 'no')", "yes"}, Case{".not. archived", ".F."}, Case{"!ARCHIVED .or. .T.", ".T."},
        Case{".true. .and. .f.", ".F."}, Case{"DELETED()", ".T."}, Case{"EMPTY(EMPTYDATE)", ".T."},
        Case{"EMPTY(SUBJECT)", ".F."}, Case{"EMPTY('   ')", ".T."}, Case{"EMPTY(0)", ".T."},
        Case{"'ell' $ SUBJECT", ".T."}, Case{"\"ELL\" $ UPPER(SUBJECT)", ".T."}, Case{"[Hel] $ SUBJECT", ".T."},
        Case{"ALLTRIM(UPPER(SUBJECT))==\"HELLO\"", ".T."}, Case{"ALLTRIM(SUBJECT)==\"Hell\"", ".F."},
        Case{"ALLTRIM(SUBJECT)=\"Hell\"", ".T."}, Case{"\"Hell\"=ALLTRIM(SUBJECT)", ".F."},
        Case{"SUBJECT <> '  Hello'", ".F."}, Case{"SUBJECT # 'x'", ".T."}, Case{"SUBJECT != 'x'", ".T."},
        Case{"(DATESENT<CTOD(\"03/01/2024\"))", ".T."}, Case{"DATESENT >= CTOD('02/29/2024')", ".T."},
        Case{"EMPTYDATE < DATESENT", ".T."}, Case{"PAGES > 12 .and. PAGES <= 12.5", ".T."},
        Case{"-PAGES + 2 * 3 / 2", "     -9.50"}, Case{"1/0", "         0"},
        Case{"DTOS(DATESENT + 100000000000000000000)", "        "},
        Case{"SUBSTR(SUBJECT, -99999999999999999999, 99999999999999999999)", "  Hello   "},
        Case{"STR(0.5)", "         1"}, Case{"STR(-2.5)", "        -3"}, Case{"STR(1.005 * 1000, 8, 1)", "  1005.0"}),
                         [](const ::testing::TestParamInfo<Case>& info) { return ExpressionName(info.param.expression); });

struct Refusal {
    const char* expression;
    Err error;
};

class XbaseRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(XbaseRefuses, WithTheEngineError)
{
    std::unique_ptr<Expression> e;
    EXPECT_EQ(Expression::Compile(GetParam().expression, kFields, e), GetParam().error) << GetParam().expression;
}

std::string LongChain()
{
    std::string s = "1";
    for (int i = 0; i < 5000; ++i)
        s += "+1";
    return s;
}

const std::string kChain = LongChain();
const std::string kNested = std::string(5000, '(') + "1" + std::string(5000, ')');

INSTANTIATE_TEST_SUITE_P(
    Table, XbaseRefuses,
    ::testing::Values(Refusal{"", Err::ExprSyntax}, Refusal{"UPPER(", Err::ExprSyntax},
                      Refusal{"\"open", Err::ExprSyntax}, Refusal{"NOSUCH", Err::NoSuchField},
                      Refusal{"NOFUNC(1)", Err::ExprSyntax}, Refusal{"UPPER(1, 2)", Err::ExprSyntax},
                      Refusal{"SUBJECT + 1", Err::ExprType}, Refusal{".not. SUBJECT", Err::ExprType},
                      Refusal{"DTOS(SUBJECT)", Err::ExprType}, Refusal{"ARCHIVED < .T.", Err::ExprType},
                      Refusal{"1 $ 2", Err::ExprType}, Refusal{"IIF(1, 2, 3)", Err::ExprType},
                      Refusal{".maybe.", Err::ExprSyntax}, Refusal{"1.2.3", Err::ExprSyntax},
                      Refusal{"a @ b", Err::ExprSyntax}, Refusal{kChain.c_str(), Err::ExprSyntax},
                      Refusal{kNested.c_str(), Err::ExprSyntax}),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                             const std::string expression = info.param.expression;
                             return expression == kChain    ? std::string("ChainOf5000Sums")
                                    : expression == kNested ? std::string("Nested5000Deep")
                                                            : ExpressionName(expression);
                         });

TEST(XbaseExpression, KnowsItsTypeWidthAndSingleField)
{
    std::unique_ptr<Expression> e;
    ASSERT_EQ(Expression::Compile("DTOS(DATESENT)+TIMESENT", kFields, e), Err::Ok);
    EXPECT_EQ(e->Type(), 'C');
    EXPECT_EQ(e->Width(), 13);
    EXPECT_EQ(e->SingleField(), -1);
    ASSERT_EQ(Expression::Compile("archived", kFields, e), Err::Ok);
    EXPECT_EQ(e->Type(), 'L');
    EXPECT_EQ(e->SingleField(), 3);
    ASSERT_EQ(Expression::Compile("SUBSTR(SUBJECT, 2, 4)", kFields, e), Err::Ok);
    EXPECT_EQ(e->Width(), 4);
}

struct DateCase {
    int format;
    bool century;
    const char* text;
};

class XbaseDateFormats : public ::testing::TestWithParam<DateCase> {};

TEST_P(XbaseDateFormats, WriteAndReadTheSameDate)
{
    Settings s;
    s.dateFormat = GetParam().format;
    s.century = GetParam().century;
    int32_t day = JulianDay(2024, 2, 9);
    EXPECT_EQ(DtocFromDate(day, s), GetParam().text);
    EXPECT_EQ(DateFromDtoc(GetParam().text, s), day);
}

INSTANTIATE_TEST_SUITE_P(Table, XbaseDateFormats,
                         ::testing::Values(DateCase{0, false, "02/09/24"}, DateCase{0, true, "02/09/2024"},
                                           DateCase{1, false, "24.02.09"}, DateCase{1, true, "2024.02.09"},
                                           DateCase{2, true, "09/02/2024"}, DateCase{3, false, "09/02/24"},
                                           DateCase{4, true, "09.02.2024"}, DateCase{5, false, "09-02-24"},
                                           DateCase{6, true, "09-02-2024"}),
                         [](const ::testing::TestParamInfo<DateCase>& info) { return "Format" + std::to_string(info.param.format) + (info.param.century ? "_Century" : ""); });

// Two-digit years fall in the hundred years around today, so "26" written now means this century
// rather than 1926.
TEST(XbaseDates, TwoDigitYearsStayNearToday)
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    int year = local.tm_year + 1900;
    EXPECT_EQ(ExpandYear(year % 100), year);
    EXPECT_EQ(ExpandYear((year + 10) % 100), year + 10);
    EXPECT_EQ(ExpandYear((year + 60) % 100), year - 40);
}

TEST(XbaseDates, JulianDaysOfKnownDates)
{
    EXPECT_EQ(JulianDay(2000, 1, 1), 2451545);
    EXPECT_EQ(JulianDay(1996, 7, 4), 2450269);
    EXPECT_EQ(JulianDay(2024, 2, 29), 2460370);
    int y, m, d;
    CivilDate(2460370, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
    EXPECT_EQ(DateFromDtos("20230229", 8), 0);
    EXPECT_EQ(DateFromDtos("2024 229", 8), 0);
}

} // namespace
} // namespace zn::xbase
