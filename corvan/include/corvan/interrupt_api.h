// Interrupt notification (the ZimoINTR family). A card on the ISA bus or
// PCI raises host interrupts for eight sources; its driver sets a named
// event for each ("ZIMO%dIPOS" ... "ZIMO%dIR7", the device number in place
// of %d), and one waiting thread per device and process tells the program,
// in the way it chose, when an enabled source fired:
//
//   kind 0x10000  a window message (synchronous): the window, the message,
//                 the source's bit as first argument and 0 as second
//   kind 0x20000  a new thread at the program's start function, with the
//                 information block as its argument
//   kind 0x30000  a call of the program's function (parameter, information
//                 block) on the waiting thread
//   kind 0x50000  the program's event is set
//
// Masks are inverted: a 1 bit turns its source off, both in the driver and
// in the waiting thread. Only bus cards (ISA, PCI) support any of this; USB,
// serial and Ethernet devices do not.
#pragma once

#include <cstdint>
#include <functional>

namespace zimo::platform {
class NamedEvent;
}

namespace zimo::corvan {

// Block passed along with each notification (see corvan/device_user_handle.h);
// it holds "Test Data", the value 4 and the bit of the firing source.
struct InterruptInfo;

// Sources and their bits.
inline constexpr std::uint32_t kIntrInPosition = 0x01;
inline constexpr std::uint32_t kIntrBufferRequest = 0x02;
inline constexpr std::uint32_t kIntrFollowingError = 0x04;
inline constexpr std::uint32_t kIntrFatalFollowingError = 0x08;
inline constexpr std::uint32_t kIntrHostRequest = 0x10;
inline constexpr std::uint32_t kIntrLine5 = 0x20;
inline constexpr std::uint32_t kIntrLine6 = 0x40;
inline constexpr std::uint32_t kIntrLine7 = 0x80;
inline constexpr std::uint32_t kIntrAllSources = 0xFF;

// Notification kinds.
inline constexpr std::uint32_t kNotifyWindowMessage = 0x10000;
inline constexpr std::uint32_t kNotifyRunThread = 0x20000;
inline constexpr std::uint32_t kNotifyFunctionCall = 0x30000;
inline constexpr std::uint32_t kNotifySetEvent = 0x50000;

// The window system's synchronous message delivery: this system has no
// windows of its own, so the program (or its user-interface layer) installs
// the function that carries a message to the window its handle names. With
// none installed, window-message notifications are dropped.
using WindowMessageSender = std::function<void(std::uintptr_t window, std::uint32_t message,
                                               std::uintptr_t first, std::intptr_t second)>;
void SetWindowMessageSender(WindowMessageSender sender);

}  // namespace zimo::corvan

extern "C" {

// The function-call notification's target.
typedef void (*ZimoIntrFunction)(std::uint32_t parameter, zimo::corvan::InterruptInfo* info);
// The run-thread notification's target (a thread start function).
typedef std::uint32_t (*ZimoIntrThreadStart)(void* info);

// Choose the kind and call ZimoINTRInit. The event of ZimoINTRFireEventInit
// must stay alive while the notification stands.
std::int32_t ZimoINTRWndMsgInit(std::uint32_t device, std::uintptr_t window, std::uint32_t message,
                                std::uint32_t mask);
std::int32_t ZimoINTRFuncCallInit(std::uint32_t device, ZimoIntrFunction function,
                                  std::uint32_t parameter, std::uint32_t mask);
std::int32_t ZimoINTRRunThreadInit(std::uint32_t device, ZimoIntrThreadStart function,
                                   std::uint32_t parameter, std::uint32_t mask);
std::int32_t ZimoINTRFireEventInit(std::uint32_t device, zimo::platform::NamedEvent* event,
                                   std::uint32_t mask);

// Records how to notify (`target` holds the window handle, the function or
// the event's address, depending on `kind`), passes the mask on to the driver
// and launches the waiting thread if it is not already up. Returns 1 once the
// thread is running, else 0: mask rejected, thread failed to start, or a PCI
// card configured with interrupts off (its driver is given mask 255).
std::int32_t ZimoINTRInit(std::uint32_t device, std::uintptr_t target, std::uint32_t kind,
                          std::uint32_t parameter, std::uint32_t mask);

// Ends the waiting thread and joins it. Returns 1 (also if no thread was
// running); 0 if invoked on the waiting thread itself, or for a PCI card
// configured with interrupts off (its mask is reset to 255).
std::int32_t ZimoINTRTerminate(std::uint32_t device);

// Passes the mask on to the driver. 1 if accepted; 0 if this process has not
// opened the device or the driver rejects it.
std::int32_t ZimoINTRSetupMask(std::uint32_t device, std::uint32_t mask);

// Opens (or creates) the named event and registers it with the driver, which
// then signals it for every interrupt the card raises. 1 if registered; 0 if
// this process has not opened the device, the name is empty, or the driver
// rejects it.
std::int32_t ZimoINTRSetupInterruptEvent(std::uint32_t device, const char* event_name);

}  // extern "C"
