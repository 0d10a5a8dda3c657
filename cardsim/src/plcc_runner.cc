// Compiled PLC passes per servo cycle (see plcc_runner.h).
#include "cardsim/plcc_runner.h"

#include <cstdio>
#include <cstring>

namespace zimo::cardsim {

namespace {

constexpr uint32_t kJumpLong = 0x0AF080, kReturn = 0x00000C;
constexpr uint32_t kOverrunWord = 0x8;  // X:$8
// Code area words beyond the code start: the compilers' limits.
constexpr uint32_t kOlderCodeWords = 15360, kSpranCodeWords = 65536;
// The data stack (L memory, growing down) and the control-character queue
// (X memory, growing up) the card sets up for every pass.
constexpr uint32_t kOlderStackTop = 0x1600, kSpranStackTop = 0x7F000, kStackWords = 256;
constexpr uint32_t kOlderControlQueue = 0x1700, kSpranControlQueue = 0x7F100;

std::vector<uint32_t> LinkValues(const CardModel& model) {
  std::vector<uint32_t> values;
  for (const std::string& entry : model.link_list) values.push_back(static_cast<uint32_t>(std::strtoul(entry.c_str(), nullptr, 16)));
  return values;
}

// Newer SPRAN firmware (above "1.936") answers at the fixed routine table.
bool Extended(const CardModel& model) {
  return model.spran && std::strncmp(model.version.c_str(), "1.936", 5) > 0;
}

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "$%04X", static_cast<unsigned>(v));
  return text;
}

}  // namespace

PlccRunner::PlccRunner(const CardModel& model, Memory& memory)
    : memory_(memory),
      spran_(model.spran),
      base_(model.spran ? 0x50000 : 0x8000),
      stack_top_(model.spran ? kSpranStackTop : kOlderStackTop),
      stack_bottom_(stack_top_ - kStackWords),
      control_queue_(model.spran ? kSpranControlQueue : kOlderControlQueue),
      core_(memory, model.spran),
      firmware_(memory, model.spran, LinkValues(model), Extended(model)) {
  core_.SetFirmware([this](uint32_t a) { return firmware_.IsRoutine(a); },
                    [this](uint32_t a, DspCore& core, std::string* why) {
                      firmware_.set_current_plc(PlcAt(core.regs().pc));
                      return firmware_.Run(a, core, why);
                    });
  core_.SetCodeArea(base_, code_start() + (spran_ ? kSpranCodeWords : kOlderCodeWords));
  core_.SetBoundary(slot_table(), chain_end() + 1);
  // A push that leaves R7 at the stack's lowest word has written that word;
  // one more would write below the area.
  core_.SetDataStack(stack_bottom_ + 1, stack_top_);
}

PlccRunner::~PlccRunner() = default;

void PlccRunner::Attach(PlccCardAccess access) {
  access.command = [this](int plc, const std::string& text) {
    // SPRAN cards: the PLC's addressing word holds motor - 1 in bits 12-16
    // and the coordinate system - 1 in bits 17-21.
    const uint32_t word = memory_.Read(Space::kP, code_start() - 32 + static_cast<uint32_t>(plc));
    commands_.push_back({plc, static_cast<int>((word >> 12) & 0x1F) + 1, static_cast<int>((word >> 17) & 0x1F) + 1, text});
  };
  firmware_.Attach(std::move(access));
}

std::vector<PlccRunner::Command> PlccRunner::TakeCommands() {
  std::vector<Command> out = std::move(commands_);
  commands_.clear();
  if (spran_) {
    // The cells the code waits on: X:$31 for PLCC 1..31, Y:$31 for PLCC 0.
    memory_.Write(Space::kX, 0x31, 0);
    memory_.Write(Space::kY, 0x31, 0);
    return out;
  }
  // Older cards: Y:$75A (PLCC 0) and Y:$75B (PLCC 1..31) hold the text's
  // address with the PLC's addressing bits 16-23 added; the text starts
  // after its header word, three characters a word.
  for (uint32_t cell : {0x75Au, 0x75Bu}) {
    const uint32_t value = memory_.Read(Space::kY, cell);
    if (value == 0) continue;
    std::string text;
    uint32_t at = (value & 0xFFFF) + 1;
    for (int words = 0; words < 86; ++words) {
      const uint32_t w = memory_.Read(Space::kP, at++);
      bool end = false;
      for (int shift = 16; shift >= 0 && !end; shift -= 8) {
        const char c = static_cast<char>((w >> shift) & 0xFF);
        if (c == 0) end = true;
        else text.push_back(c);
      }
      if (end) break;
    }
    out.push_back({cell == 0x75A ? 0 : -1, static_cast<int>((value >> 16) & 7) + 1, static_cast<int>((value >> 19) & 7) + 1, text});
    memory_.Write(Space::kY, cell, 0);
  }
  // The control characters queued at X:(R3)+.
  const uint32_t end = core_.regs().r[3];
  for (uint32_t at = control_queue_; at < end && at < control_queue_ + 64; ++at) {
    const uint32_t c = memory_.Read(Space::kX, at) & 0xFF;
    if (c != 0) out.push_back({-1, 1, 1, std::string(1, static_cast<char>(c))});
  }
  core_.regs().r[3] = control_queue_;
  return out;
}

bool PlccRunner::CodePresent() const {
  return memory_.Read(Space::kP, chain_end()) == kReturn && memory_.Read(Space::kP, slot_table()) == kJumpLong;
}

void PlccRunner::SetEnabled(uint32_t mask, bool enable) {
  for (uint32_t n = 0; n < 32; ++n) {
    if (((mask >> n) & 1u) == 0) continue;
    // A disabled PLC's slot passes on to the next slot; PLCC 0's, which
    // runs alone, to the chain end, as its end-of-scan code expects.
    const uint32_t off = n == 0 ? chain_end() : slot_table() + 2 * n + 2;
    const uint32_t target = enable ? (memory_.Read(Space::kP, base_ + n) & EntryMask()) : off;
    memory_.Write(Space::kP, slot_table() + 2 * n + 1, target);
  }
}

void PlccRunner::Delete(uint32_t mask) {
  SetEnabled(mask, false);
  for (uint32_t n = 0; n < 32; ++n) {
    if (((mask >> n) & 1u) == 0) continue;
    memory_.Write(Space::kP, base_ + n, memory_.Read(Space::kP, base_ + n) & ~0x800000u);
  }
}

int PlccRunner::PlcAt(uint32_t address) const {
  int best = -1;
  uint32_t best_start = 0;
  for (int n = 0; n < 32; ++n) {
    const uint32_t e = entries_[n];
    if ((e & 0x800000) == 0) continue;
    const uint32_t start = e & EntryMask();
    if (start <= address && (best < 0 || start >= best_start)) best = n, best_start = start;
  }
  return best < 0 ? 0 : best;
}

void PlccRunner::Stop(int plc, const std::string& why, uint32_t address) {
  const uint32_t word = memory_.Read(Space::kP, address);
  log_.push_back("PLCC " + std::to_string(plc) + " stopped at P:" + Hex(address) + ": " + why + " (word " +
                 Hex(word) + ")");
  SetEnabled(1u << plc, false);
}

void PlccRunner::ResetRegisters() {
  DspRegisters& r = core_.regs();
  r.r[7] = stack_top_;
  for (uint32_t& m : r.m) m = core_.address_mask();
}

void PlccRunner::RunFrom(uint32_t slot, bool single, uint64_t* budget) {
  uint32_t pc = slot;
  bool first = true;
  int plc = static_cast<int>((slot - slot_table()) / 2);
  while (*budget > core_.executed()) {
    ResetRegisters();
    DspStop stop = first ? core_.Call(pc, *budget) : core_.Resume(*budget);
    first = false;
    const DspRegisters& r = core_.regs();
    if (stop == DspStop::kBoundary) {
      // A PLC's end (or a disabled slot passing on): its data stack must
      // be back where it started.
      if (r.r[7] != stack_top_) {
        Stop(plc, "unbalanced data stack", core_.last_address());
        core_.regs().r[7] = stack_top_;
      }
      if (r.pc == chain_end()) {
        ResetRegisters();
        stop = core_.Resume(*budget);
        if (stop == DspStop::kReturned || stop == DspStop::kBoundary) return;
      } else {
        if (single) return;
        plc = static_cast<int>((r.pc - slot_table()) / 2);
        continue;
      }
    }
    if (stop == DspStop::kReturned) {
      if (r.r[7] != stack_top_) Stop(plc, "unbalanced data stack", core_.last_address());
      return;
    }
    if (stop == DspStop::kBoundary) continue;
    const uint32_t at = core_.fault_address();
    const int owner = (at >= code_start()) ? PlcAt(at) : plc;
    Stop(owner, core_.fault(), at);
    if (single || owner >= 31 || stop == DspStop::kBudget) return;
    // The chain goes on with the next slot.
    pc = slot_table() + 2 * static_cast<uint32_t>(owner) + 2;
    plc = owner + 1;
    first = true;
    if (pc >= chain_end()) return;
  }
  Stop(PlcAt(core_.regs().pc), "instruction budget exhausted", core_.regs().pc);
}

void PlccRunner::Cycle(int i5) {
  trace_.clear();
  memory_.Write(Space::kX, kOverrunWord, overrun_passes_ > 0 ? static_cast<uint32_t>(overrun_cycles_) : 0);
  if (overrun_passes_ > 0) --overrun_passes_;
  if (!CodePresent()) return;
  for (int n = 0; n < 32; ++n) entries_[n] = memory_.Read(Space::kP, base_ + static_cast<uint32_t>(n));
  core_.ResetCount();
  if (core_.regs().r[3] < control_queue_ || core_.regs().r[3] > control_queue_ + 64) core_.regs().r[3] = control_queue_;
  uint64_t budget = kPassBudget;
  core_.SetTracing(tracing_);
  auto pass = [&](uint32_t slot, bool single, int first_plc) {
    core_.trace().clear();
    RunFrom(slot, single, &budget);
    if (tracing_) trace_.push_back({first_plc, std::move(core_.trace())});
    core_.trace().clear();
  };
  // PLCC 0 runs when I5 lets it and its slot leads into code (not on to
  // the next slot or the chain end).
  const uint32_t target0 = memory_.Read(Space::kP, slot_table() + 1);
  if ((i5 & 1) != 0 && (target0 < slot_table() || target0 > chain_end())) pass(slot_table(), true, 0);
  if ((i5 & 2) != 0) pass(slot_table() + 2, false, 1);
}

}  // namespace zimo::cardsim
