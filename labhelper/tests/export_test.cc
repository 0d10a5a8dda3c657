#include <cstring>

#include "labhelper/qeldll32.h"
#include "labhelper_test_support.h"

namespace zimo::labhelper::testing {
namespace {

constexpr int kArrays = 13;

class ExportTest : public LabHelperTest {
 protected:
  ExportTest() : arrays_(kArrays, std::vector<double>(8, 0.0)) {
    std::memset(&record_, 0, sizeof record_);
    record_.gather_period = 10;
    record_.servo_time = 7427414;
    for (int a = 0; a < kArrays; ++a) {
      for (int i = 0; i < 8; ++i) arrays_[a][i] = GoldenValue(a, i);
    }
  }
  const double* A(int arg) { return arrays_[arg].data(); }

  int16_t Export(int16_t kind) {
    return export_plot(Path("out.txt").c_str(), &record_, A(0), A(1), A(2), A(3), A(4), A(5), A(6),
                       A(7), A(8), A(9), kind);
  }
  int16_t Export2(int16_t kind, int16_t decimals, int32_t mask) {
    return export_plot2(Path("out.txt").c_str(), &record_, A(0), A(1), A(2), A(3), A(4), A(5), A(6),
                        A(7), A(8), A(9), A(10), A(11), A(12), kind, decimals, mask);
  }
  std::string Written() {
    const auto bytes = ReadBytes(Path("out.txt"));
    return std::string(bytes.begin(), bytes.end());
  }

  PlotRecord record_;
  std::vector<std::vector<double>> arrays_;
};

TEST_F(ExportTest, SecondFormWritesEverySampleWithItsDecimals) {
  record_.sample_count = 3;
  arrays_[1] = {1.5, 2.25, -3.0};  // sensor 1
  arrays_[11] = {0.1, 0.2, 0.3};   // argument 14: control effort 2 of kind 11
  arrays_[5] = {99, 99, 99};       // the disturbance array is not this column's
  ASSERT_EQ(Export2(11, 3, 0x802), 1);
  EXPECT_EQ(Written(),
            " Sample   Time     Sensor 1 Pos    Control Effort 2\r\n\n"
            "[    0    0.000           1.500          0.1000;\r\n"
            "     1    0.009           2.250          0.2000;\r\n"
            "     2    0.018          -3.000          0.3000]\r\n");
  EXPECT_EQ(ReadBytes(Path("out.txt")), ReadBytes(DataPath("export2_kind11_mask802.txt")));
}

TEST_F(ExportTest, FirstFormWithAllTenChannelsMatchesGolden) {
  record_.sample_count = 3;
  record_.channel_mask = 0xCFF;
  ASSERT_EQ(Export(1), 1);
  EXPECT_EQ(ReadBytes(Path("out.txt")), ReadBytes(DataPath("export_kind1_all.txt")));
}

TEST_F(ExportTest, FewSamples) {
  record_.channel_mask = 0x03;
  const std::string header = " Sample   Time     Commanded Pos   Encoder 1 Pos \r\n\n";
  for (int32_t count : {0, -5}) {
    record_.sample_count = count;
    ASSERT_EQ(Export(0), 1);
    EXPECT_EQ(Written(), header);
  }
  record_.sample_count = 1;
  ASSERT_EQ(Export(0), 1);
  EXPECT_EQ(Written(), header + "[    0    0.000       -350.0000       -250.0000]\r\n");
}

TEST_F(ExportTest, ColumnTitlesByKind) {
  record_.sample_count = 0;
  record_.channel_mask = 0xFFF;
  struct Case {
    int16_t kind;
    const char* titles;
  };
  const Case first[] = {
      {1,
       "  Commanded Pos   Encoder 1 Pos   Encoder 2 Pos   Encoder 3 Pos "
       "   Variable Q10    Variable Q11    Variable Q12    Variable Q13 "
       "  Control Effort  Disturbance Effort"},
      {2,
       "  Drive Input     Encoder 1 Pos   Encoder 2 Pos   Encoder 3 Pos "
       "  Control Effort  Disturbance Effort"},
      {3,
       "  Commanded Pos   Encoder 1 Pos   Encoder 2 Pos   Encoder 3 Pos "
       "       Node A          Node B          Node C          Node D   "
       "  Control Effort  Disturbance Effort"},
  };
  for (const Case& c : first) {
    ASSERT_EQ(Export(c.kind), 1);
    EXPECT_EQ(Written(), std::string(" Sample   Time   ") + c.titles + "\r\n\n") << c.kind;
  }
  const Case second[] = {
      {11,
       "  Commanded 1 Pos   Commanded 2 Pos  Sensor 1 Pos    Sensor 2 Pos  "
       "  Encoder 3 Pos   Encoder 4 Pos "
       "   Variable Q10    Variable Q11    Variable Q12    Variable Q13 "
       "  Control Effort 1  Control Effort 2"},
      {3,
       "  Commanded 1 Pos   Commanded 2 Pos  Encoder 1 Pos   Encoder 2 Pos "
       "  Encoder 3 Pos   Encoder 4 Pos "
       "   Variable Q10    Variable Q11    Variable Q12    Variable Q13 "
       "  Control Effort 1  Control Effort 2"},
      {2,
       "  Drive Input     Encoder 1 Pos   Encoder 2 Pos   Encoder 3 Pos "
       "  Control Effort  Disturbance Effort"},
      {0,
       "  Commanded Pos   Encoder 1 Pos   Encoder 2 Pos   Encoder 3 Pos "
       "       Node A          Node B          Node C          Node D   "
       "  Control Effort  Disturbance Effort"},
  };
  for (const Case& c : second) {
    ASSERT_EQ(Export2(c.kind, 2, 0xFFF), 1);
    EXPECT_EQ(Written(), std::string(" Sample   Time   ") + c.titles + "\r\n\n") << c.kind;
  }
}

TEST_F(ExportTest, SecondFormColumnsTakeTheirArrays) {
  // Kind 3, one sample: commanded 2 from argument 13, encoder 4 from 15,
  // efforts from 7 and 14 with four decimals, the rest with one.
  record_.sample_count = 1;
  ASSERT_EQ(Export2(3, 1, 0xD03), 1);
  EXPECT_EQ(Written(),
            " Sample   Time     Commanded 1 Pos   Commanded 2 Pos  Encoder 1 Pos "
            "  Control Effort 1  Control Effort 2\r\n\n"
            "[    0    0.000          -350.0           650.0          -250.0"
            "         50.0000        750.0000]\r\n");
}

TEST_F(ExportTest, UnwritableFileIsReported) {
  record_.sample_count = 3;
  EXPECT_EQ(export_plot2(Path("no/dir/x.txt").c_str(), &record_, A(0), A(1), A(2), A(3), A(4), A(5),
                         A(6), A(7), A(8), A(9), A(10), A(11), A(12), 11, 3, 0x3),
            0);
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.last()->text, "Unable to open file.");
  EXPECT_EQ(recorder_.last()->caption, "Error");
  EXPECT_EQ(recorder_.last()->flags, platform::kMbOk | platform::kMbIconExclamation);
}

}  // namespace
}  // namespace zimo::labhelper::testing
