// Malformed answers from the card: short, oversized, refused or missing.
// Each gives the request's failure result and the USB error, and none ever
// writes past a buffer (the sanitizer build checks that).
#include <functional>

#include "usb_fixture.h"

namespace zimo::drivers::testing {
namespace {

using cardsim::UsbFault;
namespace k = kernel::usb;

TEST_F(UsbTest, MalformedAnswersGiveTheFailureResultAndTheUsbError) {
  const int card = AddCard();
  auto get_line = [this] {
    Query(IOCTL_ZIMO_BUS_FLUSH);
    SendLine("I10");
    const LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_GET_LINE);
    return uint64_t{line.status} | line.count;
  };
  auto dpr_read = [this] {
    return Ioctl(IOCTL_ZIMO_DPR_READ, RecordBytes(uint32_t{0}), 100).count;
  };
  auto control = [this] {
    const LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_CONTROL_RESPONSE, 7);
    return uint64_t{line.status} | line.count;
  };
  auto line_ex = [this] {
    Query(IOCTL_ZIMO_BUS_FLUSH);
    SendLine("I10");
    const LineIoBlock line = LineCode(IOCTL_ZIMO_BUS_GET_LINE_EX);
    return uint64_t{line.status} | line.count;
  };
  auto download_status = [this] {
    Ioctl(IOCTL_ZIMO_DOWNLOAD_BLOCK, Bytes(std::string("I1=1\0XYZZY\0", 11)));
    return Query(IOCTL_ZIMO_DOWNLOAD_STATUS).count;
  };
  auto ready = [this] {
    Query(IOCTL_ZIMO_BUS_FLUSH);
    SendLine("I10");
    return Query(IOCTL_ZIMO_BUS_READ_READY).count;
  };
  auto read_back = [this] {
    return Ioctl(IOCTL_ZIMO_VENDOR_REQUEST, {usbreq::kReadBack}, 48).count;
  };

  struct Case {
    const char* what;
    uint8_t request;
    UsbFault fault;
    size_t bytes;
    std::function<uint64_t()> run;
    uint64_t result;
    int32_t usb_error;  // 0: the last USB error stays as it was
  } cases[] = {
      {"reply block too long", usbreq::kReadBlock, UsbFault::kOversized, 1, get_line, kLineTimeout,
       k::kUsbdDataOverrun},
      {"reply block refused", usbreq::kReadBlock, UsbFault::kStall, 0, get_line, kLineTimeout,
       k::kUsbdStall},
      {"reply block missing", usbreq::kReadBlock, UsbFault::kNoResponse, 0, get_line, kLineTimeout,
       k::kUsbdNotResponding},
      {"command refused", usbreq::kSendLine, UsbFault::kStall, 0, get_line, kLineTimeout,
       k::kUsbdStall},
      {"reply line too long", usbreq::kReadLine, UsbFault::kOversized, 300, line_ex, kLineCr | 0,
       k::kUsbdDataOverrun},
      {"DPR piece short", usbreq::kReadDpr, UsbFault::kShort, 50, dpr_read, 0, 0},
      {"DPR piece too long", usbreq::kReadDpr, UsbFault::kOversized, 4, dpr_read, 0,
       k::kUsbdDataOverrun},
      {"control answer too long", usbreq::kControlResponse, UsbFault::kOversized, 8, control,
       kLineEnd | 0, k::kUsbdDataOverrun},
      {"ready word too long", usbreq::kReadyWord, UsbFault::kOversized, 2, ready, 0,
       k::kUsbdDataOverrun},
      {"download status short", usbreq::kDownloadStatus, UsbFault::kShort, 2, download_status, 2,
       0},
      {"read-back too long", usbreq::kReadBack, UsbFault::kOversized, 16, read_back, 0,
       k::kUsbdDataOverrun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Port(card).ClearFaults();
    // A good exchange first, so that the error seen is this case's.
    ASSERT_EQ(Exchange("I10")[0].count, 8u);
    Port(card).ScriptFault(usbreq::kReadyWord, UsbFault::kStall);
    Query(IOCTL_ZIMO_BUS_READ_READY);
    const int32_t before = LastUsbError();
    ASSERT_EQ(before, k::kUsbdStall);

    Port(card).ScriptFault(c.request, c.fault, c.bytes);
    EXPECT_EQ(c.run(), c.result);
    EXPECT_EQ(LastUsbError(), c.usb_error != 0 ? c.usb_error : before);
    // The device goes on working.
    Port(card).ClearFaults();
    const std::vector<LineIoBlock> after = Exchange("I10");
    EXPECT_STREQ(after[0].text, "3713707\r");
  }
}

// The identification at start reads 7 bytes; a short or refused answer
// matches no model, so the card is taken as a newer one with the large layout.
TEST_F(UsbTest, ABadIdentificationAnswerFallsBackToTheNewerCard) {
  const int card = AddCard(UsbCard(0));
  for (UsbFault fault : {UsbFault::kShort, UsbFault::kStall, UsbFault::kOversized}) {
    SCOPED_TRACE(static_cast<int>(fault));
    // The older small-layout card asks for its mailbox word.
    Port(card).ClearLog();
    Query(IOCTL_ZIMO_BUS_READ_READY);
    ASSERT_EQ(RequestCodes(card), std::vector<uint8_t>{usbreq::kReadDpr});

    Port(card).ScriptFault(usbreq::kIdentify, fault, 3);
    ASSERT_EQ(host_->StopCard(card), kernel::kStatusSuccess);
    ASSERT_EQ(host_->StartCard(card), kernel::kStatusSuccess);
    Port(card).ClearLog();
    Query(IOCTL_ZIMO_BUS_READ_READY);
    EXPECT_EQ(RequestCodes(card), std::vector<uint8_t>{usbreq::kReadyWord});
    EXPECT_EQ(Ioctl(IOCTL_ZIMO_BUS_SEND_CHAR, {'K'}).count, 1u);  // a newer card's answer
    // A good identification brings the older card back.
    ASSERT_EQ(host_->StopCard(card), kernel::kStatusSuccess);
    ASSERT_EQ(host_->StartCard(card), kernel::kStatusSuccess);
  }
}

}  // namespace
}  // namespace zimo::drivers::testing
