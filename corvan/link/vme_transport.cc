#include "link/vme_transport.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "corvan/command_api.h"
#include "corvan/vme_api.h"
#include "link/card_text.h"
#include "platform/message.h"

namespace zimo::corvan {
namespace {

constexpr int kStartRegister = 0;
constexpr int kReplyTakenRegister = 1;
constexpr int kFirstTextRegister = 2;
constexpr int kLastTextRegister = 14;
constexpr std::size_t kDprSelectByte = 0x121;

// Arguments of every window lock, as the bus manager expects them.
constexpr std::int32_t kLockArg6 = 0x3D;
constexpr std::int32_t kLockArg7 = 0x7C;
constexpr std::int32_t kLockArg8 = 3;
constexpr std::int32_t kLockArg9 = 1000;
constexpr std::int32_t kLockArg10 = 0;

// The system's error numbers for a library or an entry point that is not
// there.
constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorProcNotFound = 127;

constexpr char kDeviceTitle[] = "VMIC I/O Works Access Library";
constexpr char kLoadTitle[] = "Error";
constexpr std::uint32_t kBoxFlags = platform::kMbOk | platform::kMbIconExclamation;

constexpr char kCheckLine[] = "CLOSEI3=2 I6=1";
constexpr char kStatusQuery[] = "?";
constexpr char kRestoreLine[] = "I3=2 I6=1";
constexpr std::uint32_t kStatusReplyMin = 12;
constexpr std::uint32_t kCheckReplyMax = 256;

// Test values of the device the library's test opens.
constexpr std::uint32_t kTestMailboxAddress = 0x7FA000;
constexpr std::uint32_t kTestDprAddress = 0x700000;
constexpr std::int32_t kTestLevel = 7;
constexpr std::int32_t kTestAddressModifier = 57;
constexpr std::int32_t kTestSixth = 4;
constexpr std::int32_t kTestVector = 161;
constexpr std::uint32_t kTestReplyWait = 50000;
constexpr std::uint32_t kTestFlushWait = 25000;

std::atomic<bool> g_host_to_card{false};
std::atomic<bool> g_card_to_host{false};

// Called from the bus manager, so they do nothing but raise a flag.
std::int32_t HostToCardHandler(std::int32_t, std::int32_t) {
  g_host_to_card.store(true, std::memory_order_release);
  return 0;
}

std::int32_t CardToHostHandler(std::int32_t, std::int32_t) {
  g_card_to_host.store(true, std::memory_order_release);
  return 0;
}

void SpinOneIteration() {
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::nanoseconds(kVmeWaitIterationNs);
  while (std::chrono::steady_clock::now() < until) {
  }
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

unsigned long Hex(std::int32_t code) { return static_cast<std::uint32_t>(code); }

}  // namespace

std::atomic<bool>& VmeZimoDevice::HostToCardFlag() { return g_host_to_card; }
std::atomic<bool>& VmeZimoDevice::CardToHostFlag() { return g_card_to_host; }

VmeZimoDevice::VmeZimoDevice(std::int32_t no_hardware, std::uint32_t mailbox_address,
                             std::uint32_t dpr_address, std::int32_t interrupt_level,
                             std::int32_t address_modifier, std::int32_t sixth,
                             std::int32_t interrupt_vector, std::uint32_t reply_wait,
                             std::uint32_t flush_wait, std::string module)
    : no_hardware_(no_hardware),
      mailbox_address_(mailbox_address),
      dpr_address_(dpr_address),
      level_(interrupt_level),
      address_modifier_(address_modifier),
      sixth_(sixth),
      vector_(interrupt_vector),
      reply_wait_(reply_wait),
      flush_wait_(flush_wait),
      module_name_(std::move(module)) {}

VmeZimoDevice::~VmeZimoDevice() { Close(); }

void VmeZimoDevice::Report(const char* text) const {
  platform::ShowMessageBox(text, kDeviceTitle, kBoxFlags);
}

bool VmeZimoDevice::LoadLibrary() {
  auto loaded = platform::Module::Load(module_name_);
  if (!loaded.ok()) {
    const std::uint32_t error = loaded.status().code() == platform::Code::kNotFound
                                    ? kErrorModNotFound
                                    : static_cast<std::uint32_t>(loaded.status().os_error());
    platform::ShowMessageBox(Format("Error: %d in loading VMIC library.", static_cast<int>(error)),
                             kLoadTitle, kBoxFlags);
    return false;
  }
  module_ = std::move(loaded.value());
  auto init = module_.Function<VmeInitFn>("vmeInit");
  auto term = module_.Function<VmeTermFn>("vmeTerm");
  auto get_address = module_.Function<VmeGetVmeWindowAdrFn>("vmeGetVmeWindowAdr");
  auto lock = module_.Function<VmeLockVmeWindowFn>("vmeLockVmeWindow");
  auto unlock = module_.Function<VmeUnlockVmeWindowFn>("vmeUnlockVmeWindow");
  auto free_address = module_.Function<VmeFreeVmeWindowAdrFn>("vmeFreeVmeWindowAdr");
  auto install = module_.Function<VmeInstallInterruptHandlerFn>("vmeInstallInterruptHandler");
  if (!init.ok() || !term.ok() || !get_address.ok() || !lock.ok() || !unlock.ok() ||
      !free_address.ok() || !install.ok()) {
    platform::ShowMessageBox(Format("Error: %d in loading VMIC-VMEMGR library functions.",
                                    static_cast<int>(kErrorProcNotFound)),
                             kLoadTitle, kBoxFlags);
    FreeLibrary();
    return false;
  }
  init_ = *init;
  term_ = *term;
  get_window_address_ = *get_address;
  lock_window_ = *lock;
  unlock_window_ = *unlock;
  free_window_address_ = *free_address;
  install_handler_ = *install;
  return true;
}

void VmeZimoDevice::FreeLibrary() {
  init_ = nullptr;
  term_ = nullptr;
  get_window_address_ = nullptr;
  lock_window_ = nullptr;
  unlock_window_ = nullptr;
  free_window_address_ = nullptr;
  install_handler_ = nullptr;
  if (module_.loaded()) (void)module_.Free();
}

bool VmeZimoDevice::LockWindow(std::int32_t kind, std::uint32_t address, std::uint32_t size,
                               std::uint32_t* window, std::uint8_t** mapped) {
  if (*window != 0) return true;  // already locked
  std::uint32_t handle = 0;
  const std::int32_t locked = lock_window_(0, kind, address, &handle, size, kLockArg6, kLockArg7,
                                           kLockArg8, kLockArg9, kLockArg10);
  if (locked == kVmeLockNotImplemented) {
    Report("vmeLockVmeWindow is not implemented on this hardware platform");
    return false;
  }
  if (locked != 0) {
    Report(Format("vmeLockVmeWindow call returned %lX as the OS or VME Manager error code",
                  Hex(locked))
               .c_str());
    return false;
  }
  void* at = nullptr;
  const std::int32_t got = get_window_address_(0, handle, &at);
  if (got != 0 || at == nullptr) {
    Report(
        Format("vmeGetVmeWindowAdr call returned %lX as the OS or VME Manager error code", Hex(got))
            .c_str());
    // A failed step holds nothing.
    (void)unlock_window_(0, handle);
    return false;
  }
  *window = handle;
  *mapped = static_cast<std::uint8_t*>(at);
  return true;
}

void VmeZimoDevice::ReleaseWindow(std::uint32_t* window, std::uint8_t** mapped) {
  if (*window == 0) return;
  const std::int32_t freed = free_window_address_(0, *window, *mapped);
  if (freed != 0) {
    Report(Format("vmeFreeVmeWindowAdr call returned %lX as the OS or VME Manager error code",
                  Hex(freed))
               .c_str());
  }
  const std::int32_t unlocked = unlock_window_(0, *window);
  if (unlocked != 0) {
    Report(Format("vmeUnlockVmeWindow call returned %lX as the OS or VME Manager error code",
                  Hex(unlocked))
               .c_str());
  }
  if (freed == 0 && unlocked == 0) {
    *window = 0;
    *mapped = nullptr;
  }
}

void VmeZimoDevice::RemoveHandlers() {
  if (install_handler_ == nullptr) return;
  (void)install_handler_(0, level_, vector_ - 1, nullptr);
  (void)install_handler_(0, level_, vector_, nullptr);
}

bool VmeZimoDevice::Open() {
  if (no_hardware_ != 0) return false;
  if (answering_) return true;
  if (!module_.loaded() && !LoadLibrary()) return false;
  const std::int32_t initialised = init_(0, 0);
  if (initialised != 0) {
    Report(Format("vmeInit call returned %lX as the OS or VME Manager error code", Hex(initialised))
               .c_str());
    FreeLibrary();
    return false;
  }
  started_ = true;
  if (install_handler_(0, level_, vector_ - 1, HostToCardHandler) != 0 ||
      install_handler_(0, level_, vector_, CardToHostHandler) != 0) {
    Report(Format("Couldn't install a vector for level %ld", static_cast<long>(level_)).c_str());
    Close();
    return false;
  }
  if (!LockWindow(kVmeMailboxWindow, mailbox_address_, kVmeMailboxSize, &mailbox_window_,
                  &mailbox_)) {
    Report("Failed to get pointer to Mailbox base address");
    Close();
    return false;
  }
  // Check that a card is there.
  answering_ = true;
  WriteRegister(kReplyTakenRegister, 0);
  MailboxFlush();
  char reply[kCheckReplyMax] = {};
  MailboxGetResponse(reply, sizeof reply, kCheckLine);
  const std::uint32_t n = MailboxGetResponse(reply, sizeof reply, kStatusQuery);
  if (n >= kStatusReplyMin || std::strstr(reply, "BOOTSTRAP") != nullptr) return true;
  answering_ = false;
  Close();
  return false;
}

void VmeZimoDevice::Close() {
  if (no_hardware_ != 0) return;
  answering_ = false;
  if (module_.loaded()) {
    ReleaseWindow(&mailbox_window_, &mailbox_);
    ReleaseWindow(&dpr_window_, &dpr_);
    RemoveHandlers();
    if (started_) (void)term_(0);
  }
  started_ = false;
  mailbox_window_ = dpr_window_ = 0;
  mailbox_ = dpr_ = nullptr;
  FreeLibrary();
}

bool VmeZimoDevice::MapDprWindow() {
  if (mailbox_ == nullptr) return false;
  // The select byte takes bits 14 to 19 of the DPR's VME address.
  const auto select = static_cast<std::int32_t>(dpr_address_ << 12) >> 26;
  std::atomic_ref<std::uint8_t>(mailbox_[kDprSelectByte])
      .store(static_cast<std::uint8_t>(select), std::memory_order_release);
  return LockWindow(kVmeDprWindow, dpr_address_, kVmeDprSize, &dpr_window_, &dpr_);
}

void VmeZimoDevice::WriteRegister(int r, char value) {
  std::atomic_ref<std::uint8_t>(mailbox_[2 * r + 1])
      .store(static_cast<std::uint8_t>(value), std::memory_order_release);
}

char VmeZimoDevice::ReadRegister(int r) const {
  return static_cast<char>(
      std::atomic_ref<std::uint8_t>(mailbox_[2 * r + 1]).load(std::memory_order_acquire));
}

bool VmeZimoDevice::WaitFor(const std::atomic<bool>& flag, std::uint32_t* budget) {
  for (;;) {
    if (flag.load(std::memory_order_acquire)) return true;
    if (*budget == 0) return false;
    --*budget;
    SpinOneIteration();
  }
}

void VmeZimoDevice::MailboxFlush() {
  if (!answering_) return;
  std::uint32_t budget = flush_wait_;
  WriteRegister(kStartRegister, kCtrlX);
  g_card_to_host.store(false, std::memory_order_release);
  WriteRegister(kReplyTakenRegister, 0);
  while (WaitFor(g_card_to_host, &budget)) {
    g_card_to_host.store(false, std::memory_order_release);
    WriteRegister(kReplyTakenRegister, 0);
  }
}

std::uint32_t VmeZimoDevice::MailboxSend(const char* text) {
  if (!answering_) return kStatusFailure;
  if (text == nullptr || text[0] == 0) return 0;
  std::string line(text);
  line.push_back(kCr);
  std::uint32_t budget = reply_wait_;
  char first = line[0];
  int reg = kFirstTextRegister;
  for (std::size_t i = 1; i < line.size();) {
    if (reg > kLastTextRegister) {
      // A full chunk: hand it over and wait until the card has taken it.
      g_host_to_card.store(false, std::memory_order_release);
      WriteRegister(kStartRegister, first);
      first = line[i++];
      reg = kFirstTextRegister;
      if (!WaitFor(g_host_to_card, &budget)) return kStatusTimeout;
      continue;
    }
    WriteRegister(reg++, line[i++]);
  }
  // The last chunk, too, counts as sent only once the card has taken it:
  // the next use of the mailbox (a flush, another line) would otherwise
  // write over it.
  g_host_to_card.store(false, std::memory_order_release);
  WriteRegister(kStartRegister, first);
  if (!WaitFor(g_host_to_card, &budget)) return kStatusTimeout;
  return static_cast<std::uint32_t>(line.size());
}

std::uint32_t VmeZimoDevice::MailboxGetLine(char* buffer, std::uint32_t* count) {
  std::uint32_t ignored = 0;
  if (count == nullptr) count = &ignored;
  *count = 0;
  if (buffer != nullptr) buffer[0] = 0;
  if (!answering_ || buffer == nullptr) return kStatusFailure;
  std::uint32_t budget = reply_wait_;
  if (!WaitFor(g_card_to_host, &budget)) return kStatusTimeout;
  g_card_to_host.store(false, std::memory_order_release);
  std::uint32_t n = 0;
  for (int r = 0; r < static_cast<int>(kVmeChunkMax); ++r) {
    const char c = ReadRegister(r);
    if (c == 0) break;  // the chunk's text ends here
    buffer[n++] = c;
    if (c == kCr || c == kAck) break;
  }
  WriteRegister(kReplyTakenRegister, 0);
  buffer[n] = 0;
  *count = n;
  if (n > 0 && buffer[0] == kBel) return kStatusCardError;
  if (n > 0 && buffer[n - 1] == kAck) {
    buffer[--n] = 0;
    *count = n;
    return kStatusAck;
  }
  return 1;
}

std::uint32_t VmeZimoDevice::MailboxGetResponse(char* buffer, std::uint32_t max,
                                                const char* command) {
  if (buffer == nullptr || max == 0) return 0;
  buffer[0] = 0;
  MailboxFlush();
  std::uint32_t status = MailboxSend(command);
  std::uint32_t stored = 0;
  if ((status & kStatusMask) != kStatusTimeout && (status & kStatusMask) != kStatusFailure) {
    // A chunk and its terminator must fit in what is left.
    while (max - stored >= kVmeChunkMax + 1) {
      std::uint32_t n = 0;
      status = MailboxGetLine(buffer + stored, &n);
      stored += n;
      if (static_cast<std::int32_t>(status) <= 0) break;
    }
  }
  if ((status & kStatusMask) == kStatusTimeout) {
    MailboxSend(kRestoreLine);
    MailboxFlush();
  }
  return stored;
}

}  // namespace zimo::corvan

extern "C" {

std::int32_t VMETestOpenZimoDevice(void) {
  using namespace zimo::corvan;
  VmeZimoDevice device(0, kTestMailboxAddress, kTestDprAddress, kTestLevel, kTestAddressModifier,
                       kTestSixth, kTestVector, kTestReplyWait, kTestFlushWait);
  if (!device.Open()) return 0;
  device.MapDprWindow();
  device.Close();
  return 1;
}

}  // extern "C"
