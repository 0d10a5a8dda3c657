// Error texts, start-up of a card record, the last-error words, the settings
// file and the string helpers.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "jux/jux170.h"
#include "platform/message.h"
#include "platform/registry.h"
#include "src/internal.h"
#include "temp_home.h"

namespace {

namespace p = zimo::platform;

std::string Text(tagMCardInfo* record, int* result = nullptr, int size = 400) {
  char buffer[400];
  std::memset(buffer, 'x', sizeof(buffer));
  const int r = PGetLastErrorString(record, buffer, size);
  if (result != nullptr) *result = r;
  return buffer;
}

tagMCardInfo Image(int method, int simulated) {
  tagMCardInfo image;
  std::memset(&image, 0, sizeof(image));
  std::strcpy(image.name, "VOCTO");
  image.method = method;
  image.simulated = simulated;
  image.retries = 3;
  image.timeout = 100;
  return image;
}

// Closes every record a test leaves open, so the table is empty for the next.
struct Records {
  std::vector<tagMCardInfo*> open;
  tagMCardInfo* Init(tagMCardInfo image) {
    tagMCardInfo* r = JUXInit(&image);
    if (r != nullptr) open.push_back(r);
    return r;
  }
  ~Records() {
    for (tagMCardInfo* r : open) JUXShutDown(&r);
  }
};

TEST(ErrorTexts, TextsAreTheTableOnesByteForByte) {
  struct Case {
    long code;
    const char* text;
  };
  // The whole table, as the system shows it.
  const Case cases[] = {
      {0, "No errors to report."},
      {50, "ZIMO Error Codes"},
      {51,
       "Command not allowed during motion program execution.  Quit or abort the program first."},
      {52,
       "Bad or no password.  Enter a valid password before attempting to modify the code.  (See "
       "ZIMO manual for more info)."},
      {53,
       "Syntax error, unrecognized command, or bad program structure (i.e. missing ENDIF or "
       "ENDWHILE)"},
      {54, "Invalid character received (i.e. ASCII value > 128) or serial parity/framing error. "},
      {55, "Command must be an on-line command (see ZIMO manual)."},
      {56, "ZIMO's memory is completely full."},
      {57, "Buffer already in use. An OPEN command was already issued."},
      {58, "Buffer"},
      {59, "Improperly structured program (i.e. missing ENDIF or ENDWHILE)."},
      {60,
       "Both overtravel limits set for a motor in the coordinate system  (see Ix25 or ground "
       "limits on terminal block)."},
      {61, "Previous move not completed.  Issue an ABORTor allow move to complete."},
      {62, "A motor in the coordinate system is open-loop.  Close the loop on the motor with J/."},
      {63,
       "A motor in the coordinate system is not activated.  Set Ix00 to 1 or remove motor from "
       "coordinate system."},
      {64, "No motors in the coordinate system. Define at least 1 motor in the coordinate system."},
      {65,
       "Not pointing to valid program buffer. Use the B command first, or clear out scrambled "
       "buffers."},
      {66, "Running improperly structured program (i.e. missing ENDIF or ENDWHILE)."},
      {67, "Trying to restart program without first doing a J= to go to last position."},
      {1000, "Initialization Errors"},
      {1001, "Out of Memory"},
      {1005, "Bad parameter passed, tagMCardInfo"},
      {1006,
       "No communications established; use simulated communications mode if you are going to call "
       "this function without first establishing communications."},
      {1007, "Max number of cards reached (8)."},
      {1008, "Driver has just been registered,  please reboot."},
      {1009, "Unable to start supporting driver."},
      {1010, "Dual Ported Memory address chosen already in use by another device."},
      {1011, "Bus port address already in use by another device."},
      {2000, "Bus Error Codes"},
      {2001, "Can't find ZIMO (check bus address settings)."},
      {2002, "Bus Receive Timeout (try increasing timeout)."},
      {2003, "No bus communications established  (Try increasing Timeout)"},
      {2004,
       "Bus Send Timeout Error.   Could be a PLC locking out communications.  If so, try using "
       "E51."},
      {3000, "Serial Error Codes"},
      {3001, "Bad port number for initialization (1-16 are valid)."},
      {3002, "Bad baudrate chosen for initialization."},
      {3003,
       "Serial Send Timeout.  Could be a PLC locking out communications.  If so, try using E51."},
      {3004, "Serial Receive Timeout. Try increasing timeout."},
      {3005, "The hardware detected a break condition."},
      {3006, "The hardware detected a framing error."},
      {3007, "An I/O error occurred during communications with the device."},
      {3008, "A character-buffer overrun has occurred. The next character is lost."},
      {3009, "The hardware detected a parity error."},
      {3010, "The application tried to transmit a character but the output buffer was full."},
      {3011,
       "An input buffer overflow has occurred.  There is either no room in the input buffer, or a "
       "character was received after the end-of-file (EOF) character."},
      {3012,
       "Couldn't find ZIMO board at port or  baudrate specified. Check jumper settings, cable, "
       "timeout."},
      {3013, "CreateFile() API failed.  Communication port may already be in use."},
      {3014, "GetCommState() API failed."},
      {3015, "SetCommState() API failed."},
      {4000, "DPR Error Codes"},
      {4001, "Dual Ported Ram Error"},
      {4002,
       "DPR Send Timeout Error.   Could be a PLC locking out communications.  If so, try using "
       "E51."},
      {4003, "No DPR communications established."},
      {4004, "DPR Receive Timeout (try increasing timeout)."},
      {4005,
       "Intialization error.  Unable to establish communications to DPR.  Check base address"},
      {5000, "GENERAL Run timer Error"},
      {5001, " String too long (>255).  See GetResponse() "},
      {5002, "Upload Failed"},
      {5003, "Download Failed"},
  };
  for (const Case& c : cases) {
    PSetLastError(nullptr, c.code);
    int result = -1;
    EXPECT_EQ(Text(nullptr, &result), c.text) << c.code;
    EXPECT_EQ(result, 1) << c.code;
  }
  // Codes without a text.
  for (long code : {1002L, 1003L, 1004L, 68L, 4006L}) {
    PSetLastError(nullptr, code);
    int result = -1;
    EXPECT_EQ(Text(nullptr, &result), "Unknown?") << code;
    EXPECT_EQ(result, 0);
  }
  tagMCardInfo record = Image(3, 1);
  record.last_error = 1002;
  int result = -1;
  EXPECT_EQ(Text(&record, &result), "Unknown");
  EXPECT_EQ(result, 0);
  // Cut to the buffer with its terminator.
  record.last_error = 58;
  EXPECT_EQ(Text(&record, &result, 4), "Buf");
}

TEST(ErrorTexts, CardErrorRepliesGiveFiftyPlusTheNumber) {
  struct Case {
    const char* reply;
    int32_t code;  // 0: none stored
  };
  const Case cases[] = {
      {"\aERR015\r", 65}, {"\aERR\r", 53}, {"\aERR003\r", 53}, {"1\r\aERR017\r", 67},
      {"\a\r", 0},        {"\aE\r", 0},    {"\aERR1\r", 51},
  };
  for (const Case& c : cases) {
    tagMCardInfo record;
    std::memset(&record, 0, sizeof(record));
    EXPECT_EQ(jux::StoreCardError(&record, c.reply, std::strlen(c.reply)), 0);
    EXPECT_EQ(record.last_error, c.code) << c.reply;
  }
}

TEST(ErrorTexts, LastErrorFallsBackToTheGlobalOne) {
  tagMCardInfo record = Image(3, 1);
  PSetLastError(nullptr, 1007);
  PSetLastError(&record, 2002);
  EXPECT_EQ(PGetLastError(&record), 2002);
  record.send_status = -1234;
  EXPECT_EQ(PGetLastError(&record), 1007);
  EXPECT_EQ(PGetLastError(nullptr), 1007);
  EXPECT_EQ(PGetLastGlobalError(), 1007);
}

class Startup : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
  p::MessageRecorder boxes_;
  p::ScopedMessageService scoped_{boxes_};
  Records records_;
};

TEST_F(Startup, NullImageAndNinthRecordFailGlobally) {
  EXPECT_EQ(JUXInit(nullptr), nullptr);
  EXPECT_EQ(PGetLastGlobalError(), 1005);
  for (int i = 0; i < 8; ++i) ASSERT_NE(records_.Init(Image(3, 1)), nullptr);
  tagMCardInfo ninth = Image(3, 1);
  EXPECT_EQ(JUXInit(&ninth), nullptr);
  EXPECT_EQ(PGetLastGlobalError(), 1007);
  // Slots are distinct; a closed record's slot is handed out again.
  std::vector<int> slots;
  for (tagMCardInfo* r : records_.open) slots.push_back(r->slot);
  std::sort(slots.begin(), slots.end());
  EXPECT_EQ(slots, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  tagMCardInfo* third = records_.open[2];
  const int freed = third->slot;
  ASSERT_EQ(JUXShutDown(&third), 1);
  EXPECT_EQ(third, nullptr);
  records_.open.erase(records_.open.begin() + 2);
  tagMCardInfo* again = records_.Init(Image(3, 1));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->slot, freed);
}

TEST_F(Startup, SimulatedRecordAnswersEveryCallWithEmptyText) {
  tagMCardInfo image = Image(3, 1);
  image.serial_handle = 0x1234;
  image.dpr_view = 0x5678;
  image.mailbox = 0x5678 + 1580;
  tagMCardInfo* r = records_.Init(image);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(boxes_.count(), 0u);
  EXPECT_FALSE(HwIsDriverConfigured());  // never checked
  EXPECT_EQ(r->timeout, 100);            // returned as it is
  // Stale handle words never reach the new record.
  EXPECT_EQ(r->serial_handle, 0u);
  EXPECT_EQ(r->dpr_view, 0u);
  EXPECT_EQ(r->mailbox, 0u);
  char buffer[8] = "old";
  EXPECT_EQ(PSendChar(r, 'x'), 1);
  EXPECT_EQ(PSendLine(r, "P1"), 1);
  EXPECT_EQ(PSendLine(r, nullptr), 1);
  EXPECT_EQ(PSendCommand(r, "P1"), 1);
  EXPECT_EQ(PFlush(r), 1);
  EXPECT_EQ(PGetLine(r, buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "old");
  EXPECT_EQ(PGetLineCR(r, buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "old");
  EXPECT_EQ(PGetControlResponse(r, buffer, sizeof(buffer), 2), 1);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "old");
  EXPECT_EQ(PGetResponse(r, buffer, sizeof(buffer), "I10"), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(PGetResponse(r, buffer, sizeof(buffer), nullptr), 1);
  // 254 characters pass, 255 are refused before anything else.
  std::string command(254, 'A');
  EXPECT_EQ(PGetResponse(r, buffer, sizeof(buffer), command.c_str()), 1);
  command.push_back('A');
  EXPECT_EQ(PGetResponse(r, buffer, sizeof(buffer), command.c_str()), 0);
  EXPECT_EQ(r->last_error, 5001);
}

TEST_F(Startup, BusMethodRegistersTheDriverAndAsksForAReboot) {
  EXPECT_EQ(HwIsDriverConfigured(), 0);
  EXPECT_EQ(records_.Init(Image(0, 1)), nullptr);
  EXPECT_EQ(PGetLastGlobalError(), 1008);
  const auto boxes = boxes_.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "The ZIMO Communications driver has been configured in your registry");
  EXPECT_EQ(boxes[0].caption, "Vocto Info");
  EXPECT_EQ(boxes[1].text, "Please reboot your system");
  EXPECT_EQ(boxes[1].caption, "Vocto Info");
  EXPECT_EQ(boxes[1].flags, p::kMbOk);
  EXPECT_EQ(HwIsDriverConfigured(), 1);

  // Configured, but nothing can start it: the service has no program.
  boxes_.Clear();
  EXPECT_EQ(records_.Init(Image(1, 1)), nullptr);
  EXPECT_EQ(PGetLastGlobalError(), 1009);
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->caption, "Info");
  EXPECT_EQ(boxes_.last()->text.rfind(
                "Unable to start supporting device driver.  Reported Last Error: ", 0),
            0u)
      << boxes_.last()->text;
  EXPECT_NE(boxes_.last()->text.back(), ' ');
}

TEST_F(Startup, HelperDriverKeysAreWrittenAsTheSystemExpects) {
  EXPECT_EQ(HwConfigureDriver(), 1);
  EXPECT_EQ(HwConfigureDriver(), 1);
  auto service =
      p::RegistryKey::Open(p::kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Tqa58");
  ASSERT_TRUE(service.ok());
  EXPECT_EQ(*service->GetDword("ErrorControl"), 1u);
  EXPECT_EQ(*service->GetDword("Start"), 2u);
  EXPECT_EQ(*service->GetDword("Type"), 1u);
  EXPECT_TRUE(p::RegistryKey::Exists(
      p::kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Tqa58\\Parameters\\_Default"));
  auto events = p::RegistryKey::Open(
      p::kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Tqa58");
  ASSERT_TRUE(events.ok());
  auto file = events->GetValue("EventMessageFile");
  ASSERT_TRUE(file.ok());
  EXPECT_EQ(file->type, p::kRegExpandSz);
  EXPECT_EQ(*events->GetString("EventMessageFile"),
            "%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers\\Tqa58.sys");
  EXPECT_EQ(*events->GetDword("TypesSupported"), 7u);
}

// The record's 32-bit word at byte offset `at`, as a caller of the library
// sees the 352-byte image.
uint32_t WordAt(const tagMCardInfo* r, std::size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, reinterpret_cast<const unsigned char*>(r) + at, sizeof v);
  return v;
}

TEST_F(Startup, HandleWordsOfTheImageAreClearedInTheRecord) {
  // Words 320 (COM port), 340 (DPR view) and 344 (mailbox) of an image a
  // settings file gave back: a simulated record, and one whose open fails.
  tagMCardInfo simulated = Image(3, 1);
  tagMCardInfo unserved = Image(2, 0);
  unserved.com_port = 9;
  unserved.baud_rate = 38400;
  for (tagMCardInfo* image : {&simulated, &unserved}) {
    auto* bytes = reinterpret_cast<unsigned char*>(image);
    const uint32_t stale[3] = {0x1234, 0x7F000000, 0x7F000000 + 1580};
    std::memcpy(bytes + 320, &stale[0], 4);
    std::memcpy(bytes + 340, &stale[1], 4);
    std::memcpy(bytes + 344, &stale[2], 4);
    tagMCardInfo* r = records_.Init(*image);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(WordAt(r, 320), 0u) << image->simulated;
    EXPECT_EQ(WordAt(r, 340), 0u) << image->simulated;
    EXPECT_EQ(WordAt(r, 344), 0u) << image->simulated;
    // The caller's image is its own.
    EXPECT_EQ(WordAt(image, 340), 0x7F000000u);
  }
}

TEST_F(Startup, FailedOpenKeepsTheRecordAndAnswers1006) {
  // A serial card on a port nobody serves: the open fails, the record stays.
  tagMCardInfo image = Image(2, 0);
  image.com_port = 9;
  image.baud_rate = 38400;
  tagMCardInfo* r = records_.Init(image);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->connected, 0);
  EXPECT_EQ(r->timeout, 500);
  EXPECT_EQ(PGetLastGlobalError(), 3013);
  char buffer[16];
  EXPECT_EQ(PSendLine(r, "P1"), 0);
  EXPECT_EQ(r->last_error, 1006);
  r->last_error = 0;
  EXPECT_EQ(PGetResponse(r, buffer, sizeof(buffer), "P1"), 0);
  EXPECT_EQ(r->last_error, 1006);
  EXPECT_EQ(PFlush(r), 0);
  // A record that is not open is not shut down.
  tagMCardInfo other = Image(3, 1);
  tagMCardInfo* pointer = &other;
  EXPECT_EQ(JUXShutDown(&pointer), 0);
  EXPECT_EQ(pointer, &other);
}

TEST(TimeoutWord, RaisedTo500OnOpen) {
  zimo::testing::TempHome home;
  Records records;
  for (int timeout : {100, 800}) {
    tagMCardInfo image = Image(2, 0);
    image.com_port = 0;  // refused at once
    image.timeout = timeout;
    tagMCardInfo* r = records.Init(image);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->timeout, timeout < 500 ? 500 : timeout);
    EXPECT_EQ(PGetLastGlobalError(), 3001);
  }
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(home_.path());
  }
  void TearDown() override { std::filesystem::current_path(old_); }
  zimo::testing::TempHome home_;
  std::filesystem::path old_;
};

TEST_F(SettingsFile, StoreAndRestoreTheWholeRecord) {
  EXPECT_EQ(PFirstTime("VOCTO"), 1);
  tagMCardInfo image;
  for (size_t i = 0; i < sizeof(image); ++i) reinterpret_cast<uint8_t*>(&image)[i] = uint8_t(i * 7);
  image.name[259] = '\0';
  ASSERT_EQ(PStoreState(&image, "VOCTO"), 1);
  EXPECT_EQ(PFirstTime("VOCTO"), 0);
  EXPECT_EQ(std::filesystem::file_size(home_.path() / "VOCTO.CFG"), 352u);
  tagMCardInfo back;
  std::memset(&back, 0, sizeof(back));
  ASSERT_EQ(PRestoreState(&back, "VOCTO"), 1);
  EXPECT_EQ(std::memcmp(&back, &image, sizeof(image)), 0);

  // A short file fills only the bytes it has.
  {
    std::ofstream f(home_.path() / "SHORT.CFG", std::ios::binary);
    f.write("\x05\x00\x00\x00\x07", 5);
  }
  std::memset(&back, 0xAA, sizeof(back));
  ASSERT_EQ(PRestoreState(&back, "SHORT"), 1);
  EXPECT_EQ(back.last_error, 5);
  EXPECT_EQ(static_cast<uint32_t>(back.send_status), 0xAAAAAA07u);
  EXPECT_EQ(back.method, static_cast<int32_t>(0xAAAAAAAA));

  EXPECT_EQ(PRestoreState(&back, "MISSING"), 0);
  EXPECT_EQ(PRestoreState(&back, ""), 0);
  EXPECT_EQ(PRestoreState(&back, nullptr), 0);
  EXPECT_EQ(PStoreState(&image, ""), 0);
  EXPECT_EQ(PStoreState(nullptr, "X"), 0);
}

TEST_F(SettingsFile, RestoredImageWithStaleHandlesIsHarmless) {
  tagMCardInfo image = Image(3, 1);
  image.serial_handle = 7;
  image.dpr_view = 0x7F000000;
  image.mailbox = 0x7F000000 + 1580;
  image.dpr_open = 1;
  ASSERT_EQ(PStoreState(&image, "OLD"), 1);
  tagMCardInfo back;
  ASSERT_EQ(PRestoreState(&back, "OLD"), 1);
  Records records;
  tagMCardInfo* r = records.Init(back);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(PDPRGetWord(r, 'X', 3), 0);
  EXPECT_EQ(r->last_error, 4003);
  EXPECT_EQ(PDPRSetDWord(r, 0, 1), 0);
  EXPECT_EQ(PDPRDWordBitSet(r, 0, 1), 0);
}

TEST(StringHelpers, StripControlAndWhiteSpace) {
  char a[] = "\x18P1\r\x06 = 5\t\r";
  EXPECT_STREQ(szStripControlChar(a), "P1 = 5");
  char b[] = " P 1\t=\v5\f\r\n";
  EXPECT_STREQ(szStripWhiteSpace(b), "P1=5");
  EXPECT_EQ(szStripControlChar(nullptr), nullptr);
}

TEST(CardWords, FloatingAndFixedConversions) {
  EXPECT_EQ(PDPRDouble(0x000801, 0x400000), 2.0);
  EXPECT_EQ(PDPRDouble(0x000801, 0), 0.0);
  EXPECT_EQ(PDPRDouble(0x000801, -0x400000), -2.0);
  EXPECT_EQ(PDPRFixed(0xFFFFFF, -1), -1.0);
  EXPECT_EQ(PDPRFixed(1, 1), 16777217.0);
}

}  // namespace
