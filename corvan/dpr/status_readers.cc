// Readers of the host copies of the fixed DPR buffers: motor positions,
// velocities and status bits, coordinate-system program state and the
// card's global words. Each takes the device's DPR data lock around its
// read of the copy; none touches the card (except the jog-return write).
#include "corvan/status_api.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "corvan/command_api.h"
#include "corvan/dpr_channel_api.h"
#include "corvan/word_formats_api.h"
#include "dpr/device_block.h"
#include "dpr/status_bits.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

// The generation's record layouts in the host copies.
constexpr std::size_t kOlderRtRecords = 36, kOlderRtRecord = 60;
constexpr std::size_t kSpranRtRecords = 12, kSpranRtRecord = 48;
constexpr std::size_t kOlderBgRecords = 36, kOlderBgRecord = 124;
constexpr std::size_t kSpranBgRecords = 40, kSpranBgRecord = 128;

// One device's copies, as a reader sees them while it holds the lock.
struct Copies {
  const SharedDeviceBlock* block = nullptr;
  bool spran = false;
  const std::uint8_t* rt = nullptr;
  std::size_t rt_size = 0;
  const std::uint8_t* bg = nullptr;
  std::size_t bg_size = 0;

  std::uint32_t Dword(const std::uint8_t* copy, std::size_t size, std::size_t at) const {
    std::uint32_t v = 0;
    if (at + 4 <= size) std::memcpy(&v, copy + at, 4);
    return v;
  }
  std::uint32_t Word(const std::uint8_t* copy, std::size_t size, std::size_t at) const {
    std::uint16_t v = 0;
    if (at + 2 <= size) std::memcpy(&v, copy + at, 2);
    return v;
  }
  std::uint32_t Byte(const std::uint8_t* copy, std::size_t size, std::size_t at) const {
    return at < size ? copy[at] : 0;
  }
  std::uint32_t Rt(std::size_t at) const { return Dword(rt, rt_size, at); }
  std::uint32_t Bg(std::size_t at) const { return Dword(bg, bg_size, at); }
  // A 48-bit fixed word read with its upper dword taken whole (H) or
  // sign-extended from bit 23 (S).
  double H(const std::uint8_t* copy, std::size_t size, std::size_t at) const {
    std::uint32_t w[2] = {Dword(copy, size, at), Dword(copy, size, at + 4)};
    return ZimoDPRLFixed(w, 1.0);
  }
  double S(const std::uint8_t* copy, std::size_t size, std::size_t at) const {
    std::uint32_t lower = Dword(copy, size, at) & 0xFFFFFF;
    std::uint32_t upper = Dword(copy, size, at + 4) & 0xFFFFFF;
    auto signed_upper = static_cast<std::int32_t>(upper << 8) >> 8;
    return static_cast<double>(lower) + static_cast<double>(signed_upper) * 16777216.0;
  }
  double Float(const std::uint8_t* copy, std::size_t size, std::size_t at) const {
    std::uint32_t w[2] = {Dword(copy, size, at), Dword(copy, size, at + 4)};
    return ZimoDPRFloat(w, 1.0);
  }
  std::size_t RtRecord(int m) const {
    return spran ? kSpranRtRecords + kSpranRtRecord * static_cast<std::size_t>(m)
                 : kOlderRtRecords + kOlderRtRecord * static_cast<std::size_t>(m);
  }
  std::size_t BgRecord(int r) const {
    return spran ? kSpranBgRecords + kSpranBgRecord * static_cast<std::size_t>(r)
                 : kOlderBgRecords + kOlderBgRecord * static_cast<std::size_t>(r);
  }
  std::uint32_t ServoWord(int m) const { return Rt(RtRecord(m) + (spran ? 12 : 36)) & 0xFFFFFF; }
  std::uint32_t MotorWord(int m) const {
    return (spran ? Rt(RtRecord(m) + 16) : Bg(BgRecord(m) + 16)) & 0xFFFFFF;
  }
  std::uint32_t ProgramWord(int cs) const {
    return Word(bg, bg_size, BgRecord(cs) + (spran ? 20 : 24));
  }
  std::uint32_t SecondWord(int cs) const {
    std::size_t r = BgRecord(cs);
    return spran ? Word(bg, bg_size, r + 96) | (Byte(bg, bg_size, r + 98) << 16)
                 : Word(bg, bg_size, r + 100) | (Word(bg, bg_size, r + 102) << 16);
  }
  bool Hold(int cs) const {
    return spran ? (Word(bg, bg_size, BgRecord(cs) + 14) & 0x40) != 0
                 : (Byte(bg, bg_size, 18 + 4 * static_cast<std::size_t>(cs)) & 0x40) != 0;
  }
  const std::uint8_t* Globals() const { return spran ? bg + 20 : rt + 4; }
};

Copies CopiesOf(const SharedDeviceBlock* block) {
  Copies c;
  c.block = block;
  c.spran = block->SpranFlag != 0;
  if (c.spran) {
    c.rt = block->SpranRealTimeCopy;
    c.rt_size = sizeof block->SpranRealTimeCopy;
    c.bg = block->SpranBackgroundCopy;
    c.bg_size = sizeof block->SpranBackgroundCopy;
  } else {
    c.rt = block->RealTimeCopy;
    c.rt_size = sizeof block->RealTimeCopy;
    c.bg = block->BackgroundCopy;
    c.bg_size = sizeof block->BackgroundCopy;
  }
  return c;
}

bool DprUsable(std::uint32_t device) {
  const auto d = static_cast<int>(device);
  return IsRealDevice(d) && App().User(d)->DprAvailable != 0;
}

bool MotorInRange(const SharedDeviceBlock& block, int m) {
  return m >= 0 && m < (block.SpranFlag != 0 ? 32 : 8);
}
bool SystemInRange(const SharedDeviceBlock& block, int cs) {
  return cs >= 0 && cs < (block.SpranFlag != 0 ? 16 : 8);
}

// Runs `read` on the copies under the DPR data lock; `fallback` when the
// device is none.
template <typename T, typename Read>
T Locked(std::uint32_t device, T fallback, Read read) {
  const SharedDeviceBlock* block = BlockOf(device);
  if (block == nullptr) return fallback;
  LockZimoDPR(device);
  const T value = read(CopiesOf(block));
  ReleaseZimoDPR(device);
  return value;
}

// A motor reader: 0 for a motor outside the card's range.
template <typename T, typename Read>
T MotorRead(std::uint32_t device, int m, Read read) {
  const SharedDeviceBlock* block = BlockOf(device);
  if (block == nullptr || !MotorInRange(*block, m)) return T{};
  return Locked<T>(device, T{}, read);
}

template <typename T, typename Read>
T SystemRead(std::uint32_t device, int cs, Read read) {
  const SharedDeviceBlock* block = BlockOf(device);
  if (block == nullptr || !SystemInRange(*block, cs)) return T{};
  return Locked<T>(device, T{}, read);
}

double PositionFactor(const Copies& c, int m) { return c.block->MotorPositionFactor[m]; }

// A scaled position reader.
template <typename Raw>
double Scaled(std::uint32_t device, int m, double scale, Raw raw) {
  if (scale == 0) return 0;
  return MotorRead<double>(device, m,
                           [&](const Copies& c) { return raw(c) * PositionFactor(c, m) / scale; });
}

// A motor's bit in the word it sits in on this card's generation.
std::int32_t MotorBit(std::uint32_t device, int m, MotorStatusBit at) {
  return MotorRead<std::int32_t>(device, m, [&](const Copies& c) {
    const MotorWord word = c.spran ? at.spran_word : at.older_word;
    const int bit = c.spran ? at.spran_bit : at.older_bit;
    const std::uint32_t w = word == MotorWord::kServo ? c.ServoWord(m) : c.MotorWord(m);
    return static_cast<std::int32_t>((w >> bit) & 1u);
  });
}

// A coordinate system's bit in its program or second word.
std::int32_t SystemBit(std::uint32_t device, int cs, SystemWord word, int bit) {
  return SystemRead<std::int32_t>(device, cs, [&](const Copies& c) {
    const std::uint32_t w = word == SystemWord::kProgram ? c.ProgramWord(cs) : c.SecondWord(cs);
    return static_cast<std::int32_t>((w >> bit) & 1u);
  });
}

std::int32_t GlobalBit(std::uint32_t device, int dword, int bit) {
  return Locked<std::int32_t>(device, 0, [&](const Copies& c) {
    std::uint32_t w = 0;
    std::memcpy(&w, c.Globals() + 4 * dword, 4);
    return static_cast<std::int32_t>((w >> bit) & 1u);
  });
}

// The velocity word that ZimoDPRVelocity scales: SPRAN real-time record,
// older background record.
double VelocityWord(const Copies& c, int m) {
  return static_cast<std::int32_t>(c.spran ? c.Rt(c.RtRecord(m) + 28) : c.Bg(c.BgRecord(m) + 120));
}

std::int32_t RecordDword(std::uint32_t d, std::int32_t cs, std::size_t spran_at,
                         std::size_t older_at, std::int32_t times) {
  return SystemRead<std::int32_t>(d, cs, [=](const Copies& c) {
    return static_cast<std::int32_t>(c.Bg(c.BgRecord(cs) + (c.spran ? spran_at : older_at)) *
                                     static_cast<std::uint32_t>(times));
  });
}

}  // namespace
}  // namespace zimo::corvan

using zimo::corvan::Copies;

extern "C" {

double ZimoDPRGetCommandedPos(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::Scaled(device, m, scale, [m](const Copies& c) {
    const std::size_t r = c.RtRecord(m);
    if (!c.spran) return c.S(c.rt, c.rt_size, r + 0);
    double v = c.S(c.rt, c.rt_size, r + 40);
    if ((c.ServoWord(m) & (1u << 5)) != 0) v -= c.S(c.rt, c.rt_size, r + 32);
    return v + c.S(c.rt, c.rt_size, r + 0) - c.S(c.rt, c.rt_size, r + 20);
  });
}

double ZimoDPRPosition(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::Scaled(device, m, scale, [m](const Copies& c) {
    return c.H(c.rt, c.rt_size, c.RtRecord(m) + (c.spran ? 40 : 8));
  });
}

double ZimoDPRNetActualPosition(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::Scaled(device, m, scale, [m](const Copies& c) {
    return c.spran ? c.H(c.rt, c.rt_size, c.RtRecord(m) + 40) : 0.0;
  });
}

double ZimoDPRFollowError(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::Scaled(device, m, scale, [m](const Copies& c) {
    const std::size_t r = c.RtRecord(m);
    if (c.spran) return c.S(c.rt, c.rt_size, r + 0);
    return c.S(c.rt, c.rt_size, r + 8) + c.S(c.rt, c.rt_size, r + 24) -
           c.S(c.rt, c.rt_size, r + 16) - c.S(c.rt, c.rt_size, r + 0);
  });
}

void ZimoDPRGetMasterPos(uint32_t device, int32_t m, double scale, double* out) {
  if (out == nullptr) return;
  *out = zimo::corvan::Scaled(device, m, scale, [m](const Copies& c) {
    return c.S(c.rt, c.rt_size, c.RtRecord(m) + (c.spran ? 32 : 16));
  });
}

void ZimoDPRGetCompensationPos(uint32_t device, int32_t m, double scale, double* out) {
  if (out == nullptr) return;
  *out = zimo::corvan::Scaled(device, m, scale, [m](const Copies& c) {
    return c.spran ? 0.0 : c.S(c.rt, c.rt_size, c.RtRecord(m) + 24);
  });
}

double ZimoDPRGetTargetPos(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::Scaled(device, m, scale, [m](const Copies& c) {
    return c.spran ? 0.0 : c.H(c.bg, c.bg_size, c.BgRecord(m) + 0);
  });
}

double ZimoDPRGetBiasPos(uint32_t device, int32_t m, double scale) {
  return zimo::corvan::Scaled(device, m, scale, [m](const Copies& c) {
    return c.spran ? c.H(c.rt, c.rt_size, c.RtRecord(m) + 20)
                   : c.H(c.bg, c.bg_size, c.BgRecord(m) + 8);
  });
}

double ZimoDPRGetVel(uint32_t device, int32_t m, double scale) {
  if (scale == 0) return 0;
  return zimo::corvan::MotorRead<double>(device, m, [&](const Copies& c) {
    const auto word = static_cast<std::int32_t>(c.Rt(c.RtRecord(m) + (c.spran ? 28 : 40)));
    return static_cast<double>(word) / scale;
  });
}

double ZimoDPRVelocity(uint32_t device, int32_t m, double scale) {
  if (scale == 0 || !zimo::corvan::DprUsable(device)) return 0;
  return zimo::corvan::MotorRead<double>(device, m, [&](const Copies& c) {
    return zimo::corvan::VelocityWord(c, m) * c.block->MotorVelocityFactor[m] / scale;
  });
}

double ZimoDPRVectorVelocity(uint32_t device, uint32_t count, const uint32_t* motors,
                             const double* scales) {
  if (count == 0 || motors == nullptr || scales == nullptr) return 0;
  if (!zimo::corvan::DprUsable(device)) return 0;
  const double sum = zimo::corvan::Locked<double>(device, 0.0, [&](const Copies& c) {
    double total = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const auto m = static_cast<int>(motors[i]);
      if (scales[i] == 0 || !zimo::corvan::MotorInRange(*c.block, m)) continue;
      const double v =
          zimo::corvan::VelocityWord(c, m) * c.block->MotorVelocityFactor[m] / scales[i];
      total += v * v;
    }
    return total;
  });
  return std::sqrt(sum);
}

int32_t ZimoDPRGetPrevDAC(uint32_t device, int32_t m) {
  return zimo::corvan::MotorRead<int32_t>(device, m, [m](const Copies& c) {
    return static_cast<int32_t>(c.Rt(c.RtRecord(m) + (c.spran ? 8 : 32)));
  });
}

int32_t ZimoDPRGetMoveTime(uint32_t device, int32_t m) {
  return zimo::corvan::MotorRead<int32_t>(device, m, [m](const Copies& c) {
    return c.spran ? 0 : static_cast<int32_t>(c.Rt(c.RtRecord(m) + 44) * 2u);
  });
}

int32_t ZimoDPRGetServoTimer(uint32_t device) {
  return zimo::corvan::Locked<int32_t>(device, 0, [](const Copies& c) {
    if (c.spran) {
      return static_cast<int32_t>(c.Word(c.rt, c.rt_size, 4) | (c.Byte(c.rt, c.rt_size, 6) << 16));
    }
    return static_cast<int32_t>(c.Word(c.rt, c.rt_size, 2) & 0x7FFF);
  });
}

uint32_t ZimoDPRMotorServoStatus(uint32_t device, int32_t m) {
  // The older layout's servo word whatever the card; a record past the end
  // of the copy reads as 0.
  return zimo::corvan::MotorRead<uint32_t>(device, m, [m](const Copies& c) {
    return c.Rt(zimo::corvan::kOlderRtRecords +
                zimo::corvan::kOlderRtRecord * static_cast<std::size_t>(m) + 36);
  });
}

uint32_t ZimoDPRMotorServoStatusSpran(uint32_t device, int32_t m) {
  return zimo::corvan::MotorRead<uint32_t>(device, m, [m](const Copies& c) {
    return c.Rt(zimo::corvan::kSpranRtRecords +
                zimo::corvan::kSpranRtRecord * static_cast<std::size_t>(m) + 12);
  });
}

#define ZIMO_DPR_MOTOR_BIT(Name, spran_word, spran_bit, older_word, older_bit)       \
  int32_t ZimoDPR##Name(uint32_t d, int32_t m) {                                     \
    using zimo::corvan::MotorWord;                                                   \
    return zimo::corvan::MotorBit(                                                   \
        d, m, {MotorWord::spran_word, spran_bit, MotorWord::older_word, older_bit}); \
  }
ZIMO_MOTOR_STATUS_BITS(ZIMO_DPR_MOTOR_BIT)
#undef ZIMO_DPR_MOTOR_BIT

int32_t ZimoDPRIsAssignedCoord(uint32_t d, int32_t m, int32_t) {
  using zimo::corvan::MotorWord;
  return zimo::corvan::MotorBit(d, m, {MotorWord::kMotor, 15, MotorWord::kMotor, 23});
}

int32_t ZimoDPRGetAssignedCoord(uint32_t d, int32_t m, int32_t) {
  return zimo::corvan::MotorRead<int32_t>(d, m, [m](const Copies& c) {
    const std::uint32_t w = c.MotorWord(m);
    return static_cast<int32_t>(c.spran ? ((w >> 16) & 0xF) + 1 : ((w >> 20) & 0x7) + 1);
  });
}

int32_t ZimoDPRGetMotorMotion(uint32_t device, int32_t m) {
  if (!zimo::corvan::DprUsable(device)) return 6;
  const zimo::corvan::SharedDeviceBlock* block = zimo::corvan::BlockOf(device);
  if (block == nullptr || !zimo::corvan::MotorInRange(*block, m)) return 0;  // no such motor
  const uint32_t w =
      zimo::corvan::Locked<uint32_t>(device, 0u, [m](const Copies& c) { return c.ServoWord(m); });
  const bool spran = block->SpranFlag != 0;
  if ((w & (1u << 23)) == 0) return 6;
  if ((w & (1u << 18)) != 0) return 5;
  if ((w & (1u << 10)) != 0) return 3;
  if ((w & (1u << 17)) != 0) return 2;
  if ((w & (1u << 13)) == 0) return 1;
  return (w & (1u << (spran ? 4 : 20))) != 0 ? 4 : 0;
}

void ZimoDPRSetJogReturn(uint32_t device, int32_t m) {
  const zimo::corvan::SharedDeviceBlock* block = zimo::corvan::BlockOf(device);
  if (block == nullptr || block->SpranFlag != 0 || !zimo::corvan::MotorInRange(*block, m)) return;
  // Command lock first, then the copy's lock; the line goes through the
  // command path, which serialises it with every other process's traffic.
  LockZimo(device);
  uint32_t words[2] = {};
  LockZimoDPR(device);
  const std::size_t r =
      zimo::corvan::kOlderRtRecords + zimo::corvan::kOlderRtRecord * static_cast<std::size_t>(m);
  std::memcpy(words, block->RealTimeCopy + r, sizeof words);
  ReleaseZimoDPR(device);
  const unsigned address = 2059u + 192u * static_cast<unsigned>(m);
  char line[96];
  std::snprintf(line, sizeof line, "WY:%u,%ld WX:%u,%ld", address,
                static_cast<long>(static_cast<int32_t>(words[0])), address,
                static_cast<long>(static_cast<int32_t>(words[1])));
  ZimoSendCommandA(device, line);
  ReleaseZimo(device);
}

#define ZIMO_DPR_SYSTEM_BIT(Name, word, bit)                                    \
  int32_t ZimoDPR##Name(uint32_t d, int32_t cs) {                               \
    return zimo::corvan::SystemBit(d, cs, zimo::corvan::SystemWord::word, bit); \
  }
ZIMO_SYSTEM_STATUS_BITS(ZIMO_DPR_SYSTEM_BIT)
#undef ZIMO_DPR_SYSTEM_BIT

int32_t ZimoDPRLookAheadEnabled(uint32_t d, int32_t cs) {
  const zimo::corvan::SharedDeviceBlock* block = zimo::corvan::BlockOf(d);
  if (block == nullptr || block->SpranFlag == 0) return 0;  // bit 23 is jog hold on older cards
  return zimo::corvan::SystemBit(d, cs, zimo::corvan::SystemWord::kSecond, 23);
}

int32_t ZimoDPRGetProgramMode(uint32_t d, int32_t cs) {
  return zimo::corvan::SystemRead<int32_t>(d, cs, [cs](const Copies& c) -> int32_t {
    const std::uint32_t program = c.ProgramWord(cs), second = c.SecondWord(cs);
    if ((program & 1u) != 0) {
      if (c.Hold(cs)) return 3;
      return (program & 2u) != 0 ? 2 : 1;
    }
    if (!c.spran && (second & (1u << 23)) != 0) return 4;
    return (second & (1u << 14)) != 0 ? 5 : 0;
  });
}

int32_t ZimoDPRGetMotionMode(uint32_t d, int32_t cs) {
  return zimo::corvan::SystemRead<int32_t>(d, cs, [cs](const Copies& c) -> int32_t {
    const std::uint32_t w = c.SecondWord(cs) & 0xFFFF;
    if ((w & 0x10) != 0) return (w & 1) != 0 ? 4 : 5;
    if ((w & 1) != 0) return (w & 2) != 0 ? 3 : 2;
    return (w & 2) != 0 ? 1 : 0;
  });
}

double ZimoDPRGetFeedRateMode(uint32_t d, int32_t cs, uint32_t* feed_rate_mode) {
  if (!zimo::corvan::DprUsable(d)) return 0;
  struct Result {
    double feed = 0;
    uint32_t mode = 0;
    bool read = false;
  };
  const Result r = zimo::corvan::SystemRead<Result>(d, cs, [cs](const Copies& c) {
    Result out;
    out.feed = c.spran ? c.Float(c.bg, c.bg_size, c.BgRecord(cs))
                       : c.Float(c.rt, c.rt_size, 12 + 8 * static_cast<std::size_t>(cs));
    out.mode = (c.ProgramWord(cs) >> 3) & 1u;
    out.read = true;
    return out;
  });
  if (r.read && feed_rate_mode != nullptr) *feed_rate_mode = r.mode;
  return r.feed;
}

double ZimoDPRCommanded(uint32_t d, int32_t cs, char axis) {
  static constexpr char kAxes[] = "ABCUVWXYZ";
  const char* at = axis == '\0' ? nullptr : std::strchr(kAxes, axis);
  if (at == nullptr) return 0;
  const auto a = static_cast<std::size_t>(at - kAxes);
  return zimo::corvan::SystemRead<double>(d, cs, [cs, a](const Copies& c) {
    return c.Float(c.bg, c.bg_size, c.BgRecord(cs) + (c.spran ? 24 : 28) + 8 * a);
  });
}

int32_t ZimoDPRPe(uint32_t d, int32_t cs) { return zimo::corvan::RecordDword(d, cs, 112, 116, 1); }
int32_t ZimoDPRProgRemaining(uint32_t d, int32_t cs) {
  return zimo::corvan::RecordDword(d, cs, 100, 104, 1);
}
int32_t ZimoDPRTimeRemInMove(uint32_t d, int32_t cs) {
  return zimo::corvan::RecordDword(d, cs, 104, 108, 2);
}
int32_t ZimoDPRTimeRemInTATS(uint32_t d, int32_t cs) {
  return zimo::corvan::RecordDword(d, cs, 108, 112, 2);
}

int32_t ZimoDPRMotionBufOpen(uint32_t d) {
  return zimo::corvan::DprUsable(d) ? zimo::corvan::GlobalBit(d, 0, 19) : 0;
}
int32_t ZimoDPRRotBufOpen(uint32_t d) {
  return zimo::corvan::DprUsable(d) ? zimo::corvan::GlobalBit(d, 0, 18) : 0;
}

void ZimoDPRGetGlobalStatus(uint32_t d, void* words) {
  if (words == nullptr) return;
  zimo::corvan::Locked<int>(d, 0, [words](const Copies& c) {
    std::memcpy(words, c.Globals(), 8);
    return 0;
  });
}

void ZimoDPRGetGlobalStatusSpran(uint32_t d, void* words) {
  const zimo::corvan::SharedDeviceBlock* block = zimo::corvan::BlockOf(d);
  if (words == nullptr || block == nullptr || block->SpranFlag == 0) return;
  ZimoDPRGetGlobalStatus(d, words);
}

int32_t ZimoDPRSysServoError(uint32_t d) { return zimo::corvan::GlobalBit(d, 1, 20); }
int32_t ZimoDPRSysReEntryError(uint32_t d) { return zimo::corvan::GlobalBit(d, 1, 22); }
int32_t ZimoDPRSysMemChecksumError(uint32_t d) { return zimo::corvan::GlobalBit(d, 1, 13); }
int32_t ZimoDPRSysPromChecksumError(uint32_t d) { return zimo::corvan::GlobalBit(d, 1, 12); }

}  // extern "C"
