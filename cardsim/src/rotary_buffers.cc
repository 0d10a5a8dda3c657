// The card's binary rotary buffers: DPR rings, staged puts, host-side
// records, their scripted answers and the motion log (rotary_buffers.h).
#include "cardsim/rotary_buffers.h"

#include <algorithm>

namespace zimo::cardsim {
namespace {

// Descriptor words (16-bit, little-endian) by byte offset.
constexpr size_t kStatus = 0, kHostIndex = 4, kCardIndex = 6, kSize = 8, kStart = 10;
constexpr uint16_t kSizeErrorBit = 0x8000;

// Card codes in bits 16-23 of a staged put's answer.
constexpr uint32_t kTaken = 0, kNotTaken = 1, kSizeError = 2, kPartly = 3;

// A host-side record: buffer number, 32-bit word count, 0x80, then six bytes
// per card word (its low 24 bits and its bits 24-47, each high byte first).
constexpr uint8_t kRecordMark = 0x80;
constexpr size_t kRecordHeader = 3;
constexpr size_t kBytesPerUnit = 6;
// The units of the largest packet a USB host sends (8192 bytes).
constexpr size_t kLargestPacketUnits = 8192 / kBytesPerUnit + 1;

uint16_t Le16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                               (static_cast<uint8_t>(b[at + 1]) << 8));
}

size_t RecordBytes(uint8_t count) { return kRecordHeader + kBytesPerUnit * (count / 2); }

// The payload splits exactly into staged commands {u16 bytes, words}.
bool SplitsAsStaged(std::string_view p) {
  size_t at = 0;
  while (at < p.size()) {
    if (p.size() - at < 2) return false;
    const size_t bytes = Le16(p, at);
    if (bytes == 0 || bytes % 4 != 0) return false;
    at += 2 + bytes;
  }
  return !p.empty() && at == p.size();
}

// The payload splits exactly into host-side records.
bool SplitsAsRecords(std::string_view p, int buffers) {
  size_t at = 0;
  while (at < p.size()) {
    if (p.size() - at < kRecordHeader) return false;
    const auto n = static_cast<uint8_t>(p[at]);
    const auto count = static_cast<uint8_t>(p[at + 1]);
    if (static_cast<uint8_t>(p[at + 2]) != kRecordMark || count == 0 || n >= buffers) return false;
    at += RecordBytes(count);
  }
  return !p.empty() && at == p.size();
}

}  // namespace

RotaryBuffers::RotaryBuffers(const CardModel& model, Memory& memory)
    : model_(model), memory_(memory) {}

std::optional<size_t> RotaryBuffers::Descriptor(int buffer) const {
  if (buffer < 0 || buffer >= kRings) return std::nullopt;
  const auto n = static_cast<size_t>(buffer);
  if (model_.spran) return 0x1050 + 12 * n;
  if (n < 2) return 0x7DC + 20 * n;
  return 0x7F0 + 12 * n;
}

std::optional<RotaryBuffers::Ring> RotaryBuffers::RingOf(int buffer) const {
  const std::optional<size_t> desc = Descriptor(buffer);
  if (!desc) return std::nullopt;
  Ring ring;
  ring.desc = *desc;
  ring.size = memory_.DprWord(*desc + kSize);
  if (ring.size == 0) return std::nullopt;
  const uint32_t start = memory_.DprWord(*desc + kStart);
  // Older cards keep the ring's card address, SPRAN cards its word offset
  // from DPR word 0x450.
  ring.first_word = model_.spran ? static_cast<int64_t>(start) + 0x450
                                 : static_cast<int64_t>(start) - memory_.dpr_card_base();
  return ring;
}

bool RotaryBuffers::TakeRule(Rule& rule) {
  if (rule.count == 0) return false;
  ++rule.seen;
  if (rule.seen % std::max(rule.every, 1) != 0) return false;
  if (rule.count > 0) --rule.count;
  return true;
}

uint32_t RotaryBuffers::PutStaged(int buffer, std::string_view staged) {
  const std::optional<size_t> desc = Descriptor(buffer);
  if (!desc) return kNotTaken << 16;
  if (memory_.DprWord(*desc + kStatus) & kSizeErrorBit) return kSizeError << 16;
  const std::optional<Ring> ring = RingOf(buffer);
  if (!ring) return kNotTaken << 16;
  if (ring->first_word < 0 ||
      (ring->first_word + ring->size) * 4 > static_cast<int64_t>(Memory::kDprSize)) {
    return kSizeError << 16;
  }
  size_t limit = staged.size();
  std::optional<std::pair<uint32_t, size_t>> scripted;
  if (!staged_queue_.empty()) {
    scripted = staged_queue_.front();
    staged_queue_.pop_front();
  } else if (TakeRule(staged_rule_)) {
    scripted = std::make_pair(staged_rule_.code, staged_rule_.take);
  }
  if (scripted) {
    if (scripted->first == kPartly) {
      limit = std::min(limit, scripted->second);
    } else if (scripted->first != kTaken) {
      return (scripted->first & 0xFF) << 16;
    }
  }
  return PutStagedLimited(*ring, staged, limit);
}

// Whole commands into the ring, keeping four words free as the host's own
// ring put does, and none that ends past `limit` bytes.
uint32_t RotaryBuffers::PutStagedLimited(const Ring& ring, std::string_view staged, size_t limit) {
  const uint32_t size = ring.size;
  uint32_t host = memory_.DprWord(ring.desc + kHostIndex) % size;
  const uint32_t card_index = memory_.DprWord(ring.desc + kCardIndex) % size;
  size_t taken = 0;
  uint32_t code = kTaken;
  while (taken < staged.size()) {
    if (staged.size() - taken < 2) {
      code = kSizeError;
      break;
    }
    const size_t bytes = Le16(staged, taken);
    const size_t words = bytes / 4;
    if (bytes % 4 != 0 || taken + 2 + bytes > staged.size() || words + 4 > size) {
      code = kSizeError;  // a command that is malformed or can never fit
      break;
    }
    if (taken + 2 + bytes > limit) {
      code = kPartly;  // the scripted part ends here
      break;
    }
    int64_t room = static_cast<int64_t>(card_index) - static_cast<int64_t>((host + 4) % size);
    if (room < 0) room += size;
    if (room < static_cast<int64_t>(words)) {
      code = taken == 0 ? kNotTaken : kPartly;
      break;
    }
    for (size_t w = 0; w < words; ++w) {
      const size_t at = (static_cast<size_t>(ring.first_word) + host) * 4;
      memory_.WriteDpr(at, staged.data() + taken + 2 + 4 * w, 4);
      host = (host + 1) % size;
    }
    taken += 2 + bytes;
  }
  memory_.SetDprWord(ring.desc + kHostIndex, static_cast<uint16_t>(host));
  if (code == kSizeError && taken > 0) code = kPartly;
  return (code << 16) | static_cast<uint32_t>(taken & 0xFFFF);
}

uint32_t RotaryBuffers::PutNetwork(int buffer, std::string_view payload) {
  // Both forms arrive for buffer 0: a payload that splits exactly into
  // staged commands is staged; one that does not, but splits exactly into
  // host-side records, is records.
  const int systems = model_.spran ? kHostBuffers : kRings;
  if (!SplitsAsStaged(payload) && SplitsAsRecords(payload, systems)) {
    return PutHostRecords(payload);
  }
  return PutStaged(buffer, payload);
}

bool RotaryBuffers::Init(int buffer) {
  const std::optional<size_t> desc = Descriptor(buffer);
  if (!desc) return false;
  memory_.SetDprWord(*desc + kHostIndex, 0);
  memory_.SetDprWord(*desc + kCardIndex, 0);
  host_[static_cast<size_t>(buffer)].clear();
  ++generation_[static_cast<size_t>(buffer)];
  seen_[static_cast<size_t>(buffer)].reset();
  return true;
}

void RotaryBuffers::AddRecordUnits(int n, std::string_view units) {
  for (size_t at = 0; at + kBytesPerUnit <= units.size(); at += kBytesPerUnit) {
    auto b = [&](size_t i) { return static_cast<uint64_t>(static_cast<uint8_t>(units[at + i])); };
    // b2 b1 b0 b5 b4 b3 on the wire.
    const uint64_t unit =
        b(2) | (b(1) << 8) | (b(0) << 16) | (b(5) << 24) | (b(4) << 32) | (b(3) << 40);
    host_[static_cast<size_t>(n)].push_back(unit);
  }
}

size_t RotaryBuffers::QueuedUnits() const {
  size_t n = 0;
  for (const auto& q : host_) n += q.size();
  return n;
}

uint32_t RotaryBuffers::PutHostRecords(std::string_view records) {
  const int systems = model_.spran ? kHostBuffers : kRings;
  if (!SplitsAsRecords(records, systems)) {
    ++host_errors_;
    return 0;
  }
  if (TakeRule(host_rule_)) return 0;
  size_t units = 0;
  for (size_t at = 0; at < records.size();
       at += RecordBytes(static_cast<uint8_t>(records[at + 1]))) {
    units += static_cast<uint8_t>(records[at + 1]) / 2;
  }
  if (QueuedUnits() + units > capacity_) return 0;  // no room: nothing is kept
  for (size_t at = 0; at < records.size();) {
    const auto count = static_cast<uint8_t>(records[at + 1]);
    AddRecordUnits(static_cast<uint8_t>(records[at]),
                   records.substr(at + kRecordHeader, RecordBytes(count) - kRecordHeader));
    at += RecordBytes(count);
  }
  return static_cast<uint32_t>(records.size());
}

void RotaryBuffers::TakeHostPipe(std::string_view bytes) {
  if (pipe_bytes_.size() + bytes.size() > (size_t{1} << 20)) pipe_bytes_.clear();
  pipe_bytes_.append(bytes);
  reception_.append(bytes);
  const int systems = model_.spran ? kHostBuffers : kRings;
  size_t at = 0;
  while (reception_.size() - at >= kRecordHeader) {
    const auto n = static_cast<uint8_t>(reception_[at]);
    const auto count = static_cast<uint8_t>(reception_[at + 1]);
    if (static_cast<uint8_t>(reception_[at + 2]) != kRecordMark) {
      // Three zero bytes end a packet; anything else is not a record.
      if (n == 0 && count == 0 && reception_[at + 2] == 0) {
        at += kRecordHeader;
        continue;
      }
      ++host_errors_;
      at = reception_.size();
      break;
    }
    const size_t need = RecordBytes(count);
    if (reception_.size() - at < need) break;  // the rest comes with the next transfer
    if (n < systems) {
      AddRecordUnits(n,
                     std::string_view(reception_).substr(at + kRecordHeader, need - kRecordHeader));
    } else {
      ++host_errors_;
    }
    at += need;
  }
  reception_.erase(0, at);
}

bool RotaryBuffers::HostReady() {
  if (TakeRule(host_rule_)) return false;
  return QueuedUnits() + kLargestPacketUnits <= capacity_;
}

void RotaryBuffers::ResetHostReception() {
  reception_.clear();
  pipe_bytes_.clear();
  for (size_t n = 0; n < host_.size(); ++n) {
    if (!host_[n].empty()) ++generation_[n];
    host_[n].clear();
  }
}

void RotaryBuffers::CheckMoved(int buffer) {
  const std::optional<size_t> desc = Descriptor(buffer);
  if (!desc) return;
  const std::array<uint16_t, 3> now = {memory_.DprWord(*desc + kCardIndex),
                                       memory_.DprWord(*desc + kSize),
                                       memory_.DprWord(*desc + kStart)};
  auto& seen = seen_[static_cast<size_t>(buffer)];
  if (seen && *seen != now) ++generation_[static_cast<size_t>(buffer)];
  seen = now;
}

uint64_t RotaryBuffers::generation(int buffer) {
  if (buffer < 0 || buffer >= kHostBuffers) return 0;
  CheckMoved(buffer);
  return generation_[static_cast<size_t>(buffer)];
}

size_t RotaryBuffers::host_units(int buffer) const {
  if (buffer < 0 || buffer >= kHostBuffers) return 0;
  return host_[static_cast<size_t>(buffer)].size();
}

bool RotaryBuffers::Take(int buffer, uint64_t* unit) {
  if (buffer < 0 || buffer >= kHostBuffers) return false;
  auto& queue = host_[static_cast<size_t>(buffer)];
  if (!queue.empty()) {
    *unit = queue.front();
    queue.pop_front();
    return true;
  }
  const std::optional<Ring> ring = RingOf(buffer);
  if (!ring || ring->size < 2) return false;
  if (memory_.DprWord(ring->desc + kStatus) & kSizeErrorBit) return false;
  if (ring->first_word < 0 ||
      (ring->first_word + ring->size) * 4 > static_cast<int64_t>(Memory::kDprSize)) {
    return false;
  }
  CheckMoved(buffer);
  const uint32_t size = ring->size;
  const uint32_t host = memory_.DprWord(ring->desc + kHostIndex) % size;
  uint32_t card = memory_.DprWord(ring->desc + kCardIndex) % size;
  if ((host + size - card) % size < 2) return false;
  const auto word = [&](uint32_t index) {
    return static_cast<uint64_t>(
        memory_.DprDword((static_cast<size_t>(ring->first_word) + index) * 4));
  };
  *unit = word(card) | (word((card + 1) % size) << 32);
  card = (card + 2) % size;
  memory_.SetDprWord(ring->desc + kCardIndex, static_cast<uint16_t>(card));
  seen_[static_cast<size_t>(buffer)] =
      std::array<uint16_t, 3>{static_cast<uint16_t>(card), static_cast<uint16_t>(size),
                              memory_.DprWord(ring->desc + kStart)};
  return true;
}

void RotaryBuffers::ScriptStagedAnswer(uint32_t code, size_t take, int every, int count) {
  staged_rule_ = Rule{code, take, std::max(every, 1), code == kTaken ? 0 : count, 0};
}

void RotaryBuffers::QueueStagedAnswers(std::vector<std::pair<uint32_t, size_t>> answers) {
  staged_queue_.assign(answers.begin(), answers.end());
}

void RotaryBuffers::ScriptHostRefusal(int every, int count) {
  host_rule_ = Rule{0, 0, std::max(every, 1), count, 0};
}

void RotaryBuffers::SetHostCapacity(size_t units) { capacity_ = units; }

void RotaryBuffers::SetBufferError(int buffer, bool on) {
  const std::optional<size_t> desc = Descriptor(buffer);
  if (!desc) return;
  const uint16_t status = memory_.DprWord(*desc + kStatus);
  memory_.SetDprWord(*desc + kStatus, on ? static_cast<uint16_t>(status | kSizeErrorBit)
                                         : static_cast<uint16_t>(status & ~kSizeErrorBit));
}

void RotaryBuffers::Log(int coord, const std::string& text) {
  if (log_.size() >= kLogLimit) log_.pop_front();
  log_.push_back("&" + std::to_string(coord) + " " + text);
}

std::vector<std::string> RotaryBuffers::motion_log() const { return {log_.begin(), log_.end()}; }

void RotaryBuffers::ClearMotionLog() { log_.clear(); }

}  // namespace zimo::cardsim
