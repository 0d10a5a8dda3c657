// Program and PLC status read from the card's program tables: a card with
// no PLCs, interpreted PLCs under each value of the run bits, compiled PLCs
// laid out in card memory by hand, the fixed start of motion program 0, and
// an error reply to the first table read.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "corvan/program_info_api.h"
#include "platform/message.h"
#include "platform/named_mutex.h"
#include "status_rig.h"

namespace zimo::corvan {
namespace {

using testing::RigKind;

class ProgramStatusTest : public testing::StatusRigTest {
 protected:
  std::uint32_t ProgramTable() const { return Spran() ? 0x9000 : 0xE00; }
  // Writes P words from `address` on.
  void WriteP(std::uint32_t address, const std::vector<std::uint32_t>& words) {
    std::string line;
    char part[32];
    std::snprintf(part, sizeof part, "WP$%X", address);
    line = part;
    for (std::uint32_t w : words) {
      std::snprintf(part, sizeof part, ",$%X", w);
      line += part;
    }
    ASSERT_EQ(Ask(line), "");
  }
};

TEST_P(ProgramStatusTest, ACardWithoutPlcsHasNone) {
  ZimoPlcStatus status;
  std::memset(&status, 0xAB, sizeof status);
  EXPECT_EQ(ZimoGetPlcStatus(0, &status), 0);
  const ZimoPlcStatus zero{};
  EXPECT_EQ(std::memcmp(&status, &zero, sizeof status), 0);
  EXPECT_EQ(ZimoIsAnyPLCRunning(0), 0);
  static_assert(sizeof(ZimoPlcStatus) == 1164);
}

// PLCs 0 and 3 under the run bits 0 to 3, each entry enabled or not: PLC 0
// runs only with bit 0, PLC 3 only with bit 1, each only when enabled.
TEST_P(ProgramStatusTest, InterpretedPlcsRunUnderTheirRunBit) {
  Ask("OPEN PLC 0 CLEAR");
  Ask("P1=1");
  Ask("CLOSE");
  Ask("OPEN PLC 3 CLEAR");
  Ask("P2=2");
  Ask("P3=3");
  Ask("CLOSE");
  for (int bits = 0; bits < 4; ++bits) {
    for (int enabled = 0; enabled < 4; ++enabled) {
      SCOPED_TRACE("run bits " + std::to_string(bits) + ", enabled " + std::to_string(enabled));
      Ask((enabled & 1) != 0 ? "ENABLE PLC 0" : "DISABLE PLC 0");
      Ask((enabled & 2) != 0 ? "ENABLE PLC 3" : "DISABLE PLC 3");
      Ask("I5=" + std::to_string(bits));
      rig().Servo(1);  // the card shows I5 in its enable word as it scans
      ZimoPlcStatus s;
      ASSERT_EQ(ZimoGetPlcStatus(0, &s), 2);
      EXPECT_EQ(s.plc_count, 2u);
      EXPECT_EQ(s.plcc_count, 0u);
      EXPECT_EQ(s.enable_bits, static_cast<std::uint32_t>(bits));
      EXPECT_EQ(s.plc[0].running, (enabled & 1) != 0 && (bits & 1) != 0 ? 1u : 0u);
      EXPECT_EQ(s.plc[3].running, (enabled & 2) != 0 && (bits & 2) != 0 ? 1u : 0u);
      // One word per line and one for the end, one program after the other.
      EXPECT_EQ(s.plc[0].size, 2u);
      EXPECT_EQ(s.plc[0].end, s.plc[0].start + 1);
      EXPECT_EQ(s.plc[3].size, 3u);
      EXPECT_EQ(s.plc[3].start, s.plc[0].end + 1);
      EXPECT_EQ(s.plc[1].size + s.plc[2].size + s.plc[1].start, 0u);
      EXPECT_EQ(ZimoIsAnyPLCRunning(0), s.plc[0].running | s.plc[3].running);
    }
  }
  std::uint32_t start = 0, end = 0;
  EXPECT_EQ(ZimoGetProgramInfo(0, 1, 3, &start, &end), 1);
  ZimoPlcStatus s;
  ZimoGetPlcStatus(0, &s);
  EXPECT_EQ(start, s.plc[3].start);
  EXPECT_EQ(end, s.plc[3].end + 1);
  EXPECT_EQ(ZimoGetProgramInfo(0, 1, 2, &start, &end), 0);  // PLC 2 holds nothing
  EXPECT_EQ(ZimoGetProgramInfo(0, 1, 32, &start, &end), 0);
}

// The PLC status table lies at 0x3100 on SPRAN cards (apart from the
// program table at 0x9000), at 0xF00 on older cards: the export reads the
// word below it, the enable word and the 32 entries, in that order.
TEST_P(ProgramStatusTest, ReadsThePlcStatusTableOfItsCardGeneration) {
  Ask("OPEN PLC 1 CLEAR");
  Ask("P1=1");
  Ask("CLOSE");
  rig().Lines();
  ZimoPlcStatus s;
  ASSERT_EQ(ZimoGetPlcStatus(0, &s), 1);
  EXPECT_EQ(s.plc[1].size, 2u);
  std::vector<std::string> expected{Spran() ? "rhl$30FF,1" : "rhl$EFF,1",
                                    Spran() ? "rhx$26" : "rhx$1"};
  for (std::uint32_t i = 0; i < 32; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "rhl$%x,1", (Spran() ? 0x3100u : 0xF00u) + i);
    expected.push_back(line);
  }
  std::vector<std::string> lines = rig().Lines();
  ASSERT_GE(lines.size(), expected.size());
  lines.resize(expected.size());
  EXPECT_EQ(lines, expected);
}

// Motion program 0 starts at the fixed address; PLC 0 at the word below
// the PLC part of the table.
TEST_P(ProgramStatusTest, MotionProgramZeroStartsAtTheFixedAddress) {
  Ask("OPEN PROG 0 CLEAR");
  Ask("X1");
  Ask("X2");
  Ask("CLOSE");
  std::uint32_t start = 0, end = 0;
  ASSERT_EQ(ZimoGetProgramInfo(0, 0, 0, &start, &end), 1);
  EXPECT_EQ(start, Spran() ? 0x9600u : 0x1800u);
  EXPECT_EQ(end, start + 3);
  EXPECT_EQ(ZimoGetProgramInfo(0, 0, 1, &start, &end), 0);
  EXPECT_EQ(rig().Lines().back(), Spran() ? "rhl$9000,2" : "rhl$E00,2");
}

// Compiled PLCs 2 and 5 start at B + 0x100 and B + 0x80 (0x8100 and 0x8080
// on an older card); 7 starts below the code and is left without an end.
// PLC 2 is the last in memory, so it ends one word before the end of all
// compiled code; PLC 5 ends where PLC 2 starts.
TEST_P(ProgramStatusTest, CompiledPlcsTakeTheirEndsFromTheNextOneUp) {
  const std::uint32_t base = Spran() ? 0x50000 : 0x8000;
  SharedDeviceBlock& b = block();
  b.PlcTableBase = base;
  b.PlcChainEnd = base + 96;
  b.PlcSlotTable = base + 32;
  b.PlcCodeStart = base + 0x70;
  std::vector<std::uint32_t> entries(32, 0);
  entries[2] = 0x800000 | (base + 0x100);
  entries[5] = 0x800000 | (base + 0x80);
  entries[7] = 0x800000 | (base + 0x10);
  WriteP(base, entries);
  WriteP(base + 32 + 2 * 2 + 1, {base + 0x100});           // PLC 2: into its code
  WriteP(base + 32 + 2 * 5 + 1, {base + 32 + 2 * 5 + 2});  // PLC 5: to the next slot
  WriteP(base + 32 + 2 * 7 + 1, {base + 96});              // PLC 7: to the chain end
  // The end of all compiled code: an offset from C on older cards, the
  // address itself on SPRAN cards.
  const std::uint32_t code_end = base + 0x270;
  WriteP(base + 97, {Spran() ? code_end : code_end - b.PlcCodeStart});
  Ask("I5=3");
  rig().Servo(1);
  rig().Lines();

  ZimoPlcStatus s;
  ASSERT_EQ(ZimoGetPlcStatus(0, &s), 3);
  EXPECT_EQ(s.plcc_count, 3u);
  struct Expect {
    int i;
    std::uint32_t enabled, start, end, size;
  };
  const Expect expected[] = {
      {2, 1, base + 0x100, code_end - 1, code_end - (base + 0x100)},
      {5, 0, base + 0x80, base + 0xFF, 0x80},
      {7, 0, base + 0x10, 0, 0},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.i);
    EXPECT_EQ(s.plcc[e.i].present, 1u);
    EXPECT_EQ(s.plcc[e.i].enabled, e.enabled);
    EXPECT_EQ(s.plcc[e.i].start, e.start);
    EXPECT_EQ(s.plcc[e.i].end, e.end);
    EXPECT_EQ(s.plcc[e.i].size, e.size);
  }
  // The third round found no PLC left: nothing went to record 0.
  const ZimoPlccProgramStatus empty{};
  EXPECT_EQ(std::memcmp(&s.plcc[0], &empty, sizeof empty), 0);
  EXPECT_EQ(ZimoIsAnyPLCRunning(0), 1);  // PLC 2 is enabled
  Ask("I5=0");
  rig().Servo(1);
  EXPECT_EQ(ZimoIsAnyPLCRunning(0), 0);  // but nothing may run

  // The reads, in lower-case hex where the table is walked.
  const std::vector<std::string> lines = rig().Lines();
  char line[32];
  std::snprintf(line, sizeof line, "rhp$%x,32", base);
  EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end());
  std::snprintf(line, sizeof line, "rhp$%x,1", base + 32 + 2 * 5 + 1);
  EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end());
}

// A message service that notes, for each box, whether another thread could
// take the device's command lock at that moment.
class LockProbe : public platform::MessageService {
 public:
  int Show(std::string_view text, std::string_view caption, std::uint32_t) override {
    bool free = false;
    std::thread other([&] {
      auto mutex = platform::NamedMutex::Open("MutexZimo0");
      if (mutex.ok() && mutex->Lock(std::chrono::milliseconds(0)).ok()) {
        free = true;
        (void)mutex->Unlock();
      }
    });
    other.join();
    boxes.push_back({std::string(text), std::string(caption), free});
    return platform::kIdOk;
  }
  struct Box {
    std::string text, caption;
    bool lock_free;
  };
  std::vector<Box> boxes;
};

// An error reply to the first read is no table: nothing is reported, and
// the box comes after the lock is let go.
TEST_P(ProgramStatusTest, AnErrorOnTheFirstReadShowsItsBoxWithTheLockFree) {
  Ask("OPEN PLC 1 CLEAR");
  Ask("P1=1");
  Ask("CLOSE");
  LockProbe probe;
  platform::ScopedMessageService scoped(probe);
  rig().card()->script().InjectError(3, 1);
  ZimoPlcStatus s;
  EXPECT_EQ(ZimoGetPlcStatus(0, &s), 0);
  const ZimoPlcStatus zero{};
  EXPECT_EQ(std::memcmp(&s, &zero, sizeof s), 0);
  ASSERT_EQ(probe.boxes.size(), 1u);
  EXPECT_EQ(probe.boxes[0].caption, "Error Communicating to ZIMO!");
  EXPECT_FALSE(probe.boxes[0].text.empty());
  EXPECT_TRUE(probe.boxes[0].lock_free);
  // The next call reads the table again.
  EXPECT_EQ(ZimoGetPlcStatus(0, &s), 1);
  EXPECT_EQ(probe.boxes.size(), 1u);
}

const RigKind kRigs[] = {
    {"eth older", kLocationEthernet, false},
    {"eth spran", kLocationEthernet, true},
};
INSTANTIATE_TEST_SUITE_P(Rigs, ProgramStatusTest, ::testing::ValuesIn(kRigs), testing::RigName);

}  // namespace
}  // namespace zimo::corvan
