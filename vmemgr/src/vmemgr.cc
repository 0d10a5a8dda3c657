// The stand-in VME bus manager: windows are memory of this process, and a
// simulated card answers behind the mailbox window at its address.
#include "vmemgr/vmemgr.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cardsim/card.h"
#include "cardsim/card_model.h"
#include "mailbox_card.h"

namespace zimo::vmemgr {
namespace {

// Where the card sits on the bus and how it interrupts.
constexpr std::uint32_t kCardMailboxAddress = 0x7FA000;
constexpr std::int32_t kCardLevel = 7;
constexpr std::int32_t kCardReplyVector = 161;  // a reply chunk waits
constexpr std::int32_t kCardTakenVector = 160;  // a command chunk was taken
constexpr std::uint32_t kMailboxSize = 512;
constexpr std::int32_t kMailboxKind = 1;
constexpr std::int32_t kDprKind = 2;

struct Window {
  std::int32_t kind = 0;
  std::uint32_t vme_address = 0;
  std::unique_ptr<std::uint8_t[]> memory;
};

struct Manager {
  std::mutex mutex;  // everything below but the handlers and the chunk log
  bool initialised = false;
  std::map<std::uint32_t, Window> windows;
  std::uint32_t next_window = 1;
  std::map<std::string, std::int32_t> faults;
  bool muted = false;
  std::unique_ptr<cardsim::Card> card;
  std::unique_ptr<MailboxCard> mailbox_card;
  std::uint32_t card_window = 0;  // the window the card answers behind

  // The card's thread delivers interrupts under this lock only, so that
  // stopping it never waits on `mutex`.
  std::mutex handlers_mutex;
  std::map<std::int32_t, std::pair<std::int32_t, vmeInterruptHandler>> handlers;

  std::mutex log_mutex;
  std::vector<std::string> chunks;
};

Manager& State() {
  static Manager* const manager = new Manager();
  return *manager;
}

// A scripted failure of the entry point, taken once.
std::int32_t TakeFault(Manager& m, const char* entry_point) {
  auto it = m.faults.find(entry_point);
  if (it == m.faults.end()) return 0;
  const std::int32_t code = it->second;
  m.faults.erase(it);
  return code;
}

void Raise(bool reply) {
  Manager& m = State();
  const std::int32_t vector = reply ? kCardReplyVector : kCardTakenVector;
  std::lock_guard<std::mutex> guard(m.handlers_mutex);
  auto it = m.handlers.find(vector);
  if (it != m.handlers.end() && it->second.first == kCardLevel && it->second.second != nullptr) {
    it->second.second(kCardLevel, vector);
  }
}

void LogChunk(const std::string& chunk) {
  Manager& m = State();
  std::lock_guard<std::mutex> guard(m.log_mutex);
  m.chunks.push_back(chunk);
}

// Takes the card's thread out of the state; the caller stops it without
// holding the state's lock.
std::unique_ptr<MailboxCard> DetachCard(Manager& m) {
  m.card_window = 0;
  return std::move(m.mailbox_card);
}

}  // namespace
}  // namespace zimo::vmemgr

using zimo::vmemgr::Manager;
using zimo::vmemgr::State;

extern "C" {

int32_t vmeInit(int32_t, int32_t) {
  Manager& m = State();
  std::lock_guard<std::mutex> guard(m.mutex);
  if (const std::int32_t fault = TakeFault(m, "vmeInit")) return fault;
  m.initialised = true;
  if (m.card == nullptr) {
    m.card = std::make_unique<zimo::cardsim::Card>(zimo::cardsim::CardModel::Older());
    m.card->script().SetMuted(m.muted);
  }
  return 0;
}

int32_t vmeTerm(int32_t) {
  Manager& m = State();
  std::unique_ptr<zimo::vmemgr::MailboxCard> stopping;
  {
    std::lock_guard<std::mutex> guard(m.mutex);
    if (const std::int32_t fault = TakeFault(m, "vmeTerm")) return fault;
    stopping = zimo::vmemgr::DetachCard(m);
  }
  stopping.reset();
  std::lock_guard<std::mutex> guard(m.mutex);
  m.windows.clear();
  m.card.reset();
  m.initialised = false;
  std::lock_guard<std::mutex> handlers_guard(m.handlers_mutex);
  m.handlers.clear();
  return 0;
}

int32_t vmeInstallInterruptHandler(int32_t, int32_t level, int32_t vector,
                                   vmeInterruptHandler handler) {
  Manager& m = State();
  {
    std::lock_guard<std::mutex> guard(m.mutex);
    if (const std::int32_t fault = TakeFault(m, "vmeInstallInterruptHandler")) return fault;
    if (!m.initialised) return VMEMGR_ERROR_NOT_INITIALISED;
  }
  if (level < 1 || level > 7 || vector < 0 || vector > 255) return VMEMGR_ERROR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> guard(m.handlers_mutex);
  if (handler == nullptr) {
    m.handlers.erase(vector);
  } else {
    m.handlers[vector] = {level, handler};
  }
  return 0;
}

int32_t vmeLockVmeWindow(int32_t, int32_t kind, uint32_t vme_address, uint32_t* window,
                         uint32_t size, int32_t, int32_t, int32_t, int32_t, int32_t) {
  Manager& m = State();
  std::lock_guard<std::mutex> guard(m.mutex);
  if (const std::int32_t fault = TakeFault(m, "vmeLockVmeWindow")) return fault;
  if (!m.initialised) return VMEMGR_ERROR_NOT_INITIALISED;
  if (window == nullptr || size == 0 ||
      (kind != zimo::vmemgr::kMailboxKind && kind != zimo::vmemgr::kDprKind)) {
    return VMEMGR_ERROR_BAD_ARGUMENT;
  }
  zimo::vmemgr::Window w;
  w.kind = kind;
  w.vme_address = vme_address;
  w.memory = std::make_unique<std::uint8_t[]>(size);  // zero-filled
  const std::uint32_t handle = m.next_window++;
  std::uint8_t* memory = w.memory.get();
  m.windows.emplace(handle, std::move(w));
  if (kind == zimo::vmemgr::kMailboxKind && vme_address == zimo::vmemgr::kCardMailboxAddress &&
      size >= zimo::vmemgr::kMailboxSize && m.mailbox_card == nullptr && m.card != nullptr) {
    m.card_window = handle;
    m.mailbox_card = std::make_unique<zimo::vmemgr::MailboxCard>(
        *m.card, memory, zimo::vmemgr::Raise, zimo::vmemgr::LogChunk);
  }
  *window = handle;
  return 0;
}

int32_t vmeGetVmeWindowAdr(int32_t, uint32_t window, void** address) {
  Manager& m = State();
  std::lock_guard<std::mutex> guard(m.mutex);
  if (const std::int32_t fault = TakeFault(m, "vmeGetVmeWindowAdr")) return fault;
  auto it = m.windows.find(window);
  if (it == m.windows.end()) return VMEMGR_ERROR_BAD_WINDOW;
  if (address == nullptr) return VMEMGR_ERROR_BAD_ARGUMENT;
  *address = it->second.memory.get();
  return 0;
}

int32_t vmeFreeVmeWindowAdr(int32_t, uint32_t window, void* address) {
  Manager& m = State();
  std::lock_guard<std::mutex> guard(m.mutex);
  if (const std::int32_t fault = TakeFault(m, "vmeFreeVmeWindowAdr")) return fault;
  auto it = m.windows.find(window);
  if (it == m.windows.end()) return VMEMGR_ERROR_BAD_WINDOW;
  if (address != it->second.memory.get()) return VMEMGR_ERROR_BAD_ARGUMENT;
  return 0;
}

int32_t vmeUnlockVmeWindow(int32_t, uint32_t window) {
  Manager& m = State();
  std::unique_ptr<zimo::vmemgr::MailboxCard> stopping;
  {
    std::lock_guard<std::mutex> guard(m.mutex);
    if (const std::int32_t fault = TakeFault(m, "vmeUnlockVmeWindow")) return fault;
    if (m.windows.find(window) == m.windows.end()) return VMEMGR_ERROR_BAD_WINDOW;
    if (window == m.card_window) stopping = zimo::vmemgr::DetachCard(m);
  }
  // The card lets go of the memory before it goes.
  stopping.reset();
  std::lock_guard<std::mutex> guard(m.mutex);
  m.windows.erase(window);
  return 0;
}

void vmemgrSimSetFault(const char* entry_point, int32_t code) {
  if (entry_point == nullptr) return;
  Manager& m = State();
  std::lock_guard<std::mutex> guard(m.mutex);
  if (code == 0) {
    m.faults.erase(entry_point);
  } else {
    m.faults[entry_point] = code;
  }
}

void vmemgrSimSetMuted(int32_t muted) {
  Manager& m = State();
  std::lock_guard<std::mutex> guard(m.mutex);
  m.muted = muted != 0;
  if (m.card != nullptr) m.card->script().SetMuted(m.muted);
}

uint32_t vmemgrSimChunks(char* buffer, uint32_t size) {
  Manager& m = State();
  std::string all;
  {
    std::lock_guard<std::mutex> guard(m.log_mutex);
    for (const std::string& chunk : m.chunks) all += chunk + '\n';
  }
  if (buffer != nullptr && size > 0) {
    const std::size_t n = all.size() < size ? all.size() : size - 1;
    std::memcpy(buffer, all.data(), n);
    buffer[n] = 0;
  }
  return static_cast<uint32_t>(all.size());
}

void vmemgrSimReset(void) {
  Manager& m = State();
  {
    std::lock_guard<std::mutex> guard(m.mutex);
    m.faults.clear();
    m.muted = false;
    if (m.card != nullptr) m.card->script().SetMuted(false);
  }
  std::lock_guard<std::mutex> guard(m.log_mutex);
  m.chunks.clear();
}

}  // extern "C"
