// The two fixed DPR buffers the card refreshes on its own: switching them on
// and off, choosing the motors they carry, and the handshakes that copy a
// whole buffer into the device's shared host copy under the DPR data lock.
// The on/off state lives in the shared block, so any process may switch,
// update or read. Card commands go through the command path; their answers
// are not looked at.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "corvan/command_api.h"
#include "corvan/dpr_api.h"
#include "corvan/dpr_channel_api.h"
#include "corvan/status_api.h"
#include "corvan/variables_api.h"
#include "dpr/device_block.h"
#include "dpr/dpr_map.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

// Real-time buffer (host offsets).
constexpr std::uint32_t kOlderRt = 0x024;       // u16 bit 0: host busy
constexpr std::uint32_t kOlderRtReady = 0x026;  // u16 bit 15: ready; 0-14 timer
constexpr std::uint32_t kSpranRt = 0x068;
constexpr std::uint32_t kSpranRtBusy = 0x06A;   // u16 bit 15
constexpr std::uint32_t kSpranRtReady = 0x06E;  // u16 bit 15
constexpr std::uint32_t kSpranRtMask = 0x070;   // u32 motor mask
constexpr std::uint32_t kOlderRtBytes = 516, kSpranRtBytes = 1548;

// Background buffer.
constexpr std::uint32_t kOlderBg = 0x228;       // u16 handshake word
constexpr std::uint32_t kSpranBg = 0x674;       // byte: record count
constexpr std::uint32_t kSpranBgFlags = 0x675;  // byte: bit 7 cleared when switched off
constexpr std::uint32_t kSpranBgBusy = 0x676;   // u16 bit 15
constexpr std::uint32_t kSpranBgReady = 0x67B;  // byte: non-zero when fresh
constexpr std::uint32_t kOlderBgBytes = 1028, kSpranBgBytes = 2088;

static_assert(kOlderRtBytes == sizeof SharedDeviceBlock{}.RealTimeCopy);
static_assert(kSpranRtBytes == sizeof SharedDeviceBlock{}.SpranRealTimeCopy);
static_assert(kOlderBgBytes == sizeof SharedDeviceBlock{}.BackgroundCopy);
static_assert(kSpranBgBytes == sizeof SharedDeviceBlock{}.SpranBackgroundCopy);

// The device's block when its DPR is usable from this process.
SharedDeviceBlock* DprBlock(std::uint32_t device) {
  SharedDeviceBlock* block = BlockOf(device);
  if (block == nullptr) return nullptr;
  return App().User(IndexFromDeviceNumber(device))->DprAvailable != 0 ? block : nullptr;
}

bool Spran(const SharedDeviceBlock& block) { return block.SpranFlag != 0; }

void Send(std::uint32_t device, const char* line) { ZimoSendCommandA(device, line); }

void SendNumber(std::uint32_t device, const char* format, std::uint32_t value) {
  char line[32];
  std::snprintf(line, sizeof line, format, value);
  Send(device, line);
}

void SetBit(std::uint32_t device, std::uint32_t offset, std::uint32_t bit, bool on) {
  ZimoDPRSetMemBit(device, offset, bit, on ? 1 : 0);
}

void WriteByte(std::uint32_t device, std::uint32_t offset, std::uint8_t value) {
  ZimoDPRSetMem(device, offset, 1, &value);
}

// Reads a whole buffer and, only when the read succeeded, puts it into the
// host copy, both under the DPR data lock: readers never see a torn or
// half-failed copy.
bool CopyBuffer(std::uint32_t device, std::uint32_t offset, std::uint32_t length,
                std::uint8_t* copy) {
  std::uint8_t fresh[kSpranBgBytes];
  LockZimoDPR(device);
  const bool read = ZimoDPRGetMem(device, offset, length, fresh) != nullptr;
  if (read) std::memcpy(copy, fresh, length);
  ReleaseZimoDPR(device);
  return read;
}

// SPRAN cards take the mask itself; older cards the number of motors up to
// the highest one asked for.
std::int32_t SetRealTimeMotors(std::uint32_t device, const SharedDeviceBlock& block,
                               std::uint32_t mask) {
  if (Spran(block)) {
    return ZimoDPRSetMem(device, kSpranRtMask, sizeof mask, &mask) != nullptr ? 1 : 0;
  }
  int count = 0;
  for (int m = 0; m < 8; ++m) {
    if ((mask >> m) & 1u) count = m + 1;
  }
  char line[32];
  std::snprintf(line, sizeof line, "i59 = %d", count);
  return ZimoSendCommandA(device, line);
}

void SwitchRealTime(std::uint32_t device, SharedDeviceBlock& block, std::uint32_t period, bool on) {
  if (Spran(block)) {
    if (on) {
      SendNumber(device, "i47=%u", period);
      Send(device, "i48=1");
    } else {
      Send(device, "i47=0");
      Send(device, "i48=0");
    }
  } else if (on) {
    SendNumber(device, "i19=%u", period);
    Send(device, "i48=1");
    Send(device, "gat");
  } else {
    Send(device, "endgat");
    Send(device, "i48=0");
  }
  block.RealTimeActive = on ? 1 : 0;
}

}  // namespace
}  // namespace zimo::corvan

using zimo::corvan::SharedDeviceBlock;

extern "C" {

int32_t ZimoDPRRealTime(uint32_t device, uint32_t period, int32_t on) {
  SharedDeviceBlock* block = zimo::corvan::DprBlock(device);
  if (block == nullptr) return 0;
  zimo::corvan::SwitchRealTime(device, *block, period, on == 1);
  return static_cast<int32_t>(block->RealTimeActive);
}

int32_t ZimoDPRRealTimeEx(uint32_t device, uint32_t mask, uint32_t period, int32_t on) {
  using namespace zimo::corvan;
  SharedDeviceBlock* block = DprBlock(device);
  if (block == nullptr) return 0;
  if (Spran(*block)) {
    SwitchRealTime(device, *block, period, on == 1);
    SetRealTimeMotors(device, *block, mask);
    SetBit(device, kSpranRtReady, 15, false);
  } else {
    if (on == 1) SendNumber(device, "i59=%u", mask);
    SwitchRealTime(device, *block, period, on == 1);
  }
  return static_cast<int32_t>(block->RealTimeActive);
}

int32_t ZimoDPRRealTimeSetMotor(uint32_t device, uint32_t mask) {
  using namespace zimo::corvan;
  SharedDeviceBlock* block = DprBlock(device);
  if (block == nullptr) return 0;
  return SetRealTimeMotors(device, *block, mask);
}

int32_t ZimoDPRUpdateRealTime(uint32_t device) {
  using namespace zimo::corvan;
  SharedDeviceBlock* block = DprBlock(device);
  if (block == nullptr || block->RealTimeActive == 0) return 0;
  const bool spran = Spran(*block);
  const std::uint32_t ready_at = spran ? kSpranRtReady : kOlderRtReady;
  // Wait for the card's ready bit. A read that fails is no sign of a ready
  // card: the update gives up and leaves the copy as it was.
  std::uint32_t polls = 0;
  for (;;) {
    std::uint32_t ready = 0;
    if (ZimoDPRGetMemBit(device, ready_at, 15, &ready) == 0) return 0;
    if (ready != 0) break;
    if (++polls >= block->RealTimePollLimit) return 0;
  }
  if (!spran) SetBit(device, kOlderRt, 0, true);
  const bool copied = spran ? CopyBuffer(device, kSpranRt, kSpranRtBytes, block->SpranRealTimeCopy)
                            : CopyBuffer(device, kOlderRt, kOlderRtBytes, block->RealTimeCopy);
  if (!spran) SetBit(device, kOlderRt, 0, false);
  if (!copied) return 0;  // the card keeps its block; the next update tries again
  SetBit(device, ready_at, 15, false);
  return 1;
}

int32_t ZimoDPRUpdateBackground(uint32_t device) {
  using namespace zimo::corvan;
  SharedDeviceBlock* block = DprBlock(device);
  if (block == nullptr) return 0;
  if (Spran(*block)) {
    for (std::uint32_t polls = 0; polls < block->BackgroundPollLimit; ++polls) {
      std::uint8_t ready = 0;
      if (ZimoDPRGetMem(device, kSpranBgReady, 1, &ready) == nullptr || ready != 0) break;
    }
    SetBit(device, kSpranBgBusy, 15, true);
    CopyBuffer(device, kSpranBg, kSpranBgBytes, block->SpranBackgroundCopy);
    SetBit(device, kSpranBgBusy, 15, false);
    WriteByte(device, kSpranBgReady, 0);
    return 0;
  }
  for (std::uint32_t polls = 0; polls < block->BackgroundPollLimit; ++polls) {
    std::uint16_t word = 0;
    if (ZimoDPRGetMem(device, kOlderBg, 2, &word) == nullptr || word != 0) break;
  }
  CopyBuffer(device, kOlderBg, kOlderBgBytes, block->BackgroundCopy);
  ZimoDPRSetWord(device, kOlderBg, 0);
  return 1;
}

int32_t ZimoDPRBackground(uint32_t device, int32_t on) {
  using namespace zimo::corvan;
  SharedDeviceBlock* block = DprBlock(device);
  if (block == nullptr) return 0;
  if (on == 1) {
    Send(device, "i49=1");
    block->BackgroundActive = 1;
    ZimoDPRUpdateBackground(device);
  } else {
    Send(device, "i49=0");
    if (Spran(*block)) SetBit(device, kSpranBgReady, 7, false);
    block->BackgroundActive = 0;
  }
  return static_cast<int32_t>(block->BackgroundActive);
}

int32_t ZimoDPRBackgroundEx(uint32_t device, int32_t on, uint32_t period, uint32_t count) {
  using namespace zimo::corvan;
  SharedDeviceBlock* block = DprBlock(device);
  if (block == nullptr) return 0;
  if (Spran(*block)) {
    SendNumber(device, "i50=%u", period);
    if (on == 1) {
      Send(device, "i49=1");
      WriteByte(device, kSpranBg, static_cast<std::uint8_t>(count));
      block->BackgroundActive = 1;
      ZimoDPRUpdateBackground(device);
    } else {
      Send(device, "i49=0");
      WriteByte(device, kSpranBg, static_cast<std::uint8_t>(count));
      SetBit(device, kSpranBgFlags, 7, false);
      block->BackgroundActive = 0;
    }
  } else if (on == 1) {
    Send(device, "i49=1");
    SendNumber(device, "i59=%u", count);
    block->BackgroundActive = 1;
    ZimoDPRUpdateBackground(device);
  } else {
    Send(device, "i49=0");
    block->BackgroundActive = 0;
  }
  return static_cast<int32_t>(block->BackgroundActive);
}

int32_t ZimoDPRSetBackground(uint32_t device) {
  return ZimoDPRUpdateBackground(device) <= 0 ? 1 : 0;
}

void ZimoDPRSetMotors(uint32_t device, uint32_t count) {
  using namespace zimo::corvan;
  SharedDeviceBlock* block = BlockOf(device);
  if (block == nullptr) return;
  const std::uint32_t stored = count > block->CardMotorCount ? 0 : count;
  block->FixedBufferMotorCount = stored;
  if (!Spran(*block)) SendNumber(device, "i59=%u", stored);
  const int32_t i49 = ZimoGetIVariableLong(device, 49, 0);
  block->BackgroundActive = stored != 0 && i49 != 0 ? 1 : 0;
}

int32_t ZimoDPRFixedBufferDataUpdate(uint32_t device) {
  using namespace zimo::corvan;
  SharedDeviceBlock* block = DprBlock(device);
  if (block == nullptr) return 0;
  const std::uint32_t limit = block->BackgroundPollLimit;
  if (Spran(*block)) {
    SetBit(device, kSpranRtBusy, 15, false);
    SetBit(device, kSpranBgBusy, 15, false);
    // Bit 7 of the real-time ready byte and of the background ready byte.
    SetBit(device, kSpranRtReady + 1, 7, false);
    SetBit(device, kSpranBgReady, 7, false);
    for (std::uint32_t round = 0; round < limit; ++round) {
      std::uint32_t rt = 0, bg = 0;
      if (ZimoDPRGetMemBit(device, kSpranRtReady + 1, 7, &rt) != 0 &&
          ZimoDPRGetMemBit(device, kSpranBgReady, 7, &bg) != 0 && rt != 0 && bg != 0) {
        return 1;
      }
    }
    return 0;
  }
  SetBit(device, kOlderRt, 0, false);
  const std::uint16_t noted = ZimoDPRGetWord(device, kOlderRtReady);
  SetBit(device, kOlderBg, 0, false);
  bool seen = false;
  for (std::uint32_t round = 0; round < limit && !seen; ++round) {
    std::uint16_t rt = 0, bg = 0;
    seen = ZimoDPRGetMem(device, kOlderRtReady, 2, &rt) != nullptr &&
           ZimoDPRGetMem(device, kOlderBg, 2, &bg) != nullptr && rt != noted && (bg & 1u) != 0;
  }
  // Then let bit 7 of the real-time word fall before the caller goes on.
  for (std::uint32_t reads = 0; reads < limit; ++reads) {
    std::uint32_t bit = 0;
    if (ZimoDPRGetMemBit(device, kOlderRtReady, 7, &bit) == 0 || bit == 0) break;
  }
  return seen ? 1 : 0;
}

}  // extern "C"
