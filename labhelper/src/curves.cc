// Numbers behind the plot window: axis arrays, curves derived from the
// gathered channels, differences, decibels, tick spacing and the copies into
// the chart's point layout.
#include "curves.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "labhelper/beep.h"
#include "labhelper/qeldll32.h"

namespace zimo::labhelper {
namespace {

// Writes `text` into a caller's blank-padded fixed-length buffer: the
// characters and one blank where the terminator would be.
void WritePadded(char* buffer, const char* text) {
  if (buffer == nullptr) return;
  const size_t length = std::strlen(text);
  std::memcpy(buffer, text, length);
  buffer[length] = ' ';
}

enum class Derived { kValue, kVelocity, kAccel, kDifference };

struct CurveSource {
  const double* values = nullptr;
  const double* minus = nullptr;  // followed error: values - minus
  Derived derived = Derived::kValue;
  bool scaled = true;
  const char* label = nullptr;
};

int16_t BuildCurve(double* out, const CurveSource& source, int16_t count, int32_t divisor, float dt,
                   char* label, char* unit, double scale) {
  if (source.label == nullptr) return 0;
  WritePadded(label, source.label);
  if (source.derived == Derived::kVelocity) WritePadded(unit, "/s");
  if (source.derived == Derived::kAccel) WritePadded(unit, "/s/s");
  if (source.values == nullptr || out == nullptr) return 0;
  const double step = dt;
  int32_t written = 0;
  ForEachShownSample(count, divisor, [&](int32_t i) {
    double value;
    switch (source.derived) {
      case Derived::kVelocity:
        value = get_first_derivative(static_cast<int16_t>(i), source.values, step, count);
        break;
      case Derived::kAccel:
        value = get_second_derivative(static_cast<int16_t>(i), source.values, step, count);
        break;
      case Derived::kDifference:
        value = source.values[i] - (source.minus != nullptr ? source.minus[i] : 0.0);
        break;
      default:
        value = source.values[i];
        break;
    }
    out[written++] = source.scaled ? value * scale : value;
  });
  return static_cast<int16_t>(written);
}

int32_t CopyPoints(double* points, const double* x, const double* y, int32_t count, int16_t kind,
                   double scale) {
  if (kind != 2 && kind != 3) return kind - 3;
  for (int32_t i = 0; i < count; ++i) {
    points[2 * i] = x[i];
    points[2 * i + 1] = y[i] * scale;
  }
  return Beep(0xFFFFFFFFu);
}

}  // namespace
}  // namespace zimo::labhelper

using zimo::labhelper::CurveSource;
using zimo::labhelper::Derived;
using zimo::labhelper::ForEachShownSample;

extern "C" {

double fceil(double x) { return std::ceil(x); }

double get_tick_space(double minimum, double maximum) {
  double span = maximum - minimum;
  if (span > 10.0) span = std::ceil(maximum) - std::floor(minimum);
  double magnitude = std::fabs(span);
  if (magnitude <= DBL_MIN) magnitude = DBL_MIN;
  const double p = std::floor(std::log10(magnitude));
  const double unit = std::pow(10.0, p);
  double lead = span / unit;
  if (std::floor(lead) == 4.0 || std::floor(lead) == 3.0) lead = 5.0;
  if (std::floor(lead) == 2.0) lead = 2.0;
  if (lead > 5.0) return unit;
  return std::floor(lead + 0.9999999999999) * std::pow(10.0, p - 1);
}

// Limits move to whole multiples of the tick, counted as k x tick so no
// rounding builds up along the way.
void get_max_min_using_tick_space(double* minimum, double* maximum, double tick) {
  if (minimum == nullptr || maximum == nullptr) return;
  // Beyond 2^52 ticks a step no longer changes the value: such a tick is as
  // unusable as one of 0 or below, and the limits stay as they are.
  constexpr double kMostTicks = 4503599627370496.0;
  if (!(tick > 0.0) || !(std::fabs(*minimum) / tick < kMostTicks) ||
      !(std::fabs(*maximum) / tick < kMostTicks)) {
    return;
  }
  // The least k >= 0 with k x tick at or above v (v >= 0).
  auto ticks_reaching = [tick](double v) {
    double k = std::ceil(v / tick);
    while (k > 0 && (k - 1) * tick >= v) --k;
    while (k * tick < v) ++k;
    return k;
  };
  const double low = *minimum;
  if (low > 0.0) {
    *minimum = (ticks_reaching(low) - 1) * tick;  // one step below the first multiple reached
  } else if (low < 0.0) {
    *minimum = -ticks_reaching(-low) * tick;  // the first multiple at or below
  }
  const double high = *maximum;
  if (high > 0.0) {
    *maximum = std::ceil(high / tick) * tick;
  } else if (high == 0.0) {
    *maximum = tick;
  } else {
    *maximum = (1 - ticks_reaching(-high)) * tick;  // one step above the first multiple reached
  }
}

int16_t generate_X_axis_time_scale(int16_t count, int16_t divisor, double* out, double period,
                                   double offset) {
  if (out == nullptr) return 0;
  return static_cast<int16_t>(ForEachShownSample(
      count, divisor, [&, n = 0](int32_t k) mutable { out[n++] = offset + period * k; }));
}

int16_t generate_X_axis_log_freq_scale(int16_t count, int16_t divisor, double* out,
                                       int32_t servo_time, int32_t gather_period,
                                       double start_frequency, double end_frequency,
                                       double sweep_time) {
  if (out == nullptr) return 0;
  const double decades = std::log10(end_frequency) - std::log10(start_frequency);
  const double period = static_cast<double>(servo_time) * gather_period;
  return static_cast<int16_t>(ForEachShownSample(count, divisor, [&, n = 0](int32_t k) mutable {
    const double t = period * k * 1.1920928955078125e-10;
    out[n++] = start_frequency * std::pow(10.0, decades * t / sweep_time);
  }));
}

// Differences with half the one-sided slope at the ends. An index outside
// the array, or too few samples to take a difference, gives 0.
double get_first_derivative(int16_t index, const double* x, double dt, int16_t count) {
  if (x == nullptr || count < 2 || index < 0 || index >= count) return 0.0;
  const int i = index;
  if (i == 0) return (x[i + 1] - x[i]) * 0.5 / dt;
  if (i == count - 1) return (x[i] - x[i - 1]) * 0.5 / dt;
  return (x[i + 1] - x[i - 1]) * 0.5 / dt;
}

double get_second_derivative(int16_t index, const double* x, double dt, int16_t count) {
  if (x == nullptr || count < 3 || index < 0 || index >= count) return 0.0;
  const int i = index;
  const double dt2 = dt * dt;
  if (i == 0) return (x[i] + x[i + 2] - 2 * x[i + 1]) / dt2;
  if (i == count - 1) return (x[i] + x[i - 2] - 2 * x[i - 1]) / dt2;
  return (x[i - 1] + x[i + 1] - 2 * x[i]) / dt2;
}

void convert_to_db(double* values, int16_t count) {
  for (int i = 0; values != nullptr && i < count; ++i) {
    values[i] = 20.0 * std::log10(std::fabs(values[i]) + 0.0001);
  }
}

// The offset is 0.02 x the sum of the last 51 samples, as the lab's plots
// have always shown it (slightly more than their mean).
void remove_DC_bias(double* values, int16_t count) {
  if (values == nullptr || count <= 51) return;
  double sum = 0.0;
  for (int i = count - 51; i < count; ++i) sum += values[i];
  const double bias = sum * 0.02;
  for (int i = 0; i < count; ++i) values[i] -= bias;
}

int16_t generate_curve_data_array2(double* out, int32_t code, int16_t count, int32_t divisor,
                                   float dt, char* label, char* unit, double scale,
                                   const double* cmd, const double* enc1, const double* enc2,
                                   const double* enc3, const double* effort,
                                   const double* disturbance, const double* q10, const double* q11,
                                   const double* q12, const double* q13, const double* cmd2,
                                   const double* effort2, const double* enc4, int16_t kind) {
  const bool drive = kind == 2;
  const bool sensor = kind == 11;
  const bool variables = kind == 1 || kind == 3 || kind == 11;
  CurveSource s;
  auto set = [&](const double* values, Derived derived, bool scaled, const char* text) {
    s.values = values;
    s.derived = derived;
    s.scaled = scaled;
    s.label = text;
  };
  switch (code) {
    case 0x1:
      set(cmd, Derived::kValue, true, drive ? "Drive Input (" : "Cmd 1 Position (");
      break;
    case 0x2:
      set(cmd, Derived::kVelocity, true, drive ? "Input Rate (" : "Cmd 1 Velocity (");
      break;
    case 0x4:
      set(cmd, Derived::kAccel, true, drive ? "Input Accel (" : "Cmd 1 Accel (");
      break;
    case 0x8:
      set(enc1, Derived::kValue, true, sensor ? "Sen 1 Position (" : "Enc 1 Position (");
      break;
    case 0x10:
      set(enc2, Derived::kValue, true, sensor ? "Sen 2 Position (" : "Enc 2 Position (");
      break;
    case 0x20:
      set(enc3, Derived::kValue, true, "Enc 3 Position (");
      break;
    case 0x40:
      set(cmd, Derived::kDifference, true, "Enc 1 Foll Err (");
      s.minus = enc1;
      break;
    case 0x80:
      set(cmd, Derived::kDifference, true, "Enc 2 Foll Err (");
      s.minus = enc2;
      break;
    case 0x100:
      set(cmd, Derived::kDifference, true, "Enc 3 Foll Err (");
      s.minus = enc3;
      break;
    case 0x200:
      set(enc1, Derived::kVelocity, true, sensor ? "Sen 1 Velocity (" : "Enc 1 Velocity (");
      break;
    case 0x400:
      set(enc2, Derived::kVelocity, true, sensor ? "Sen 2 Velocity (" : "Enc 2 Velocity (");
      break;
    case 0x800:
      set(enc3, Derived::kVelocity, true, "Enc 3 Velocity (");
      break;
    case 0x1000:
      set(enc1, Derived::kAccel, true, sensor ? "Sen 1 Accel (" : "Enc 1 Accel (");
      break;
    case 0x2000:
      set(enc2, Derived::kAccel, true, sensor ? "Sen 2 Accel (" : "Enc 2 Accel (");
      break;
    case 0x4000:
      set(enc3, Derived::kAccel, true, "Enc 3 Accel (");
      break;
    case 0x8000:
      set(q10, Derived::kValue, false, variables ? "Variable Q10" : "Node A");
      break;
    case 0x10000:
      set(q11, Derived::kValue, false, variables ? "Variable Q11" : "Node B");
      break;
    case 0x20000:
      set(q12, Derived::kValue, false, variables ? "Variable Q12" : "Node C");
      break;
    case 0x40000:
      set(q13, Derived::kValue, false, variables ? "Variable Q13" : "Node D");
      break;
    case 0x80000:
      set(effort, Derived::kValue, false, "Control Effort 1 (volts)");
      break;
    case 0x100000:
      set(disturbance, Derived::kValue, false, "Control Effort 2 (volts)");
      break;
    case 0x200000:
      set(cmd2, Derived::kValue, true, drive ? "Drive Input (" : "Cmd 2 Position (");
      break;
    case 0x1000000:
      set(effort2, Derived::kValue, false, "Control Effort 2 (volts)");
      break;
    case 0x2000000:
      set(enc4, Derived::kValue, true, "Enc 4 Position (");
      break;
    case 0x4000000:
      set(enc4, Derived::kVelocity, true, "Enc 4 Velocity (");
      break;
    case 0x8000000:
      set(enc4, Derived::kAccel, true, "Enc 4 Accel (");
      break;
    default:
      return 0;
  }
  return zimo::labhelper::BuildCurve(out, s, count, divisor, dt, label, unit, scale);
}

int16_t generate_curve_data_array(double* out, int32_t code, int16_t count, int32_t divisor,
                                  float dt, char* label, char* unit, double scale,
                                  const double* cmd, const double* enc1, const double* enc2,
                                  const double* enc3, const double* effort,
                                  const double* disturbance, const double* q10, const double* q11,
                                  const double* q12, const double* q13, int16_t kind) {
  const bool drive = kind == 2;
  CurveSource s;
  switch (code) {
    case 0x1:
      s = {cmd, nullptr, Derived::kValue, true, drive ? "Drive Input (" : "Cmd Position ("};
      break;
    case 0x2:
      s = {cmd, nullptr, Derived::kVelocity, true, drive ? "Input Rate (" : "Cmd Velocity ("};
      break;
    case 0x4:
      s = {cmd, nullptr, Derived::kAccel, true, drive ? "Input Accel (" : "Cmd Accel ("};
      break;
    case 0x8:
      s = {enc1, nullptr, Derived::kValue, true, "Enc 1 Position ("};
      break;
    case 0x10:
      s = {enc2, nullptr, Derived::kValue, true, "Enc 2 Position ("};
      break;
    case 0x20:
      s = {enc3, nullptr, Derived::kValue, true, "Enc 3 Position ("};
      break;
    case 0x40:
      s = {cmd, enc1, Derived::kDifference, true, "Enc 1 Foll Err ("};
      break;
    case 0x80:
      s = {cmd, enc2, Derived::kDifference, true, "Enc 2 Foll Err ("};
      break;
    case 0x100:
      s = {cmd, enc3, Derived::kDifference, true, "Enc 3 Foll Err ("};
      break;
    case 0x200:
      s = {enc1, nullptr, Derived::kVelocity, true, "Enc 1 Velocity ("};
      break;
    case 0x400:
      s = {enc2, nullptr, Derived::kVelocity, true, "Enc 2 Velocity ("};
      break;
    case 0x800:
      s = {enc3, nullptr, Derived::kVelocity, true, "Enc 3 Velocity ("};
      break;
    case 0x1000:
      s = {enc1, nullptr, Derived::kAccel, true, "Enc 1 Accel ("};
      break;
    case 0x2000:
      s = {enc2, nullptr, Derived::kAccel, true, "Enc 2 Accel ("};
      break;
    case 0x4000:
      s = {enc3, nullptr, Derived::kAccel, true, "Enc 3 Accel ("};
      break;
    case 0x80000:
      s = {effort, nullptr, Derived::kValue, false, "Control Effort (volts)"};
      break;
    case 0x100000:
      s = {disturbance, nullptr, Derived::kValue, false, "Disturbance (volts)"};
      break;
    default: {
      static const int32_t kQ[4] = {0x8000, 0x10000, 0x20000, 0x40000};
      static const char* const kVariable[4] = {"Variable Q10", "Variable Q11", "Variable Q12",
                                               "Variable Q13"};
      static const char* const kNode[4] = {"Node A", "Node B", "Node C", "Node D"};
      const double* q[4] = {q10, q11, q12, q13};
      const bool variables = kind == 1 || kind == 3 || kind == 11;
      for (int v = 0; v < 4; ++v) {
        if (code == kQ[v])
          s = {q[v], nullptr, Derived::kValue, false, variables ? kVariable[v] : kNode[v]};
      }
      if (s.label == nullptr) return 0;
    }
  }
  return zimo::labhelper::BuildCurve(out, s, count, divisor, dt, label, unit, scale);
}

int32_t copy_arrays_to_single(double* points, const double* x, const double* y, int32_t count,
                              int16_t kind) {
  return zimo::labhelper::CopyPoints(points, x, y, count, kind, 1.0);
}

int32_t copy_arrays_to_single_and_scale(double* points, const double* x, const double* y,
                                        int32_t count, int16_t kind, double scale) {
  return zimo::labhelper::CopyPoints(points, x, y, count, kind, scale);
}

void copy_array_single(int32_t* destination, const int32_t* source, int32_t count) {
  if (destination == nullptr || source == nullptr || count <= 0) return;
  std::memcpy(destination, source, sizeof(int32_t) * static_cast<size_t>(count));
}

}  // extern "C"
