// The card's variables: I (settings), P (user values, kept as 48-bit floating
// words in L memory), Q (per coordinate system) and M (pointers into card
// memory, whose definitions are kept as words in card memory, so a card
// program that writes a definition word retargets the M-variable).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cardsim/card_model.h"
#include "cardsim/memory.h"

namespace zimo::cardsim {

struct MDefinition {
  enum class Kind : uint8_t { kNone = 0, kX = 1, kY = 2, kL = 3, kD = 4, kSelf = 5 };
  Kind kind = Kind::kNone;
  uint32_t address = 0;
  int offset = 0;  // X/Y: first bit
  int width = 24;  // X/Y: number of bits
  bool is_signed = false;

  // The definition as the card lists it: "X:$C000,0,24,S", "L:$81F", "*".
  std::string Text() const;
  bool operator==(const MDefinition&) const = default;
};

class Variables {
 public:
  Variables(const CardModel& model, Memory& memory);

  // Factory defaults for every variable (the "$$$***" state).
  void Reset();
  // Variables of each letter are numbered 0..count()-1.
  int count() const { return count_; }
  bool Valid(int n) const { return n >= 0 && n < count_; }

  double I(int n) const;
  void SetI(int n, double value);
  // Address-type I-variables are shown as "$hex" when I9 bit 1 is set.
  bool IsAddressIVar(int n) const;
  // Called after every I-variable write (the card reacts to some, e.g. I24).
  void SetIWriteHook(std::function<void(int, double)> hook) { i_hook_ = std::move(hook); }
  // Called when a write changes an I-variable's value (number, old, new).
  void SetIChangeHook(std::function<void(int, double, double)> hook) {
    i_change_hook_ = std::move(hook);
  }

  double P(int n) const;
  void SetP(int n, double value);
  uint32_t PAddress(int n) const;  // the L word behind Pn
  // The L word behind Q0 of coordinate system cs (1..): older cards
  // $2000 + $400 (cs - 1), SPRAN cards $80000 + $2000 (cs - 1), so that
  // compiled code reaches Qn at the base plus n with modulo addressing.
  uint32_t QBase(int cs) const;

  double Q(int cs, int n) const;
  void SetQ(int cs, int n, double value);

  double M(int n) const;
  void SetM(int n, double value);
  MDefinition MDef(int n) const;
  void DefineM(int n, const MDefinition& def);
  uint32_t MDefAddress(int n) const;  // the X:Y pair holding Mn's definition

  // The I-variables as saved by "SAVE" and restored by "$$$".
  std::vector<double> SnapshotI() const { return i_; }
  void RestoreI(const std::vector<double>& saved);

  // A value as the card prints it: integers without a point, fractions with
  // up to ten decimals and no trailing zeros.
  static std::string Format(double value);
  // "$" and upper-case hexadecimal of the value's integer part.
  static std::string FormatHex(double value);

 private:
  double OutputAddressIVar(int motor) const;
  double FeedbackAddressIVar(int motor) const;
  void WriteFeedbackTable();

  const CardModel& model_;
  Memory& memory_;
  int count_;
  uint32_t mdef_base_;
  std::vector<double> i_;
  mutable uint32_t q_touched_ = 0;  // systems whose Q words may be non-zero
  std::map<int, double> self_;  // values of M-variables defined as "*"
  std::function<void(int, double)> i_hook_;
  std::function<void(int, double, double)> i_change_hook_;
};

}  // namespace zimo::cardsim
