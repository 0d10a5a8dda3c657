#include <cstring>
#include <functional>

#include "labhelper/qeldll32.h"
#include "labhelper_test_support.h"

namespace zimo::labhelper::testing {
namespace {

constexpr int kArrays = 13;
constexpr int kSize = 128;
constexpr double kUntouched = -7777.0;
constexpr uint32_t kWarningBox = platform::kMbOk | platform::kMbIconExclamation;

class PlotFileTest : public LabHelperTest {
 protected:
  PlotFileTest() : arrays_(kArrays, std::vector<double>(kSize, kUntouched)) {
    std::memset(&record_, 0, sizeof record_);
    record_.gather_period = 10;
    record_.servo_time = 1234;
    record_.sample_period = 0.000884;
    record_.left_signals = 0x9;
    record_.right_signals = 0x80000;
    record_.sweep_mode = 3;
    record_.sweep_start_frequency = 0.5f;
    record_.sweep_end_frequency = 20.0f;
    record_.sweep_time = 8.0f;
    std::strcpy(record_.title, "Step response, plant 1");
  }

  void FillGoldenValues() {
    for (int a = 0; a < kArrays; ++a) {
      for (int i = 0; i < kSize; ++i) arrays_[a][i] = GoldenValue(a, i);
    }
  }
  double* A(int arg) { return arrays_[arg].data(); }

  int16_t Save2(const std::string& path, int16_t mode) {
    return save_plot_file2(path.c_str(), &record_, A(0), A(1), A(2), A(3), A(4), A(5), A(6), A(7),
                           A(8), A(9), A(10), A(11), A(12), mode);
  }
  int16_t Load(const std::string& path) {
    return load_plot_file(path.c_str(), &record_, A(0), A(1), A(2), A(3), A(4), A(5), A(6), A(7),
                          A(8), A(9), &mode_);
  }
  int16_t Load2(const std::string& path) {
    return load_plot_file2(path.c_str(), &record_, A(0), A(1), A(2), A(3), A(4), A(5), A(6), A(7),
                           A(8), A(9), A(10), A(11), A(12), &mode_);
  }

  // Every array holds kUntouched except those whose arguments are listed,
  // which hold `expected(arg, i)` for the first `count` samples.
  void ExpectArrays(const std::vector<int>& filled, int count,
                    const std::function<double(int, int)>& expected) {
    for (int a = 0; a < kArrays; ++a) {
      const bool is_filled = std::find(filled.begin(), filled.end(), a) != filled.end();
      for (int i = 0; i < kSize; ++i) {
        const double want = is_filled && i < count ? expected(a, i) : kUntouched;
        ASSERT_DOUBLE_EQ(arrays_[a][i], want) << "argument " << a << " sample " << i;
      }
    }
  }

  PlotRecord record_;
  int16_t mode_ = 99;
  std::vector<std::vector<double>> arrays_;
};

TEST_F(PlotFileTest, Version41WriterMatchesGoldenWithBlocksInFileOrder) {
  FillGoldenValues();
  record_.sample_count = 100;
  record_.channel_mask = 0x0D05;
  ASSERT_EQ(Save2(Path("out.plt"), 1), 1);
  // The golden holds blocks 0x01, 0x04, 0x400, 0x800, 0x100 (4233 bytes) and
  // -1 / -1.0 in the sweep fields although the record holds a sweep.
  EXPECT_EQ(ReadBytes(Path("out.plt")), ReadBytes(DataPath("v41_mask0d05.plt")));
  EXPECT_EQ(ReadBytes(Path("out.plt")).size(), 4233u);
  EXPECT_EQ(recorder_.count(), 0u);
}

TEST_F(PlotFileTest, Version40WriterMatchesGoldenWithoutSecondAxisBlocks) {
  FillGoldenValues();
  record_.sample_count = 20;
  record_.channel_mask = 0x0703;
  record_.left_signals = 0x3;
  record_.right_signals = 0x400;
  std::strcpy(record_.title, "Four oh");
  ASSERT_EQ(save_plot_file(Path("out.plt").c_str(), &record_, A(0), A(1), A(2), A(3), A(4), A(5),
                           A(6), A(7), A(8), A(9), 1),
            1);
  EXPECT_EQ(ReadBytes(Path("out.plt")), ReadBytes(DataPath("v40_mask0703.plt")));
}

TEST_F(PlotFileTest, SweepRunWritesTheRecordsSweepFields) {
  record_.sample_count = 0;
  record_.channel_mask = 0x01;
  ASSERT_EQ(Save2(Path("sweep.plt"), 2), 1);
  const auto bytes = ReadBytes(Path("sweep.plt"));
  ASSERT_EQ(bytes.size(), 233u);
  int16_t mode, sweep_mode;
  float start, end, time;
  std::memcpy(&mode, &bytes[60], 2);
  std::memcpy(&sweep_mode, &bytes[219], 2);
  std::memcpy(&start, &bytes[221], 4);
  std::memcpy(&end, &bytes[225], 4);
  std::memcpy(&time, &bytes[229], 4);
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(sweep_mode, 3);
  EXPECT_EQ(start, 0.5f);
  EXPECT_EQ(end, 20.0f);
  EXPECT_EQ(time, 8.0f);
}

TEST_F(PlotFileTest, LongTitleIsCutTo127Characters) {
  std::memset(record_.title, 'T', sizeof record_.title);  // no terminator at all
  record_.sample_count = 0;
  ASSERT_EQ(Save2(Path("title.plt"), 1), 1);
  const auto bytes = ReadBytes(Path("title.plt"));
  EXPECT_EQ(std::string(bytes.begin() + 62, bytes.begin() + 62 + 127), std::string(127, 'T'));
  EXPECT_EQ(bytes[62 + 127], 0);

  std::memset(&record_, 0, sizeof record_);
  ASSERT_EQ(Load2(Path("title.plt")), 1);
  EXPECT_EQ(std::string(record_.title), std::string(127, 'T'));
}

TEST_F(PlotFileTest, WritersReportFilesTheyCannotWrite) {
  EXPECT_EQ(Save2(Path("no/such/dir/out.plt"), 1), 0);
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text, "Unable to open file.");
  EXPECT_EQ(recorder_.last()->caption, "Error");
  EXPECT_EQ(recorder_.last()->flags, kWarningBox);

  // A device that takes nothing: the failed write is not reported as success.
  record_.sample_count = 100;
  record_.channel_mask = 0xFFF;
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(Save2("/dev/full", 1), 0);
  }
}

TEST_F(PlotFileTest, Version41ReaderFillsRecordAndChannels) {
  record_.servo_time = 1;
  mode_ = 0;
  ASSERT_EQ(Load2(DataPath("v41_mask0d05.plt")), 1);
  EXPECT_EQ(mode_, 1);
  EXPECT_EQ(record_.gather_period, 10);
  EXPECT_EQ(record_.servo_time, 7427414);
  EXPECT_EQ(record_.sample_count, 100);
  EXPECT_EQ(record_.channel_mask, 0x0D05);
  EXPECT_EQ(record_.left_signals, 0x9);
  EXPECT_EQ(record_.right_signals, 0x80000);
  EXPECT_EQ(record_.sample_period, 0.000884);
  EXPECT_STREQ(record_.title, "Step response, plant 1");
  // A mode-1 file leaves the sweep fields as they were.
  EXPECT_EQ(record_.sweep_mode, 3);
  EXPECT_EQ(record_.sweep_start_frequency, 0.5f);
  EXPECT_EQ(record_.sweep_end_frequency, 20.0f);
  EXPECT_EQ(record_.sweep_time, 8.0f);
  // Commanded, encoder 2, control effort, disturbance, commanded 2.
  ExpectArrays({0, 2, 4, 5, 10}, 100, GoldenValue);
}

TEST_F(PlotFileTest, SweepFileLoadsItsSweepFields) {
  record_.sample_count = 0;
  ASSERT_EQ(Save2(Path("sweep.plt"), 2), 1);
  std::memset(&record_, 0, sizeof record_);
  ASSERT_EQ(Load2(Path("sweep.plt")), 1);
  EXPECT_EQ(mode_, 2);
  EXPECT_EQ(record_.sweep_mode, 3);
  EXPECT_EQ(record_.sweep_start_frequency, 0.5f);
  EXPECT_EQ(record_.sweep_end_frequency, 20.0f);
  EXPECT_EQ(record_.sweep_time, 8.0f);
}

TEST_F(PlotFileTest, Version40ReaderReadsOnlyItsTenChannels) {
  ASSERT_EQ(Load(DataPath("v40_mask0703.plt")), 1);
  EXPECT_EQ(record_.sample_count, 20);
  EXPECT_EQ(record_.channel_mask, 0x0703);
  EXPECT_EQ(record_.servo_time, 7427414);
  ExpectArrays({0, 1, 4}, 20, GoldenValue);
}

TEST_F(PlotFileTest, EachReaderRefusesTheOtherVersion4) {
  struct Case {
    const char* file;
    bool second_form;
  };
  for (const Case& c : {Case{"v41_mask0d05.plt", false}, Case{"v40_mask0703.plt", true}}) {
    SCOPED_TRACE(c.file);
    recorder_.Clear();
    const PlotRecord before = record_;
    EXPECT_EQ(c.second_form ? Load2(DataPath(c.file)) : Load(DataPath(c.file)), 0);
    ASSERT_EQ(recorder_.count(), 1u);
    EXPECT_EQ(recorder_.last()->text, "Bad or incompatible plot file.");
    EXPECT_EQ(recorder_.last()->caption, "Error");
    EXPECT_EQ(recorder_.last()->flags, kWarningBox);
    EXPECT_EQ(std::memcmp(&record_, &before, sizeof record_), 0);
    EXPECT_EQ(mode_, 99);
  }
}

TEST_F(PlotFileTest, BothReadersReadVersion30Columns) {
  for (bool second_form : {false, true}) {
    SCOPED_TRACE(second_form);
    arrays_.assign(kArrays, std::vector<double>(kSize, kUntouched));
    record_.servo_time = 1;
    ASSERT_EQ(
        second_form ? Load2(DataPath("v30_mask0003.plt")) : Load(DataPath("v30_mask0003.plt")), 1);
    EXPECT_EQ(mode_, 1);
    EXPECT_EQ(record_.sample_count, 5);
    EXPECT_EQ(record_.channel_mask, 0x03);
    EXPECT_EQ(record_.left_signals, 0x1);
    EXPECT_EQ(record_.right_signals, 0x2);
    EXPECT_EQ(record_.sample_period, 0.000884);
    EXPECT_EQ(record_.servo_time, 7427414);
    // 0.000884 x 1131.22... x 10 is 9.999999999999998 in doubles: still 10.
    EXPECT_EQ(record_.gather_period, 10);
    EXPECT_STREQ(record_.title, "Old plot");
    EXPECT_EQ(record_.sweep_mode, 3);  // left alone
    // Row i, column c holds 32 x ((c + 1) x 2 + i): commanded from column 0,
    // encoder 1 from column 2, both / 32.
    ExpectArrays({0, 1}, 5, [](int arg, int i) { return arg == 0 ? 2.0 + i : 6.0 + i; });
  }
}

TEST_F(PlotFileTest, Version30WithoutCommandedPositionStartsAtColumn1) {
  auto bytes = ReadBytes(DataPath("v30_mask0003.plt"));
  const int32_t mask = 0x02;
  std::memcpy(&bytes[158], &mask, 4);
  WriteBytes(Path("mask2.plt"), bytes);
  ASSERT_EQ(Load2(Path("mask2.plt")), 1);
  ExpectArrays({1}, 5, [](int, int i) { return 4.0 + i; });
}

TEST_F(PlotFileTest, Version30EffortsAreDacCountsInVolts) {
  ASSERT_EQ(Load(DataPath("v30_mask0c03.plt")), 1);
  EXPECT_EQ(record_.gather_period, 2);
  EXPECT_EQ(record_.sample_count, 3);
  ExpectArrays({0, 1, 4, 5}, 3, [](int arg, int i) {
    switch (arg) {
      case 0:
        return static_cast<double>(i);  // column 0 / 32
      case 1:
        return -2.0 * i;  // column 2 / 32
      case 4:
        return 32767.0 * 0.0003051850947599719;
      default:
        return (-16384.0 + i) * 0.0003051850947599719;
    }
  });
}

TEST_F(PlotFileTest, MissingFileIsReported) {
  EXPECT_EQ(Load2(Path("missing.plt")), 0);
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text, "Unable to open file.");
  EXPECT_EQ(recorder_.last()->flags, kWarningBox);
  EXPECT_EQ(record_.servo_time, 1234);
}

// A refused file must leave the record, the arrays and the mode as they were.
class RefusedPlotFileTest : public PlotFileTest {
 protected:
  void ExpectRefused(const std::vector<uint8_t>& bytes, const char* what) {
    SCOPED_TRACE(what);
    WriteBytes(Path("bad.plt"), bytes);
    const PlotRecord before = record_;
    recorder_.Clear();
    const int16_t result = Load(Path("bad.plt")) + Load2(Path("bad.plt"));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::memcmp(&record_, &before, sizeof record_), 0);
    EXPECT_EQ(mode_, 99);
    ASSERT_EQ(recorder_.count(), 2u);
    EXPECT_EQ(recorder_.boxes()[0].text, "Bad or incompatible plot file.");
    for (const auto& array : arrays_) {
      for (double v : array) ASSERT_EQ(v, kUntouched);
    }
  }
};

TEST_F(RefusedPlotFileTest, EveryTruncationOfTheGoldensIsRefused) {
  for (const char* name :
       {"v41_mask0d05.plt", "v40_mask0703.plt", "v30_mask0003.plt", "v30_mask0c03.plt"}) {
    const auto whole = ReadBytes(DataPath(name));
    for (size_t length = 0; length < whole.size(); ++length) {
      const std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
      ExpectRefused(cut, (std::string(name) + " cut to " + std::to_string(length)).c_str());
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(RefusedPlotFileTest, CountsTheArraysCannotHoldAreRefused) {
  struct Source {
    const char* name;
    size_t count_offset;
  };
  for (const Source& source : {Source{"v41_mask0d05.plt", 215}, Source{"v40_mask0703.plt", 215},
                               Source{"v30_mask0003.plt", 194}}) {
    for (int32_t count : {-1, 32768, 70000}) {
      auto bytes = ReadBytes(DataPath(source.name));
      std::memcpy(&bytes[source.count_offset], &count, 4);
      // Data enough for the count, so only the count itself is at fault.
      if (count > 0) bytes.resize(bytes.size() + static_cast<size_t>(count) * 12 * 8);
      ExpectRefused(bytes, (std::string(source.name) + " count " + std::to_string(count)).c_str());
    }
  }
}

TEST_F(RefusedPlotFileTest, Version30WithoutValuesPerRowIsRefused) {
  for (int16_t per_row : {0, -1}) {
    auto bytes = ReadBytes(DataPath("v30_mask0003.plt"));
    std::memcpy(&bytes[170], &per_row, 2);
    ExpectRefused(bytes, ("values per row " + std::to_string(per_row)).c_str());
  }
}

TEST_F(RefusedPlotFileTest, UnknownVersionIsRefused) {
  auto bytes = ReadBytes(DataPath("v41_mask0d05.plt"));
  bytes[16] = '2';
  ExpectRefused(bytes, "version 4.2");
}

TEST(GetMinMaxValTest, RangesOfArrays) {
  struct Case {
    std::vector<double> values;
    int16_t count;
    double minimum, maximum;
  };
  const Case cases[] = {
      {{3.0, 3.0, 3.0, 3.0, 3.0}, 5, 3.0, 4.0}, {{}, 0, 2147483647.0, 2147483648.0},
      {{1.0}, -3, 2147483647.0, 2147483648.0},  {{-2.5, 7.0, 0.5}, 3, -2.5, 7.0},
      {{-2.5, 7.0, 100.0}, 2, -2.5, 7.0},  // only the first count values
  };
  for (const Case& c : cases) {
    double minimum = 0, maximum = 0;
    get_min_max_val(c.values.data(), c.count, &minimum, &maximum);
    EXPECT_EQ(minimum, c.minimum);
    EXPECT_EQ(maximum, c.maximum);
  }
}

}  // namespace
}  // namespace zimo::labhelper::testing
