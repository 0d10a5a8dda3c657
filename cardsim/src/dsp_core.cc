// The processor's registers, addressing and the run loop; the decoding of
// each word is dsp_execute.cc.
#include "cardsim/dsp_core.h"

#include <cstdio>

#include "dsp_exec.h"

namespace zimo::cardsim {

namespace {
constexpr uint32_t kSentinel = 0xFFFFFFFFu;
// The hardware stack holds 15 levels on the DSP56000 and 16 on the DSP56300.
constexpr size_t kStackLevels = 15;
}  // namespace

void Accumulator::Set(int64_t value) {
  // Keep 56 bits, sign-extended.
  uint64_t u = static_cast<uint64_t>(value) & ((uint64_t{1} << 56) - 1);
  v = (u & (uint64_t{1} << 55)) != 0 ? static_cast<int64_t>(u | ~((uint64_t{1} << 56) - 1))
                                      : static_cast<int64_t>(u);
}

void Accumulator::SetWord(uint32_t word) {
  int64_t w = static_cast<int64_t>(word & 0xFFFFFF);
  if ((w & 0x800000) != 0) w -= 0x1000000;
  Set(w * (int64_t{1} << 24));
}

void Accumulator::SetA0(uint32_t word) {
  Set(static_cast<int64_t>((static_cast<uint64_t>(v) & ~uint64_t{0xFFFFFF}) | (word & 0xFFFFFF)));
}

void Accumulator::SetA1(uint32_t word) {
  uint64_t u = static_cast<uint64_t>(v) & ~(uint64_t{0xFFFFFF} << 24);
  Set(static_cast<int64_t>(u | (static_cast<uint64_t>(word & 0xFFFFFF) << 24)));
}

void Accumulator::SetA2(uint32_t word) {
  uint64_t u = static_cast<uint64_t>(v) & ((uint64_t{1} << 48) - 1);
  Set(static_cast<int64_t>(u | (static_cast<uint64_t>(word & 0xFF) << 48)));
}

bool Accumulator::ExtensionInUse() const {
  // Bits 55..47 are not all the same.
  int64_t top = v >> 47;
  return top != 0 && top != -1;
}

uint32_t Accumulator::Limited24() const {
  if (!ExtensionInUse()) return a1();
  return v < 0 ? 0x800000u : 0x7FFFFFu;
}

uint64_t Accumulator::Limited48() const {
  if (!ExtensionInUse()) return static_cast<uint64_t>(v) & ((uint64_t{1} << 48) - 1);
  return v < 0 ? 0x800000000000ull : 0x7FFFFFFFFFFFull;
}

DspCore::DspCore(Memory& memory, bool dsp56300) : memory_(memory), dsp56300_(dsp56300) {
  for (uint32_t& m : regs_.m) m = address_mask();
}

void DspCore::SetCodeArea(uint32_t low, uint32_t high) {
  code_low_ = low, code_high_ = high;
  // Keep copies only for an area of a sensible size (compiled code is at
  // most some tens of thousands of words).
  const size_t words = high > low && high - low <= (1u << 20) ? high - low : 0;
  fetched_.assign(words, 0);
  fetched_stamp_.assign(words, 0);
}

uint32_t DspCore::Fetch(uint32_t address) {
  const uint32_t i = address - code_low_;
  if (i >= fetched_.size()) return memory_.Read(Space::kP, address);
  // The generation is read before the word: a change between the two
  // leaves an old stamp, so the next fetch reads the word again.
  const uint64_t stamp = memory_.program_generation() + 1;
  if (fetched_stamp_[i] != stamp) {
    fetched_[i] = memory_.Read(Space::kP, address);
    fetched_stamp_[i] = stamp;
  }
  return fetched_[i];
}

void DspCore::SetFirmware(std::function<bool(uint32_t)> is_routine, Firmware run) {
  is_routine_ = std::move(is_routine);
  firmware_ = std::move(run);
}

uint32_t DspCore::AddAddress(int reg, uint32_t base, int64_t offset) const {
  const uint32_t mask = address_mask();
  const uint32_t m = regs_.m[reg & 7] & mask;
  if (m == mask || m == 0 || m >= 0x8000) {
    // Linear (and bit-reversed, which compiled code never selects).
    return static_cast<uint32_t>(static_cast<int64_t>(base) + offset) & mask;
  }
  // Modulo m + 1: the buffer starts at the base with its low bits cleared.
  uint32_t size = m + 1;
  uint32_t span = 1;
  while (span < size) span <<= 1;
  uint32_t lower = base & ~(span - 1);
  int64_t pos = static_cast<int64_t>(base - lower) + offset;
  pos %= static_cast<int64_t>(size);
  if (pos < 0) pos += size;
  return (lower + static_cast<uint32_t>(pos)) & mask;
}

void DspCore::SetFlagsFrom(const Accumulator& d, bool logic) {
  uint32_t& sr = regs_.sr;
  sr &= ~(ccr::kZ | ccr::kN | ccr::kU | ccr::kE | ccr::kV);
  if (logic) {
    if (d.a1() == 0) sr |= ccr::kZ;
    if ((d.a1() & 0x800000) != 0) sr |= ccr::kN;
    return;
  }
  if (d.v == 0) sr |= ccr::kZ;
  if (d.v < 0) sr |= ccr::kN;
  if (d.ExtensionInUse()) sr |= ccr::kE;
  bool b47 = ((d.v >> 47) & 1) != 0, b46 = ((d.v >> 46) & 1) != 0;
  if (b47 == b46) sr |= ccr::kU;
}

DspStop DspCore::Call(uint32_t address, uint64_t budget) {
  stack_.clear();
  stack_.push_back(kSentinel);
  regs_.pc = address & 0xFFFFFF;
  fault_.clear();
  fault_address_ = 0;
  if (is_routine_ && is_routine_(regs_.pc)) {
    std::string why;
    if (tracing_) trace_.push_back({regs_.pc, 0, true});
    if (!firmware_(regs_.pc, *this, &why)) {
      fault_ = why;
      fault_address_ = regs_.pc;
      return DspStop::kFirmwareFault;
    }
    return DspStop::kReturned;
  }
  return Resume(budget);
}

DspStop DspCore::Resume(uint64_t budget) {
  DspStop stop = DspStop::kReturned;
  while (executed_ < budget) {
    if (!Step(&stop)) return stop;
    ++executed_;
    if (regs_.pc >= boundary_low_ && regs_.pc < boundary_high_) return DspStop::kBoundary;
  }
  fault_ = "instruction budget exhausted";
  fault_address_ = regs_.pc;
  return DspStop::kBudget;
}

bool DspCore::Step(DspStop* stop) {
  const uint32_t at = regs_.pc;
  if (at < code_low_ || at >= code_high_) {
    *stop = DspStop::kBadJump;
    char text[48];
    std::snprintf(text, sizeof text, "jump out of the code area to $%04X", static_cast<unsigned>(at));
    fault_ = text;
    fault_address_ = last_address_;
    return false;
  }
  last_address_ = at;
  const uint32_t word = Fetch(at);
  if (tracing_) trace_.push_back({at, word, false});
  DspExec exec{*this, at, word};
  DspExec::Flow flow = exec.Run();
  if (regs_.r[7] < stack_low_ || regs_.r[7] > stack_high_) {
    *stop = DspStop::kStackFault;
    fault_ = "data stack outside its area";
    fault_address_ = at;
    return false;
  }
  switch (flow.kind) {
    case DspExec::Flow::kNext:
      regs_.pc = (at + flow.length) & 0xFFFFFF;
      return true;
    case DspExec::Flow::kJump:
      regs_.pc = flow.target & 0xFFFFFF;
      return true;
    case DspExec::Flow::kCall: {
      const uint32_t target = flow.target & 0xFFFFFF;
      const uint32_t back = (at + flow.length) & 0xFFFFFF;
      if (is_routine_ && is_routine_(target)) {
        if (tracing_) trace_.push_back({target, 0, true});
        std::string why;
        if (!firmware_(target, *this, &why)) {
          *stop = DspStop::kFirmwareFault;
          fault_ = why;
          fault_address_ = at;
          return false;
        }
        regs_.pc = back;
        return true;
      }
      if (stack_.size() > kStackLevels) {
        *stop = DspStop::kStackFault;
        fault_ = "hardware stack overflow";
        fault_address_ = at;
        return false;
      }
      stack_.push_back(back);
      regs_.pc = target;
      return true;
    }
    case DspExec::Flow::kReturn: {
      if (stack_.empty()) {
        *stop = DspStop::kStackFault;
        fault_ = "return without a call";
        fault_address_ = at;
        return false;
      }
      const uint32_t back = stack_.back();
      stack_.pop_back();
      if (back == kSentinel) {
        *stop = DspStop::kReturned;
        return false;
      }
      regs_.pc = back;
      return true;
    }
    case DspExec::Flow::kUnknown:
      *stop = DspStop::kUnknownWord;
      fault_ = "unknown word";
      fault_address_ = at;
      return false;
  }
  return false;
}

}  // namespace zimo::cardsim
