#include "cardsim/isa_dpr_window.h"

#include <cstdio>

#include "cardsim/memory.h"

namespace zimo::cardsim {
namespace {

constexpr uint32_t kDecodeHigh = 0xE009;  // X: address bits 16-19
constexpr uint32_t kDecodeLow = 0xE00A;   // X: bits 4-7 are address bits 12-15
constexpr uint32_t kStoredHigh = 0x786;   // X: the decode loaded at power-up
constexpr uint32_t kWords = BusAttachment::kDprSize / 4;

}  // namespace

std::string IsaDprWindow::WindowName(uint32_t physical) {
  char name[32];
  std::snprintf(name, sizeof(name), "ZimoIsaDpr%05X", physical);
  return name;
}

IsaDprWindow::IsaDprWindow(BusAttachment& bus, std::chrono::microseconds period)
    : bus_(bus), period_(period) {
  Memory& m = bus_.card().memory();
  m.Write(Space::kX, kDecodeHigh, m.Read(Space::kX, kStoredHigh));
  m.Write(Space::kX, kDecodeLow, m.Read(Space::kX, kStoredHigh + 1));
  thread_ = std::thread([this] { Run(); });
}

IsaDprWindow::~IsaDprWindow() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void IsaDprWindow::Attach(uint32_t address) {
  mapping_ = platform::FileMapping();
  seen_.clear();
  decode_ = address;
  if (address == 0) return;
  auto mapping = platform::FileMapping::Create(WindowName(address), BusAttachment::kDprSize);
  if (!mapping.ok()) return;
  mapping_ = std::move(*mapping);
  // The card's memory shows through the window from now on.
  seen_.assign(kWords, 0);
  bus_.ReadDpr(0, seen_.data(), BusAttachment::kDprSize);
  auto* shared = static_cast<uint32_t*>(mapping_.data());
  for (uint32_t i = 0; i < kWords; ++i) __atomic_store_n(&shared[i], seen_[i], __ATOMIC_SEQ_CST);
}

// What the host changed goes into the card; what the card changed goes
// into the window unless the host wrote that word meanwhile (its write wins
// on the next round).
void IsaDprWindow::Sync() {
  auto* shared = static_cast<uint32_t*>(mapping_.data());
  // The host writes a command as several words (text, then its flag). A pass
  // that reads the window while the host is writing could hand the card the
  // flag without the text, so the host's words are taken only from a pass
  // that reads the same as the one before it.
  std::vector<uint32_t> host_words(kWords);
  std::vector<uint32_t> again(kWords);
  for (uint32_t i = 0; i < kWords; ++i)
    host_words[i] = __atomic_load_n(&shared[i], __ATOMIC_SEQ_CST);
  for (int pass = 0; pass < 1000; ++pass) {
    for (uint32_t i = 0; i < kWords; ++i) again[i] = __atomic_load_n(&shared[i], __ATOMIC_SEQ_CST);
    if (again == host_words) break;
    host_words.swap(again);
    std::this_thread::yield();
  }
  std::vector<uint32_t> card(kWords);
  bus_.ReadDpr(0, card.data(), BusAttachment::kDprSize);
  for (uint32_t i = 0; i < kWords; ++i) {
    const uint32_t host = host_words[i];
    if (host != seen_[i]) {
      bus_.WriteDpr32(i * 4, host);
      seen_[i] = host;
    } else if (card[i] != seen_[i]) {
      uint32_t expected = seen_[i];
      if (__atomic_compare_exchange_n(&shared[i], &expected, card[i], false, __ATOMIC_SEQ_CST,
                                      __ATOMIC_SEQ_CST)) {
        seen_[i] = card[i];
      }
    }
  }
}

void IsaDprWindow::Run() {
  Memory& m = bus_.card().memory();
  while (!stop_) {
    const uint32_t high = m.Read(Space::kX, kDecodeHigh) & 0xF;
    const uint32_t low = m.Read(Space::kX, kDecodeLow) & 0xF0;
    const uint32_t address = (high << 16) | (low << 8);
    if (address != decode_) Attach(address);
    if (mapping_.valid()) {
      Sync();
      bus_.Stall(period_);  // the firmware's time moves with real time
      Sync();
    }
    std::this_thread::sleep_for(period_);
  }
}

}  // namespace zimo::cardsim
