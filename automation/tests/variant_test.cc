#include "automation/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "automation/guid.h"

namespace zimo::automation {
namespace {

struct ConversionCase {
  const char* what;
  Variant from;
  VarType to;
  HRESULT hr;
  Variant expected;  // checked when hr succeeds
};

// Names the case in test listings (the default would dump its bytes).
void PrintTo(const ConversionCase& c, std::ostream* os) { *os << c.what; }

class ChangeTypeTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ChangeTypeTest, Converts) {
  const ConversionCase& c = GetParam();
  Variant out;
  EXPECT_EQ(c.from.ChangeType(c.to, &out), c.hr) << c.what;
  if (Succeeded(c.hr)) {
    EXPECT_EQ(out, c.expected) << c.what << ": " << out.DebugString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ChangeTypeTest,
    ::testing::Values(
        ConversionCase{"narrowing in range", Variant(42), VT_I2, S_OK, Variant(int16_t{42})},
        ConversionCase{"narrowing out of range", Variant(40000), VT_I2, DISP_E_OVERFLOW, {}},
        ConversionCase{"half rounds to even (down)", Variant(2.5), VT_I4, S_OK, Variant(2)},
        ConversionCase{"half rounds to even (up)", Variant(3.5), VT_I4, S_OK, Variant(4)},
        ConversionCase{"negative half", Variant(-2.5), VT_I4, S_OK, Variant(-2)},
        ConversionCase{"not a number", Variant(std::nan("")), VT_I4, DISP_E_OVERFLOW, {}},
        ConversionCase{"double past int32", Variant(3e9), VT_I4, DISP_E_OVERFLOW, {}},
        ConversionCase{"double past float", Variant(1e39), VT_R4, DISP_E_OVERFLOW, {}},
        ConversionCase{"int64 past int32", Variant(int64_t{1} << 40), VT_I4, DISP_E_OVERFLOW, {}},
        ConversionCase{"byte range", Variant(256), VT_UI1, DISP_E_OVERFLOW, {}},
        ConversionCase{"true as a byte", Variant(true), VT_UI1, S_OK, Variant(uint8_t{255})},
        ConversionCase{"true as a number", Variant(true), VT_I4, S_OK, Variant(-1)},
        ConversionCase{"number as boolean", Variant(7), VT_BOOL, S_OK, Variant(true)},
        ConversionCase{"text with blanks", Variant(u" 12 "), VT_I4, S_OK, Variant(12)},
        ConversionCase{"text with exponent", Variant(u"1e3"), VT_I4, S_OK, Variant(1000)},
        ConversionCase{"text with sign", Variant(u"+5.5"), VT_R8, S_OK, Variant(5.5)},
        ConversionCase{"exact 64-bit text", Variant(u"9223372036854775807"), VT_I8, S_OK,
                       Variant(std::numeric_limits<int64_t>::max())},
        ConversionCase{"text that is no number", Variant(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        ConversionCase{"empty text", Variant(u""), VT_I4, DISP_E_TYPEMISMATCH, {}},
        ConversionCase{"infinity text", Variant(u"inf"), VT_R8, DISP_E_TYPEMISMATCH, {}},
        ConversionCase{"boolean text", Variant(u"true"), VT_BOOL, S_OK, Variant(true)},
        ConversionCase{"empty to number", Variant(), VT_I4, S_OK, Variant(0)},
        ConversionCase{"empty to text", Variant(), VT_BSTR, S_OK, Variant(u"")},
        ConversionCase{"double to text", Variant(3.5), VT_BSTR, S_OK, Variant(u"3.5")},
        ConversionCase{"float to text", Variant(0.1f), VT_BSTR, S_OK, Variant(u"0.1")},
        ConversionCase{"negative to text", Variant(-7), VT_BSTR, S_OK, Variant(u"-7")},
        ConversionCase{"null is no number", Variant::Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        ConversionCase{"error is no number", Variant::Error(E_FAIL), VT_I4, DISP_E_TYPEMISMATCH, {}},
        ConversionCase{"array to scalar", Variant(SafeArray::Vector(VT_I4, 2)), VT_I4,
                       DISP_E_TYPEMISMATCH, {}},
        ConversionCase{"scalar to array", Variant(1), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH, {}}));

TEST(VariantTest, ByReferenceIsFollowed) {
  Variant target(int16_t{9});
  Variant ref = Variant::ByRef(&target, VT_I2);
  EXPECT_EQ(ref.vt(), VT_BYREF | VT_I2);
  int32_t v = 0;
  ASSERT_EQ(ref.To(&v), S_OK);
  EXPECT_EQ(v, 9);
  ref.Deref() = Variant(int16_t{11});
  EXPECT_EQ(target, Variant(int16_t{11}));
}

TEST(VariantTest, CopiesOwnTheirArrays) {
  Variant a(SafeArray::Vector(VT_I4, 3));
  Variant b = a;
  b.array().As<int32_t>()[1] = 5;
  EXPECT_EQ(a.array().As<int32_t>()[1], 0);
  EXPECT_NE(a, b);
  a = b;
  EXPECT_EQ(a, b);
}

TEST(VariantTest, NullAndEmptyTextsDiffer) {
  EXPECT_TRUE(Bstr().is_null());
  EXPECT_TRUE(Bstr().empty());
  EXPECT_FALSE(Bstr(u"").is_null());
  EXPECT_TRUE(Bstr(u"").empty());
  EXPECT_NE(Variant(Bstr()), Variant(Bstr(u"")));
  // The code page keeps its own characters and marks the rest.
  EXPECT_EQ(Bstr::FromAnsi("\x80 5").view(), u"\u20AC 5");
  EXPECT_EQ(Bstr(u"\u20AC\u4E2D").ToAnsi(), "\x80?");
}

TEST(GuidTest, ParsesAndFormats) {
  auto g = Guid::Parse("{0a1b2c3d-4E5F-6071-8293-a4b5c6d7e8f9}");
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->ToString(), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  EXPECT_EQ(Guid::Parse("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"), g);
  for (const char* bad : {"", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",
                          "{0A1B2C3D-4E5F-6071-8293_A4B5C6D7E8F9}",
                          "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}", "0A1B2C3D4E5F60718293A4B5C6D7E8F9"}) {
    EXPECT_FALSE(Guid::Parse(bad).has_value()) << bad;
  }
}

TEST(SafeArrayTest, FirstIndexVariesFastest) {
  SafeArray a;
  const ArrayBound bounds[] = {{1, 3}, {-1, 2}};  // (1..3, -1..0)
  ASSERT_EQ(SafeArray::Create(VT_I4, bounds, &a), S_OK);
  for (int32_t j = -1; j <= 0; ++j) {
    for (int32_t i = 1; i <= 3; ++i) {
      const int32_t at[] = {i, j};
      ASSERT_EQ(a.PutElement(at, Variant(10 * i + j)), S_OK);
    }
  }
  auto data = a.As<int32_t>();
  ASSERT_EQ(data.size(), 6u);
  EXPECT_EQ(data[0], 9);   // (1,-1)
  EXPECT_EQ(data[2], 29);  // (3,-1)
  EXPECT_EQ(data[3], 10);  // (1, 0)
  int32_t ub = 0;
  EXPECT_EQ(a.UpperBound(1, &ub), S_OK);
  EXPECT_EQ(ub, 3);
  EXPECT_EQ(a.UpperBound(2, &ub), S_OK);
  EXPECT_EQ(ub, 0);
  EXPECT_EQ(a.UpperBound(3, &ub), DISP_E_BADINDEX);
  Variant v;
  const int32_t outside[] = {4, 0};
  const int32_t one_index[] = {1};
  EXPECT_EQ(a.GetElement(outside, &v), DISP_E_BADINDEX);
  EXPECT_EQ(a.GetElement(one_index, &v), DISP_E_BADINDEX);
  const int32_t last[] = {3, 0};
  ASSERT_EQ(a.GetElement(last, &v), S_OK);
  EXPECT_EQ(v, Variant(30));
}

TEST(SafeArrayTest, ElementsConvertToTheArrayKind) {
  SafeArray a = SafeArray::Vector(VT_I2, 2);
  const int32_t at[] = {0};
  EXPECT_EQ(a.PutElement(at, Variant(2.5)), S_OK);
  EXPECT_EQ(a.As<int16_t>()[0], 2);
  EXPECT_EQ(a.PutElement(at, Variant(70000)), DISP_E_OVERFLOW);
  EXPECT_EQ(a.PutElement(at, Variant(u"x")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(a.As<int16_t>()[0], 2);  // a refused value changes nothing
  EXPECT_TRUE(a.As<int32_t>().empty());  // the wrong width gives no view
}

TEST(SafeArrayTest, RefusesWhatItCannotHold) {
  SafeArray a;
  const ArrayBound huge[] = {{0, 0x10000000}, {0, 0x100}};
  EXPECT_EQ(SafeArray::Create(VT_I4, huge, &a), E_OUTOFMEMORY);
  const ArrayBound one[] = {{0, 1}};
  EXPECT_EQ(SafeArray::Create(VT_DISPATCH, one, &a), DISP_E_BADVARTYPE);
  EXPECT_EQ(SafeArray::Create(VT_I4, {}, &a), E_INVALIDARG);
  const ArrayBound past_top[] = {{INT32_MAX, 2}};
  EXPECT_EQ(SafeArray::Create(VT_I4, past_top, &a), E_INVALIDARG);
}

}  // namespace
}  // namespace zimo::automation
