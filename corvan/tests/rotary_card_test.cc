// One 200-line motion program through every road into a running card's
// coordinate system 1: the DPR ring of ISA and PCI cards (the text file
// feeder into a 100-word ring, and on PCI a binary command file), the staged puts of USB and
// Ethernet cards and the host-side records of both. The card decodes and
// runs what arrives; every road must leave the same motion log and the
// same variables, with every line run once, also when the card takes only
// part of every third staged send.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/rotary_api.h"
#include "eth_test_fixture.h"
#include "link/device_registry.h"
#include "link/eth_transport.h"
#include "link/library_app.h"
#include "pci_card_fixture.h"
#include "serial_card_fixture.h"

namespace zimo::corvan {
namespace {

using Lines = std::vector<std::string>;
constexpr int kLines = 200;
constexpr int kFirstVariable = 100;

// Line i: a statement of its kind, and an increment of P(100 + i), so that
// the variables tell how often each line ran.
std::string ProgramLine(int i) {
  const std::string p = "P" + std::to_string(kFirstVariable + i);
  const std::string count = p + "=" + p + "+1";
  switch (i % 10) {
    case 0:
      return count + " Q" + std::to_string(i % 10) + "=SIN(30)*" + std::to_string(i);
    case 1:
      return "LINEAR TM1 X" + std::to_string(i % 7) + " " + count;
    case 2:
      return "IF(P1>-1)" + count;
    case 3:
      return "ENABLE PLC " + std::to_string(i % 32) + " " + count;
    case 4:
      return "P2=0 WHILE(P2<3)P2=P2+1 " + count;  // the body runs three times
    case 5:
      return "DISABLE PLC " + std::to_string((i + 7) % 32) + "," + std::to_string(31) + " " + count;
    case 6:
      return "dwell 1 " + count;
    case 7: {
      const std::string n = std::to_string(kFirstVariable + i);
      return "P(P3+" + n + ")=P(P3+" + n + ")+1";
    }
    case 8:
      return "RAPID X0 " + count;
    default:
      return "IF(P1<-5 OR P1>-1)" + count + " Q1=2";
  }
}

std::string ProgramText() {
  std::string text;
  for (int i = 0; i < kLines; ++i) text += ProgramLine(i) + "\n";
  return text;
}

std::string ExpectedVariables() {
  std::string text;
  for (int i = 0; i < kLines; ++i) text += i % 10 == 4 ? "3\r" : "1\r";
  return text;
}

// A card and how a test drives it.
class Rig {
 public:
  virtual ~Rig() = default;
  virtual void Step(int cycles) = 0;
  virtual Lines Log() = 0;
  virtual std::string Variables() = 0;  // P100..P299 as the card answers them
  virtual void AnswerCode3EveryThird() = 0;
  virtual SharedDeviceBlock& block() = 0;
  virtual void Type(const std::string& line) { ZimoSendCommandA(0, line.c_str()); }

  // Ring 0 of 100 words, binary rotary mode, motor 1 as X of system 1,
  // which runs buffer 0.
  void Prepare(bool host_side) {
    block().VbgNextFree = block().DprCardBase + 0x1000;
    App().User(0)->DprAvailable = 1;
    SetBinRotHostMode(0, host_side ? 1 : 0);
    ASSERT_EQ(ZimoDPRRotBufChange(0, 0, 100), 0);
    ZimoDPRRotBuf(0, 1);
    Type("I57=1");
    Type("#1->X");
    Type("&1B0R");
  }
  // Steps the card until its log stops growing.
  Lines Finish() {
    std::size_t seen = static_cast<std::size_t>(-1);
    for (int round = 0; round < 200; ++round) {
      Step(400);
      const std::size_t now = Log().size();
      if (now == seen) break;
      seen = now;
    }
    return Log();
  }
};

// A card behind the driver host, device 0 opened through the library.
class DriverHostRig : public Rig {
 public:
  DriverHostRig(std::uint32_t location, const std::string& card, const std::string& device) {
    std::filesystem::current_path(home_.path());
    EXPECT_EQ(RegisterDevice(0, location, 0, nullptr), 1);
    host_ = std::make_unique<testing::DriverHostProcess>(Lines{card});
    EXPECT_TRUE(testing::WaitForDriverDevice(device));
    server_ = std::make_unique<testing::StandInServer>();
    EXPECT_EQ(OpenZimoDevice(0), 1);
  }
  ~DriverHostRig() override {
    ShutdownZimoDevice(0, 1);
    App().End();
    server_.reset();
    host_.reset();
  }
  void Step(int cycles) override { host_->Command("servo 0 " + std::to_string(cycles)); }
  Lines Log() override {
    const std::string reply = host_->Command("motion-log 0");
    Lines lines;
    std::string entry;
    for (std::size_t i = 3; i < reply.size(); ++i) {
      if (reply[i] == '\\' && i + 1 < reply.size()) {
        entry += reply[++i];
      } else if (reply[i] == '|') {
        lines.push_back(entry);
        entry.clear();
      } else {
        entry += reply[i];
      }
    }
    return lines;
  }
  std::string Variables() override {
    std::string text(8192, '\0');
    const std::string command =
        "P" + std::to_string(kFirstVariable) + ".." + std::to_string(kFirstVariable + kLines - 1);
    ZimoGetResponseA(0, text.data(), static_cast<std::uint32_t>(text.size()), command.c_str());
    return text.c_str();
  }
  void AnswerCode3EveryThird() override {
    EXPECT_EQ(host_->Command("rotary-answer 0 every 3 3:40"), "ok");
  }
  SharedDeviceBlock& block() override { return server_->table()->Devices[0]; }

 private:
  zimo::testing::TempHome home_;
  testing::LibraryClock clock_;
  std::unique_ptr<testing::DriverHostProcess> host_;
  std::unique_ptr<testing::StandInServer> server_;
};

// The card in this process on a loopback address, device 0 an Ethernet
// device whose socket is open.
class EthRig : public Rig {
 public:
  EthRig() {
    table_.Register(0, 0, false);
    EXPECT_NE(EthOpen(0, testing::AddressNumber(address_)), nullptr);
    block().DprCardBase = 0xD000;
    block().CardMotorCount = 8;
    block().CardVariableCount = 1024;
  }
  void Type(const std::string& line) override { card_.card().Execute(line); }
  void Step(int cycles) override { card_.card().AdvanceServo(cycles); }
  Lines Log() override { return card_.card().MotionLog(); }
  std::string Variables() override {
    std::string text;
    for (int i = 0; i < kLines; ++i) {
      char value[32];
      std::snprintf(value, sizeof value, "%.10g\r", card_.card().PVar(kFirstVariable + i));
      text += value;
    }
    return text;
  }
  void AnswerCode3EveryThird() override { card_.card().ScriptRotaryAnswer(3, 40, 3); }
  SharedDeviceBlock& block() override { return table_.block(0); }

 private:
  zimo::testing::TempHome home_;
  std::string address_ = testing::UniqueLoopbackAddress();
  testing::EthTable table_;
  testing::EthCard card_{address_};
};

// Feeds the program line by line through the text export, stepping the
// card while it has no room.
void FeedLines(Rig& rig) {
  int waits = 0;
  for (int i = 0; i < kLines; ++i) {
    std::string text = ProgramLine(i);
    for (;;) {
      const int r = ZimoDPRAsciiStrToRotA(0, text.data(), 0);
      if (r == 0) break;
      ASSERT_TRUE(r == 1 || r == -1) << "line " << i << ": " << r;
      ASSERT_LT(++waits, 20000);
      rig.Step(5);
    }
  }
  std::string flush;
  for (int r = 1; r != 0;) {
    flush.clear();
    r = ZimoDPRAsciiStrToRotA(0, flush.data(), 0);
    ASSERT_LT(++waits, 20000);
    if (r != 0) rig.Step(5);
  }
}

// Feeds a file through one of the file feeders until its end.
void FeedFile(Rig& rig, std::FILE* file, std::int16_t (*feeder)(uint32_t, FILE*, uint32_t)) {
  int waits = 0;
  for (;;) {
    const int r = feeder(0, file, 0);
    if (r == 2) break;
    ASSERT_TRUE(r == 0 || r == 1 || r == -1) << r;
    if (r != 0) {
      ASSERT_LT(++waits, 20000);
      rig.Step(5);
    }
  }
}

std::FILE* ProgramFile() {
  std::FILE* file = std::tmpfile();
  std::fputs(ProgramText().c_str(), file);
  std::rewind(file);
  return file;
}

class RotaryCardTest : public ::testing::Test {
 protected:
  // The reference runs first, on a driver host of its own.
  void SetUp() override { Reference(); }

  // The reference: the text file fed into a PCI card's ring.
  static const Lines& Reference() {
    static const Lines* reference = [] {
      auto rig = std::make_unique<DriverHostRig>(kLocationPci, "pci older", "ZimoPCI0");
      rig->Prepare(false);
      std::FILE* file = ProgramFile();
      FeedFile(*rig, file, ZimoDPRAsciiFileToRot);
      std::fclose(file);
      auto* lines = new Lines(rig->Finish());
      EXPECT_EQ(rig->Variables(), ExpectedVariables());
      return lines;
    }();
    return *reference;
  }

  void Check(Rig& rig) {
    const Lines log = rig.Finish();
    EXPECT_EQ(rig.Variables(), ExpectedVariables());
    const Lines& reference = Reference();
    ASSERT_EQ(log.size(), reference.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
      ASSERT_EQ(log[i], reference[i]) << "entry " << i;
    }
  }
};

TEST_F(RotaryCardTest, ReferenceRunOnPci) {
  const Lines& log = Reference();
  ASSERT_FALSE(log.empty());
  for (const std::string& entry : log) {
    EXPECT_EQ(entry.rfind("&1 ", 0), 0u) << entry;
    EXPECT_EQ(entry.find("ERROR"), std::string::npos) << entry;
  }
  // A few entries as the card's log writes them.
  const auto has = [&](const std::string& entry) {
    for (const auto& e : log) {
      if (e == entry) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("&1 P100=P100+1"));
  EXPECT_TRUE(has("&1 WHILE(P2<3)"));
  EXPECT_TRUE(has("&1 ENABLE PLC 3"));
  EXPECT_TRUE(has("&1 DWELL1"));
  EXPECT_TRUE(has("&1 P(P3+107)=P(P3+107)+1"));
}

TEST_F(RotaryCardTest, TextFileOnIsa) {
  DriverHostRig rig(kLocationIsa, "isa older", "ZimoISA0");
  rig.Prepare(false);
  std::FILE* file = ProgramFile();
  FeedFile(rig, file, ZimoDPRAsciiFileToRot);
  std::fclose(file);
  Check(rig);
}

TEST_F(RotaryCardTest, BinaryCommandFileOnPci) {
  DriverHostRig rig(kLocationPci, "pci older", "ZimoPCI0");
  rig.Prepare(false);
  std::FILE* text = ProgramFile();
  std::FILE* binary = std::tmpfile();
  ASSERT_EQ(ZimoDPRAsciiToBinaryFile(0, text, binary), 2);
  std::rewind(binary);
  FeedFile(rig, binary, ZimoDPRBinaryFileToRot);
  std::fclose(text);
  std::fclose(binary);
  Check(rig);
}

TEST_F(RotaryCardTest, UsbStaged) {
  DriverHostRig rig(kLocationUsb, "usb older", "ZimoUSB0");
  rig.Prepare(false);
  FeedLines(rig);
  Check(rig);
}

TEST_F(RotaryCardTest, UsbStagedWithPartAnswers) {
  DriverHostRig rig(kLocationUsb, "usb older", "ZimoUSB0");
  rig.Prepare(false);
  rig.AnswerCode3EveryThird();
  FeedLines(rig);
  Check(rig);
}

TEST_F(RotaryCardTest, UsbHostSide) {
  DriverHostRig rig(kLocationUsb, "usb older", "ZimoUSB0");
  rig.Prepare(true);
  FeedLines(rig);
  Check(rig);
}

TEST_F(RotaryCardTest, EthernetStaged) {
  EthRig rig;
  rig.Prepare(false);
  FeedLines(rig);
  Check(rig);
}

TEST_F(RotaryCardTest, EthernetStagedWithPartAnswers) {
  EthRig rig;
  rig.Prepare(false);
  rig.AnswerCode3EveryThird();
  std::FILE* file = ProgramFile();
  FeedFile(rig, file, ZimoDPRAsciiFileToRot);
  std::fclose(file);
  Check(rig);
}

TEST_F(RotaryCardTest, EthernetHostSide) {
  EthRig rig;
  rig.Prepare(true);
  FeedLines(rig);
  Check(rig);
}

// Both forms arrive at an Ethernet card as request 0xC8 of buffer 0; the
// card runs each once.
TEST_F(RotaryCardTest, EthernetLinearInBothForms) {
  EthRig rig;
  rig.Prepare(false);
  char staged[] = "LINEAR";
  ASSERT_EQ(ZimoDPRAsciiStrToRotA(0, staged, 0), 0);
  SetBinRotHostMode(0, 1);
  char record[] = "LINEAR";
  ASSERT_EQ(ZimoDPRAsciiStrToRotA(0, record, 0), 0);
  EXPECT_EQ(rig.Finish(), (Lines{"&1 LINEAR", "&1 LINEAR"}));
}

}  // namespace
}  // namespace zimo::corvan
