// Continuous-to-discrete controller conversions: the bilinear substitution
// for transfer functions, backward differences for the first-order terms.
// A conversion that fails leaves the caller's arrays as they were.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "labhelper/beep.h"
#include "labhelper/qeldll32.h"
#include "platform/message.h"

namespace zimo::labhelper {
namespace {

constexpr int kCoefficients = 8;
constexpr int kRow = 9;
constexpr uint32_t kSimpleBeep = 0xFFFFFFFFu;
constexpr char kNotProper[] = "Transfer function must be proper!";
constexpr char kZeroDenominator[] = "Denominator cannot be zero!";
constexpr char kNanDenominator[] = "Denominator is not a number (NaN)!";
constexpr char kInfiniteDenominator[] = "Denominator is infinite!";
constexpr char kBadSamplePeriod[] = "Sample period must be greater than zero!";

bool IsZero(double x) { return std::fabs(x) <= DBL_MIN; }

void ShowError(const char* text) {
  platform::ShowMessageBox(text, "Error", platform::kMbOk | platform::kMbIconError);
}

// Beep, then the message: the refusals of a denominator.
void Refuse(const char* text) {
  Beep(kSimpleBeep);
  ShowError(text);
}

void RefuseZeroDenominator() { Refuse(kZeroDenominator); }

// Highest index from `top` down to 1 with a coefficient that is not zero.
int Order(const double* p, int top) {
  for (int k = top; k >= 1; --k) {
    if (!IsZero(p[k])) return k;
  }
  return 0;
}

// One transfer function, on copies: true and the normalised discrete
// numerator and denominator, or false after the message.
bool ConvertTransferFunction(const double* numerator, const double* denominator, int order,
                             double sample_time, double* num_out, double* den_out) {
  const int n = std::clamp(order, 0, kCoefficients - 1);
  const int d = Order(denominator, n);
  if (d < 7 && Order(numerator, n) > d) {
    ShowError(kNotProper);
    Beep(kSimpleBeep);
    return false;
  }
  if (d == 0 && std::fabs(denominator[0]) < DBL_MIN) {
    RefuseZeroDenominator();
    return false;
  }
  double den_in[kCoefficients] = {};
  double num_in[kCoefficients] = {};
  std::copy(denominator, denominator + n + 1, den_in);
  std::copy(numerator, numerator + n + 1, num_in);
  double den[kCoefficients];
  double num[kCoefficients];
  convert_s_to_z(den, den_in, static_cast<int16_t>(d), sample_time);
  convert_s_to_z(num, num_in, static_cast<int16_t>(d), sample_time);
  // A pole at s = 2/T leaves no constant term to normalise by; a NaN or an
  // infinity is no number to normalise by either, and is named as such.
  const double f = den[0];
  if (std::isnan(f)) {
    Refuse(kNanDenominator);
    return false;
  }
  if (std::isinf(f)) {
    Refuse(kInfiniteDenominator);
    return false;
  }
  if (IsZero(f)) {
    RefuseZeroDenominator();
    return false;
  }
  for (int k = 0; k <= n; ++k) {
    den[k] /= f;
    num[k] /= f;
  }
  std::copy(num, num + kCoefficients, num_out);
  std::copy(den, den + kCoefficients, den_out);
  return true;
}

// Converts row `num_row` over row `den_row` of a continuous record.
bool ConvertRows(const double* record, int num_row, int den_row, double sample_time,
                 double* num_out, double* den_out) {
  return ConvertTransferFunction(record + kRow * num_row, record + kRow * den_row, 7, sample_time,
                                 num_out, den_out);
}

void PutRow(double* record, int row, const double* coefficients) {
  std::copy(coefficients, coefficients + kCoefficients, record + kRow * row);
}

}  // namespace
}  // namespace zimo::labhelper

using zimo::labhelper::ConvertRows;
using zimo::labhelper::ConvertTransferFunction;
using zimo::labhelper::IsZero;
using zimo::labhelper::kCoefficients;
using zimo::labhelper::kRow;
using zimo::labhelper::PutRow;
using zimo::labhelper::Refuse;
using zimo::labhelper::RefuseZeroDenominator;
using zimo::labhelper::kBadSamplePeriod;

extern "C" {

// Bilinear-transform mapping of an order-n polynomial in s (`in`) to one in
// z^-1 (`out`), scaled so no division remains: term k adds in[k] times
// (T/2)^(n-k), times k factors of (1 - z^-1) and n-k factors of (1 + z^-1).
void convert_s_to_z(double* out, const double* in, int16_t order, double sample_time) {
  if (out == nullptr) return;
  std::fill(out, out + kCoefficients, 0.0);
  if (in == nullptr || order < 0 || order >= kCoefficients) return;
  const int n = order;
  const double half = sample_time / 2;
  for (int k = 0; k <= n; ++k) {
    // Multiply out k factors of (1 - z^-1) and n-k of (1 + z^-1).
    double term[kCoefficients] = {1.0};
    for (int f = 0; f < n; ++f) {
      const double sign = f < k ? -1.0 : 1.0;
      for (int j = f + 1; j >= 1; --j) term[j] += sign * term[j - 1];
    }
    const double weight = in[k] * std::pow(half, n - k);
    for (int j = 0; j <= n; ++j) out[j] += weight * term[j];
  }
}

int16_t C_to_D_convert(double* numerator, double* denominator, int16_t order, double sample_time) {
  if (numerator == nullptr || denominator == nullptr) return 0;
  double num[kCoefficients];
  double den[kCoefficients];
  if (!ConvertTransferFunction(numerator, denominator, order, sample_time, num, den)) return 0;
  std::copy(num, num + kCoefficients, numerator);
  std::copy(den, den + kCoefficients, denominator);
  return 1;
}

int16_t convert_feed_forward_continuous(const double* in, double* numerator, double* denominator,
                                        double sample_time) {
  double num[kCoefficients] = {};
  double den[kCoefficients] = {};
  std::copy(in, in + 7, num);
  std::copy(in + 7, in + 14, den);
  if (!ConvertTransferFunction(num, den, 6, sample_time, num, den)) return 0;
  std::copy(num, num + 7, numerator);
  std::copy(den, den + 7, denominator);
  return 1;
}

int16_t convert_general_form_continuous(double* discrete, const double* continuous,
                                        double sample_time) {
  double num_b[kCoefficients], den_b[kCoefficients];
  double num_a[kCoefficients], den_a[kCoefficients];
  // A transfer function that does not convert leaves the record alone.
  if (!ConvertRows(continuous, 1, 2, sample_time, num_b, den_b)) return 0;
  if (!ConvertRows(continuous, 0, 2, sample_time, num_a, den_a)) return 0;
  PutRow(discrete, 1, num_b);
  PutRow(discrete, 2, den_b);
  PutRow(discrete, 0, num_a);

  const double t = sample_time;
  const double* c = continuous;
  const double d1 = c[33] * t + c[34];
  const double d2 = c[42] * t + c[43];
  if (IsZero(d1) || IsZero(d2)) {
    zimo::labhelper::RefuseZeroDenominator();
    return 0;
  }
  auto first_order = [&](int in, int out, double d) {
    discrete[out] = (c[in] * t + c[in + 1]) / d;
    discrete[out + 1] = -c[in + 1] / d;
  };
  first_order(27, 27, d1);  // P
  first_order(30, 30, d1);  // Q
  discrete[33] = -c[34] / d1;
  first_order(36, 34, d2);  // U
  first_order(39, 37, d2);  // V
  discrete[40] = -c[43] / d2;
  return 1;
}

int16_t convert_dynamic_prefilter_continuous(const double* continuous, double* discrete,
                                             double* continuous_out, double sample_time) {
  double num_b[kCoefficients], den_b[kCoefficients];
  double num_a[kCoefficients], den_a[kCoefficients];
  if (!ConvertRows(continuous, 1, 2, sample_time, num_b, den_b)) return 0;
  if (!ConvertRows(continuous, 0, 2, sample_time, num_a, den_a)) return 0;
  PutRow(discrete, 1, num_b);
  PutRow(discrete, 2, den_b);
  PutRow(discrete, 0, num_a);
  for (int row = 0; row < 3; ++row) PutRow(continuous_out, row, continuous + kRow * row);
  discrete[27] = 1.0;
  discrete[34] = 1.0;
  continuous_out[27] = 1.0;
  continuous_out[33] = 1.0;
  continuous_out[36] = 1.0;
  continuous_out[42] = 1.0;
  return 1;
}

int16_t convert_dynamic_feedforward_continuous(const double* continuous, double* discrete,
                                               double* continuous_out, double sample_time) {
  double num[kCoefficients], den[kCoefficients];
  if (!ConvertRows(continuous, 0, 1, sample_time, num, den)) return 0;
  PutRow(discrete, 0, num);
  PutRow(discrete, 1, num);
  PutRow(discrete, 2, den);
  PutRow(continuous_out, 0, continuous);
  PutRow(continuous_out, 1, continuous);
  PutRow(continuous_out, 2, continuous + kRow);
  return 1;
}

int16_t convert_pid_notch_continuous(const double* pid_notch, double* discrete,
                                     double* continuous_out, double sample_time) {
  const double t = sample_time;
  // The difference coefficients divide by T: a period of zero is a zero
  // denominator, a negative or non-finite one no period at all.
  if (t == 0.0) {
    RefuseZeroDenominator();
    return 0;
  }
  if (!(t > 0.0) || !std::isfinite(t)) {
    Refuse(kBadSamplePeriod);
    return 0;
  }
  const double kp = pid_notch[0], ki = pid_notch[1], kd = pid_notch[2];
  const bool integral = ki != 0.0;
  double g[3];
  if (integral) {
    g[0] = kp + ki * t + kd / t;
    g[1] = -(kp + 2 * kd / t);
    g[2] = kd / t;
  } else {
    g[0] = kp + kd / t;
    g[1] = -kd / t;
    g[2] = 0.0;
  }
  double num[kCoefficients] = {pid_notch[3], pid_notch[4], pid_notch[5]};
  double den[kCoefficients] = {pid_notch[9], pid_notch[10], pid_notch[11], pid_notch[12],
                               pid_notch[13]};
  double r[kCoefficients], s[kCoefficients];
  if (!ConvertTransferFunction(num, den, 4, t, r, s)) return 0;

  const int g_terms = integral ? 3 : 2;
  const int products = g_terms + 4;  // 7 or 6 coefficients
  for (int j = 0; j < products; ++j) {
    double sum = 0.0;
    for (int a = 0; a < g_terms; ++a) {
      const int b = j - a;
      if (b >= 0 && b <= 4) sum += g[a] * r[b];
    }
    discrete[9 + j] = sum;
    discrete[j] = sum;
  }
  if (integral) {
    discrete[19] = s[1] - 1.0;
    discrete[20] = s[2] - s[1];
    discrete[21] = s[3] - s[2];
    discrete[22] = s[4] - s[3];
    discrete[23] = -s[4];
  } else {
    for (int k = 1; k <= 4; ++k) discrete[18 + k] = s[k];
  }

  // Continuous: PID polynomial (Ki + Kp s + Kd s^2, or Kp + Kd s) times the
  // notch numerator, over the notch denominator (times s with an integral).
  const double pid[3] = {integral ? ki : kp, integral ? kp : kd, integral ? kd : 0.0};
  double product[5] = {};
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      if (a + b < 5) product[a + b] += pid[a] * pid_notch[3 + b];
    }
  }
  for (int j = 0; j < 5; ++j) {
    continuous_out[9 + j] = product[j];
    continuous_out[j] = product[j];
  }
  if (integral) {
    continuous_out[18] = 0.0;
    for (int k = 0; k <= 4; ++k) continuous_out[19 + k] = pid_notch[9 + k];
  } else {
    for (int k = 0; k <= 4; ++k) continuous_out[18 + k] = pid_notch[9 + k];
  }
  return 1;
}

}  // extern "C"
