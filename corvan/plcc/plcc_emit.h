// The code buffer of a compiled block and the basic emitters of card
// instruction words: routine calls, the N4 load, integer operators, the
// data-stack push, the card's 48-bit float, string-pool words and the end
// of scan of a compiled PLC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "plcc/plcc_compilation.h"

namespace zimo::corvan::plcc {

// Marks that ride on the next instruction word (compile-time bits 26/27).
inline constexpr std::uint32_t kBlockMark = 0x4000000;
inline constexpr std::uint32_t kLineMark = 0x8000000;

// The words of one block. Every append is checked against the usable
// size; the first that does not fit sets overflowed() and is dropped.
class PlccCodeBuffer {
 public:
  explicit PlccCodeBuffer(std::size_t usable) : usable_(usable) { words_.reserve(usable); }

  void Append(std::uint32_t word) {
    if (words_.size() >= usable_) {
      overflowed_ = true;
      return;
    }
    words_.push_back(word);
  }
  std::size_t size() const { return words_.size(); }
  std::uint32_t operator[](std::size_t i) const { return words_[i]; }
  std::uint32_t& operator[](std::size_t i) { return words_[i]; }
  bool overflowed() const { return overflowed_; }
  void Clear() {
    words_.clear();
    overflowed_ = false;
    notes_.clear();
    remarks_.clear();
  }

  // For the assembly listing: text lines placed before a cell, or standing
  // for cells [cell, end) that the listing does not show as instructions.
  // A note may name its cell: jumps to that cell then use the name.
  struct Note {
    std::size_t cell;
    std::size_t end;
    std::string text;
    std::string label;
  };
  void set_listing(bool on) { listing_ = on; }
  bool listing() const { return listing_; }
  void AddNote(std::string text) { AddNote(words_.size(), words_.size(), std::move(text)); }
  void AddNote(std::size_t cell, std::size_t end, std::string text) {
    if (listing_) notes_.push_back(Note{cell, end, std::move(text), {}});
  }
  void AddLabel(std::string label, std::string text) {
    if (listing_)
      notes_.push_back(Note{words_.size(), words_.size(), std::move(text), std::move(label)});
  }
  const std::vector<Note>& notes() const { return notes_; }
  // A comment for the listing line of the instruction that starts at
  // `cell` (its text carries its own separator); the last one given wins.
  void AddRemark(std::size_t cell, std::string text) {
    if (listing_) remarks_.emplace_back(cell, std::move(text));
  }
  const std::vector<std::pair<std::size_t, std::string>>& remarks() const { return remarks_; }
  // Label names of the listing, unique in the whole file (they outlive
  // Clear()): IF/WHILE labels are numbered on from block to block, and a
  // fixed name given again gets "_<k>" for its k-th use.
  int NextLabelNumber() { return ++label_numbers_; }
  std::string UniqueLabel(const std::string& name) {
    const int uses = ++label_uses_[name];
    return uses == 1 ? name : name + "_" + std::to_string(uses);
  }
  void set_usable(std::size_t usable) { usable_ = usable; }
  std::size_t usable() const { return usable_; }

 private:
  std::vector<std::uint32_t> words_;
  std::size_t usable_;
  bool overflowed_ = false;
  bool listing_ = false;
  std::vector<Note> notes_;
  std::vector<std::pair<std::size_t, std::string>> remarks_;
  int label_numbers_ = 0;
  std::map<std::string, int> label_uses_;
};

// What the emitters share with the statement generator.
struct EmitterState {
  std::uint32_t pending_mark = 0;
  std::uint32_t r4_cache = 0;
  bool packed = false;
  bool integer_context = false;
};

class PlccEmitter {
 public:
  PlccEmitter(const PlccCompilation& c, PlccCodeBuffer& code) : c_(c), code_(code) {}

  EmitterState& state() { return state_; }
  PlccCodeBuffer& code() { return code_; }

  // Appends one word; a pending mark rides on it and then is gone.
  void Put(std::uint32_t word);
  // Routine k of the routine table. `name` is the call's comment in the
  // listing (nullptr: the routine's usual name).
  void CallRoutine(int k, const char* name = nullptr) {
    EmitRoutineCall(c_.routines.entry[static_cast<std::size_t>(k)], name);
  }
  void EmitRoutineCall(std::uint32_t address, const char* name = nullptr);
  // Listing text standing for the words from `from` to the end of the
  // buffer (lines separated by newlines); nothing when no listing is made.
  void Say(std::size_t from, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // A comment on the listing line of the instruction at `cell`.
  void Remark(std::size_t cell, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void EmitLoadN4(std::uint32_t n);
  void EmitIntOperator(std::uint32_t op, bool popped);
  void EmitPushA();
  // Pool text from `offset` on: at least min_words_minus_1 + 1 words, then up
  // to the first word holding a zero byte.
  void EmitPoolWords(std::size_t offset, std::size_t min_words_minus_1);
  // End of scan of PLCC n.
  void EmitPlccReturnCode(int n);
  // Its listing text (lines separated by newlines).
  std::string ReturnCodeText(int n);

  // Variable access. `servo` tells the emitters that the block is the
  // OPEN SERVO section, `plc` is the current PLC number.
  void EmitLWrite(int n);
  void EmitLRead(int n, bool to_x1);
  // n = -1: the indexed form (index in A); kind 48/50/52 (or their bracket
  // codes 116/118/120) for MI, MM, MP.
  void EmitRingRead(int n, std::uint32_t kind, bool to_x1);
  void EmitFWrite(int n);
  void EmitFRead(int n, bool to_x);
  void EmitQAddress(std::uint32_t n, int plc);
  // MOVE #n,B1-style load of R4 with a base, skipped while R4 holds `tag`.
  void LoadR4(std::uint32_t first, std::uint32_t ext, bool two_words, std::uint32_t tag);
  // R4 := an L or F table's address, skipped while R4 holds it.
  void LoadTable(std::uint32_t addr);
  void UnpackIfPacked();
  void NegateA(bool integer);

 private:
  void IndexMask(int width);
  void FieldRoutineArguments(const VariableDefinition& d, std::uint32_t addr);
  void SayMultiplyMask(std::size_t from, std::uint32_t value);

  const PlccCompilation& c_;
  PlccCodeBuffer& code_;
  EmitterState state_;
};

// The card's 48-bit float of `value` as its low and high 24-bit words; -33
// for values it cannot hold (infinity, NaN, numbers too small or too large
// for its exponent), else 0.
int PackCardFloat(double value, std::uint32_t* low, std::uint32_t* high);

// 0 when the token after `index` is *, /, & or %, else 1.
int IsNotFollowedByHighOperator(const PlccToken* tokens, std::size_t index);

}  // namespace zimo::corvan::plcc
