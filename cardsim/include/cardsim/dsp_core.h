// The card's processor as far as compiled PLC programs need it: a DSP56000
// (SPRAN cards: DSP56300) that decodes and runs 24-bit program words from
// card memory. It holds the data ALU (A, B, X, Y), the address unit (R0-R7
// with N and M), the status register and a bounded hardware stack; program
// and data words live in the card's `Memory`. Calls of addresses that the
// card's firmware answers for are not run as words: the firmware hook does
// their work natively (see plcc_firmware.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cardsim/memory.h"

namespace zimo::cardsim {

// A 56-bit accumulator kept sign-extended in 64 bits: A2 (bits 48-55), A1
// (24-47), A0 (0-23).
struct Accumulator {
  int64_t v = 0;
  uint32_t a0() const { return static_cast<uint32_t>(v) & 0xFFFFFF; }
  uint32_t a1() const { return static_cast<uint32_t>(v >> 24) & 0xFFFFFF; }
  uint32_t a2() const { return static_cast<uint32_t>(v >> 48) & 0xFF; }
  void Set(int64_t value);                 // masked to 56 bits, sign-extended
  void SetWord(uint32_t word);             // A1 := word, A2 its sign, A0 := 0
  void SetA0(uint32_t word);
  void SetA1(uint32_t word);
  void SetA2(uint32_t word);
  // The 48-bit A1:A0 pair as a 24-bit register move reads it: limited to
  // the largest magnitude when the extension is in use.
  uint32_t Limited24() const;
  uint64_t Limited48() const;
  bool ExtensionInUse() const;
};

// Status register bits the jump rows and NORM look at.
namespace ccr {
inline constexpr uint32_t kC = 1u << 0, kV = 1u << 1, kZ = 1u << 2, kN = 1u << 3, kU = 1u << 4,
                          kE = 1u << 5, kL = 1u << 6;
}

struct DspRegisters {
  Accumulator a, b;
  uint32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  uint32_t r[8]{}, n[8]{}, m[8]{};
  uint32_t sr = 0x300;  // interrupts masked, CCR clear
  uint32_t pc = 0;
};

// Why a run stopped.
enum class DspStop {
  kReturned,      // the outermost return: the pass is over
  kUnknownWord,   // a word the processor does not decode
  kBadJump,       // a jump or call outside program memory the card holds code in
  kStackFault,    // hardware stack over- or underflow, data stack outside its area
  kBudget,        // the instruction budget ran out
  kFirmwareFault, // a firmware routine refused its operands (divide by zero ...)
  kBoundary,      // control reached the boundary range (the next PLC's jump slot)
};

class DspCore {
 public:
  DspCore(Memory& memory, bool dsp56300);

  DspRegisters& regs() { return regs_; }
  const DspRegisters& regs() const { return regs_; }
  Memory& memory() { return memory_; }
  bool dsp56300() const { return dsp56300_; }

  // Addresses the firmware answers natively. The hook runs the routine at
  // `address` and returns false when it refuses (the reason in *why).
  using Firmware = std::function<bool(uint32_t address, DspCore& core, std::string* why)>;
  void SetFirmware(std::function<bool(uint32_t)> is_routine, Firmware run);

  // Program words outside [low, high) are not code: jumping there stops.
  void SetCodeArea(uint32_t low, uint32_t high);
  // The program word at `address` as the processor fetches it. Words of the
  // code area are kept here and read from memory again only after P space
  // changed, so running code takes no memory lock per word.
  uint32_t Fetch(uint32_t address);

  // Calls `address` as a subroutine and runs until it returns, at most
  // `budget` instructions. A fault leaves pc at the faulting word.
  DspStop Call(uint32_t address, uint64_t budget);
  // Goes on from the current pc with the stack as it is (after kBoundary).
  DspStop Resume(uint64_t budget);
  // Control arriving in [low, high) by a jump or a step stops the run with
  // kBoundary, pc there: the card looks at each PLC's end.
  void SetBoundary(uint32_t low, uint32_t high) { boundary_low_ = low, boundary_high_ = high; }
  // R7 must stay within [low, high] after every instruction (the data
  // stack's area); leaving it stops the run before the next word.
  void SetDataStack(uint32_t low, uint32_t high) { stack_low_ = low, stack_high_ = high; }
  // Instructions run since the last ResetCount (the budget counts them).
  uint64_t executed() const { return executed_; }
  void ResetCount() { executed_ = 0; }
  const std::string& fault() const { return fault_; }
  uint32_t fault_address() const { return fault_address_; }
  // The address of the last instruction run (the one that jumped away).
  uint32_t last_address() const { return last_address_; }

  // Every word run and every routine call made, while tracing is on.
  struct TraceEntry {
    uint32_t address;
    uint32_t word;
    bool routine;  // a call of a firmware routine (word = 0)
  };
  void SetTracing(bool on) { tracing_ = on; }
  std::vector<TraceEntry>& trace() { return trace_; }

  // Effective-address arithmetic with the modifier register (linear,
  // modulo), as the addressing modes use it.
  uint32_t AddAddress(int reg, uint32_t base, int64_t offset) const;
  // Address registers are 16 bits wide on the DSP56000, 24 on the DSP56300.
  uint32_t address_mask() const { return dsp56300_ ? 0xFFFFFF : 0xFFFF; }

  // Data ALU helpers firmware routines use too.
  void SetFlagsFrom(const Accumulator& d, bool logic);

 private:
  friend struct DspExec;
  bool Step(DspStop* stop);

  Memory& memory_;
  bool dsp56300_;
  DspRegisters regs_;
  std::vector<uint32_t> stack_;  // return addresses
  std::function<bool(uint32_t)> is_routine_;
  Firmware firmware_;
  uint32_t code_low_ = 0, code_high_ = 0x1000000;
  // Fetched code words and the program generation (plus one) each was read
  // at; a word whose stamp is not the current one is read again.
  std::vector<uint32_t> fetched_;
  std::vector<uint64_t> fetched_stamp_;
  uint32_t boundary_low_ = 0, boundary_high_ = 0;
  uint32_t stack_low_ = 0, stack_high_ = 0xFFFFFF;
  uint64_t executed_ = 0;
  std::string fault_;
  uint32_t fault_address_ = 0;
  uint32_t last_address_ = 0;
  bool tracing_ = false;
  std::vector<TraceEntry> trace_;
};

}  // namespace zimo::cardsim
