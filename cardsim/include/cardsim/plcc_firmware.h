// The card firmware's support routines for compiled PLC programs, done
// natively: one per role of the routine table, at the addresses the card
// answers to "LIST LINK" (and, on SPRAN cards whose firmware is above
// "1.936", the fixed table at $FF00 + 2k). They take and leave their
// operands in the processor's registers as the compiled code expects.
//
// Floating values: the stored (packed) form is the 48-bit card word
// (36-bit mantissa, 12-bit exponent offset 2047). The working form is the
// mantissa as a fraction in A (A1:A0, bits 47..12 of the stored word, the
// exponent field cleared) with the exponent in R5: value = A / 2^47 x
// 2^(R5 - 2047). It is the form the inline unpack of the newer firmware
// leaves, so NEG A / ABS A followed by NORM R5,A work on it unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cardsim/dsp_core.h"

namespace zimo::cardsim {

// Roles of the routine table (the link-list index), and the extra entries
// the card keeps beside them.
namespace plcc_role {
inline constexpr int kFunctionFirst = 0, kFunctionLast = 15;  // I( M( P( Q( SIN .. ATAN2(
inline constexpr int kPushedFirst = 16, kPushedLast = 23;      // + - * / | ^ & %
inline constexpr int kPoppedSub = 24, kPoppedDiv = 25, kPoppedMod = 26;
inline constexpr int kReadI = 27, kReadM = 28, kWriteI = 29, kWriteM = 30;
inline constexpr int kNegate = 31, kCompare = 32, kPack = 33, kUnpack = 34;
inline constexpr int kEnable = 35, kQBase = 36, kDisplayText = 37, kDisplayVar = 38;
inline constexpr int kIntDivPopped = 39, kIntModPopped = 40;
inline constexpr int kCommand = 41, kCommand0 = 42, kCommandCells = 43;
inline constexpr int kFtol = 44, kIntDivPushed = 45, kIntModPushed = 46;
inline constexpr int kLmRead = 47, kLmWrite = 48, kLtof = 49;
inline constexpr int kLRead0 = 53, kLWrite0 = 54, kLock = 55, kUnlock = 56, kSetPhase = 57;
inline constexpr int kAddressByP = 58, kQReadA = 59, kQReadX = 60, kQWriteA = 61;
// Ring-station routines at fixed addresses 8..12.
inline constexpr int kMiRead = 100, kMmRead = 101, kMiWrite = 102, kMmWrite = 103, kChnWrite = 104;
}  // namespace plcc_role

// What the routines need from the rest of the card.
struct PlccCardAccess {
  std::function<double(char letter, int n)> read;               // I, M, P
  std::function<void(char letter, int n, double value)> write;  // I, M, P
  std::function<double(int cs, int n)> read_q;
  std::function<void(int cs, int n, double value)> write_q;
  std::function<uint32_t(int cs)> q_base;   // card address of Q0 of a system (L memory)
  std::function<bool()> degrees;            // trigonometry in degrees
  // ENABLE/DISABLE of text PLCs (kind 0/1) and compiled PLCs (2/3).
  std::function<void(uint32_t mask, int kind)> enable;
  // A command text a compiled PLC sends (PLC number, motor, system).
  std::function<void(int plc, const std::string& text)> command;
  std::function<double(int n)> ring_read;   // MI n
  std::function<void(int n, double value)> ring_write;
};

class PlccFirmware {
 public:
  PlccFirmware(Memory& memory, bool spran, std::vector<uint32_t> link_list, bool extended);

  void Attach(PlccCardAccess access) { card_ = std::move(access); }
  // The role answered at `address`, if any.
  std::optional<int> RoleAt(uint32_t address) const;
  bool IsRoutine(uint32_t address) const { return roles_.count(address) != 0; }
  // Runs the routine at `address`; false (reason in *why) when it refuses.
  bool Run(uint32_t address, DspCore& core, std::string* why);

  // The PLC whose code runs now (for command slots and Q systems).
  void set_current_plc(int n) { plc_ = n; }
  int current_plc() const { return plc_; }

  // Conversions between the forms (also used by tests).
  static double Working(const DspRegisters& r);
  static void SetWorking(DspRegisters& r, double value);
  static double Packed(uint64_t pair48);
  static uint64_t Pack(double value);

  // Memory the firmware keeps: the Q-base cell routine 36 points R5 at.
  uint32_t q_cell() const { return q_cell_; }

 private:
  bool Function(int role, DspCore& core, std::string* why);
  bool Operator(int op, bool popped, DspCore& core, std::string* why);
  bool IntDivide(bool modulo, bool popped, DspCore& core, std::string* why);
  int PlcSystem() const;

  Memory& memory_;
  bool spran_;
  bool extended_;
  std::vector<uint32_t> links_;
  std::map<uint32_t, int> roles_;
  PlccCardAccess card_;
  int plc_ = 0;
  uint32_t q_cell_;
  // The eight process locks LOCK and UNLOCK take and give back: bit n set
  // while lock n is held.
  uint32_t locks_ = 0;
};

}  // namespace zimo::cardsim
