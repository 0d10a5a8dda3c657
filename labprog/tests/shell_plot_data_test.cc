// Load Plot Data and Export Raw Data on the program's gathered data: a
// good file replaces data and settings, a bad one changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "labhelper/qeldll32.h"
#include "labprog/plot_data.h"
#include "platform/message.h"
#include "recording_fakes.h"
#include "temp_home.h"

namespace zimo::labprog {
namespace {

namespace fs = std::filesystem;

class PlotDataTest : public ::testing::Test {
 protected:
  PlotDataTest() {
    link.OnlineFlag = -1;
    // Unsaved uploaded data of three samples.
    program.Data.SampleCount = 3;
    program.Data.Arrays[0][2] = 42;
    program.Data.Ts = 0.001768;
    program.Config.Ts = 0.001768;
    program.Config.GatherPeriod = 7;
    program.Config.WhatToGather = 0x3;
  }

  // A plot file of `n` samples with sample period `ts` and gather period
  // `cycles`, written by the helper library.
  std::string PlotFile(const std::string& name, int n, double ts, int cycles, int mode = 1) {
    GatheredData data;
    data.SampleCount = n;
    data.Ts = ts;
    data.GatherPeriodCycles = cycles;
    data.WhatToGather = 0x401;
    data.WhatToPlotLeft = 0x1;
    data.WhatToPlotRight = 0x2;
    data.SweepMode = 2;
    data.SweepTime = 5;
    data.StartFrequency = 1;
    data.EndFrequency = 20;
    for (int i = 0; i < n; ++i) data.Arrays[0][i] = i * 1.5;
    const PlotRecord record = ToPlotRecord(data);
    auto a = data.ArrayPointers();
    const std::string path = (home.path() / name).string();
    EXPECT_NE(save_plot_file2(path.c_str(), &record, a[0], a[1], a[2], a[3], a[4], a[5], a[6],
                              a[7], a[8], a[9], a[10], a[5], a[12], static_cast<int16_t>(mode)),
              0);
    return path;
  }

  void ExpectUnchanged() {
    EXPECT_EQ(program.Data.SampleCount, 3);
    EXPECT_EQ(program.Data.Arrays[0][2], 42);
    EXPECT_EQ(program.Data.Ts, 0.001768);
    EXPECT_EQ(program.Config.GatherPeriod, 7);
    EXPECT_EQ(program.Config.WhatToGather, 0x3);
  }

  zimo::testing::TempHome home;
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped_boxes{boxes};
  testing::RecordingCommandPath link;
  testing::RecordingShellWindows shell;
  LabProgram program{link, shell};
  int16_t mode = 0;
};

TEST_F(PlotDataTest, AGoodFileReplacesDataAndSettings) {
  const std::string file = PlotFile("good.plt", 5, 0.000884 * 2, 6, 2);
  ASSERT_TRUE(LoadPlotData(program, file, mode));
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(program.Data.SampleCount, 5);
  EXPECT_EQ(program.Data.Arrays[0][4], 6.0);
  EXPECT_EQ(program.Data.Arrays[0][2], 3.0);
  EXPECT_DOUBLE_EQ(program.Config.Ts, 0.001768);
  EXPECT_EQ(program.Config.GatherPeriod, 3);  // 6 cycles / (Ts / 0.000884)
  EXPECT_EQ(program.Config.WhatToGather, 0x401);
  EXPECT_EQ(program.Config.WhatToPlotLeft, 0x1);
  EXPECT_EQ(program.Config.WhatToPlotRight, 0x2);
  EXPECT_EQ(program.Config.TrajectoryType, 6);
  EXPECT_EQ(program.Config.Trajectory1.SineSweep.EndFrequency, 20);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(PlotDataTest, ABadFileKeepsTheDataItWouldHaveReplaced) {
  const std::string good = PlotFile("good.plt", 50, 0.001, 2);
  std::string bytes;
  {
    std::ifstream in(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::ofstream((home.path() / "truncated.plt"), std::ios::binary)
      << bytes.substr(0, bytes.size() / 2);
  std::ofstream((home.path() / "garbage.plt"), std::ios::binary) << std::string(600, 'x');
  for (const char* name : {"truncated.plt", "garbage.plt", "missing.plt"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(LoadPlotData(program, (home.path() / name).string(), mode));
    ExpectUnchanged();
  }
  ASSERT_GE(boxes.boxes().size(), 2u);
  EXPECT_EQ(boxes.boxes()[0].text, "Bad or incompatible plot file.");
}

TEST_F(PlotDataTest, GatherPeriodKeptWhenItCannotBeWorkedOut) {
  // Sample period 0, and a period beyond 16 bits.
  ASSERT_TRUE(LoadPlotData(program, PlotFile("zero.plt", 4, 0, 6), mode));
  EXPECT_EQ(program.Config.GatherPeriod, 7);
  ASSERT_TRUE(LoadPlotData(program, PlotFile("huge.plt", 4, 0.000884, 40000), mode));
  EXPECT_EQ(program.Config.GatherPeriod, 7);
}

TEST_F(PlotDataTest, ExportKindFollowsThePlant) {
  program.Config.UserUnits = "counts";
  program.Config.WhatToGather = 0x3;  // commanded and the first position
  for (auto [tag, header] : {std::pair{"11", "Sensor"}, std::pair{"3", "Encoder"}}) {
    SCOPED_TRACE(tag);
    program.ApparatusTag = tag;
    const fs::path file = home.path() / (std::string("export") + tag + ".txt");
    ExportRawData(program, file.string());
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find(std::string(header) + " 1 Pos"), std::string::npos) << text.substr(0, 300);
  }
}

}  // namespace
}  // namespace zimo::labprog
