// Card memory: the processor's X, Y and P spaces of 24-bit words, the 48-bit
// X:Y pairs (L: floating, D: fixed), and the 16384-byte dual-ported RAM
// window that the host sees as bytes. Every access is thread-safe: the host
// side (driver, network) and the card side (interpreter, servo loop) both
// touch it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zimo::cardsim {

enum class Space : char { kX = 'X', kY = 'Y', kP = 'P' };

// A change of a watched word (Memory::Watch).
struct WordChange {
  Space space;
  uint32_t address;
  uint32_t old_value, new_value;
};

class Memory {
 public:
  static constexpr size_t kDprSize = 16384;
  static constexpr uint32_t kDprWords = kDprSize / 4;

  // The DPR window covers card addresses [dpr_card_base, dpr_card_base +
  // 4096). A card word there occupies four host bytes at (A - base) x 4: the
  // low 16 bits of its Y half at +0 and of its X half at +2 (the window is
  // 16 bits wide per half, so the upper 8 bits of a word read back as 0).
  explicit Memory(uint32_t dpr_card_base);

  // 24-bit words (values are masked to 24 bits on write). P space is the
  // program memory; it never lies in the DPR window.
  uint32_t Read(Space space, uint32_t address) const;
  void Write(Space space, uint32_t address, uint32_t value);
  // The 48-bit pair at an address: X is the upper word, Y the lower.
  uint64_t ReadPair(uint32_t address) const;
  void WritePair(uint32_t address, uint64_t value);
  // L: words: 48-bit floating. D: words: 48-bit fixed.
  double ReadFloat48(uint32_t address) const;
  void WriteFloat48(uint32_t address, double value);
  int64_t ReadFixed48(uint32_t address) const;
  void WriteFixed48(uint32_t address, double value);

  // The DPR window, by host byte offset (0..16383). Accesses that do not
  // lie wholly inside the window read zeros, write nothing and return false.
  uint32_t dpr_card_base() const;
  void set_dpr_card_base(uint32_t base);
  bool InDpr(uint32_t card_address) const;
  bool ReadDpr(size_t offset, void* out, size_t length) const;
  bool WriteDpr(size_t offset, const void* in, size_t length);
  uint16_t DprWord(size_t offset) const;
  bool SetDprWord(size_t offset, uint16_t value);
  uint32_t DprDword(size_t offset) const;
  bool SetDprDword(size_t offset, uint32_t value);
  // Bits [first, first + width) of the dword at `offset` (width 1..32), as
  // the drivers' bit records address them. The value written is masked to
  // the width, so neighbouring bits are never touched.
  uint32_t DprBits(size_t offset, int first, int width) const;
  bool SetDprBits(size_t offset, int first, int width, uint32_t value);

  // A stuck DPR bit pattern: the masked bits of the dword at `offset` hold
  // `value` whatever is written (a fault the tests inject).
  void StickDprBits(size_t offset, uint32_t mask, uint32_t value);
  void ClearStuckBits();

  // Called (outside the memory lock) after every change of DPR bytes, with
  // the offset and length changed; the mailbox firmware waits on it. The
  // writer may hold the card's lock (the interpreter writes DPR words), so
  // the hook must not wait for a thread that needs the card.
  void SetDprWriteHook(std::function<void(size_t, size_t)> hook);

  // Everything back to zero (the DPR too); stuck bits stay.
  void Clear();

  // Bumped (under the lock) by every change of P space and by Clear: a
  // reader that keeps copies of program words fetches them again once this
  // moves, so it need not take the lock for each word it runs.
  uint64_t program_generation() const { return program_generation_.load(std::memory_order_acquire); }

  // Watched words: every write through Write or WritePair that changes one
  // is reported to the hook (outside the memory's lock). DPR byte writes of
  // the host are not watched.
  void Watch(Space space, uint32_t address);
  void ClearWatches();
  void SetWatchHook(std::function<void(const WordChange&)> hook);

 private:
  struct Cell {
    uint32_t x = 0;
    uint32_t y = 0;
  };
  uint32_t ReadLocked(Space space, uint32_t address) const;
  void WriteLocked(Space space, uint32_t address, uint32_t value);
  void ApplyStuckLocked(size_t first_byte, size_t length);
  void Notify(size_t offset, size_t length);
  void CollectChange(Space space, uint32_t address, uint32_t old,
                     std::vector<WordChange>* changes) const;
  void ReportChanges(const std::vector<WordChange>& changes);

  mutable std::mutex mu_;
  std::atomic<uint64_t> program_generation_{0};
  uint32_t dpr_base_;
  std::unordered_map<uint32_t, Cell> cells_;        // X and Y off the DPR window
  std::unordered_map<uint32_t, uint32_t> program_;  // P space
  std::vector<uint8_t> dpr_;
  std::unordered_map<size_t, std::pair<uint32_t, uint32_t>> stuck_;  // dword offset -> mask, value
  std::function<void(size_t, size_t)> write_hook_;
  std::set<std::pair<Space, uint32_t>> watched_;
  bool watching_ = false;
  std::function<void(const WordChange&)> watch_hook_;
};

}  // namespace zimo::cardsim
