#include <cmath>
#include <cstring>

#include "labhelper/qeldll32.h"
#include "labhelper_test_support.h"

namespace zimo::labhelper::testing {
namespace {

TEST(TickSpaceTest, RoundSpacingsForSpans) {
  struct Case {
    double minimum, maximum, spacing;
  };
  const Case cases[] = {
      {0, 1, 0.1},    {0, 2.5, 0.2}, {0, 3.5, 0.5},  {0, 6, 1},
      {0.3, 47.2, 5}, {0, 0, 0},     {-20, 180, 20}, {2, 2.15, 0.02},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(get_tick_space(c.minimum, c.maximum), c.spacing)
        << c.minimum << " .. " << c.maximum;
  }
}

TEST(TickSpaceTest, LimitsWidenToTickMultiples) {
  struct Case {
    double minimum, maximum, tick, new_minimum, new_maximum;
  };
  const Case cases[] = {
      {0.5, 2.0, 0.5, 0.0, 2.0},
      {-1.2, -0.5, 0.5, -1.5, 0.0},
      {0.7, 1.9, 0.5, 0.5, 2.0},
      {0.0, 0.0, 0.25, 0.0, 0.25},
      {-1.0, 3.3, 1.0, -1.0, 4.0},
      {1.0, 0.1, 0.1, 0.9, 0.1},  // a minimum that is a multiple moves down one step
  };
  for (const Case& c : cases) {
    double minimum = c.minimum, maximum = c.maximum;
    get_max_min_using_tick_space(&minimum, &maximum, c.tick);
    EXPECT_DOUBLE_EQ(minimum, c.new_minimum) << c.minimum << " tick " << c.tick;
    EXPECT_DOUBLE_EQ(maximum, c.new_maximum) << c.maximum << " tick " << c.tick;
  }
  // A tick of 0 or below would never reach a multiple: nothing changes.
  for (double tick : {0.0, -0.5, std::nan(""), 1e-300}) {
    double minimum = 0.3, maximum = 0.9;
    get_max_min_using_tick_space(&minimum, &maximum, tick);
    EXPECT_EQ(minimum, 0.3);
    EXPECT_EQ(maximum, 0.9);
  }
  EXPECT_EQ(fceil(2.1), 3.0);
  EXPECT_EQ(fceil(-2.1), -2.0);
}

TEST(ThinningTest, TimeAxisKeepsTheSamplesOfTheRule) {
  std::vector<double> out(20000, -1.0);
  EXPECT_EQ(generate_X_axis_time_scale(8000, 1, out.data(), 0.5, 10.0), 8000);
  EXPECT_EQ(out[7999], 10.0 + 0.5 * 7999);

  // 12000 samples: every index not divisible by 2.
  EXPECT_EQ(generate_X_axis_time_scale(12000, 1, out.data(), 1.0, 0.0), 6000);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 3.0);
  EXPECT_EQ(out[5999], 11999.0);

  // 20000 samples: every third index.
  EXPECT_EQ(generate_X_axis_time_scale(20000, 1, out.data(), 1.0, 0.0), 6667);
  EXPECT_EQ(out[1], 3.0);
  EXPECT_EQ(out[6666], 19998.0);

  // Divisor 2, limit 4000: 5000 samples leave out every fourth index.
  EXPECT_EQ(generate_X_axis_time_scale(5000, 2, out.data(), 1.0, 0.0), 3750);
  // No thinning with a divisor of 0 or below; nothing for no samples.
  EXPECT_EQ(generate_X_axis_time_scale(20000, 0, out.data(), 1.0, 0.0), 20000);
  EXPECT_EQ(generate_X_axis_time_scale(20000, -3, out.data(), 1.0, 0.0), 20000);
  EXPECT_EQ(generate_X_axis_time_scale(0, 1, out.data(), 1.0, 0.0), 0);
  // A divisor above 8000 still shows points.
  EXPECT_EQ(generate_X_axis_time_scale(10, 9000, out.data(), 1.0, 0.0), 1);
}

TEST(ThinningTest, AxisAndCurveBuildersAgreeAtTheBoundaries) {
  std::vector<double> samples(16001);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<double>(i);
  std::vector<double> x(16001), y(16001);
  char label[32], unit[8];
  for (int16_t count : {7999, 8000, 8001, 15999, 16000, 16001}) {
    const int16_t xs = generate_X_axis_time_scale(count, 1, x.data(), 1.0, 0.0);
    const int16_t ys = generate_curve_data_array2(
        y.data(), 0x8, count, 1, 1.0f, label, unit, 1.0, nullptr, samples.data(), nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    const int16_t old = generate_curve_data_array(
        y.data(), 0x8, count, 1, 1.0f, label, unit, 1.0, nullptr, samples.data(), nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(xs, ys) << count;
    EXPECT_EQ(xs, old) << count;
    // The curve holds the samples at the axis's indexes.
    EXPECT_EQ(std::vector<double>(x.begin(), x.begin() + xs),
              std::vector<double>(y.begin(), y.begin() + ys));
  }
}

TEST(ThinningTest, LogFrequencyAxis) {
  // 8388608 x 1000 servo units are one second per sample.
  double out[4];
  ASSERT_EQ(generate_X_axis_log_freq_scale(3, 1, out, 8388608, 1000, 1.0, 100.0, 2.0), 3);
  EXPECT_DOUBLE_EQ(out[0], 1.0);
  EXPECT_DOUBLE_EQ(out[1], 10.0);
  EXPECT_DOUBLE_EQ(out[2], 100.0);
}

TEST(DifferenceTest, FirstAndSecondDifferences) {
  const double x[] = {0, 1, 2, 7};
  struct Case {
    bool second;
    int16_t index, count;
    double dt, value;
  };
  const Case cases[] = {
      {false, 0, 3, 1.0, 0.5},  // half the one-sided slope at the start
      {false, 1, 3, 1.0, 1.0},
      {false, 2, 3, 1.0, 0.5},
      {false, 2, 4, 0.5, 6.0},  // (7 - 1) x 0.5 / 0.5
      {true, 1, 4, 1.0, 0.0},
      {true, 2, 4, 0.5, 16.0},  // (1 + 7 - 4) / 0.25
      {true, 0, 4, 1.0, 0.0},   // on x0, x1, x2
      {true, 3, 4, 1.0, 4.0},   // on x3, x2, x1
      // Too few samples, or an index outside the array: 0.
      {false, 0, 1, 1.0, 0.0},
      {false, -1, 3, 1.0, 0.0},
      {false, 3, 3, 1.0, 0.0},
      {true, 0, 2, 1.0, 0.0},
      {true, -2, 4, 1.0, 0.0},
      {true, 4, 4, 1.0, 0.0},
  };
  for (const Case& c : cases) {
    const double got = c.second ? get_second_derivative(c.index, x, c.dt, c.count)
                                : get_first_derivative(c.index, x, c.dt, c.count);
    EXPECT_DOUBLE_EQ(got, c.value)
        << (c.second ? "second" : "first") << " at " << c.index << " of " << c.count;
  }
}

TEST(SignalHelpersTest, DcBiasAndDecibels) {
  std::vector<double> ones(52, 1.0);
  remove_DC_bias(ones.data(), 51);  // 51 samples or fewer: unchanged
  EXPECT_EQ(ones, std::vector<double>(52, 1.0));
  remove_DC_bias(ones.data(), 52);  // 0.02 x the sum of the last 51
  for (double v : ones) EXPECT_NEAR(v, -0.02, 1e-15);

  double values[] = {9.9999, -0.0999, 0.0};
  convert_to_db(values, 3);
  EXPECT_NEAR(values[0], 20.0, 1e-12);
  EXPECT_NEAR(values[1], -20.0, 1e-12);
  EXPECT_NEAR(values[2], -80.0, 1e-12);
}

class CurveTest : public LabHelperTest {
 protected:
  CurveTest() {
    std::memset(label_, '#', sizeof label_);
    std::memset(unit_, '#', sizeof unit_);
  }
  int16_t Build(int32_t code, int16_t kind, double scale = 1.0, int16_t count = 4) {
    return generate_curve_data_array2(out_, code, count, 1, 0.5f, label_, unit_, scale, cmd_, enc1_,
                                      enc2_, enc3_, effort_, dist_, q_[0], q_[1], q_[2], q_[3],
                                      cmd2_, effort2_, enc4_, kind);
  }
  // The label as written: text, one blank, then the buffer as it was.
  std::string Label() const { return std::string(label_, sizeof label_); }
  static std::string Padded(const std::string& text, size_t size) {
    return text + " " + std::string(size - text.size() - 1, '#');
  }

  double cmd_[4] = {1, 2, 4, 8}, enc1_[4] = {0.5, 1, 1, 2}, enc2_[4] = {}, enc3_[4] = {};
  double effort_[4] = {3, 3, 3, 3}, dist_[4] = {5, 5, 5, 5}, q_[4][4] = {};
  double cmd2_[4] = {9, 9, 9, 9}, effort2_[4] = {6, 6, 6, 6}, enc4_[4] = {0, 1, 4, 9};
  double out_[4] = {};
  char label_[32];
  char unit_[8];
};

TEST_F(CurveTest, FollowingErrorIsScaledWithItsLabel) {
  ASSERT_EQ(Build(0x40, 1, 2.0), 4);
  EXPECT_EQ(std::vector<double>(out_, out_ + 4), (std::vector<double>{1, 2, 6, 12}));
  EXPECT_EQ(Label(), Padded("Enc 1 Foll Err (", 32));
  EXPECT_EQ(std::string(unit_, 8), std::string(8, '#'));  // no unit for a position
}

TEST_F(CurveTest, DerivedCurvesCarryTheirUnits) {
  ASSERT_EQ(Build(0x4000000, 0, 10.0), 4);  // encoder 4 velocity, dt 0.5
  EXPECT_EQ(std::vector<double>(out_, out_ + 4), (std::vector<double>{10, 40, 80, 50}));
  EXPECT_EQ(Label(), Padded("Enc 4 Velocity (", 32));
  EXPECT_EQ(std::string(unit_, 8), Padded("/s", 8));

  std::memset(label_, '#', sizeof label_);
  std::memset(unit_, '#', sizeof unit_);
  ASSERT_EQ(Build(0x4, 2), 4);  // commanded acceleration of a drive input
  EXPECT_EQ(Label(), Padded("Input Accel (", 32));
  EXPECT_EQ(std::string(unit_, 8), Padded("/s/s", 8));
  EXPECT_DOUBLE_EQ(out_[1], (1 + 4 - 2 * 2) / 0.25);
}

TEST_F(CurveTest, LabelsFollowTheKind) {
  struct Case {
    int32_t code;
    int16_t kind;
    const char* label;
  };
  const Case cases[] = {
      {0x1, 2, "Drive Input ("},
      {0x1, 1, "Cmd 1 Position ("},
      {0x8, 11, "Sen 1 Position ("},
      {0x8, 3, "Enc 1 Position ("},
      {0x400, 11, "Sen 2 Velocity ("},
      {0x8000, 3, "Variable Q10"},
      {0x40000, 0, "Node D"},
      {0x80000, 0, "Control Effort 1 (volts)"},
      {0x200000, 0, "Cmd 2 Position ("},
      {0x1000000, 0, "Control Effort 2 (volts)"},
  };
  for (const Case& c : cases) {
    std::memset(label_, '#', sizeof label_);
    EXPECT_EQ(Build(c.code, c.kind), 4);
    EXPECT_EQ(Label(), Padded(c.label, 32)) << std::hex << c.code << " kind " << c.kind;
  }
}

TEST_F(CurveTest, EffortsAreNotScaledAndUnknownCodesWriteNothing) {
  ASSERT_EQ(Build(0x1000000, 0, 100.0), 4);
  EXPECT_EQ(std::vector<double>(out_, out_ + 4), (std::vector<double>{6, 6, 6, 6}));
  ASSERT_EQ(Build(0x100000, 0, 100.0), 4);  // the sixth array
  EXPECT_EQ(out_[0], 5.0);

  std::memset(label_, '#', sizeof label_);
  std::fill(out_, out_ + 4, -1.0);
  EXPECT_EQ(Build(0x400000, 0), 0);
  EXPECT_EQ(Label(), std::string(32, '#'));
  EXPECT_EQ(out_[0], -1.0);
}

TEST_F(CurveTest, EarlierBuilderLabels) {
  struct Case {
    int32_t code;
    int16_t kind;
    const char* label;
    double first;
  };
  const Case cases[] = {
      {0x1, 1, "Cmd Position (", 1},           {0x2, 2, "Input Rate (", 1},
      {0x8, 11, "Enc 1 Position (", 0.5},      {0x80000, 0, "Control Effort (volts)", 3},
      {0x100000, 0, "Disturbance (volts)", 5},
  };
  for (const Case& c : cases) {
    std::memset(label_, '#', sizeof label_);
    EXPECT_EQ(
        generate_curve_data_array(out_, c.code, 4, 1, 0.5f, label_, unit_, 1.0, cmd_, enc1_, enc2_,
                                  enc3_, effort_, dist_, q_[0], q_[1], q_[2], q_[3], c.kind),
        4);
    EXPECT_EQ(Label(), Padded(c.label, 32));
    EXPECT_EQ(out_[0], c.first);
  }
}

TEST_F(CurveTest, PointCopiesBeepForChartKinds) {
  const double x[] = {1, 2}, y[] = {3, 4};
  double points[4] = {};
  EXPECT_EQ(copy_arrays_to_single_and_scale(points, x, y, 2, 3, 10.0), 1);
  EXPECT_EQ(std::vector<double>(points, points + 4), (std::vector<double>{1, 30, 2, 40}));
  EXPECT_EQ(beep_types_, std::vector<uint32_t>{0xFFFFFFFFu});

  double untouched[4] = {-1, -1, -1, -1};
  EXPECT_EQ(copy_arrays_to_single(untouched, x, y, 2, 7), 4);  // kind - 3
  EXPECT_EQ(untouched[0], -1.0);
  EXPECT_EQ(copy_arrays_to_single(untouched, x, y, 2, 2), 1);
  EXPECT_EQ(std::vector<double>(untouched, untouched + 4), (std::vector<double>{1, 3, 2, 4}));
  EXPECT_EQ(beep_types_.size(), 2u);

  int32_t words[3] = {0, 0, 0};
  const int32_t source[3] = {7, -8, 9};
  copy_array_single(words, source, 2);
  EXPECT_EQ(std::vector<int32_t>(words, words + 3), (std::vector<int32_t>{7, -8, 0}));
}

}  // namespace
}  // namespace zimo::labhelper::testing
