#include "link/transport_users.h"

#include <atomic>

#include "platform/process.h"

namespace zimo::corvan {
namespace {

using Word = std::atomic_ref<std::uint32_t>;

void DecrementCount(SharedDeviceBlock& block) {
  Word count(block.TransportUserCount);
  std::uint32_t seen = count.load();
  while (seen > 0 && !count.compare_exchange_weak(seen, seen - 1)) {
  }
}

// Frees the entries of processes that have ended and takes their shares
// off the count.
void GiveBackDeadShares(SharedDeviceBlock& block) {
  for (std::uint32_t& entry : block.TransportUserPids) {
    Word slot(entry);
    std::uint32_t pid = slot.load();
    if (pid == 0 || platform::IsProcessAlive(static_cast<pid_t>(pid))) continue;
    if (slot.compare_exchange_strong(pid, 0)) DecrementCount(block);
  }
}

std::uint32_t Self() { return static_cast<std::uint32_t>(platform::CurrentProcessId()); }

}  // namespace

std::uint32_t AddTransportUser(SharedDeviceBlock& block) {
  GiveBackDeadShares(block);
  const std::uint32_t self = Self();
  for (std::uint32_t& entry : block.TransportUserPids) {
    std::uint32_t free = 0;
    if (Word(entry).compare_exchange_strong(free, self)) break;
  }
  // With every entry taken the share is counted all the same; only its
  // return after a crash is lost.
  return Word(block.TransportUserCount).fetch_add(1) + 1;
}

std::uint32_t RemoveTransportUser(SharedDeviceBlock& block) {
  GiveBackDeadShares(block);
  const std::uint32_t self = Self();
  for (std::uint32_t& entry : block.TransportUserPids) {
    std::uint32_t mine = self;
    if (Word(entry).compare_exchange_strong(mine, 0)) break;
  }
  DecrementCount(block);
  return Word(block.TransportUserCount).load();
}

}  // namespace zimo::corvan
