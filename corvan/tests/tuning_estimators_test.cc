// The slope and magnitude estimators: the networks' fixed values, their
// output ranges, and the estimate sent to the card from a data file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "corvan/tuning_api.h"
#include "temp_home.h"
#include "tuning/tuning.h"
#include "tuning_scripted_path.h"

#if __has_include("cardsim/attach_pty.h")
#define TUNING_TEST_WITH_CARD 1
#include "corvan/device_api.h"
#include "tuning_serial_card.h"
#endif

namespace zimo::corvan {
namespace {

using testing::TuningPath;

TEST(EstimationNetworks, MagnitudeAtTheMiddleOfEveryRange) {
  // Each input at the middle of its range scales to about 0, so every hidden
  // unit gives tanh of its bias and the estimate follows from the biases and
  // the output layer alone.
  const double a[10] = {0.0003636364, 0.000425007,  0.0003636364, 0.0004326888, 0.0003636364,
                        0.000370838,  0.0003636364, 0.0003612782, 0.0003636364, 0.0003652101};
  const double b[10] = {-1.181818, -1.030301, -1.363636, -1.163963, -1.545455,
                        -1.287477, -1.727273, -1.558247, -1.909091, -1.697551};
  const double c[17] = {1.1459502,   0.9907517,    0.9788131,    -1.6001732, -2.3021865,
                        -1.379142,   -0.076939724, -0.079121985, -1.677771,  -0.04103292,
                        -0.10066035, -18.10241,    0.0029739507, -40.595787, -0.19164427,
                        -1.3138859,  1.1117611};
  const double v[17] = {0.42960608,  -0.90004736, -0.16481361, 0.1674583,  1.5096511,
                        -0.85790616, 0.03985035,  -0.09680965, 0.10466544, 0.1206276,
                        -0.13900888, -0.69151336, 0.061130997, -10.511927, -0.024122287,
                        -0.8653116,  1.5907416};
  float x[10];
  for (int i = 0; i < 10; ++i) x[i] = static_cast<float>(-b[i] / a[i]);
  double sum = -10.363854;
  for (int j = 0; j < 17; ++j) sum += v[j] * std::tanh(c[j]);
  const double expected = 2187.5 * std::tanh(sum) + 5250.0;

  float estimate = 0.0f;
  EXPECT_EQ(tuning::MagnitudeNetwork(nullptr, x, &estimate), 0);
  EXPECT_NEAR(estimate, expected, 0.05);
  EXPECT_GT(estimate, 3062.5f);
  EXPECT_LT(estimate, 7437.5f);
}

TEST(EstimationNetworks, SaturatedInputsStayInsideTheOutputRange) {
  for (const float value : {1e9f, -1e9f, 0.0f, 4e6f}) {
    SCOPED_TRACE(value);
    std::vector<float> x(90, value);
    float estimate = 0.0f;
    EXPECT_EQ(tuning::MagnitudeNetwork(nullptr, x.data(), &estimate), 0);
    EXPECT_GE(estimate, 3062.5f);
    EXPECT_LE(estimate, 7437.5f);
    EXPECT_EQ(tuning::SlopeNetwork(nullptr, x.data(), &estimate), 0);
    EXPECT_GE(estimate, -2013.045f);
    EXPECT_LE(estimate, 19300.335f);
  }
}

TEST(EstimationNetworks, SlopeDependsOnEveryInput) {
  // Moving one input within its range changes the estimate: no input (but
  // the one hidden term left out) is dropped from the network.
  std::vector<float> x(90, 3e5f);
  float base = 0.0f;
  tuning::SlopeNetwork(nullptr, x.data(), &base);
  for (int i = 0; i < 90; ++i) {
    auto moved = x;
    moved[i] = 2e6f;
    float estimate = 0.0f;
    tuning::SlopeNetwork(nullptr, moved.data(), &estimate);
    EXPECT_NE(estimate, base) << "input " << i + 1;
  }
}

class EstimatorFiles : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, int count, long first) {
    const std::string file = home_.path().string() + "/" + name;
    std::ofstream out(file);
    for (int i = 0; i < count; ++i) out << (first + 40000L * i) << (i % 7 == 6 ? "\n" : " ");
    return file;
  }
  // The line the card should get for the first `count` numbers.
  static std::string ExpectedLine(int count, long first,
                                  int (*network)(void*, const float*, float*)) {
    std::vector<float> x;
    for (int i = 0; i < count; ++i) x.push_back(static_cast<float>(first + 40000L * i));
    float estimate = 0.0f;
    network(nullptr, x.data(), &estimate);
    char line[64];
    std::snprintf(line, sizeof line, "P1023=%f", estimate);
    return line;
  }

  zimo::testing::TempHome home_;
};

TEST_F(EstimatorFiles, ReadsTheFirstNumbersAndSendsOneLine) {
  const std::string file = Write("data.txt", 100, 150000);
  TuningPath path;
  EXPECT_EQ(tuning::RunEstimator(path, 0, file.c_str(), 90, &tuning::SlopeNetwork), 1);
  EXPECT_EQ(tuning::RunEstimator(path, 0, file.c_str(), 10, &tuning::MagnitudeNetwork), 1);
  EXPECT_EQ(path.sent, (std::vector<std::string>{
                           ExpectedLine(90, 150000, &tuning::SlopeNetwork),
                           ExpectedLine(10, 150000, &tuning::MagnitudeNetwork),
                       }));
}

TEST_F(EstimatorFiles, TooFewNumbersOrNoFileSendNothing) {
  const std::string five = Write("five.txt", 5, 1000);
  const std::string nine = Write("nine.txt", 9, 1000);
  const std::string missing = home_.path().string() + "/none.txt";
  TuningPath path;
  EXPECT_EQ(tuning::RunEstimator(path, 0, five.c_str(), 90, &tuning::SlopeNetwork), 0);
  EXPECT_EQ(tuning::RunEstimator(path, 0, nine.c_str(), 10, &tuning::MagnitudeNetwork), 0);
  EXPECT_EQ(tuning::RunEstimator(path, 0, missing.c_str(), 10, &tuning::MagnitudeNetwork), 0);
  EXPECT_TRUE(path.sent.empty());

  const std::string file = Write("data.txt", 100, 150000);
  TuningPath silent;
  silent.SilentAfter(0);
  EXPECT_EQ(tuning::RunEstimator(silent, 0, file.c_str(), 10, &tuning::MagnitudeNetwork), 0);
}

#ifdef TUNING_TEST_WITH_CARD

using namespace zimo::corvan::testing;

class EstimatorCardTest : public SerialCardTest<EstimatorFiles> {};

TEST_F(EstimatorCardTest, EstimatesReachTheCard) {
  const std::string file = Write("data.txt", 100, 150000);
  const std::string five = Write("five.txt", 5, 150000);
  EXPECT_EQ(Slope(0, file.c_str()), 1);
  EXPECT_EQ(MagEstimation(0, file.c_str()), 1);
  EXPECT_EQ(Slope(0, five.c_str()), 0);
  EXPECT_EQ(MagEstimation(0, five.c_str()), 0);
  EXPECT_EQ(card_->received(), (std::vector<std::string>{
                                   ExpectedLine(90, 150000, &tuning::SlopeNetwork),
                                   ExpectedLine(10, 150000, &tuning::MagnitudeNetwork),
                               }));
}

#endif  // TUNING_TEST_WITH_CARD

}  // namespace
}  // namespace zimo::corvan
