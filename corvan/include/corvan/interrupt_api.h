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

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

// The block passed along with each notification (it holds "Test Data", the
// value 4 and the bit of the firing source) and the event that
// ZimoINTRFireEventInit sets: opaque to C programs.
#ifdef __cplusplus
namespace zimo::platform {
class NamedEvent;
}
namespace zimo::corvan {
struct InterruptInfo;
}
typedef zimo::corvan::InterruptInfo ZimoInterruptInfo;
typedef zimo::platform::NamedEvent ZimoNamedEvent;
#else
typedef struct ZimoInterruptInfo ZimoInterruptInfo;
typedef struct ZimoNamedEvent ZimoNamedEvent;
#endif

#ifdef __cplusplus
namespace zimo::corvan {

// Sources and their bits.
inline constexpr uint32_t kIntrInPosition = 0x01;
inline constexpr uint32_t kIntrBufferRequest = 0x02;
inline constexpr uint32_t kIntrFollowingError = 0x04;
inline constexpr uint32_t kIntrFatalFollowingError = 0x08;
inline constexpr uint32_t kIntrHostRequest = 0x10;
inline constexpr uint32_t kIntrLine5 = 0x20;
inline constexpr uint32_t kIntrLine6 = 0x40;
inline constexpr uint32_t kIntrLine7 = 0x80;
inline constexpr uint32_t kIntrAllSources = 0xFF;

// Notification kinds.
inline constexpr uint32_t kNotifyWindowMessage = 0x10000;
inline constexpr uint32_t kNotifyRunThread = 0x20000;
inline constexpr uint32_t kNotifyFunctionCall = 0x30000;
inline constexpr uint32_t kNotifySetEvent = 0x50000;

}  // namespace zimo::corvan
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The function-call notification's target.
typedef void (*ZimoIntrFunction)(uint32_t parameter, ZimoInterruptInfo* info);
// The run-thread notification's target (a thread start function).
typedef uint32_t (*ZimoIntrThreadStart)(void* info);

// Choose the kind and call ZimoINTRInit. The event of ZimoINTRFireEventInit
// must stay alive while the notification stands.
int32_t ZimoINTRWndMsgInit(uint32_t device, uintptr_t window, uint32_t message, uint32_t mask);
int32_t ZimoINTRFuncCallInit(uint32_t device, ZimoIntrFunction function, uint32_t parameter,
                             uint32_t mask);
int32_t ZimoINTRRunThreadInit(uint32_t device, ZimoIntrThreadStart function, uint32_t parameter,
                              uint32_t mask);
int32_t ZimoINTRFireEventInit(uint32_t device, ZimoNamedEvent* event, uint32_t mask);

// Records how to notify (`target` holds the window handle, the function or
// the event's address, depending on `kind`), passes the mask on to the driver
// and launches the waiting thread if it is not already up. Returns 1 once the
// thread is running, else 0: mask rejected, thread failed to start, or a PCI
// card configured with interrupts off (its driver is given mask 255).
//
// Let one process wait for a card's interrupts. The card's events are
// shared by every process that has the device open, and each interrupt
// wakes exactly one waiting thread: two processes waiting on the same card
// each get only part of its interrupts (about half each), never both the
// same one. A program that needs every interrupt must be the card's only
// waiter (and pass them on to others itself).
int32_t ZimoINTRInit(uint32_t device, uintptr_t target, uint32_t kind, uint32_t parameter,
                     uint32_t mask);

// Ends the waiting thread and joins it. Returns 1 (also if no thread was
// running); 0 if invoked on the waiting thread itself, or for a PCI card
// configured with interrupts off (its mask is reset to 255).
int32_t ZimoINTRTerminate(uint32_t device);

// Passes the mask on to the driver. 1 if accepted; 0 if this process has not
// opened the device or the driver rejects it.
int32_t ZimoINTRSetupMask(uint32_t device, uint32_t mask);

// Opens (or creates) the named event and registers it with the driver, which
// then signals it for every interrupt the card raises. 1 if registered; 0 if
// this process has not opened the device, the name is empty, or the driver
// rejects it.
int32_t ZimoINTRSetupInterruptEvent(uint32_t device, const char* event_name);

#ifdef __cplusplus
}  // extern "C"
#endif
