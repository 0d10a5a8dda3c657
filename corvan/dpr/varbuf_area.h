// The DPR's variable area as the variable background users and the write
// buffer see it: everything allocated there grows down from VbgNextFree
// (a card address) toward the end of the fixed areas.
#pragma once

#include <cstdint>
#include <mutex>

#include "corvan/internal/device_user_handle.h"
#include "corvan/internal/shared_table.h"

namespace zimo::corvan {

// Serialises, within a process, everything that places or moves something
// in the area: variable background registration, removal, change and
// reads, and the write buffer's hand-over. It lives to the end of the
// process: the library's end at exit gives up the users under it.
inline std::mutex& VariableAreaMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

// The lowest word in use of the variable area, as a word offset from DPR
// word 0 (kept to 16 bits).
inline std::uint32_t AreaStartWord(const SharedDeviceBlock& block) {
  return (block.VbgNextFree - block.DprCardBase) & 0xFFFFu;
}

// The address-word bit that marks a two-word (48-bit) entry.
inline std::uint32_t TwoWordBit(bool spran) { return spran ? 1u << 20 : 1u << 16; }

// Data words of a user: one per entry, two per two-word entry.
inline std::uint32_t DataWords(const VarBufUser& user) {
  return std::uint32_t{user.entry_count} + user.extra_words;
}

// Words a user takes in the area: its address list and its data.
inline std::uint32_t AreaWords(const VarBufUser& user) {
  return std::uint32_t{user.entry_count} + DataWords(user);
}

}  // namespace zimo::corvan
