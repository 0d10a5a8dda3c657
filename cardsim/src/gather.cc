// Data gathering as the card does it: up to 24 (older) or 48 (SPRAN)
// sources, each an I-variable holding a type in bits 20-23 and a card
// address below, recorded every I19 (SPRAN I5049) servo cycles into the
// gather buffer while gathering runs (GAT .. ENDGAT, or while a program
// holds the gather trigger bit).
//
// A sample is the enabled sources in number order, one 24-bit unit for an
// X or Y word and two for an X:Y pair (Y first), padded to an even count of
// units. Units fill the buffer's L words Y half first, then X half. The
// buffer's start and end pointers (card addresses of L words; the end one
// is the next free word) are kept in X:$F20 and Y:$F20 (SPRAN $3120), so a
// host reads them with "rx" and "ry". Without wrap (I45 bit 0 clear) the
// card stops recording when the next sample does not fit; with wrap it
// keeps the buffer as a ring of whole samples with one slot free, so once
// it has gone round the start pointer lies past the end pointer.
#include <algorithm>
#include <string>
#include <vector>

#include "cardsim/card_word.h"
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
// Settings.
constexpr int kOlderSources = 24, kSpranSources = 48;
constexpr int kOlderSourceBase = 21, kSpranSourceBase = 5001;
constexpr int kOlderEnable = 20, kSpranEnable = 5050, kSpranEnableHigh = 5051;
constexpr int kOlderPeriod = 19, kSpranPeriod = 5049;
constexpr int kBufferMode = 45;  // bit 0: wrap

// The gather trigger: a card program that wants one span recorded sets
// this control bit for as long as the span lasts (older X:$0003, SPRAN
// X:$0006, bit 19); the card records while it is set as between GAT and
// ENDGAT.
constexpr uint32_t kOlderTrigger = 0x3, kSpranTrigger = 0x6, kTriggerBit = 1u << 19;

// Pointers: X start, Y end.
constexpr uint32_t kOlderPointers = 0xF20, kSpranPointers = 0x3120;

// Where the buffer lies and how big it may get (L words): on older cards
// between the program area and the M-variable definitions, on SPRAN cards
// above them.
constexpr uint32_t kOlderBufferBase = 0x4000, kOlderBufferRoom = 0xBC00 - 0x4000;
constexpr uint32_t kSpranBufferBase = 0x20000, kSpranBufferRoom = 0x20000;

constexpr size_t kWordsPerLine = 16;

uint32_t SourceType(uint32_t setting) { return (setting >> 20) & 0xF; }
}  // namespace

uint32_t Interpreter::GatherPointerAddress() const {
  return model_.spran ? kSpranPointers : kOlderPointers;
}

void Interpreter::SetGatherPointers(uint32_t start, uint32_t end) {
  memory_.Write(Space::kX, GatherPointerAddress(), start);
  memory_.Write(Space::kY, GatherPointerAddress(), end);
}

int Interpreter::DefineGather(Scanner& s, Reply&) {
  const uint32_t base = model_.spran ? kSpranBufferBase : kOlderBufferBase;
  const uint32_t room = model_.spran ? kSpranBufferRoom : kOlderBufferRoom;
  uint64_t words = 0;  // 24-bit words asked for; 0: all the room there is
  if (Scanner::IsDigit(s.Peek()) || s.Peek() == '$') {
    auto n = s.Unsigned();
    if (!n || *n / 2 > room) return card_error::kBadCommand;
    words = *n;
  }
  gather_.defined = true;
  gather_.base = base;
  gather_.size = words == 0 ? room : static_cast<uint32_t>(words / 2);
  gather_.top = base + gather_.size;
  gather_.wait = 0;
  SetGatherPointers(base, base);
  return 0;
}

int Interpreter::DeleteGather(Scanner&, Reply&) {
  gather_.defined = false;
  SetGatherPointers(0, 0);
  return 0;
}

int Interpreter::ListGather(Scanner&, Reply& reply) {
  if (!gather_.defined) return 0;
  const uint32_t start = memory_.Read(Space::kX, GatherPointerAddress());
  const uint32_t end = memory_.Read(Space::kY, GatherPointerAddress());
  const uint32_t top = gather_.top;
  if (start < gather_.base || start >= top || end < gather_.base || end > top) return 0;
  // A scripted cut ends the listing early, as a card that stopped talking.
  const int limit = script_.gather_list_limit();
  std::string line;
  size_t listed = 0;
  for (uint32_t a = start; a != end && listed < gather_.size; ++listed) {
    if (limit > 0 && listed >= static_cast<size_t>(limit)) break;
    if (!line.empty()) line += ' ';
    line += word::Hex48(memory_.ReadPair(a));
    if ((listed + 1) % kWordsPerLine == 0) {
      reply.lines.push_back(std::move(line));
      line.clear();
    }
    if (++a == top && end != top) a = gather_.base;  // round the ring
  }
  if (!line.empty()) reply.lines.push_back(std::move(line));
  return 0;
}

void Interpreter::GatherCycle() {
  const bool triggered =
      (memory_.Read(Space::kX, model_.spran ? kSpranTrigger : kOlderTrigger) & kTriggerBit) != 0;
  if (!gathering_ && !triggered) {
    gather_.running = false;
    return;
  }
  if (!gather_.running) {  // a start records at the next cycle
    gather_.running = true;
    gather_.wait = 0;
  }
  if (gather_.wait > 0) {
    --gather_.wait;
    return;
  }
  const bool spran = model_.spran;
  gather_.wait =
      static_cast<uint32_t>(std::max(vars_.I(spran ? kSpranPeriod : kOlderPeriod), 1.0)) - 1;
  if (!gather_.defined || script_.gather_frozen()) return;

  // The sample's units.
  std::vector<uint32_t> units;
  const int sources = spran ? kSpranSources : kOlderSources;
  const auto low_mask = static_cast<uint32_t>(vars_.I(spran ? kSpranEnable : kOlderEnable));
  const auto high_mask = spran ? static_cast<uint32_t>(vars_.I(kSpranEnableHigh)) : 0u;
  for (int n = 0; n < sources; ++n) {
    const uint32_t mask = n < 24 ? low_mask : high_mask;
    if (((mask >> (n % 24)) & 1u) == 0) continue;
    const auto setting =
        static_cast<uint32_t>(vars_.I((spran ? kSpranSourceBase : kOlderSourceBase) + n));
    const uint32_t address = setting & 0xFFFFF;
    const uint32_t type = SourceType(setting);
    if (type >= 8) {  // D, F, L, DP: the X:Y pair, Y first
      units.push_back(memory_.Read(Space::kY, address));
      units.push_back(memory_.Read(Space::kX, address));
    } else {
      units.push_back(memory_.Read((type & 4) != 0 ? Space::kX : Space::kY, address));
    }
  }
  if (units.empty()) return;
  if (units.size() % 2 != 0) units.push_back(0);
  const auto words = static_cast<uint32_t>(units.size() / 2);

  uint32_t start = memory_.Read(Space::kX, GatherPointerAddress());
  uint32_t end = memory_.Read(Space::kY, GatherPointerAddress());
  const bool wrap = (static_cast<uint32_t>(vars_.I(kBufferMode)) & 1u) != 0;
  if (!wrap) {
    if (end + words > gather_.base + gather_.size) return;  // full: recording stops
  } else {
    // A ring of whole samples with one slot always free: when the end
    // catches up with the start, the oldest sample goes.
    const uint32_t ring_top = gather_.base + (gather_.size / words) * words;
    if (gather_.size / words < 2) return;
    if (end + words > ring_top) end = gather_.base;
    gather_.top = ring_top;
  }
  for (uint32_t w = 0; w < words; ++w) {
    memory_.Write(Space::kY, end + w, units[2 * w]);
    memory_.Write(Space::kX, end + w, units[2 * w + 1]);
  }
  end += words;
  if (wrap) {
    const uint32_t ring_top = gather_.base + (gather_.size / words) * words;
    if (end >= ring_top) end = gather_.base;
    if (end == start) {
      start += words;
      if (start >= ring_top) start = gather_.base;
    }
  }
  SetGatherPointers(start, end);
}

}  // namespace zimo::cardsim
