// Fault and test scripting of the simulated card: what a test may make the
// card do wrong, and the log of everything the card received. Thread-safe;
// the card consults it on every line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zimo::cardsim {

class Memory;

// The card's global error flags a test may raise.
enum class GlobalError { kServo, kReEntry, kMemoryChecksum, kPromChecksum };

// A motor's brushless rotor (brushless.h): counts of its encoder per
// electrical cycle, the lag with which it turns to the stator field, the
// encoder's counting direction against the electrical angle (the wiring),
// and where the Hall sensors' first edge lies (electrical degrees).
struct RotorScript {
  double cycle_counts = 6000;
  double lag_ms = 5;
  int wiring = 1;
  double hall_offset_deg = 30;
};

// A phase-current channel (brushless.h): a reading is
// offset + sign x gain x the phase's command, per driven phase A and B.
struct PhaseCurrentScript {
  int sign = 1;
  double gain_a = 1, gain_b = 1;
  double offset_a = 0, offset_b = 0;
};

class Script {
 public:
  explicit Script(Memory* memory) : memory_(memory) {}

  // Mute: the card takes input but sends nothing back at all.
  void SetMuted(bool muted);
  bool muted() const;

  // Silence for a while: after `after` more command lines have been
  // answered (or at the first line containing `text`, any case), the card
  // goes silent for `count` lines (-1: until ClearSilence), running
  // nothing, and then answers again.
  void SilenceAfter(int after, int count = -1);
  void SilenceAt(std::string text, int count = -1);
  void ClearSilence();
  // Called by the card per command line: true when this line gets silence.
  bool TakeSilence(const std::string& line);

  // The next `count` command lines fail with card error `error` (ERRnnn)
  // instead of running. Count -1 fails every line until cleared with 0.
  void InjectError(int error, int count = 1);
  // Lines containing `pattern` (case-insensitive) fail with `error`;
  // an empty pattern clears the rule.
  void FailLinesMatching(std::string pattern, int error);
  // Called by the card per command line: the error to answer with, or 0.
  int TakeInjectedError(const std::string& line);

  // Replies are held back this long (attachments sleep or count polls by it).
  void SetReplyDelay(std::chrono::microseconds delay, int count = -1);
  // The delay for the next reply (consumes one of `count`).
  std::chrono::microseconds TakeReplyDelay();

  // The next `count` program download blocks are answered with `status`
  // without running a line (block_status.cc).
  void SetBlockStatus(uint32_t status, int count = 1);
  // The scripted answer to the next block, or none.
  std::optional<uint32_t> TakeBlockStatus();

  // Responses end without ACK (a card that forgets its acknowledge).
  void SetAckOmitted(bool omitted);
  bool ack_omitted() const;

  // The "?" reply gets this many characters instead of the model's (0 = model).
  void SetStatusLength(int length);
  int status_length() const;

  // A stuck DPR bit pattern (see Memory::StickDprBits).
  void StickDprBits(size_t offset, uint32_t mask, uint32_t value);
  void ClearStuckBits();

  // The answer to control character `c` is cut to `length` characters
  // (0: whole again), as a card whose reply was cut short.
  void SetControlReplyLength(char c, int length);
  int control_reply_length(char c) const;
  // Freeze the fixed DPR buffers: the card stops refreshing them (and
  // leaves their handshakes alone) but still answers commands.
  void SetDprFrozen(bool frozen);
  bool dpr_frozen() const;
  // Freeze gathering: the card records no samples (the pointers stay) but
  // gathering still counts as running.
  void SetGatherFrozen(bool frozen);
  bool gather_frozen() const;
  // "LIST GATHER" ends after `words` words (0: the whole buffer).
  void SetGatherListLimit(int words);
  int gather_list_limit() const;
  // The brushless model's settings: a motor's rotor, a phase-current
  // channel's scaling (defaults until set); the version changes with every
  // set, so the model rereads them only then.
  void SetRotor(int motor, const RotorScript& rotor);
  RotorScript rotor(int motor) const;
  void SetPhaseCurrents(int channel, const PhaseCurrentScript& scale);
  PhaseCurrentScript phase_currents(int channel) const;
  uint64_t brushless_version() const { return brushless_version_.load(); }
  // Everything the card received, one entry per command line or control
  // character (control characters are logged as "^X" and the like). The log
  // keeps the latest kLogLimit entries.
  static constexpr size_t kLogLimit = 100000;
  void Log(std::string entry);
  std::vector<std::string> received() const;
  void ClearLog();

 private:
  mutable std::mutex mu_;
  uint32_t block_status_ = 0;
  int block_status_count_ = 0;
  Memory* memory_;
  bool muted_ = false;
  int silence_after_ = -1;    // lines still answered before the silence
  std::string silence_text_;  // or the text that starts it
  int silence_count_ = 0;     // lines of silence once started (-1: no end)
  bool silent_ = false;
  int inject_error_ = 0;
  int inject_count_ = 0;
  std::string match_pattern_;
  int match_error_ = 0;
  std::chrono::microseconds delay_{0};
  int delay_count_ = 0;
  bool ack_omitted_ = false;
  bool dpr_frozen_ = false;
  bool gather_frozen_ = false;
  int gather_list_limit_ = 0;
  int control_cut_[32] = {};
  int status_length_ = 0;
  std::deque<std::string> log_;
  std::map<int, RotorScript> rotors_;
  std::map<int, PhaseCurrentScript> phase_currents_;
  std::atomic<uint64_t> brushless_version_{0};
};

}  // namespace zimo::cardsim
