#include <array>
#include <cmath>

#include "labhelper/qeldll32.h"
#include "labhelper_test_support.h"

namespace zimo::labhelper::testing {
namespace {

using Poly = std::array<double, 8>;
constexpr double kSentinel = 42.0;
constexpr uint32_t kErrorBox = platform::kMbOk | platform::kMbIconError;

void ExpectNear(const double* got, const std::vector<double>& want, double tolerance = 1e-15) {
  for (size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(got[k], want[k], tolerance) << "at " << k;
}

class ConvertTest : public LabHelperTest {
 protected:
  void ExpectRefused(const std::vector<std::string>& events) {
    EXPECT_EQ(Events(), events);
    for (const auto& box : recorder_.boxes()) {
      EXPECT_EQ(box.caption, "Error");
      EXPECT_EQ(box.flags, kErrorBox);
    }
  }
};

TEST_F(ConvertTest, BilinearExpansionPerOrder) {
  const double t = 0.1, h = t / 2;
  const Poly p = {1, 2, 3, 4, 5, 6, 7, 8};
  Poly out;
  convert_s_to_z(out.data(), p.data(), 0, t);
  EXPECT_EQ(out, (Poly{1, 0, 0, 0, 0, 0, 0, 0}));
  convert_s_to_z(out.data(), p.data(), 1, t);
  ExpectNear(out.data(), {h * 1 + 2, h * 1 - 2, 0, 0, 0, 0, 0, 0});
  convert_s_to_z(out.data(), p.data(), 2, t);
  ExpectNear(out.data(), {3 + h * 2 + h * h * 1, 2 * h * h * 1 - 2 * 3, 3 - h * 2 + h * h * 1});
  // Order 3: p0 h^3 (1+z)^3 + p1 h^2 (1-z)(1+z)^2 + p2 h (1-z)^2(1+z) + p3 (1-z)^3.
  convert_s_to_z(out.data(), p.data(), 3, t);
  const double a = h * h * h, b = 2 * h * h, c = 3 * h;
  ExpectNear(out.data(),
             {a + b + c + 4, 3 * a + b - c - 12, 3 * a - b - c + 12, a - b + c - 4, 0, 0, 0, 0});
  // Order 7 of 1 + s^7 at T = 2: (1 + z)^7 + (1 - z)^7.
  const Poly ends = {1, 0, 0, 0, 0, 0, 0, 1};
  convert_s_to_z(out.data(), ends.data(), 7, 2.0);
  ExpectNear(out.data(), {2, 0, 42, 0, 70, 0, 14, 0}, 1e-12);

  for (int16_t order : {8, -1}) {
    out.fill(kSentinel);
    convert_s_to_z(out.data(), p.data(), order, t);
    EXPECT_EQ(out, Poly{}) << order;
  }
}

TEST_F(ConvertTest, FirstOrderLag) {
  Poly num = {1, 0}, den = {1, 1};
  ASSERT_EQ(C_to_D_convert(num.data(), den.data(), 1, 0.1), 1);
  ExpectNear(num.data(), {1.0 / 21, 1.0 / 21, 0, 0, 0, 0, 0, 0});
  ExpectNear(den.data(), {1.0, -19.0 / 21, 0, 0, 0, 0, 0, 0});
  EXPECT_TRUE(Events().empty());
}

TEST_F(ConvertTest, NegativeConstantDenominatorDividesTheNumerator) {
  Poly num = {6, 0, 0}, den = {-2, 0, 0};
  ASSERT_EQ(C_to_D_convert(num.data(), den.data(), 2, 0.1), 1);
  EXPECT_EQ(num[0], -3.0);
  EXPECT_EQ(den[0], 1.0);
}

TEST_F(ConvertTest, ImproperTransferFunctionIsRefusedBeforeTheBeep) {
  Poly num = {1, 0, 1}, den = {1, 1, 0};
  const Poly num_before = num, den_before = den;
  EXPECT_EQ(C_to_D_convert(num.data(), den.data(), 2, 0.1), 0);
  ExpectRefused({"box:Transfer function must be proper!", "beep"});
  EXPECT_EQ(beep_types_, std::vector<uint32_t>{0xFFFFFFFFu});
  EXPECT_EQ(num, num_before);
  EXPECT_EQ(den, den_before);
}

TEST_F(ConvertTest, ZeroDenominatorsAreRefusedAfterTheBeep) {
  // A zero constant denominator, and a pole at s = 2/T, which leaves the
  // discrete denominator nothing to normalise by.
  const std::pair<Poly, double> cases[] = {{Poly{0, 0}, 0.1}, {Poly{1, -0.05}, 0.1}};
  for (const auto& [denominator, t] : cases) {
    recorder_.Clear();
    beep_box_counts_.clear();
    Poly num = {1, 0}, den = denominator;
    EXPECT_EQ(C_to_D_convert(num.data(), den.data(), 1, t), 0);
    ExpectRefused({"beep", "box:Denominator cannot be zero!"});
    EXPECT_EQ(num, (Poly{1, 0}));
    EXPECT_EQ(den, denominator);
  }
}

TEST_F(ConvertTest, FeedForwardFilter) {
  double in[14] = {1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0};
  double num[7], den[7];
  std::fill(num, num + 7, kSentinel);
  std::fill(den, den + 7, kSentinel);
  ASSERT_EQ(convert_feed_forward_continuous(in, num, den, 0.1), 1);
  ExpectNear(num, {1.0 / 21, 1.0 / 21, 0, 0, 0, 0, 0});
  ExpectNear(den, {1.0, -19.0 / 21, 0, 0, 0, 0, 0});

  in[2] = 1;  // s^2 over a first-order denominator
  std::fill(num, num + 7, kSentinel);
  EXPECT_EQ(convert_feed_forward_continuous(in, num, den, 0.1), 0);
  EXPECT_EQ(num[0], kSentinel);
}

// A continuous record for the general form: A = 2, B = 3 over 1, first-order
// terms P = (1, 2), Q = (3, 4), D1 = (5, 6), U = (7, 8), V = (9, 10),
// D2 = (11, 12).
std::vector<double> GeneralRecord() {
  std::vector<double> c(45, 0.0);
  c[0] = 2;
  c[9] = 3;
  c[18] = 1;
  const std::pair<int, double> terms[] = {{27, 1}, {28, 2}, {30, 3}, {31, 4},  {33, 5},  {34, 6},
                                          {36, 7}, {37, 8}, {39, 9}, {40, 10}, {42, 11}, {43, 12}};
  for (const auto& [index, value] : terms) c[index] = value;
  return c;
}

TEST_F(ConvertTest, GeneralFormPlacesTheFirstOrderTerms) {
  const auto c = GeneralRecord();
  std::vector<double> d(45, kSentinel);
  ASSERT_EQ(convert_general_form_continuous(d.data(), c.data(), 0.5), 1);
  std::vector<double> want(45, kSentinel);
  for (int row = 0; row < 3; ++row)
    std::fill(want.begin() + 9 * row, want.begin() + 9 * row + 8, 0.0);
  want[0] = 2;
  want[9] = 3;
  want[18] = 1;
  const double d1 = 5 * 0.5 + 6, d2 = 11 * 0.5 + 12;
  want[27] = (1 * 0.5 + 2) / d1;
  want[28] = -2 / d1;
  want[30] = (3 * 0.5 + 4) / d1;
  want[31] = -4 / d1;
  want[33] = -6 / d1;
  want[34] = (7 * 0.5 + 8) / d2;
  want[35] = -8 / d2;
  want[37] = (9 * 0.5 + 10) / d2;
  want[38] = -10 / d2;
  want[40] = -12 / d2;
  ExpectNear(d.data(), want);
}

TEST_F(ConvertTest, GeneralFormFailures) {
  // A transfer function that does not convert: nothing written, result 0.
  auto c = GeneralRecord();
  c[11] = 1;  // B gets an s^2 term over a constant denominator
  std::vector<double> d(45, kSentinel);
  EXPECT_EQ(convert_general_form_continuous(d.data(), c.data(), 0.5), 0);
  EXPECT_EQ(d, std::vector<double>(45, kSentinel));
  ExpectRefused({"box:Transfer function must be proper!", "beep"});

  // A first-order denominator of zero (D2 = 0.5 T - 0.25 at T = 0.5).
  recorder_.Clear();
  beep_box_counts_.clear();
  c = GeneralRecord();
  c[42] = 0.5;
  c[43] = -0.25;
  EXPECT_EQ(convert_general_form_continuous(d.data(), c.data(), 0.5), 0);
  ExpectRefused({"beep", "box:Denominator cannot be zero!"});
  EXPECT_EQ(d[0], 2.0);  // the transfer functions were already stored
  EXPECT_EQ(d[27], kSentinel);
}

TEST_F(ConvertTest, DynamicPrefilterAndFeedForward) {
  const auto c = GeneralRecord();
  std::vector<double> d(45, kSentinel), co(45, kSentinel);
  ASSERT_EQ(convert_dynamic_prefilter_continuous(c.data(), d.data(), co.data(), 0.5), 1);
  EXPECT_EQ(d[0], 2.0);
  EXPECT_EQ(d[9], 3.0);
  EXPECT_EQ(d[18], 1.0);
  EXPECT_EQ(d[8], kSentinel);  // the spare element of each row stays the caller's
  for (int k : {27, 34}) EXPECT_EQ(d[k], 1.0);
  EXPECT_EQ(d[28], kSentinel);
  EXPECT_EQ(std::vector<double>(co.begin(), co.begin() + 8),
            std::vector<double>(c.begin(), c.begin() + 8));
  for (int k : {27, 33, 36, 42}) EXPECT_EQ(co[k], 1.0);
  EXPECT_EQ(co[30], kSentinel);

  // Feed-forward: row 0 over row 1 (here 2 over 1 + s).
  std::vector<double> f(45, 0.0);
  f[0] = 2;
  f[9] = 1;
  f[10] = 1;
  std::fill(d.begin(), d.end(), kSentinel);
  std::fill(co.begin(), co.end(), kSentinel);
  ASSERT_EQ(convert_dynamic_feedforward_continuous(f.data(), d.data(), co.data(), 0.1), 1);
  ExpectNear(&d[0], {2.0 / 21, 2.0 / 21, 0, 0, 0, 0, 0, 0});
  ExpectNear(&d[9], {2.0 / 21, 2.0 / 21, 0, 0, 0, 0, 0, 0});
  ExpectNear(&d[18], {1.0, -19.0 / 21, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(std::vector<double>(co.begin(), co.begin() + 2), (std::vector<double>{2, 0}));
  EXPECT_EQ(std::vector<double>(co.begin() + 9, co.begin() + 11), (std::vector<double>{2, 0}));
  EXPECT_EQ(std::vector<double>(co.begin() + 18, co.begin() + 20), (std::vector<double>{1, 1}));

  // A failed conversion leaves both outputs alone.
  f[2] = 1;
  f[3] = 1;
  std::fill(d.begin(), d.end(), kSentinel);
  std::fill(co.begin(), co.end(), kSentinel);
  EXPECT_EQ(convert_dynamic_feedforward_continuous(f.data(), d.data(), co.data(), 0.1), 0);
  EXPECT_EQ(d, std::vector<double>(45, kSentinel));
  EXPECT_EQ(co, std::vector<double>(45, kSentinel));
  std::vector<double> bad = GeneralRecord();
  bad[2] = 1;  // A improper over a constant denominator
  std::fill(d.begin(), d.end(), kSentinel);
  EXPECT_EQ(convert_dynamic_prefilter_continuous(bad.data(), d.data(), co.data(), 0.1), 0);
  EXPECT_EQ(d, std::vector<double>(45, kSentinel));
}

TEST_F(ConvertTest, PidWithNotch) {
  // A unity notch (1 over 1), so the discrete numerator is the PID's
  // difference coefficients.
  const double t = 0.01, kp = 2, ki = 10, kd = 0.05;
  std::vector<double> in(14, 0.0);
  in[0] = kp;
  in[1] = ki;
  in[2] = kd;
  in[3] = 1;
  in[9] = 1;
  std::vector<double> d(45, kSentinel), co(45, kSentinel);
  ASSERT_EQ(convert_pid_notch_continuous(in.data(), d.data(), co.data(), t), 1);
  const std::vector<double> g = {kp + ki * t + kd / t, -(kp + 2 * kd / t), kd / t, 0, 0, 0, 0};
  ExpectNear(&d[9], g, 1e-12);
  ExpectNear(&d[0], g, 1e-12);
  ExpectNear(&d[19], {-1, 0, 0, 0, 0});
  EXPECT_EQ(d[18], kSentinel);
  ExpectNear(&co[9], {ki, kp, kd, 0, 0});
  ExpectNear(&co[0], {ki, kp, kd, 0, 0});
  ExpectNear(&co[18], {0, 1, 0, 0, 0, 0});

  // Without an integral: six coefficients, element 15 stays the caller's.
  in[1] = 0;
  std::fill(d.begin(), d.end(), kSentinel);
  std::fill(co.begin(), co.end(), kSentinel);
  ASSERT_EQ(convert_pid_notch_continuous(in.data(), d.data(), co.data(), t), 1);
  ExpectNear(&d[9], {kp + kd / t, -kd / t, 0, 0, 0, 0}, 1e-12);
  EXPECT_EQ(d[15], kSentinel);
  EXPECT_EQ(d[6], kSentinel);
  ExpectNear(&d[19], {0, 0, 0, 0});
  EXPECT_EQ(d[23], kSentinel);
  ExpectNear(&co[9], {kp, kd, 0, 0, 0});
  ExpectNear(&co[18], {1, 0, 0, 0, 0});
  EXPECT_EQ(co[23], kSentinel);

  // A notch that does not convert leaves everything.
  in[5] = 1;  // s^2 over a constant
  std::fill(d.begin(), d.end(), kSentinel);
  EXPECT_EQ(convert_pid_notch_continuous(in.data(), d.data(), co.data(), t), 0);
  EXPECT_EQ(d, std::vector<double>(45, kSentinel));
}

TEST_F(ConvertTest, PidWithNotchRefusesAPeriodThatIsNoPeriod) {
  // With T = 0 or below the difference coefficients would be infinite or
  // NaN: refused like a zero denominator, the records left as they were.
  std::vector<double> in(14, 0.0);
  in[0] = 2;
  in[1] = 10;
  in[2] = 0.05;
  in[3] = 1;
  in[9] = 1;
  const struct {
    double t;
    const char* box;
  } cases[] = {
      {0.0, "box:Denominator cannot be zero!"},
      {-0.0, "box:Denominator cannot be zero!"},
      {-0.01, "box:Sample period must be greater than zero!"},
      {std::nan(""), "box:Sample period must be greater than zero!"},
      {INFINITY, "box:Sample period must be greater than zero!"},
  };
  for (const double ki : {10.0, 0.0}) {
    in[1] = ki;
    for (const auto& c : cases) {
      recorder_.Clear();
      beep_box_counts_.clear();
      std::vector<double> d(45, kSentinel), co(45, kSentinel);
      EXPECT_EQ(convert_pid_notch_continuous(in.data(), d.data(), co.data(), c.t), 0) << c.t;
      ExpectRefused({"beep", c.box});
      EXPECT_EQ(d, std::vector<double>(45, kSentinel)) << c.t;
      EXPECT_EQ(co, std::vector<double>(45, kSentinel)) << c.t;
    }
  }
}

TEST_F(ConvertTest, NanOrInfiniteDenominatorIsNamedForWhatItIs) {
  const struct {
    Poly den;
    const char* box;
  } cases[] = {
      {Poly{std::nan(""), 1}, "box:Denominator is not a number (NaN)!"},
      {Poly{1, std::nan("")}, "box:Denominator is not a number (NaN)!"},
      {Poly{INFINITY, 1}, "box:Denominator is infinite!"},
  };
  for (const auto& c : cases) {
    recorder_.Clear();
    beep_box_counts_.clear();
    Poly num = {1, 0}, den = c.den;
    EXPECT_EQ(C_to_D_convert(num.data(), den.data(), 1, 0.1), 0) << c.box;
    ExpectRefused({"beep", c.box});
    EXPECT_EQ(num, (Poly{1, 0}));
  }
}

}  // namespace
}  // namespace zimo::labhelper::testing
