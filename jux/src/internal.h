// What the library's parts share inside: the card table, the per-slot
// resources behind the record's tokens, the last-error helpers and the poll
// pause of the DPR and serial waits.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "jux/jux170.h"
#include "platform/serial_port.h"

namespace jux {

inline constexpr int kMaxCards = 8;
inline constexpr size_t kNameSize = 260;

// Bus ports and DPR words are reached one request at a time, so a bus poll
// costs a round trip and needs no pause. A DPR poll reads memory the card
// fills from another process, and a serial poll asks a port the card answers
// through a pseudo-terminal: both would spin through their poll budget long
// before the card could answer. Each such poll therefore pauses this long on
// the current clock (tests install a fake one), so a timeout of 500 polls
// waits about 50 ms.
inline constexpr std::chrono::microseconds kPollPause{100};
void PollPause();

// Text of a code, or null when the code has none.
const char* ErrorText(long code);

// Stores a code in the record (or globally when it is null).
void SetError(tagMCardInfo* record, long code);
void SetGlobalError(long code);
long GlobalError();

// Card errors in a received text (bus and serial): 0 with the code stored.
int StoreCardError(tagMCardInfo* record, const char* text, size_t length);

// What ended the reading of a response on the bus or serial channel: nothing
// came at all (kNone), an ACK, a CR (a read that stops at CRs), a full
// buffer, or a wait that ran out after some text.
enum class ResponseEnd { kNone, kAck, kCr, kSize, kTimeout };

// One received character into a response of `*length` characters. The CTRL-X
// a card echoes for the flush sent before a command is no text when it comes
// first and is passed over. kAck or kCr when the character ends the response,
// else kNone.
ResponseEnd TakeResponseChar(char c, char* buffer, size_t* length, bool stop_at_cr);

// Ends a complete response's text before what ended the read: the ACK (and
// the CR before it, unless the read stopped at a CR), or the CR.
void CutResponseEnd(char* text, size_t length, ResponseEnd end, bool stop_at_cr);

// Characters a serial read took off the port beyond the one it needed: a
// poll that finds input reads all that is queued at once, and the rest is
// handed out from here before the port is asked again. They still count as
// queued input.
struct SerialInput {
  char bytes[512];
  size_t begin = 0;
  size_t end = 0;
  size_t size() const { return end - begin; }
  void clear() { begin = end = 0; }
};

// Resources of one slot, alive while the record holding the slot is open.
struct SlotResources {
  std::optional<zimo::platform::SerialPort> serial;
  uint32_t serial_errors = 0;  // line error bits seen by polls since the last report
  SerialInput serial_input;
  void* bus_range = nullptr;    // HwPortRange of the bus channel
  void* dpr_mapping = nullptr;  // mapping object of the DPR channel
  uint8_t* dpr_window = nullptr;
};
SlotResources& Slot(int slot);
// The record's slot when it is a valid index, else null.
SlotResources* SlotOf(const tagMCardInfo* record);

// Every open record (for shut-down and lookups).
bool IsOpenRecord(const tagMCardInfo* record);

// Bounded copy with terminator; returns the characters copied.
size_t CopyText(char* dest, size_t capacity, const char* src);

bool IsCtrl(char c);

// The periodic command table forgets what a closing record's card owed it.
void ForgetOwedReplies(const tagMCardInfo* record);

// 0 (search) or one of the rates the serial channel sets.
bool AcceptedBaudRate(int32_t rate);

}  // namespace jux
