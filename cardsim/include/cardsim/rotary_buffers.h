// The card's binary rotary buffers, where the units come from: the DPR rings
// of the eight descriptors (buffer n feeds coordinate system n + 1), the
// staged puts of the USB and Ethernet ports that land in those rings, and
// the host-side records (USB pipe 2 after the ready byte, Ethernet) that the
// card keeps in memory of its own. Also the scripted answers of those puts
// and the motion log of what the running systems executed. Not thread-safe:
// the Card calls it under its lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cardsim/card_model.h"
#include "cardsim/memory.h"

namespace zimo::cardsim {

class RotaryBuffers {
 public:
  static constexpr int kRings = 8;         // DPR descriptors
  static constexpr int kHostBuffers = 16;  // host-side record numbers
  static constexpr size_t kLogLimit = 100000;

  RotaryBuffers(const CardModel& model, Memory& memory);

  // DPR offset of descriptor n (nullopt above 7).
  std::optional<size_t> Descriptor(int buffer) const;

  // A staged put (USB 0xC8, Ethernet 0xC8 in the staged form): whole
  // commands into ring `buffer`; the answer is code << 16 | bytes taken.
  uint32_t PutStaged(int buffer, std::string_view staged);
  // Ethernet 0xC8: the staged form or host-side records (README).
  uint32_t PutNetwork(int buffer, std::string_view payload);
  // 0xCA: host and card index 0.
  bool Init(int buffer);

  // Host-side records over Ethernet: the answer (bytes taken; 0: none).
  uint32_t PutHostRecords(std::string_view records);
  // USB: pipe 2's bytes, the ready byte (0xE2), and 0xE8.
  void TakeHostPipe(std::string_view bytes);
  bool HostReady();
  void ResetHostReception();

  // The next unit for the system of `buffer`: host-side records first,
  // then the DPR ring (whose card index moves on by two words).
  bool Take(int buffer, uint64_t* unit);
  // Counts up whenever the host set the buffer up anew (0xCA, 0xE8, or the
  // descriptor's indexes, size or start changed under the card): units the
  // card had read ahead are then dropped.
  uint64_t generation(int buffer);
  // Units waiting in the host-side records of a buffer.
  size_t host_units(int buffer) const;

  // ---- Scripting ----
  // Every `every`-th staged put (counting from now) answers `code`; code 3
  // takes the whole commands within the first `take` bytes, codes other than
  // 0 and 3 take nothing. `count` puts get it (-1: until cleared with code 0).
  void ScriptStagedAnswer(uint32_t code, size_t take, int every, int count);
  // Answers for the next staged puts, in order, before the rule above:
  // {code, take} each.
  void QueueStagedAnswers(std::vector<std::pair<uint32_t, size_t>> answers);
  // Every `every`-th ready request or Ethernet record put is refused.
  void ScriptHostRefusal(int every, int count);
  // Units the host-side records may hold (all buffers together).
  void SetHostCapacity(size_t units);
  // Descriptor status bit 15 (the buffer's size error), as the card writes it.
  void SetBufferError(int buffer, bool on);
  size_t host_errors() const { return host_errors_; }
  // The bytes of USB pipe 2 since the last 0xE8 (the latest 1 MB).
  const std::string& host_pipe_bytes() const { return pipe_bytes_; }

  // ---- The motion log ----
  void Log(int coord, const std::string& text);
  std::vector<std::string> motion_log() const;
  void ClearMotionLog();

 private:
  struct Ring {
    size_t desc = 0;
    uint32_t size = 0;
    int64_t first_word = 0;  // DPR word of the ring's start
  };
  struct Rule {
    uint32_t code = 0;
    size_t take = 0;
    int every = 1;
    int count = 0;
    int seen = 0;
  };
  std::optional<Ring> RingOf(int buffer) const;
  uint32_t PutStagedLimited(const Ring& ring, std::string_view staged, size_t limit);
  bool TakeRule(Rule& rule);
  void CheckMoved(int buffer);
  void AddRecordUnits(int n, std::string_view units);
  size_t QueuedUnits() const;

  const CardModel& model_;
  Memory& memory_;
  std::array<std::deque<uint64_t>, kHostBuffers> host_{};
  std::array<uint64_t, kHostBuffers> generation_{};
  // What the card last saw of each descriptor: card index, size, start.
  std::array<std::optional<std::array<uint16_t, 3>>, kRings> seen_{};
  std::string reception_;  // pipe 2 bytes not yet a whole record
  size_t capacity_ = 8192;
  size_t host_errors_ = 0;
  Rule staged_rule_;
  std::deque<std::pair<uint32_t, size_t>> staged_queue_;
  std::string pipe_bytes_;
  Rule host_rule_;
  std::deque<std::string> log_;
};

}  // namespace zimo::cardsim
