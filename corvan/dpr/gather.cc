// Data gathering: the source settings kept in the device's shared record and
// the card variables behind them, the quick-gather presets, and the upload
// that lists the card's gather buffer and decodes it into this process's
// arrays. Every export holds the command lock for its whole run (the lock is
// recursive, so the variable and command calls inside take it again).
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/gather_api.h"
#include "corvan/rings_api.h"
#include "corvan/variables_api.h"
#include "corvan/word_formats_api.h"
#include "dpr/command_lock.h"
#include "dpr/device_block.h"
#include "dpr/gather.h"
#include "link/library_app.h"
#include "platform/message.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kOlderSources = 24;
constexpr std::uint32_t kOlderSourceBase = 21, kSpranSourceBase = 5001;
constexpr std::uint32_t kOlderEnable = 20, kSpranEnable = 5050, kSpranEnableHigh = 5051;
constexpr std::uint32_t kOlderPeriod = 19, kSpranPeriod = 5049;
constexpr std::uint32_t kBufferMode = 45;
constexpr double kServoUnits = 8388608.0;  // I10 per millisecond

// Listing text per source and sample, and the room beyond it.
constexpr std::uint64_t kListingCharsPerSource = 14, kListingSlack = 1500;
// What one reply can carry (the result word's count field).
constexpr std::uint64_t kMaxListing = 0x0FFFFFFF;

GatherState* GatherOf(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  return IsRealDevice(d) ? &App().User(d)->Gather : nullptr;
}

// Older cards are card types 1 to 3; every other card has the larger set.
bool Older(const SharedDeviceBlock& b) { return b.CardType >= 1 && b.CardType <= 3; }
std::uint32_t SourcesOf(const SharedDeviceBlock& b) {
  return Older(b) ? kOlderSources : kGatherSources;
}
std::uint32_t SourceVariable(const SharedDeviceBlock& b, std::uint32_t n) {
  return (Older(b) ? kOlderSourceBase : kSpranSourceBase) + n;
}
std::uint32_t PeriodVariable(const SharedDeviceBlock& b) {
  return Older(b) ? kOlderPeriod : kSpranPeriod;
}
// The enable variable that holds source n's bit, and the bit.
std::uint32_t EnableVariable(const SharedDeviceBlock& b, std::uint32_t n) {
  if (Older(b)) return kOlderEnable;
  return n < 24 ? kSpranEnable : kSpranEnableHigh;
}

// The source types: the letters a source's address starts with, the code
// the card keeps in bits 20-23 of the source variable, the words one sample
// of it takes in the gather buffer, and how the listing's units decode.
struct SourceType {
  const char* letters;
  std::uint32_t code;
  std::uint32_t words;
  GatherDecode decode;
};
// DP stands before D, so that the longer letters win.
constexpr SourceType kSourceTypes[] = {
    {"DP", 0xE, 2, GatherDecode::kPair32}, {"D", 0x8, 2, GatherDecode::kFixed48},
    {"F", 0xA, 2, GatherDecode::kSingle},  {"L", 0xC, 2, GatherDecode::kFloat48},
    {"X", 0x4, 1, GatherDecode::kWord24},  {"Y", 0x0, 1, GatherDecode::kWord24},
};

// The type whose letters (either case) start the first `size` characters
// of `text`; null when none does.
const SourceType* TypeOfText(const char* text, std::size_t size) {
  for (const SourceType& t : kSourceTypes) {
    std::size_t i = 0;
    while (t.letters[i] != '\0' && i < size &&
           std::toupper(static_cast<unsigned char>(text[i])) == t.letters[i]) {
      ++i;
    }
    if (t.letters[i] == '\0') return &t;
  }
  return nullptr;
}

const SourceType* TypeOfCode(std::uint32_t code) {
  for (const SourceType& t : kSourceTypes) {
    if (t.code == code) return &t;
  }
  return nullptr;
}

// Runs `run` on the device's shared gather settings under the command lock;
// `none` for a number that names no device.
template <typename T, typename Run>
T WithSettings(std::uint32_t device, T none, Run run) {
  SharedDeviceBlock* b = BlockOf(device);
  if (b == nullptr) return none;
  CommandLock lock(device);
  return run(*b);
}

// The same for source n, which answers 0 as well when the card has no such
// source.
template <typename T, typename Run>
T WithSource(std::uint32_t device, std::uint32_t n, Run run) {
  return WithSettings<T>(device, T{},
                         [&](SharedDeviceBlock& b) { return n < SourcesOf(b) ? run(b) : T{}; });
}

void SetName(SharedDeviceBlock& b, std::uint32_t n, const char* text) {
  // The first 15 characters, unterminated when the text has that many.
  char* name = b.GatherSourceName[n];
  std::memset(name, 0, kGatherSourceNameSize);
  for (std::size_t i = 0; i < kGatherSourceNameSize && text[i] != '\0'; ++i) name[i] = text[i];
}

std::string NameOf(const SharedDeviceBlock& b, std::uint32_t n) {
  const char* name = b.GatherSourceName[n];
  return std::string(name, strnlen(name, kGatherSourceNameSize));
}

// The enable variable's value, or what the settings last knew of it when
// the card gives no answer (so a lost reply never clears other sources).
std::uint32_t ReadEnableMask(std::uint32_t device, const SharedDeviceBlock& b, std::uint32_t var) {
  const int index = var == kSpranEnableHigh ? 1 : 0;
  return static_cast<std::uint32_t>(
      ZimoGetIVariableLong(device, var, static_cast<std::int32_t>(b.GatherEnableMask[index])));
}

std::uint32_t ReadPeriod(std::uint32_t device, SharedDeviceBlock& b) {
  b.GatherPeriod = static_cast<std::uint32_t>(
      ZimoGetIVariableLong(device, PeriodVariable(b), static_cast<std::int32_t>(b.GatherPeriod)));
  return b.GatherPeriod;
}

double SampleTimeOf(const SharedDeviceBlock& b) {
  return b.GatherPeriod * (b.ServoI10 / kServoUnits);
}

// Reads one of the buffer pointers ("rx$F20"): the decimal number the
// card answers, or nothing.
bool ReadPointer(std::uint32_t device, const char* command, std::int64_t* value) {
  char reply[64] = {};
  const std::uint32_t word = ZimoGetResponseExA(device, reply, sizeof reply, command);
  if ((word & kErrorBits) != 0 || (word & kCountMask) == 0) return false;
  char* end = nullptr;
  const long long v = std::strtoll(reply, &end, 10);
  if (end == reply) return false;
  *value = v;
  return true;
}

void ClearData(SharedDeviceBlock& b, GatherState& g) {
  for (auto& samples : g.GatherData) samples = std::vector<double>();
  b.GatherSampleCount = 0;
}

void WriteEnableMasks(std::uint32_t device, const SharedDeviceBlock& b) {
  if (Older(b)) {
    ZimoSetIVariableLong(device, kOlderEnable, static_cast<std::int32_t>(b.GatherEnableMask[0]));
  } else {
    ZimoSetIVariableLong(device, kSpranEnable, static_cast<std::int32_t>(b.GatherEnableMask[0]));
    ZimoSetIVariableLong(device, kSpranEnableHigh,
                         static_cast<std::int32_t>(b.GatherEnableMask[1]));
  }
}

void DefineBuffer(std::uint32_t device, std::int32_t size) {
  char reply[256];
  ZimoGetResponseA(device, reply, sizeof reply, "I48=0");
  ChangeStore(device, "I48=0");
  char line[32];
  if (size == 0) {
    std::snprintf(line, sizeof line, "def gat");
  } else {
    std::snprintf(line, sizeof line, "def gat %d", size);
  }
  ZimoGetResponseA(device, reply, sizeof reply, line);
}

// Quick-gather tables: per kind the address of motor 0 and its letter.
struct PresetEntry {
  char letter;
  std::uint32_t address;
};

void ClearSources(std::uint32_t device, const SharedDeviceBlock& b) {
  for (std::uint32_t n = 0; n < SourcesOf(b); ++n) ZimoSetGather(device, n, "", 0);
}

void SetPreset(std::uint32_t device, std::uint32_t n, PresetEntry e, std::int32_t enable) {
  char text[32];
  std::snprintf(text, sizeof text, "%c:$%X", e.letter, e.address);
  ZimoSetGather(device, n, text, enable);
}

// The older cards' walk: bit b is kind b / 8 of motor b % 8, $3C apart.
void OlderPreset(std::uint32_t device, const SharedDeviceBlock& b, std::uint32_t mask,
                 std::int32_t enable, bool direct_current) {
  const bool type1 = b.CardType == 1;
  const PresetEntry kinds[4] = {
      {'D', 0x28},
      {'D', 0x2B},
      {'X', type1 ? 0x45u : 0x49u},
      {(type1 || direct_current) ? 'Y' : 'X', 0x44},
  };
  ClearSources(device, b);
  std::uint32_t next = 0;
  for (std::uint32_t bit = 0; bit < 32 && next < SourcesOf(b); ++bit) {
    if (((mask >> bit) & 1u) == 0) continue;
    PresetEntry e = kinds[bit / 8];
    e.address += 0x3C * (bit % 8);
    SetPreset(device, next++, e, enable);
  }
}

// The SPRAN walk: motor by motor, kinds 0 to 3 of each, $80 apart.
void SpranPreset(std::uint32_t device, const SharedDeviceBlock& b, const std::uint32_t masks[4],
                 std::int32_t enable, bool direct_current) {
  const PresetEntry kinds[4] = {{'D', 0xA5}, {'D', 0x8B}, {'X', 0xBF}, {'X', 0xB9}};
  ClearSources(device, b);
  std::uint32_t next = 0;
  for (std::uint32_t motor = 0; motor < 32; ++motor) {
    if (next >= SourcesOf(b)) break;
    for (int kind = 0; kind < 4; ++kind) {
      if (((masks[kind] >> motor) & 1u) == 0) continue;
      PresetEntry e = kinds[kind];
      e.address += 0x80 * motor;
      // The current: its Y word for the direct-current form, and for motor 7
      // in every form.
      if (kind == 3 && (direct_current || motor == 7)) e.letter = 'Y';
      SetPreset(device, next++, e, enable);
    }
  }
}

std::uint32_t PackMasks(std::uint32_t m0, std::uint32_t m1, std::uint32_t m2, std::uint32_t m3) {
  return (m0 & 0xFF) | (m1 & 0xFF) << 8 | (m2 & 0xFF) << 16 | m3 << 24;
}

void ShowMemoryError(std::uint64_t bytes) {
  char text[96];
  std::snprintf(text, sizeof text, "Unable to allocate %llu Bytes of PC Memory",
                static_cast<unsigned long long>(bytes));
  platform::ShowMessageBox(text, "PC Memory Error", platform::kMbIconError | platform::kMbTopmost);
}

// The four-mask quick gather, one mask per kind: older cards take the masks
// packed into the one-mask form.
std::int32_t QuickGatherByMotor(std::uint32_t device, std::array<std::uint32_t, 4> masks,
                                std::int32_t enable, bool direct_current) {
  return WithSettings<std::int32_t>(device, 1, [&](SharedDeviceBlock& b) {
    if (Older(b)) {
      const std::uint32_t packed = PackMasks(masks[0], masks[1], masks[2], masks[3]);
      return direct_current ? ZimoSetQuickGatherWithDirectCurrent(device, packed, enable)
                            : ZimoSetQuickGather(device, packed, enable);
    }
    SpranPreset(device, b, masks.data(), enable, direct_current);
    return 1;
  });
}

}  // namespace

GatherDecode DecodeForName(const char* name, std::size_t size) {
  const SourceType* type = TypeOfText(name, size);
  return type != nullptr ? type->decode : GatherDecode::kSkip;
}

namespace {

// Decodes one source's value at the cursor; false when the text ends first.
bool DecodeUnit(const char* text, std::size_t words, GatherDecode decode, std::size_t& w,
                bool& high, double* value) {
  constexpr std::size_t kStride = 13, kDigits = 12;
  auto digits = [text](std::size_t at) { return text + at * kStride; };
  if (decode == GatherDecode::kWord24) {
    if (w >= words) return false;
    *value = strtod24(digits(w) + (high ? 0 : 6));
    if (high) ++w;
    high = !high;
    return true;
  }
  char pair[kDigits + 1] = {};
  if (!high) {
    if (w >= words) return false;
    std::memcpy(pair, digits(w), kDigits);
  } else {
    // This word's X half is the low unit, the next word's Y half the high
    // one; the cursor then stays on an X half.
    if (w + 1 >= words) return false;
    std::memcpy(pair, digits(w + 1) + 6, 6);
    std::memcpy(pair + 6, digits(w), 6);
  }
  ++w;
  switch (decode) {
    case GatherDecode::kFixed48:
      *value = strtod48l(pair);
      break;
    case GatherDecode::kPair32:
      *value = strtod32dp(pair);
      break;
    case GatherDecode::kFloat48:
      *value = strtod48f(pair);
      break;
    default:
      *value = strtod32f(pair);
      break;
  }
  return true;
}

bool DecodeSamples(const char* text, std::size_t length, std::uint32_t samples,
                   const std::vector<GatherColumn>& columns) {
  constexpr std::size_t kStride = 13, kDigits = 12;
  // Words whose 12 digits all lie in the text.
  const std::size_t words = length < kDigits ? 0 : (length - kDigits) / kStride + 1;
  std::size_t w = 0;
  bool high = false;  // the next unit is the word's X half (digits 1-6)
  for (std::uint32_t s = 0; s < samples; ++s) {
    for (const GatherColumn& c : columns) {
      if (c.decode == GatherDecode::kSkip) continue;
      double value = 0;
      if (!DecodeUnit(text, words, c.decode, w, high, &value)) return false;
      if (c.out != nullptr && s < c.out->size()) (*c.out)[s] = value;
    }
    if (high) {  // every sample starts on a word
      ++w;
      high = false;
    }
  }
  return true;
}

}  // namespace

bool DecodeGatherListing(const char* text, std::size_t length, std::uint32_t samples,
                         const std::vector<GatherColumn>& columns) {
  if (DecodeSamples(text, length, samples, columns)) return true;
  for (const GatherColumn& c : columns) {
    if (c.out != nullptr) std::fill(c.out->begin(), c.out->end(), 0.0);
  }
  return false;
}

}  // namespace zimo::corvan

using zimo::corvan::GatherState;
using zimo::corvan::SharedDeviceBlock;

extern "C" {

int32_t ZimoSetGather(uint32_t device, uint32_t n, const char* address, int32_t enable) {
  using namespace zimo::corvan;
  return WithSource<std::int32_t>(device, n, [&](SharedDeviceBlock& b) -> std::int32_t {
    const char* text = address != nullptr ? address : "";
    const SourceType* type = TypeOfText(text, std::strlen(text));
    if (type == nullptr) {
      b.GatherSourceWords[n] = 0;
      std::memset(b.GatherSourceName[n], 0, kGatherSourceNameSize);
      ZimoSetIVariableLong(device, SourceVariable(b, n), 0);
      ZimoSetGatherEnable(device, n, 0);
      return 1;
    }
    const char* p = text + std::strlen(type->letters);
    if (*p == ':') ++p;
    unsigned long number = 0;
    if (*p == '$') {
      number = std::strtoul(p + 1, nullptr, 16);
    } else {
      number = std::strtoul(p, nullptr, 0);
    }
    const auto value =
        static_cast<std::uint32_t>(type->code << 20 | static_cast<std::uint32_t>(number));
    ZimoSetIVariableLong(device, SourceVariable(b, n), static_cast<std::int32_t>(value));
    SetName(b, n, text);
    b.GatherSourceWords[n] = type->words;
    ZimoSetGatherEnable(device, n, enable);
    return 0;
  });
}

int32_t ZimoGetGather(uint32_t device, uint32_t n, char* text, uint32_t size) {
  using namespace zimo::corvan;
  return WithSource<std::int32_t>(device, n, [&](SharedDeviceBlock& b) {
    const auto value =
        static_cast<std::uint32_t>(ZimoGetIVariableLong(device, SourceVariable(b, n), 0));
    const SourceType* type = TypeOfCode((value >> 20) & 0xF);
    // Older cards address 16 bits of memory, the others everything below the
    // type bits.
    const std::uint32_t address = value & (Older(b) ? 0xFFFFu : 0xFFFFFu);
    char rebuilt[32];
    std::snprintf(rebuilt, sizeof rebuilt, "%s%s$%X", type != nullptr ? type->letters : "",
                  type != nullptr ? ":" : "", address);
    SetName(b, n, rebuilt);
    b.GatherSourceWords[n] = type != nullptr ? type->words : 0;
    if (text != nullptr && size > 0) {
      const std::size_t length = std::min<std::size_t>(std::strlen(rebuilt), size - 1);
      std::memcpy(text, rebuilt, length);
      text[length] = '\0';
    }
    return 1;
  });
}

int32_t ZimoSetGatherEnable(uint32_t device, uint32_t n, int32_t on) {
  using namespace zimo::corvan;
  return WithSource<std::int32_t>(device, n, [&](SharedDeviceBlock& b) {
    const std::uint32_t var = EnableVariable(b, n);
    const std::uint32_t bit = 1u << (n % 24);
    std::uint32_t mask = ReadEnableMask(device, b, var);
    mask = on != 0 ? (mask | bit) : (mask & ~bit);
    ZimoSetIVariableLong(device, var, static_cast<std::int32_t>(mask));
    b.GatherEnableMask[var == kSpranEnableHigh ? 1 : 0] = mask;
    b.GatherSourceEnabled[n] = on != 0 ? 1 : 0;
    return 1;
  });
}

int32_t ZimoGetGatherEnable(uint32_t device, uint32_t n) {
  using namespace zimo::corvan;
  return WithSource<std::int32_t>(device, n, [&](SharedDeviceBlock& b) {
    const std::uint32_t var = EnableVariable(b, n);
    const std::uint32_t mask = ReadEnableMask(device, b, var);
    b.GatherEnableMask[var == kSpranEnableHigh ? 1 : 0] = mask;
    const std::uint32_t on = (mask >> (n % 24)) & 1u;
    b.GatherSourceEnabled[n] = on;
    return static_cast<std::int32_t>(on);
  });
}

uint32_t ZimoGetNumGatherSources(uint32_t device) {
  using namespace zimo::corvan;
  return WithSettings<std::uint32_t>(device, 0, [&](SharedDeviceBlock& b) {
    if (Older(b)) {
      b.GatherEnableMask[0] = ReadEnableMask(device, b, kOlderEnable);
      b.GatherEnableMask[1] = 0;
    } else {
      b.GatherEnableMask[0] = ReadEnableMask(device, b, kSpranEnable);
      b.GatherEnableMask[1] = ReadEnableMask(device, b, kSpranEnableHigh);
    }
    std::uint32_t count = 0, words = 0;
    for (std::uint32_t n = 0; n < SourcesOf(b); ++n) {
      b.GatherSourceEnabled[n] = (b.GatherEnableMask[n / 24] >> (n % 24)) & 1u;
      if (b.GatherSourceEnabled[n] == 1) {
        ++count;
        words += b.GatherSourceWords[n];
      }
    }
    b.GatherSourceCount = count;
    b.GatherWordsPerSample = words + (words & 1u);
    return count;
  });
}

uint32_t ZimoGetNumGatherSamples(uint32_t device) {
  using namespace zimo::corvan;
  return WithSettings<std::uint32_t>(device, 0, [&](SharedDeviceBlock& b) -> std::uint32_t {
    ZimoGetNumGatherSources(device);
    b.GatherSampleCount = 0;
    if (b.GatherSourceCount == 0 || b.GatherWordsPerSample == 0) return 0;
    const bool older = Older(b);
    std::int64_t start = 0, end = 0;
    if (!ReadPointer(device, older ? "rx$F20" : "rx$3120", &start) ||
        !ReadPointer(device, older ? "ry$F20" : "ry$3120", &end)) {
      return 0;
    }
    // A start past the end (a buffer that wrapped, or a reply that is no
    // pointer) describes no run of samples.
    if (start < 0 || end < start) return 0;
    const std::uint64_t samples =
        static_cast<std::uint64_t>(end - start) * 2 / b.GatherWordsPerSample;
    if (samples > std::numeric_limits<std::uint32_t>::max()) return 0;
    b.GatherSampleCount = static_cast<std::uint32_t>(samples);
    return b.GatherSampleCount;
  });
}

uint32_t ZimoGetGatherPeriod(uint32_t device) {
  using namespace zimo::corvan;
  return WithSettings<std::uint32_t>(device, 0,
                                     [&](SharedDeviceBlock& b) { return ReadPeriod(device, b); });
}

uint32_t ZimoSetGatherPeriod(uint32_t device, uint32_t period) {
  using namespace zimo::corvan;
  return WithSettings<std::uint32_t>(device, 0, [&](SharedDeviceBlock& b) {
    ZimoSetIVariableLong(device, PeriodVariable(b), static_cast<std::int32_t>(period));
    ReadPeriod(device, b);
    b.GatherSampleTime = SampleTimeOf(b);
    return b.GatherPeriod;
  });
}

double ZimoGetGatherSampleTime(uint32_t device) {
  using namespace zimo::corvan;
  return WithSettings<double>(device, 0, [&](SharedDeviceBlock& b) {
    ReadPeriod(device, b);
    b.GatherSampleTime = SampleTimeOf(b);
    return b.GatherSampleTime;
  });
}

double ZimoSetGatherSampleTime(uint32_t device, double milliseconds) {
  using namespace zimo::corvan;
  return WithSettings<double>(device, 0, [&](SharedDeviceBlock& b) {
    const double servo_ms = b.ServoI10 / kServoUnits;
    // Without a servo time (or with a time that is no time) there is no
    // period to compute: the current one stays.
    if (!(servo_ms > 0) || !(milliseconds >= 0) || !std::isfinite(milliseconds)) {
      return b.GatherSampleTime;
    }
    const double period = std::min(std::trunc(milliseconds / servo_ms),
                                   static_cast<double>(std::numeric_limits<std::int32_t>::max()));
    ZimoSetIVariableLong(device, PeriodVariable(b), static_cast<std::int32_t>(period));
    return ZimoGetGatherSampleTime(device);
  });
}

int32_t ZimoGetGatherMode(uint32_t device) {
  using namespace zimo::corvan;
  if (BlockOf(device) == nullptr) return 0;
  return ZimoGetIVariableLong(device, kBufferMode, 0);
}

int32_t ZimoSetGatherMode(uint32_t device, int32_t mode) {
  using namespace zimo::corvan;
  return WithSettings<std::int32_t>(device, 0, [&](SharedDeviceBlock&) {
    ZimoSetIVariableLong(device, kBufferMode, mode);
    // A card that does not answer must not count as agreeing.
    const std::int32_t back = ZimoGetIVariableLong(device, kBufferMode, mode == 0 ? -1 : 0);
    return back == mode ? 1 : 0;
  });
}

void ZimoClearGatherData(uint32_t device) {
  using namespace zimo::corvan;
  SharedDeviceBlock* b = BlockOf(device);
  GatherState* g = GatherOf(device);
  if (b == nullptr || g == nullptr) return;
  CommandLock lock(device);
  ClearData(*b, *g);
}

void ZimoClearGather(uint32_t device) {
  using namespace zimo::corvan;
  SharedDeviceBlock* b = BlockOf(device);
  if (b == nullptr) return;
  CommandLock lock(device);
  ZimoClearGatherData(device);
  ClearSources(device, *b);
  b->GatherSourceCount = 0;
  b->GatherWordsPerSample = 0;
}

int32_t ZimoInitGather(uint32_t device, int32_t size, double milliseconds) {
  using namespace zimo::corvan;
  return WithSettings<std::int32_t>(device, 1, [&](SharedDeviceBlock& b) {
    DefineBuffer(device, size);
    ZimoSetGatherSampleTime(device, milliseconds);
    WriteEnableMasks(device, b);
    for (std::uint32_t n = 0; n < SourcesOf(b); ++n) {
      const std::string name = NameOf(b, n);
      ZimoSetGather(device, n, name.c_str(), static_cast<std::int32_t>(b.GatherSourceEnabled[n]));
    }
    return 1;
  });
}

int32_t ZimoInitPlotGather(uint32_t device, int32_t size, uint32_t period) {
  using namespace zimo::corvan;
  return WithSettings<std::int32_t>(device, 1, [&](SharedDeviceBlock& b) {
    DefineBuffer(device, size);
    ZimoSetGatherPeriod(device, period);
    WriteEnableMasks(device, b);
    return 1;
  });
}

int32_t ZimoStartGather(uint32_t device) {
  ZimoSendCommandA(device, "gatgat");
  return 1;
}

int32_t ZimoStopGather(uint32_t device) {
  ZimoSendCommandA(device, "endgat");
  return 1;
}

int32_t ZimoCollectGatherData(uint32_t device, uint32_t* sources, uint32_t* samples) {
  using namespace zimo::corvan;
  SharedDeviceBlock* b = BlockOf(device);
  GatherState* g = GatherOf(device);
  if (b == nullptr || g == nullptr) return 0;
  DeviceUserHandle* user = App().User(IndexFromDeviceNumber(device));
  CommandLock lock(device);
  const std::uint32_t logging = user->CommandLogging;
  user->CommandLogging = 0;

  ClearData(*b, *g);
  const std::uint32_t count = ZimoGetNumGatherSamples(device);
  const std::uint64_t bytes =
      static_cast<std::uint64_t>(b->GatherSourceCount) * count * kListingCharsPerSource +
      kListingSlack;
  std::vector<char> listing;
  bool allocated = bytes <= kMaxListing;
  if (allocated) {
    try {
      listing.resize(static_cast<std::size_t>(bytes));
      for (std::uint32_t n = 0; n < SourcesOf(*b); ++n) {
        if (b->GatherSourceEnabled[n] == 1) g->GatherData[n].assign(std::size_t{count} + 2, 0.0);
      }
    } catch (const std::bad_alloc&) {
      allocated = false;
    }
  }
  if (!allocated) {
    ClearData(*b, *g);
    user->CommandLogging = logging;
    lock.Release();  // nobody waits on the device while the box is up
    ShowMemoryError(bytes);
    return 0;
  }

  bool whole = false;
  if (count > 0) {
    char reply[199];
    ZimoGetResponseA(device, reply, sizeof reply, "close");
    const std::uint32_t length = ZimoGetResponseA(
        device, listing.data(), static_cast<std::uint32_t>(listing.size()), "list gat");
    std::vector<GatherColumn> columns;
    for (std::uint32_t n = 0; n < SourcesOf(*b); ++n) {
      if (b->GatherSourceEnabled[n] == 0) continue;
      GatherColumn c;
      c.decode = DecodeForName(b->GatherSourceName[n],
                               strnlen(b->GatherSourceName[n], kGatherSourceNameSize));
      c.out = g->GatherData[n].empty() ? nullptr : &g->GatherData[n];
      columns.push_back(c);
    }
    whole = DecodeGatherListing(listing.data(), std::min<std::size_t>(length, listing.size()),
                                count, columns);
  }
  if (sources != nullptr) *sources = b->GatherSourceCount;
  if (samples != nullptr) *samples = b->GatherSampleCount;
  user->CommandLogging = logging;
  return whole && count > 0 ? 1 : 0;
}

int32_t ZimoGetGatherSamples(uint32_t device, uint32_t n, uint32_t* count, double* out,
                             uint32_t maximum) {
  using namespace zimo::corvan;
  SharedDeviceBlock* b = BlockOf(device);
  GatherState* g = GatherOf(device);
  if (b == nullptr || g == nullptr) return 0;
  CommandLock lock(device);
  if (n >= SourcesOf(*b) || g->GatherData[n].empty()) return 0;
  // The array's own length decides: another process may have collected a
  // different count into the shared settings since.
  const std::size_t held = g->GatherData[n].size() - 2;
  const auto copied = static_cast<std::uint32_t>(
      std::min<std::size_t>({held, b->GatherSampleCount, std::size_t{maximum}}));
  if (out != nullptr) std::copy_n(g->GatherData[n].data(), copied, out);
  if (count != nullptr) *count = out != nullptr ? copied : 0;
  return 1;
}

int32_t ZimoGetGatherPoint(uint32_t device, uint32_t n, uint32_t index, double* value) {
  using namespace zimo::corvan;
  SharedDeviceBlock* b = BlockOf(device);
  GatherState* g = GatherOf(device);
  if (value != nullptr) *value = 0.0;
  if (b == nullptr || g == nullptr) return 0;
  CommandLock lock(device);
  if (n >= SourcesOf(*b) || g->GatherData[n].empty()) return 0;
  const std::size_t held = std::min<std::size_t>(g->GatherData[n].size() - 2, b->GatherSampleCount);
  if (index >= held) return 0;
  if (value != nullptr) *value = g->GatherData[n][index];
  return 1;
}

int32_t ZimoSetQuickGather(uint32_t device, uint32_t mask, int32_t enable) {
  using namespace zimo::corvan;
  return WithSettings<std::int32_t>(device, 1, [&](SharedDeviceBlock& b) {
    if (!Older(b)) {
      return ZimoSetQuickGatherEx(device, mask & 0xFF, (mask >> 8) & 0xFF, (mask >> 16) & 0xFF,
                                  (mask >> 24) & 0xFF, enable);
    }
    OlderPreset(device, b, mask, enable, false);
    return 1;
  });
}

int32_t ZimoSetQuickGatherWithDirectCurrent(uint32_t device, uint32_t mask, int32_t enable) {
  using namespace zimo::corvan;
  return WithSettings<std::int32_t>(device, 1, [&](SharedDeviceBlock& b) {
    OlderPreset(device, b, mask, enable, true);
    return 1;
  });
}

int32_t ZimoSetQuickGatherEx(uint32_t device, uint32_t mask0, uint32_t mask1, uint32_t mask2,
                             uint32_t mask3, int32_t enable) {
  return zimo::corvan::QuickGatherByMotor(device, {mask0, mask1, mask2, mask3}, enable, false);
}

int32_t ZimoSetQuickGatherWithDirectCurrentEx(uint32_t device, uint32_t mask0, uint32_t mask1,
                                              uint32_t mask2, uint32_t mask3, int32_t enable) {
  return zimo::corvan::QuickGatherByMotor(device, {mask0, mask1, mask2, mask3}, enable, true);
}

}  // extern "C"
