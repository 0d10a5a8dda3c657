// VmeZimoDevice: talks to a VME card through the two windows the bus
// manager library maps (loaded by name, "VMEMGR.dll"): the small command
// mailbox and the card's DPR. Text goes out and comes back in chunks of at
// most 16 characters; each direction waits for its interrupt flag, which
// the two vector handlers set.
//
// The mailbox's registers are 16 bits wide with the data in the odd byte.
// Writing register 0 last is what hands a chunk over, so the rest of the
// chunk must be in place first. Byte 0x121 picks which part of VME memory
// the DPR window shows.
//
// Nothing else in the library reaches a VME card: it has no device number,
// and the only export is the open-and-check test in vme_api.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/module.h"

namespace zimo::corvan {

// The bus manager's entry points, as the transport calls them. Every one
// returns 0 on success or the manager's error code; the first argument is
// always 0.
using VmeInterruptHandler = std::int32_t (*)(std::int32_t level, std::int32_t vector);
using VmeInitFn = std::int32_t(std::int32_t reserved, std::int32_t options);
using VmeTermFn = std::int32_t(std::int32_t reserved);
using VmeGetVmeWindowAdrFn = std::int32_t(std::int32_t reserved, std::uint32_t window,
                                          void** address);
using VmeLockVmeWindowFn = std::int32_t(std::int32_t reserved, std::int32_t kind,
                                        std::uint32_t vme_address, std::uint32_t* window,
                                        std::uint32_t size, std::int32_t arg6, std::int32_t arg7,
                                        std::int32_t arg8, std::int32_t arg9,
                                        std::int32_t arg10);
using VmeUnlockVmeWindowFn = std::int32_t(std::int32_t reserved, std::uint32_t window);
using VmeFreeVmeWindowAdrFn = std::int32_t(std::int32_t reserved, std::uint32_t window,
                                           void* address);
using VmeInstallInterruptHandlerFn = std::int32_t(std::int32_t reserved, std::int32_t level,
                                                  std::int32_t vector,
                                                  VmeInterruptHandler handler);

inline constexpr char kVmeManagerModule[] = "VMEMGR.dll";
// Window kinds and sizes.
inline constexpr std::int32_t kVmeMailboxWindow = 1;
inline constexpr std::int32_t kVmeDprWindow = 2;
inline constexpr std::uint32_t kVmeMailboxSize = 512;
inline constexpr std::uint32_t kVmeDprSize = 8192;
// What a platform without window locking answers.
inline constexpr std::int32_t kVmeLockNotImplemented = 120;
// A reply chunk holds at most this many characters.
inline constexpr std::uint32_t kVmeChunkMax = 16;
// One iteration of the mailbox's busy waits lasts about this long, so the
// iteration counts given to the device are waits of a known length.
inline constexpr std::uint32_t kVmeWaitIterationNs = 2000;

class VmeZimoDevice {
 public:
  // The nine parameters in the order the card's set-up gives them;
  // `module` names the bus manager library.
  VmeZimoDevice(std::int32_t no_hardware, std::uint32_t mailbox_address,
                std::uint32_t dpr_address, std::int32_t interrupt_level,
                std::int32_t address_modifier, std::int32_t sixth, std::int32_t interrupt_vector,
                std::uint32_t reply_wait, std::uint32_t flush_wait,
                std::string module = kVmeManagerModule);
  ~VmeZimoDevice();
  VmeZimoDevice(const VmeZimoDevice&) = delete;
  VmeZimoDevice& operator=(const VmeZimoDevice&) = delete;

  // Loads the manager, installs the two handlers, maps the mailbox and checks
  // that a card answers. True when one did; a failed open holds nothing.
  // Does nothing (false) with the no-hardware flag.
  bool Open();
  // Releases the windows, removes the handlers, ends the manager and frees
  // the library. Does nothing with the no-hardware flag.
  void Close();
  // Selects and maps the DPR window; true when mapped.
  bool MapDprWindow();

  // Drains every reply chunk the card still has. Only while a card answers.
  void MailboxFlush();
  // Sends the text and a CR in chunks, each once the card has taken the one
  // before: the characters sent with the CR once the card has taken the
  // last chunk, 0 for an empty text, 0xF0000000 while no card answers,
  // 0xC0000000 when the card did not take a chunk in time.
  std::uint32_t MailboxSend(const char* text);
  // One reply chunk into `buffer`, which holds at least kVmeChunkMax + 1
  // bytes: 1 for a CR- or NUL-ended chunk, 0x80000000 for one that ended
  // with ACK (not stored), 0xE0000000 for one that starts with BEL,
  // 0xC0000000 when none came, 0xF0000000 while no card answers. *count
  // receives the characters stored.
  std::uint32_t MailboxGetLine(char* buffer, std::uint32_t* count);
  // Flush, send, and read reply chunks back to back into `buffer` (of `max`
  // bytes) while a whole chunk still fits and the chunks go on. After a
  // time-out the card's protocol settings are restored ("I3=2 I6=1"). The
  // characters stored.
  std::uint32_t MailboxGetResponse(char* buffer, std::uint32_t max, const char* command);

  bool answering() const { return answering_; }
  bool library_loaded() const { return module_.loaded(); }
  bool mailbox_mapped() const { return mailbox_window_ != 0; }
  bool dpr_mapped() const { return dpr_window_ != 0; }
  std::uint8_t* dpr() const { return dpr_; }

  // The process-wide interrupt flags, set by the handlers.
  static std::atomic<bool>& HostToCardFlag();
  static std::atomic<bool>& CardToHostFlag();

 private:
  bool LoadLibrary();
  void FreeLibrary();
  bool LockWindow(std::int32_t kind, std::uint32_t address, std::uint32_t size,
                  std::uint32_t* window, std::uint8_t** mapped);
  void ReleaseWindow(std::uint32_t* window, std::uint8_t** mapped);
  void RemoveHandlers();
  void WriteRegister(int r, char value);
  char ReadRegister(int r) const;
  // Busy-waits until `flag` is set, taking iterations from `budget`.
  static bool WaitFor(const std::atomic<bool>& flag, std::uint32_t* budget);
  void Report(const char* text) const;

  const std::int32_t no_hardware_;
  const std::uint32_t mailbox_address_;
  const std::uint32_t dpr_address_;
  const std::int32_t level_;
  const std::int32_t address_modifier_;
  const std::int32_t sixth_;
  const std::int32_t vector_;
  const std::uint32_t reply_wait_;
  const std::uint32_t flush_wait_;
  const std::string module_name_;

  platform::Module module_;
  VmeInitFn* init_ = nullptr;
  VmeTermFn* term_ = nullptr;
  VmeGetVmeWindowAdrFn* get_window_address_ = nullptr;
  VmeLockVmeWindowFn* lock_window_ = nullptr;
  VmeUnlockVmeWindowFn* unlock_window_ = nullptr;
  VmeFreeVmeWindowAdrFn* free_window_address_ = nullptr;
  VmeInstallInterruptHandlerFn* install_handler_ = nullptr;
  bool started_ = false;  // vmeInit succeeded
  std::uint32_t mailbox_window_ = 0;
  std::uint8_t* mailbox_ = nullptr;
  std::uint32_t dpr_window_ = 0;
  std::uint8_t* dpr_ = nullptr;
  bool answering_ = false;
};

}  // namespace zimo::corvan
