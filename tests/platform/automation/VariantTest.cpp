#include "platform/automation/Variant.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vm::automation {
namespace {

struct ChangeCase {
    Variant from;
    std::uint16_t want;
    HResult status;
    Variant expected;
};

TEST(VariantChangeType, Table) {
    const std::vector<ChangeCase> cases = {
        {Variant(std::int32_t{42}), VT_BSTR, kOk, Variant("42")},
        {Variant(2.5), VT_BSTR, kOk, Variant("2.5")},
        {Variant(3.0), VT_BSTR, kOk, Variant("3")},
        {Variant(0.1), VT_BSTR, kOk, Variant("0.1")},
        {Variant(1e20), VT_BSTR, kOk, Variant("1E+20")},
        {Variant(-1.0 / 3), VT_BSTR, kOk, Variant("-0.333333333333333")},
        {Variant(true), VT_BSTR, kOk, Variant("True")},
        {Variant(), VT_BSTR, kOk, Variant("")},
        {Variant::Null(), VT_BSTR, kDispTypeMismatch, Variant()},
        {Variant::Null(), VT_I4, kDispTypeMismatch, Variant()},
        {Variant(" 12 "), VT_I4, kOk, Variant(std::int32_t{12})},
        {Variant("12abc"), VT_I4, kDispTypeMismatch, Variant()},
        {Variant("1e3"), VT_R8, kOk, Variant(1000.0)},
        // Narrowing rounds half to even, as automation does.
        {Variant(2.5), VT_I4, kOk, Variant(std::int32_t{2})},
        {Variant(3.5), VT_I4, kOk, Variant(std::int32_t{4})},
        {Variant(-2.5), VT_I4, kOk, Variant(std::int32_t{-2})},
        {Variant(3e9), VT_I4, kDispOverflow, Variant()},
        {Variant::I8(5000000000LL), VT_I4, kDispOverflow, Variant()},
        {Variant::I8(5000000000LL), VT_R8, kOk, Variant(5e9)},
        {Variant(true), VT_I4, kOk, Variant(std::int32_t{-1})},
        {Variant("false"), VT_BOOL, kOk, Variant(false)},
        {Variant("TRUE"), VT_BOOL, kOk, Variant(true)},
        {Variant(std::int32_t{7}), VT_BOOL, kOk, Variant(true)},
        {Variant(), VT_I4, kOk, Variant(std::int32_t{0})},
        {Variant("2024-05-06"), VT_DATE, kOk, Variant::Date(45418.0)},
        {Variant::Date(45418.5), VT_BSTR, kOk, Variant("2024-05-06 12:00:00")},
        {Variant("ab"), VT_BYTES, kOk, Variant(Bytes{'a', 'b'})},
        {Variant(Bytes{'x', 'y'}), VT_BSTR, kOk, Variant("xy")},
        {Variant(std::int32_t{1}), VT_DISPATCH, kDispTypeMismatch, Variant()},
        {Variant(), VT_DISPATCH, kOk, Variant(std::shared_ptr<Dispatch>())},
        {Variant::Array({Variant(1.0)}), VT_I4, kDispTypeMismatch, Variant()},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ChangeCase& c = cases[i];
        Variant out;
        EXPECT_EQ(c.from.ChangeType(c.want, out), c.status) << "case " << i;
        if (c.status == kOk) {
            EXPECT_TRUE(out == c.expected) << "case " << i << " got type " << out.Type();
        }
    }
}

TEST(VariantChangeType, ThroughReferenceAndMissing) {
    Variant target(std::int32_t{5});
    const Variant ref = Variant::Ref(target);
    std::int32_t n = 0;
    EXPECT_TRUE(ref.ToInt32(n));
    EXPECT_EQ(n, 5);
    EXPECT_TRUE(Variant::Missing().IsMissing());
    EXPECT_EQ(Variant::Missing().Type(), VT_ERROR);
    EXPECT_FALSE(Variant(std::int32_t{0}).IsMissing());
    // A reference to a reference points at the final target.
    const Variant refRef = Variant::Ref(const_cast<Variant&>(ref));
    EXPECT_EQ(refRef.RefTarget(), &target);
}

struct DateCase {
    std::string text;
    bool ok;
    double date;
};

TEST(OleDate, ParseTable) {
    const std::vector<DateCase> cases = {
        {"1899-12-30", true, 0.0},
        {"1900-01-01", true, 2.0},
        {"2024-05-06 06:00:00", true, 45418.25},
        {"2024-05-06T18:00", true, 45418.75},
        {"2024/5/6", true, 45418.0},
        {"5/6/2024", true, 45418.0},
        {"5/6/2024 6:00:00 PM", true, 45418.75},
        {"12:00:00", true, 0.5},
        {"1899-12-29 06:00:00", true, -1.25},
        {"2023-02-29", false, 0},
        {"2024-13-01", false, 0},
        {"2024-05-06 25:00", false, 0},
        {"not a date", false, 0},
        {"", false, 0},
    };
    for (const DateCase& c : cases) {
        double date = -99;
        EXPECT_EQ(ParseOleDate(c.text, date), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(date, c.date) << c.text;
        }
    }
}

TEST(OleDate, SplitAndFormatRoundTrip) {
    for (const double date : {0.0, 1.5, 45418.999988, -1.25, 2958465.0, -657434.0}) {
        DateParts parts;
        ASSERT_TRUE(SplitOleDate(date, parts)) << date;
        double back = 0;
        ASSERT_TRUE(MakeOleDate(parts, back)) << date;
        EXPECT_NEAR(back, date, 1.0 / 86400) << date;
        double parsed = 0;
        ASSERT_TRUE(ParseOleDate(FormatOleDate(date), parsed)) << FormatOleDate(date);
        EXPECT_NEAR(parsed, date, 1.0 / 86400) << FormatOleDate(date);
    }
    DateParts parts;
    EXPECT_FALSE(SplitOleDate(NAN, parts));
    EXPECT_FALSE(SplitOleDate(1e12, parts));
}

} // namespace
} // namespace vm::automation
