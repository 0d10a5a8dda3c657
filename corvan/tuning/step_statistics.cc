// Figures of a gathered step response, the fixed low-pass filter and the
// time derivative of gathered data. Pure computations on the caller's
// arrays; only a zero sample time is told to the user.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "corvan/tuning_api.h"
#include "platform/message.h"

namespace {

// A double held inside the 32-bit range, truncated toward zero.
std::int32_t Truncate32(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

void PutText(char* out, const char* format, double value, const char* suffix = nullptr) {
  if (out == nullptr) return;
  if (suffix != nullptr) {
    std::snprintf(out, ZIMO_STEP_TEXT_SIZE, format, value, suffix);
  } else {
    std::snprintf(out, ZIMO_STEP_TEXT_SIZE, format, value);
  }
}

// Samples from the start that lie between the 10 and 90 percent levels of
// the rise from the first sample to the peak.
int RiseCount(const std::int32_t* x, int n, double peak) {
  if (n <= 0) return 0;
  const double base = x[0];
  const double low = base + 0.1 * (peak - base);
  const double high = base + 0.9 * (peak - base);
  int count = 0;
  for (int i = 0; i < n && x[i] <= high; ++i) {
    if (x[i] >= low) ++count;
  }
  return count;
}

}  // namespace

extern "C" {

void CalculateStepStatistics(const std::int32_t* samples, std::int32_t count, std::int32_t step,
                             std::int32_t i10, std::int32_t i19, char* rise, char* peak_text,
                             char* natural, char* overshoot, char* damping, char* settling) {
  const int n = samples != nullptr && count > 0 ? count : 0;
  const double rate = 8388608.0 / i10 * 1000.0 / i19;
  const double s = step;

  // Peak: the walk may not end on a dip before sample 21.
  double peak = n > 0 ? -1.7e308 : 0.0;
  int peak_index = 0;
  for (int i = 0; i < n; ++i) {
    if (samples[i] > peak) {
      peak = samples[i];
      peak_index = i;
    } else if (samples[i] < peak && i > 20) {
      break;
    }
  }
  const double peak_time = n > 0 ? peak_index / rate : 0.0;
  const double rise_time = RiseCount(samples, n, peak) / rate;

  double os = peak / s - 1.0;
  if (!(os > 0.0)) os = 0.0;
  const double zeta = os <= 0.01 ? 1.0 : std::sin(std::atan(-std::log(os) / 3.14159));
  double omega = 0.0;
  if (zeta >= 0.005) {
    if (zeta < 1.0) {
      const double damped = std::sqrt(1.0 - zeta * zeta) * peak_time;
      omega = damped < 1e-6 ? -1.0 : 3.14159 / damped;
    } else {
      omega = rise_time < 1e-6 ? -1.0 : 3.5 / rise_time;
    }
  }

  // Settling: inside 5 percent of the step within the first half.
  const double band = 0.05 * s;
  bool inside = false;
  int entered = 0;
  for (int i = 0; i < n / 2; ++i) {
    const double d = std::trunc(std::fabs(static_cast<double>(samples[i]) - s));
    if (d <= band && !inside) {
      inside = true;
      entered = i;
    } else if (d > band && inside) {
      inside = false;
    }
  }
  const double settling_time = inside ? entered / rate : -1.0;

  PutText(rise, "%0.3lf s", rise_time);
  PutText(peak_text, "%0.3lf s", peak_time);
  PutText(natural, "%3.1lf Hz", omega / 6.283185307);
  PutText(overshoot, "%3.1lf%s", os * 100.0, "%");
  PutText(damping, "%2.1lf", zeta);
  PutText(settling, "%0.3lf s", settling_time);
}

std::int32_t LowPassFilterTheData(std::int32_t* samples, std::int32_t count, const char* corner) {
  if (samples == nullptr || count <= 0 || corner == nullptr) return 0;
  char* end = nullptr;
  const double v = std::strtod(corner, &end);
  // A corner of 0 or no number at all would make every coefficient NaN.
  if (end == corner || v == 0.0 || !std::isfinite(v)) return 0;
  const double t = 1.0 / (v * 8.0);
  const double k = 6.283185307 * v * t;
  const double d = 1.0 + 1.414 * k + k * k;
  const double a1 = -(2.0 + 1.414 * k) / d;
  const double a2 = 1.0 / d;
  const double g = 1.0 + a1 + a2;
  double y1 = 0.0;
  double y2 = 0.0;
  for (std::int32_t i = 0; i < count; ++i) {
    const double y = g * samples[i] - a1 * y1 - a2 * y2;
    samples[i] = Truncate32(y);
    y2 = y1;
    y1 = y;
  }
  return count;
}

void DifferentiateTheData(std::int32_t* values, std::int32_t count, std::int32_t i10,
                          std::int32_t i19, std::int32_t* minimum, std::int32_t* maximum) {
  std::int32_t lo = 2147483647;
  std::int32_t hi = -2147483647;
  const float t = static_cast<float>(static_cast<double>(i10) * i19 / 8388608.0 / 1000.0);
  if (t == 0.0f) {
    zimo::platform::ShowMessageBox("sample_time = 0", "ERROR", zimo::platform::kMbOk);
  } else if (values != nullptr && count > 0) {
    const std::vector<float> f(values, values + count);
    const int n = count;
    for (int i = 0; i < n; ++i) {
      double d = 0.0;  // one value has no neighbour to difference with
      if (n > 1) {
        const int before = i == 0 ? 0 : (i == n - 1 ? n - 2 : i - 1);
        const int after = i == 0 ? 1 : (i == n - 1 ? n - 1 : i + 1);
        d = (static_cast<double>(f[after]) - f[before]) * 0.5 / t;
      }
      values[i] = Truncate32(d);
      if (values[i] < lo) lo = values[i];
      if (values[i] > hi) hi = values[i];
    }
    if (lo == hi && hi < 2147483647) ++hi;
  }
  if (minimum != nullptr) *minimum = lo;
  if (maximum != nullptr) *maximum = hi;
}

}  // extern "C"
