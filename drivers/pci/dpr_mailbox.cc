// The ASCII mailbox in the card's dual-ported RAM: the host writes one
// command line (or control character) at a time, the card posts its reply
// one entry at a time. Two layouts; the card type picks one.
#include <cstdio>
#include <cstring>

#include "common/card_framing.h"
#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

struct Layout {
  size_t host_flag;
  size_t control;
  size_t host_text;
  size_t card_status;
  size_t card_count;
  size_t card_text;
};

constexpr Layout kOlder{0x062C, 0x062E, 0x0630, 0x06D0, 0x06D2, 0x06D4};
constexpr Layout kSpran{0x0E9C, 0x0E9E, 0x0EA0, 0x0F40, 0x0F42, 0x0F44};

constexpr uint32_t kPollStall = 5;
constexpr int kPolls = 5000;
constexpr size_t kMaxCommand = 159;
constexpr uint32_t kMaxReply = 255;

bool Spran(const DeviceExtension& ext) { return ext.card_type > 5; }
const Layout& LayoutOf(const DeviceExtension& ext) { return Spran(ext) ? kSpran : kOlder; }

// Waits for the card to take the previous command (flag back to 0).
bool WaitHostFlag(DeviceExtension& ext) {
  const Layout& l = LayoutOf(ext);
  for (int i = 0; i < kPolls; ++i) {
    if (ext.dpr->Read16(l.host_flag) == 0) return true;
    Stall(ext, kPollStall);
  }
  return false;
}

void ClearCardStatus(DeviceExtension& ext) {
  ext.dpr->Write16(LayoutOf(ext).card_status, 0);
  ext.dpr->Barrier();
}

}  // namespace

uint32_t WriteLineMem(DeviceExtension& ext, const char* text, size_t length) {
  if (!ext.dpr) return 0;
  ext.dpr_last_error = 0;
  if (!WaitHostFlag(ext)) {
    ext.dpr_last_error = kErrorMailboxTimeout;
    ext.kernel().DbgPrint("ZIMOPCI: WriteLineMem\\Timeout! %d usec\n", kPolls * 5);
    return 0;
  }
  if (length > kMaxCommand) return 0;
  const Layout& l = LayoutOf(ext);
  char line[kMaxCommand + 1];
  std::memcpy(line, text, length);
  line[length] = '\0';
  ext.dpr->WriteBlock(l.host_text, line, length + 1);
  ext.dpr->Barrier();
  ext.dpr->Write16(l.host_flag, 1);
  ext.dpr->Barrier();
  return static_cast<uint32_t>(length);
}

uint32_t WriteCharMem(DeviceExtension& ext, char c) {
  if (!ext.dpr) return 0;
  if (!WaitHostFlag(ext)) return 0;
  const Layout& l = LayoutOf(ext);
  ext.dpr->Write8(l.host_text, static_cast<uint8_t>(c));
  ext.dpr->Barrier();
  ext.dpr->Write8(l.host_text + 1, 0);
  ext.dpr->Barrier();
  ext.dpr->Write16(l.host_flag, 1);
  ext.dpr->Barrier();
  return 1;
}

uint32_t WriteCtrlCharMem(DeviceExtension& ext, char c) {
  if (!ext.dpr) return 0;
  if (!WaitHostFlag(ext)) return 0;
  const Layout& l = LayoutOf(ext);
  ext.dpr->Write8(l.control, static_cast<uint8_t>(c));
  ext.dpr->Barrier();
  // SPRAN cards watch the control byte on its own.
  if (!Spran(ext)) {
    ext.dpr->Write16(l.host_flag, 1);
    ext.dpr->Barrier();
  }
  return 1;
}

void FlushMem(DeviceExtension& ext) {
  if (!ext.dpr) return;
  const Layout& l = LayoutOf(ext);
  ClearCardStatus(ext);
  (void)WriteCtrlCharMem(ext, ctrl::kCtrlX);
  for (int tries = 0; tries < kPolls; ++tries) {
    const uint16_t status = ext.dpr->Read16(l.card_status);
    if ((status & 0x1F) == ctrl::kCtrlX) {  // the card's answer to the flush
      ClearCardStatus(ext);
      return;
    }
    if (status != 0) {
      ClearCardStatus(ext);  // a line of the old reply: dropped
    } else {
      Stall(ext, kPollStall);
    }
  }
  ext.dpr_last_error = kErrorMailboxTimeout;
  ext.kernel().DbgPrint("ZIMOPCI: FlushTimeout\n");
}

uint32_t ReadReadyMem(DeviceExtension& ext) { return GetMemStatus(ext) != 0 ? 1 : 0; }

uint32_t GetMemStatus(DeviceExtension& ext) {
  if (!ext.dpr) return 0;
  return ext.dpr->Read16(LayoutOf(ext).card_status);
}

uint32_t ReadLineMem(DeviceExtension& ext, LineIoBlock& record) {
  if (!ext.dpr) {
    record.text[0] = '\0';
    return 0;
  }
  ext.dpr_last_error = 0;
  const Layout& l = LayoutOf(ext);
  uint16_t status = 0;
  for (int polls = 0; polls < kPolls; ++polls) {
    status = ext.dpr->Read16(l.card_status);
    if (status != 0) break;
    Stall(ext, kPollStall);
  }
  if (status == 0) {
    record.text[0] = '\0';
    ext.dpr_last_error = kErrorMailboxTimeout;
    ext.kernel().DbgPrint("ZIMOPCI: ReadLineMem() Timeout! Retries: %d\n", kPolls);
    return kLineTimeout;
  }
  const uint16_t kind = status & 0xFF;
  if ((status & 0x8000) == 0 && kind != 6 && kind != 13 && kind != 24) {
    ext.kernel().DbgPrint("ZIMOPCI: ReadLineMem() Unexpected status 0x%X\n", status);
  }
  if ((status & 0x8000) != 0) {
    const uint32_t number = ((status >> 4) & 0xF) * 10 + (status & 0xF);
    std::snprintf(record.text, sizeof(record.text), "\aERR%03u", number);
    ClearCardStatus(ext);
    ext.dpr_last_error = number;
    return kLineError | 7;
  }
  // The card counts the NUL it posts. A count of 0 (nothing at all) is an
  // empty line, not 255 bytes of whatever the slot holds.
  const uint16_t card_count = ext.dpr->Read16(l.card_count);
  const uint32_t n = card_count == 0 ? 0 : std::min<uint32_t>(card_count - 1u, kMaxReply);
  ext.dpr->ReadBlock(l.card_text, record.text, n);
  uint32_t line_status = kLineCr;
  if ((status & 0xF) == ctrl::kAck) {
    line_status = kLineEnd;
  } else if ((status & 0x300) != 0) {
    line_status = kLineMore;
  }
  ClearCardStatus(ext);
  record.text[n] = '\0';
  return line_status | n;
}

uint32_t GetControlResponseMem(DeviceExtension& ext, char c, LineIoBlock& record) {
  if (!ext.dpr) {
    record.text[0] = '\0';
    return 0;
  }
  switch (c) {
    case ctrl::kCtrlB:
    case ctrl::kCtrlC:
    case ctrl::kCtrlF:
    case ctrl::kCtrlG:
    case ctrl::kCtrlP:
    case ctrl::kCtrlT:
    case ctrl::kCtrlV:
    case ctrl::kCtrlY:
      FlushMem(ext);
      (void)WriteCtrlCharMem(ext, c);
      return ReadLineMem(ext, record) | kLineEnd;
    case ctrl::kCtrlE:
    case ctrl::kCtrlI:
      FlushMem(ext);
      (void)WriteCtrlCharMem(ext, c);
      record.text[0] = '\0';
      return 0;
    case ctrl::kCtrlX:
      FlushMem(ext);
      record.text[0] = '\0';
      return 0;
    default:
      (void)WriteCtrlCharMem(ext, c);
      record.text[0] = '\0';
      return kLineEnd;
  }
}

void TestDpramWrite(DeviceExtension& ext) {
  if (!ext.dpr) return;
  const Layout& l = LayoutOf(ext);
  bool clear = false;
  for (int polls = 0; polls < kPolls; ++polls) {
    if (ext.dpr->Read8(l.control) == 0) {
      clear = true;
      break;
    }
    Stall(ext, kPollStall);
  }
  if (!clear) return;
  ext.dpr->Write8(l.control, 0x10);
  ext.dpr->Barrier();
  const uint8_t got = ext.dpr->Read8(l.control);
  if (got != 0x10) {
    ext.dpr->Write8(0x3584, 0xAA);
    ext.dpr->Barrier();
    ext.kernel().DbgPrint("ZIMOPCI: Write Error - Wrote 0x10 Got Written %X\n", got);
  }
}

}  // namespace zimo::drivers::pci
