// The control's binding, gates, reply clean-up and errors, against the
// stand-in library.
#include "voctoks_fixture.h"

namespace zimo::voctoks::testing {
namespace {

using automation::Bstr;
using automation::kMethod;
using automation::kPropertyGet;
using automation::kPropertyPut;

TEST_F(VoctoKSTest, ADisabledControlRefusesCommandsAndLeavesTheOutStringAlone) {
  CVoctoKSCtrl& c = Make();
  ASSERT_FALSE(c.AmbientUserMode() && c.device_open());
  Variant response(Bstr(u"kept"));
  EXPECT_EQ(CallById(17, {Variant::ByRef(&response, automation::VT_BSTR), Variant(Bstr(u"I10"))}),
            Variant(false));
  EXPECT_EQ(response, Variant(Bstr(u"kept")));
  EXPECT_EQ(CallById(49, {Variant(Bstr(u"I10"))}), Variant(false));
  EXPECT_TRUE(fake_->calls.empty());
}

TEST_F(VoctoKSTest, ASimulatedEnabledControlAnswersWithoutTheLibrary) {
  CVoctoKSCtrl& c = Make();
  c.put_Enabled(true);  // simulated by default: nothing is opened
  Variant response(Bstr(u"kept"));
  EXPECT_EQ(CallById(17, {Variant::ByRef(&response, automation::VT_BSTR), Variant(Bstr(u"I10"))}),
            Variant(true));
  EXPECT_EQ(response, Variant(Bstr(u"kept")));
  EXPECT_EQ(CallById(49, {Variant(Bstr(u"I10"))}), Variant(true));
  EXPECT_EQ(CallById(50, {}), Variant(false));
  EXPECT_EQ(CallById(25, {Variant(7)}), Variant(0));
  int32_t last_error = -1;
  c.get_LastError(&last_error);
  EXPECT_EQ(last_error, 0);  // no 4003
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(fake_->calls.empty());
}

TEST_F(VoctoKSTest, CtrlTIsNeverSentOnAnOpenDevice) {
  MakeOpen();
  Variant response(Bstr(u"kept"));
  EXPECT_EQ(CallById(18, {Variant::ByRef(&response, automation::VT_BSTR), Variant(20)}),
            Variant(true));
  EXPECT_TRUE(fake_->calls.empty());
  EXPECT_EQ(response, Variant(Bstr(u"kept")));
}

TEST_F(VoctoKSTest, RepliesLoseTheirClosingCarriageReturn) {
  MakeOpen();
  struct Case {
    std::string reply;
    int64_t count;
    std::u16string text;
  };
  const Case cases[] = {
      {"1234\r", 5, u"1234"},
      {"\r", 1, u""},
      {"12\r3", 4, u"12"},
      {"", 0, u""},
      // The status bits above the count do not count.
      {"99\r", 0x10000003, u"99"},
  };
  for (const Case& k : cases) {
    fake_->reply = k.reply;
    fake_->reply_count = k.count;
    Variant response;
    EXPECT_EQ(CallById(17, {Variant::ByRef(&response, automation::VT_BSTR), Variant(Bstr(u"I10"))}),
              Variant(true));
    EXPECT_EQ(response, Variant(Bstr(k.text))) << k.count;
  }
  EXPECT_EQ(fake_->Count("ZimoGetResponseExA(0,16999,I10)"), 5);
}

TEST_F(VoctoKSTest, DprWordsAreAddressedInBytesWithTheXHalfAboveTheY) {
  MakeOpen();
  fake_->word = 0x1234;
  EXPECT_EQ(CallById(23, {Variant(int32_t{'X'}), Variant(5)}), Variant(int16_t{0x1234}));
  EXPECT_EQ(CallById(23, {Variant(int32_t{'Y'}), Variant(5)}), Variant(int16_t{0x1234}));
  EXPECT_EQ(CallById(26, {Variant(3), Variant(9)}), Variant(true));
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{"ZimoDPRGetWord(0,22)", "ZimoDPRGetWord(0,20)",
                                                    "ZimoDPRSetDWord(0,12,9)"}));
}

TEST_F(VoctoKSTest, WithoutDprTheDprMethodsRaise4003AndFail) {
  fake_->dpram_available = 0;
  MakeOpen();
  EXPECT_EQ(CallById(24, {Variant(int32_t{'Y'}), Variant(1), Variant(int16_t{2})}), Variant(false));
  EXPECT_EQ(CallById(42, {Variant(Bstr(u"X10")), Variant(int16_t{0})}), Variant(int16_t{-1}));
  const ErrorEvent e{4003, "No DPR communications established.  Bus will be used instead."};
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{e, e}));
  EXPECT_TRUE(fake_->calls.empty());
}

TEST_F(VoctoKSTest, ALibraryErrorFiresOnErrorOnceAndTheReplyIsStillHandedBack) {
  CVoctoKSCtrl& c = MakeOpen();
  fake_->reply = "ERR003\r";
  fake_->error_code = 53;
  fake_->error_text = "Illegal command";
  Variant response;
  EXPECT_EQ(CallById(17, {Variant::ByRef(&response, automation::VT_BSTR), Variant(Bstr(u"XYZ"))}),
            Variant(false));
  EXPECT_EQ(response, Variant(Bstr(u"ERR003")));
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{53, "Illegal command"}}));
  Variant last;
  EXPECT_EQ(c.Invoke(3, kPropertyGet, {}, &last, nullptr), automation::S_OK);
  EXPECT_EQ(last, Variant(Bstr(u"Illegal command")));
  // The lock is taken before the exchange and given back after the check.
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{
                              "LockZimo(0)", "ZimoGetResponseExA(0,16999,XYZ)", "ZimoGetError(0)",
                              "ZimoGetErrorStrA(0,255)", "ReleaseZimo(0)"}));
  EXPECT_TRUE(c.device_open());
}

TEST_F(VoctoKSTest, AFailedSendLineIsReportedAsAFailure) {
  MakeOpen();
  fake_->send_line_result = 0xFFFFFFFF;
  fake_->error_code = 1010;
  fake_->error_text = "Write failed";
  EXPECT_EQ(CallById(49, {Variant(Bstr(u"P1"))}), Variant(false));
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{1010, "Write failed"}}));
  fake_->send_line_result = 1;
  fake_->error_code = 0;
  EXPECT_EQ(CallById(49, {Variant(Bstr(u"P1"))}), Variant(true));
}

TEST_F(VoctoKSTest, ASendLineTheCardTookDoesNotReportAnEarlierError) {
  MakeOpen();
  // A reply that was a card error leaves the library's error behind.
  fake_->reply = "ERR003\r";
  fake_->error_code = 53;
  fake_->error_text = "Illegal command";
  Variant response;
  EXPECT_EQ(CallById(17, {Variant::ByRef(&response, automation::VT_BSTR), Variant(Bstr(u"XYZ"))}),
            Variant(false));
  ASSERT_EQ(errors_.size(), 1u);
  fake_->calls.clear();
  fake_->send_line_result = 1;
  EXPECT_EQ(CallById(49, {Variant(Bstr(u"P1"))}), Variant(true));
  EXPECT_EQ(errors_.size(), 1u);
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{"ZimoSendLineA(0,P1)"}));
}

// Leaves the stack below the caller full of non-zero bytes, so that a
// method called next from the same place finds them in its own buffers.
[[gnu::noinline]] void DirtyTheStack() {
  constexpr std::size_t kSize = 256 * 1024;
  volatile char junk[kSize];
  for (std::size_t i = 0; i < kSize; ++i) junk[i] = 'J';
}

TEST_F(VoctoKSTest, AnUnsolicitedMessageIsTakenIntoAnEmptyBuffer) {
  MakeOpen();
  // A take that ends with the ring's unread text writes no terminator: what
  // follows it must be the empty buffer's zeros, not whatever the stack held.
  fake_->unsolicited = "AB";
  Variant response;
  DirtyTheStack();
  EXPECT_EQ(CallById(51, {Variant::ByRef(&response, automation::VT_BSTR)}), Variant(true));
  EXPECT_TRUE(fake_->unsolicited_buffer_was_empty);
  EXPECT_EQ(response, Variant(Bstr(u"AB")));
}

TEST_F(VoctoKSTest, AnUnsolicitedMessageCutAtTheLimitIsStillOneString) {
  MakeOpen();
  fake_->unsolicited = std::string(16999, 'A');
  Variant response;
  EXPECT_EQ(CallById(51, {Variant::ByRef(&response, automation::VT_BSTR)}), Variant(true));
  EXPECT_EQ(response.bstr().size(), 16999u);
  fake_->unsolicited = "\rAB";
  EXPECT_EQ(CallById(51, {Variant::ByRef(&response, automation::VT_BSTR)}), Variant(true));
  EXPECT_EQ(response, Variant(Bstr(u"")));  // only a leading CR is looked at
}

TEST_F(VoctoKSTest, ADeviceNumberBeyondTheDevicesIsRefusedAndLeavesTheControlDisabled) {
  CVoctoKSCtrl& c = MakeOpen();
  site_.changed.clear();
  EXPECT_EQ(c.CallByName("DeviceNumber", kPropertyPut, {Variant(3)}), automation::S_OK);
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{
                         {1016, "Invalid ZIMO Device Number, Go to CARDSETUP.EXE application."}}));
  Variant v;
  c.CallByName("DeviceNumber", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(0));
  c.CallByName("LastError", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(1016));
  c.CallByName("Enabled", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(false));
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{"CloseZimoDevice(0)"}));
  EXPECT_EQ(site_.changed, (std::vector<automation::DispId>{-514}));
  // A number in range is stored and notified; the control stays disabled.
  EXPECT_EQ(c.CallByName("DeviceNumber", kPropertyPut, {Variant(1)}), automation::S_OK);
  c.CallByName("DeviceNumber", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(1));
  EXPECT_EQ(site_.changed.back(), 2);
}

TEST_F(VoctoKSTest, SelectDeviceCancelledSwitchesToSimulationAndChosenOpensTheDevice) {
  CVoctoKSCtrl& c = MakeOpen();
  fake_->select_result = -1;
  EXPECT_EQ(CallById(54, {}), Variant(false));
  Variant v;
  c.CallByName("SimulateCommunication", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(true));
  c.CallByName("Enabled", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(false));

  fake_->select_result = 1;
  fake_->calls.clear();
  EXPECT_EQ(CallById(53, {}), Variant(true));
  c.CallByName("DeviceNumber", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(1));
  EXPECT_TRUE(c.device_open());
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{"ZimoSelect(0)", "OpenZimoDevice(1)",
                                                    "ZimoGetDpramAvailable(1)"}));
}

TEST_F(VoctoKSTest, EnablingInDesignModeOnlyProbesTheDevice) {
  site_.user_mode = false;
  CVoctoKSCtrl& c = Make();
  c.put_SimulateCommunication(false);
  site_.changed.clear();
  c.put_Enabled(true);
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{"OpenZimoDevice(0)", "CloseZimoDevice(0)"}));
  EXPECT_FALSE(c.device_open());
  EXPECT_EQ(site_.changed, (std::vector<automation::DispId>{-514}));
  c.put_Enabled(false);
  fake_->open_result = 0;
  c.put_Enabled(true);
  bool enabled = true;
  c.get_Enabled(&enabled);
  EXPECT_FALSE(enabled);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].code, 1009);
}

TEST_F(VoctoKSTest, ALibraryWithoutZimoSelectIsRefusedWithOneBoxAndFreed) {
  UseLibrary(FAKE_CORVAN_NOSELECT);
  ASSERT_TRUE(library_.Free().ok());  // only the control holds it now
  CVoctoKSCtrl& c = Make();
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "Error in loading library function: ZimoSelect");
  EXPECT_EQ(boxes_.last()->caption, "");
  EXPECT_FALSE(c.bound());
  EXPECT_FALSE(platform::IsModuleLoaded(FAKE_CORVAN_NOSELECT));
}

TEST_F(VoctoKSTest, WithoutTheLibraryTheControlSaysSoAndKeepsItsDefaults) {
  SetCorvanLibraryName((work_ / "missing" / "libcorvan32.so").string());
  CVoctoKSCtrl& c = Make();
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "Error in loading ZIMO library.");
  EXPECT_EQ(boxes_.last()->caption, "ZIMO");
  EXPECT_EQ(boxes_.last()->flags & platform::kMbIconMask, platform::kMbIconError);
  EXPECT_EQ(errors_,
            (std::vector<ErrorEvent>{{1015, "Unable to load supporting driver, ZIMO.DLL."}}));
  Variant v;
  c.CallByName("DownloadShowErrors", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(false));
  c.CallByName("UploadHide", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(true));
  c.CallByName("UploadShowProgress", kPropertyGet, {}, &v);
  EXPECT_EQ(v, Variant(true));
  EXPECT_EQ(CallById(54, {}), Variant(false));
  EXPECT_EQ(boxes_.last()->text, "Unable to load Vocto's supporting driver, ZIMO.DLL");
  EXPECT_EQ(boxes_.last()->caption, "Error");
  // Nothing reaches a library that is not there, even when the container
  // stored the control enabled.
  controls::PropertyBag bag;
  bag.Write("Enabled", "1");
  c.Load(bag);
  c.CallByName("Enabled", kPropertyGet, {}, &v);
  ASSERT_EQ(v, Variant(true));
  EXPECT_EQ(CallById(32, {Variant(1), Variant(2)}), Variant(0.0));
  EXPECT_EQ(CallById(39, {}), Variant(false));
  EXPECT_FALSE(std::filesystem::exists(work_ / "VOCTO0.INI"));
}

}  // namespace
}  // namespace zimo::voctoks::testing
