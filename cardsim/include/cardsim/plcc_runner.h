// Compiled PLC programs that run: once per servo cycle the card calls
// PLCC 0 through its jump slot (I5 bit 0) and then the chain of PLCC 1..31
// from slot 1 (I5 bit 1), each until the chain's return, as code words on
// the card's processor with the firmware routines of plcc_firmware.h. A
// PLC that runs into a word the processor does not know, jumps out of the
// code area, leaves the data stack unbalanced, or whose routine refuses
// (divide by zero ...) is stopped (disabled) with a line in the log; the
// others and the card run on. A pass is bounded in instructions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cardsim/card_model.h"
#include "cardsim/dsp_core.h"
#include "cardsim/plcc_firmware.h"

namespace zimo::cardsim {

class PlccRunner {
 public:
  // Instructions one servo cycle's passes may run together.
  static constexpr uint64_t kPassBudget = 200000;

  PlccRunner(const CardModel& model, Memory& memory);
  ~PlccRunner();

  // The card's side of the routines; the command callback is the runner's
  // own (commands are collected and taken with TakeCommands).
  void Attach(PlccCardAccess access);

  // One servo cycle's compiled passes; `i5` gates them as it gates the
  // text PLCs. Nothing runs while no compiled code lies in P memory.
  void Cycle(int i5);

  // The commands the last cycle's passes sent (text, or one control
  // character), with the motor and coordinate system of their PLC. Taking
  // them frees the command cells, so the PLCs may send again.
  struct Command {
    int plc = -1;  // -1: a PLC of 1..31 on an older card (one shared cell)
    int motor = 1, coord = 1;
    std::string text;
  };
  std::vector<Command> TakeCommands();

  // Enables or disables compiled PLCs by mask (the ENABLE PLCC lists and
  // the enable routine share this).
  void SetEnabled(uint32_t mask, bool enable);
  // Disables the PLCs and clears the compiled mark (bit 23) of their entry
  // words.
  void Delete(uint32_t mask);

  // The trace of the last cycle's passes, while tracing is on.
  struct Pass {
    int first_plc = 0;  // 0 for the PLCC 0 pass, 1 for the chain
    std::vector<DspCore::TraceEntry> entries;
  };
  void SetTracing(bool on) { tracing_ = on; }
  const std::vector<Pass>& trace() const { return trace_; }
  // One line per stopped PLC ("PLCC 3 stopped at P:$8070: unknown word $FFFFFF").
  const std::vector<std::string>& log() const { return log_; }

  // A test's overrun: the next `passes` cycles report `cycles` overrun
  // cycles in X:$8 (else 0).
  void ScriptOverrun(int cycles, int passes) { overrun_cycles_ = cycles, overrun_passes_ = passes; }

  // Layout of the compiled-PLC area.
  uint32_t table_base() const { return base_; }
  uint32_t slot_table() const { return base_ + 32; }
  uint32_t chain_end() const { return base_ + 96; }
  uint32_t code_start() const { return spran_ ? base_ + 130 : base_ + 98; }
  uint32_t stack_top() const { return stack_top_; }
  PlccFirmware& firmware() { return firmware_; }
  DspCore& core() { return core_; }

 private:
  bool CodePresent() const;
  // The address bits of an entry word: older cards keep the PLC's motor
  // and coordinate system in bits 16-21 above a 16-bit address.
  uint32_t EntryMask() const { return spran_ ? 0x7FFFF : 0xFFFF; }
  // Runs from `slot` on; `single` ends at the next boundary (the PLCC 0 pass).
  void RunFrom(uint32_t slot, bool single, uint64_t* budget);
  int PlcAt(uint32_t address) const;
  void Stop(int plc, const std::string& why, uint32_t address);
  void ResetRegisters();

  Memory& memory_;
  bool spran_;
  uint32_t base_;
  uint32_t stack_top_, stack_bottom_, control_queue_;
  DspCore core_;
  PlccFirmware firmware_;
  uint32_t entries_[32]{};  // entry words at the pass start
  bool tracing_ = false;
  std::vector<Pass> trace_;
  std::vector<Command> commands_;
  std::vector<std::string> log_;
  int overrun_cycles_ = 0, overrun_passes_ = 0;
};

}  // namespace zimo::cardsim
