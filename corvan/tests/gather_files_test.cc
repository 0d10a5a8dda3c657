// Gather files: what a write puts on disk, reading it back on another
// device, and the files a read must refuse without touching the settings.
// The devices are not open: the settings and the samples are set by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "corvan/gather_api.h"
#include "library_harness.h"
#include "link/library_app.h"
#include "platform/message.h"
#include "temp_home.h"

namespace zimo::corvan {
namespace {

using Bytes = std::vector<std::uint8_t>;

class GatherFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_.AddSlot(0, 0, 0);
    table_.AddSlot(1, 0, 0);
    // Three sources of 100 samples each, as an upload leaves them.
    SharedDeviceBlock& b = block(0);
    b.GatherSampleTime = 0.885416746;
    b.GatherPeriod = 2;
    b.GatherEnableMask[0] = 0x7;
    b.GatherSourceCount = 3;
    b.GatherSampleCount = 100;
    b.GatherWordsPerSample = 4;
    const char* names[] = {"X:$0", "D:$28", "L:$1001"};
    for (int n = 0; n < 3; ++n) {
      b.GatherSourceEnabled[n] = 1;
      std::memcpy(b.GatherSourceName[n], names[n], std::strlen(names[n]));
      b.GatherSourceWords[n] = n == 0 ? 1 : 2;
      std::vector<double>& data = App().User(0)->Gather.GatherData[n];
      data.assign(102, 0.0);
      for (int i = 0; i < 100; ++i) data[i] = n * 1000 + i + 0.5;
    }
  }
  void TearDown() override { App().End(); }

  SharedDeviceBlock& block(int device) { return table_.get()->Devices[device]; }
  std::string Path(const char* name) { return (home_.path() / name).string(); }
  static Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }
  static void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  // The settings a read must leave alone when it refuses a file.
  std::string Settings(int device) {
    const SharedDeviceBlock& b = block(device);
    const auto* first = reinterpret_cast<const char*>(&b.GatherSampleTime);
    const auto* last = reinterpret_cast<const char*>(&b.RtGatherHandle);
    return std::string(first, last);
  }

  zimo::testing::TempHome home_;
  testing::OwnDeviceTable table_;
};

TEST_F(GatherFilesTest, WrittenFileReadsBackOnAnotherDevice) {
  const std::string path = Path("RUN1.GAT");
  ASSERT_EQ(ZimoWriteGatherFile(0, path.c_str()), 1);
  const Bytes file = Read(path);
  ASSERT_EQ(file.size(), 4120u);  // 1720 + 3 x 100 x 8
  EXPECT_EQ(file[0] | file[1] << 8, 1720);
  double first = 0;
  std::memcpy(&first, &file[1720 + 800], 8);  // source 1, sample 0
  EXPECT_EQ(first, 1000.5);

  ASSERT_EQ(ZimoReadGatherFile(1, path.c_str()), 1);
  const SharedDeviceBlock& b = block(1);
  EXPECT_EQ(b.GatherSampleTime, 0.885416746);
  EXPECT_EQ(b.GatherPeriod, 2u);
  EXPECT_EQ(b.GatherEnableMask[0], 0x7u);
  EXPECT_EQ(b.GatherSourceCount, 3u);
  EXPECT_EQ(b.GatherSampleCount, 100u);
  EXPECT_EQ(b.GatherWordsPerSample, 4u);
  EXPECT_STREQ(b.GatherSourceName[1], "D:$28");
  EXPECT_EQ(b.GatherSourceWords[2], 2u);
  for (std::uint32_t n = 0; n < 3; ++n) {
    std::vector<double> values(100);
    std::uint32_t count = 0;
    ASSERT_EQ(ZimoGetGatherSamples(1, n, &count, values.data(), 100), 1) << n;
    EXPECT_EQ(count, 100u);
    EXPECT_EQ(values, std::vector<double>(App().User(0)->Gather.GatherData[n].begin(),
                                          App().User(0)->Gather.GatherData[n].begin() + 100));
  }
  for (std::uint32_t n = 3; n < 24; ++n) {
    double v = 1;
    EXPECT_EQ(ZimoGetGatherPoint(1, n, 0, &v), 0) << n;
    EXPECT_EQ(v, 0.0);
  }
}

TEST_F(GatherFilesTest, NamesKeepFourteenCharactersAndMissingArraysAreZeros) {
  std::memcpy(block(0).GatherSourceName[0], "X:$000000000001", 15);  // 15, unterminated
  App().User(0)->Gather.GatherData[2] = std::vector<double>();       // enabled, never uploaded
  const std::string path = Path("run2.gat");
  ASSERT_EQ(ZimoWriteGatherFile(0, path.c_str()), 1);
  const Bytes file = Read(path);
  ASSERT_EQ(file.size(), 4120u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[232]), 15),
            std::string("X:$00000000000\0", 15));
  EXPECT_EQ(Bytes(file.begin() + 1720 + 1600, file.end()), Bytes(800, 0));
  ASSERT_EQ(ZimoReadGatherFile(1, path.c_str()), 1);
  EXPECT_EQ(std::string(block(1).GatherSourceName[0]), "X:$00000000000");
}

TEST_F(GatherFilesTest, RefusedFilesLeaveTheSettings) {
  const std::string good = Path("good.gat");
  ASSERT_EQ(ZimoWriteGatherFile(0, good.c_str()), 1);
  const Bytes file = Read(good);
  ASSERT_EQ(ZimoReadGatherFile(1, good.c_str()), 1);
  const std::string before = Settings(1);

  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped(boxes);
  const std::string missing = Path("nothere.gat");
  EXPECT_EQ(ZimoReadGatherFile(1, missing.c_str()), 0);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.last()->text, "Unable to open gather file " + missing + ".");
  EXPECT_EQ(boxes.last()->caption, "File Error");
  EXPECT_EQ(boxes.last()->flags & platform::kMbIconMask, platform::kMbIconError);
  EXPECT_EQ(Settings(1), before);

  struct Case {
    const char* what;
    Bytes bytes;
  };
  Bytes big_header = file;
  Put32(big_header, 0, 9999);
  Bytes truncated(file.begin(), file.end() - 8);
  Bytes huge_count = file;
  Put32(huge_count, 32, 0x7FFFFFFF);
  const Case cases[] = {
      {"header size 9999", big_header},
      {"sample block short by one sample", truncated},
      {"sample count 0x7FFFFFFF", huge_count},
      {"header cut short", Bytes(file.begin(), file.begin() + 1000)},
      {"empty", Bytes()},
  };
  for (const Case& c : cases) {
    const std::string path = Path("bad.gat");
    Write(path, c.bytes);
    EXPECT_EQ(ZimoReadGatherFile(1, path.c_str()), 0) << c.what;
    EXPECT_EQ(Settings(1), before) << c.what;
    std::uint32_t count = 0;
    double one = 0;
    EXPECT_EQ(ZimoGetGatherSamples(1, 0, &count, &one, 1), 1) << c.what;  // the good file's
  }
  EXPECT_EQ(boxes.count(), 1u);  // only the missing file was a box
}

TEST_F(GatherFilesTest, WriteFailuresReturnZero) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(ZimoWriteGatherFile(0, "/dev/full"), 0);
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped(boxes);
  const std::string nowhere = Path("no/such/folder/x.gat");
  EXPECT_EQ(ZimoWriteGatherFile(0, nowhere.c_str()), 0);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.last()->text, "Unable to open gather file " + nowhere + ".");
}

}  // namespace
}  // namespace zimo::corvan
