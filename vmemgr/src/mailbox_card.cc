#include "mailbox_card.h"

#include <utility>

namespace zimo::vmemgr {
namespace {

using cardsim::ctrl::kAck;
using cardsim::ctrl::kCr;
constexpr std::uint8_t kCtrlX = cardsim::ctrl::kCtrlX;
constexpr int kLastTextRegister = 14;
constexpr std::size_t kChunkMax = 16;
// Register 1 of a reply chunk whose second register the host never reads.
constexpr std::uint8_t kUnreadMarker = 0xFF;

// The card's output in reply chunks: each ends after a CR or ACK, or holds
// 16 characters.
std::deque<std::string> SplitIntoChunks(const std::string& output) {
  std::deque<std::string> chunks;
  std::string chunk;
  for (char c : output) {
    chunk.push_back(c);
    if (c == kCr || c == kAck || chunk.size() == kChunkMax) {
      chunks.push_back(std::move(chunk));
      chunk.clear();
    }
  }
  if (!chunk.empty()) chunks.push_back(std::move(chunk));
  return chunks;
}

}  // namespace

MailboxCard::MailboxCard(cardsim::Card& card, std::uint8_t* mailbox,
                         std::function<void(bool)> raise,
                         std::function<void(const std::string&)> log)
    : card_(card), mailbox_(mailbox), raise_(std::move(raise)), log_(std::move(log)) {
  thread_ = std::thread([this] { Run(); });
}

MailboxCard::~MailboxCard() { Stop(); }

void MailboxCard::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::atomic_ref<std::uint8_t> MailboxCard::Register(int r) const {
  return std::atomic_ref<std::uint8_t>(mailbox_[2 * r + 1]);
}

void MailboxCard::Run() {
  while (!stop_.load(std::memory_order_relaxed)) {
    const std::uint8_t start = Register(0).load(std::memory_order_acquire);
    if (posted_) {
      if (start != posted_first_) {
        // The host has moved on to a command of its own: what it did not
        // read is dropped.
        posted_ = false;
        pending_.clear();
        continue;
      }
      if (watch_taken_ && Register(1).load(std::memory_order_acquire) == 0) {
        std::uint8_t expected = posted_first_;
        posted_ = false;
        if (!Register(0).compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) {
          pending_.clear();  // the host wrote register 0 meanwhile
        }
        continue;
      }
      std::this_thread::yield();
      continue;
    }
    if (start != 0) {
      TakeChunk(start);
      continue;
    }
    if (!pending_.empty()) {
      const std::string chunk = std::move(pending_.front());
      pending_.pop_front();
      if (!Post(chunk)) pending_.clear();
      continue;
    }
    std::this_thread::yield();
  }
}

void MailboxCard::TakeChunk(std::uint8_t first) {
  if (first == kCtrlX) {
    pending_.clear();
    line_.clear();
    (void)card_.Feed(std::string(1, static_cast<char>(kCtrlX)));
    std::uint8_t expected = kCtrlX;
    Register(0).compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    return;
  }
  // The chunk as it stands at the moment register 0 was written: the host
  // writes register 0 last, so the rest is in place.
  std::string chunk(1, static_cast<char>(first));
  if (first != static_cast<std::uint8_t>(kCr)) {
    for (int r = 2; r <= kLastTextRegister; ++r) {
      const char c = static_cast<char>(Register(r).load(std::memory_order_acquire));
      chunk.push_back(c);
      if (c == kCr) break;
    }
  }
  std::uint8_t expected = first;
  Register(0).compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
  log_(chunk);
  raise_(false);
  line_ += chunk;
  if (chunk.back() != kCr) return;
  const std::string output = card_.Feed(line_);
  line_.clear();
  pending_ = SplitIntoChunks(output);
}

bool MailboxCard::Post(const std::string& chunk) {
  for (std::size_t i = 1; i < chunk.size(); ++i) {
    Register(static_cast<int>(i))
        .store(static_cast<std::uint8_t>(chunk[i]), std::memory_order_relaxed);
  }
  const char last = chunk.back();
  const bool terminated = last == kCr || last == kAck;
  if (chunk.size() < kChunkMax && !terminated) {
    Register(static_cast<int>(chunk.size())).store(0, std::memory_order_relaxed);
  }
  if (chunk.size() == 1 && terminated) {
    // The host stops reading after the CR or ACK in register 0; register 1
    // only tells the card when the host has taken the chunk.
    Register(1).store(kUnreadMarker, std::memory_order_relaxed);
  }
  watch_taken_ = Register(1).load(std::memory_order_relaxed) != 0;
  std::uint8_t expected = 0;
  if (!Register(0).compare_exchange_strong(expected, static_cast<std::uint8_t>(chunk[0]),
                                           std::memory_order_acq_rel)) {
    return false;  // the host wrote a command first
  }
  posted_ = true;
  posted_first_ = static_cast<std::uint8_t>(chunk[0]);
  raise_(true);
  return true;
}

}  // namespace zimo::vmemgr
