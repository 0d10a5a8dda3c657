#include "cardsim/memory.h"

#include <cstring>

#include "cardsim/card_word.h"

namespace zimo::cardsim {

namespace {
uint32_t WidthMask(int width) {
  return width >= 32 ? 0xFFFFFFFFu : (width <= 0 ? 0u : (1u << width) - 1u);
}
}  // namespace

Memory::Memory(uint32_t dpr_card_base) : dpr_base_(dpr_card_base), dpr_(kDprSize, 0) {}

uint32_t Memory::Read(Space space, uint32_t address) const {
  std::lock_guard<std::mutex> lock(mu_);
  return ReadLocked(space, address);
}

void Memory::Write(Space space, uint32_t address, uint32_t value) {
  bool in_dpr;
  std::vector<WordChange> changes;
  {
    std::lock_guard<std::mutex> lock(mu_);
    uint32_t old = watching_ ? ReadLocked(space, address) : 0;
    WriteLocked(space, address, value);
    in_dpr = space != Space::kP && address - dpr_base_ < kDprWords;
    if (watching_) CollectChange(space, address, old, &changes);
  }
  if (in_dpr) Notify(static_cast<size_t>(address - dpr_base_) * 4, 4);
  ReportChanges(changes);
}

void Memory::Watch(Space space, uint32_t address) {
  std::lock_guard<std::mutex> lock(mu_);
  watched_.insert({space, address & word::kMask24});
  watching_ = true;
}

void Memory::ClearWatches() {
  std::lock_guard<std::mutex> lock(mu_);
  watched_.clear();
  watching_ = false;
}

void Memory::SetWatchHook(std::function<void(const WordChange&)> hook) {
  std::lock_guard<std::mutex> lock(mu_);
  watch_hook_ = std::move(hook);
}

void Memory::CollectChange(Space space, uint32_t address, uint32_t old,
                           std::vector<WordChange>* changes) const {
  if (watched_.count({space, address & word::kMask24}) == 0) return;
  uint32_t now = ReadLocked(space, address);
  if (now != old) changes->push_back({space, address, old, now});
}

void Memory::ReportChanges(const std::vector<WordChange>& changes) {
  if (changes.empty()) return;
  std::function<void(const WordChange&)> hook;
  {
    std::lock_guard<std::mutex> lock(mu_);
    hook = watch_hook_;
  }
  if (!hook) return;
  for (const WordChange& c : changes) hook(c);
}

uint32_t Memory::ReadLocked(Space space, uint32_t address) const {
  if (space == Space::kP) {
    auto it = program_.find(address);
    return it == program_.end() ? 0 : it->second;
  }
  if (address - dpr_base_ < kDprWords) {
    size_t at = static_cast<size_t>(address - dpr_base_) * 4 + (space == Space::kX ? 2 : 0);
    return static_cast<uint32_t>(dpr_[at]) | (static_cast<uint32_t>(dpr_[at + 1]) << 8);
  }
  auto it = cells_.find(address);
  if (it == cells_.end()) return 0;
  return space == Space::kX ? it->second.x : it->second.y;
}

void Memory::WriteLocked(Space space, uint32_t address, uint32_t value) {
  value &= word::kMask24;
  if (space == Space::kP) {
    program_[address] = value;
    program_generation_.fetch_add(1, std::memory_order_release);
    return;
  }
  if (address - dpr_base_ < kDprWords) {
    size_t at = static_cast<size_t>(address - dpr_base_) * 4 + (space == Space::kX ? 2 : 0);
    dpr_[at] = static_cast<uint8_t>(value);
    dpr_[at + 1] = static_cast<uint8_t>(value >> 8);
    ApplyStuckLocked(at, 2);
    return;
  }
  Cell& cell = cells_[address];
  (space == Space::kX ? cell.x : cell.y) = value;
}

uint64_t Memory::ReadPair(uint32_t address) const {
  std::lock_guard<std::mutex> lock(mu_);
  return (static_cast<uint64_t>(ReadLocked(Space::kX, address)) << 24) |
         ReadLocked(Space::kY, address);
}

void Memory::WritePair(uint32_t address, uint64_t value) {
  bool in_dpr;
  std::vector<WordChange> changes;
  {
    std::lock_guard<std::mutex> lock(mu_);
    uint32_t old_x = watching_ ? ReadLocked(Space::kX, address) : 0;
    uint32_t old_y = watching_ ? ReadLocked(Space::kY, address) : 0;
    WriteLocked(Space::kX, address, static_cast<uint32_t>(value >> 24));
    WriteLocked(Space::kY, address, static_cast<uint32_t>(value));
    in_dpr = address - dpr_base_ < kDprWords;
    if (watching_) {
      CollectChange(Space::kX, address, old_x, &changes);
      CollectChange(Space::kY, address, old_y, &changes);
    }
  }
  if (in_dpr) Notify(static_cast<size_t>(address - dpr_base_) * 4, 4);
  ReportChanges(changes);
}

double Memory::ReadFloat48(uint32_t address) const {
  return word::DecodeFloat48(ReadPair(address));
}

void Memory::WriteFloat48(uint32_t address, double value) {
  WritePair(address, word::EncodeFloat48(value));
}

int64_t Memory::ReadFixed48(uint32_t address) const {
  return word::DecodeFixed48(ReadPair(address));
}

void Memory::WriteFixed48(uint32_t address, double value) {
  WritePair(address, word::EncodeFixed48(value));
}

uint32_t Memory::dpr_card_base() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dpr_base_;
}

void Memory::set_dpr_card_base(uint32_t base) {
  std::lock_guard<std::mutex> lock(mu_);
  dpr_base_ = base;
}

bool Memory::InDpr(uint32_t card_address) const {
  std::lock_guard<std::mutex> lock(mu_);
  return card_address - dpr_base_ < kDprWords;
}

bool Memory::ReadDpr(size_t offset, void* out, size_t length) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (offset > kDprSize || length > kDprSize - offset) {
    std::memset(out, 0, length);
    return false;
  }
  std::memcpy(out, dpr_.data() + offset, length);
  return true;
}

bool Memory::WriteDpr(size_t offset, const void* in, size_t length) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (offset > kDprSize || length > kDprSize - offset) return false;
    std::memcpy(dpr_.data() + offset, in, length);
    ApplyStuckLocked(offset, length);
  }
  Notify(offset, length);
  return true;
}

uint16_t Memory::DprWord(size_t offset) const {
  uint16_t v = 0;
  ReadDpr(offset, &v, sizeof v);
  return v;
}

bool Memory::SetDprWord(size_t offset, uint16_t value) {
  return WriteDpr(offset, &value, sizeof value);
}

uint32_t Memory::DprDword(size_t offset) const {
  uint32_t v = 0;
  ReadDpr(offset, &v, sizeof v);
  return v;
}

bool Memory::SetDprDword(size_t offset, uint32_t value) {
  return WriteDpr(offset, &value, sizeof value);
}

uint32_t Memory::DprBits(size_t offset, int first, int width) const {
  if (first < 0 || first > 31) return 0;
  uint32_t mask = WidthMask(width) << first;
  return (DprDword(offset) & mask) >> first;
}

bool Memory::SetDprBits(size_t offset, int first, int width, uint32_t value) {
  if (first < 0 || first > 31) return false;
  uint32_t mask = WidthMask(width) << first;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (offset > kDprSize - 4) return false;
    uint32_t old;
    std::memcpy(&old, dpr_.data() + offset, 4);
    uint32_t now = (old & ~mask) | ((value << first) & mask);
    std::memcpy(dpr_.data() + offset, &now, 4);
    ApplyStuckLocked(offset, 4);
  }
  Notify(offset, 4);
  return true;
}

void Memory::StickDprBits(size_t offset, uint32_t mask, uint32_t value) {
  std::lock_guard<std::mutex> lock(mu_);
  offset &= ~size_t{3};
  if (offset > kDprSize - 4) return;
  stuck_[offset] = {mask, value & mask};
  ApplyStuckLocked(offset, 4);
}

void Memory::ClearStuckBits() {
  std::lock_guard<std::mutex> lock(mu_);
  stuck_.clear();
}

void Memory::ApplyStuckLocked(size_t first_byte, size_t length) {
  if (stuck_.empty() || length == 0) return;
  size_t from = first_byte & ~size_t{3};
  size_t to = first_byte + length;
  for (size_t at = from; at < to && at + 4 <= kDprSize; at += 4) {
    auto it = stuck_.find(at);
    if (it == stuck_.end()) continue;
    uint32_t v;
    std::memcpy(&v, dpr_.data() + at, 4);
    v = (v & ~it->second.first) | it->second.second;
    std::memcpy(dpr_.data() + at, &v, 4);
  }
}

void Memory::SetDprWriteHook(std::function<void(size_t, size_t)> hook) {
  std::lock_guard<std::mutex> lock(mu_);
  write_hook_ = std::move(hook);
}

void Memory::Notify(size_t offset, size_t length) {
  std::function<void(size_t, size_t)> hook;
  {
    std::lock_guard<std::mutex> lock(mu_);
    hook = write_hook_;
  }
  if (hook) hook(offset, length);
}

void Memory::Clear() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    cells_.clear();
    program_.clear();
    program_generation_.fetch_add(1, std::memory_order_release);
    std::fill(dpr_.begin(), dpr_.end(), 0);
    ApplyStuckLocked(0, kDprSize);
  }
  Notify(0, kDprSize);
}

}  // namespace zimo::cardsim
