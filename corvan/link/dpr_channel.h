// The DPR mailbox channel behind its exports (corvan/dpr_channel_api.h) and
// the command API's dispatch to it, and the test whether a card's DPR is
// usable.
#pragma once

#include <cstdint>

#include "link/ascii_channel.h"
#include "link/variables.h"

namespace zimo::corvan {

// What the channel sends after a response timed out.
inline constexpr char kDprRestoreLine[] = "I3=2 I6=1 I63=1 I64=1";
// The result of a send whose request failed.
inline constexpr std::int32_t kDprSendFailed = -3;

// One character as a one-character line, or as the mailbox's control byte:
// the driver's count (1 taken, 0 not taken), -3 when the request failed, 0
// when the device is not open here.
std::int32_t DprSendChar(int device, char c);
std::int32_t DprSendCtrlChar(int device, char c);
// 1 when the card has posted something.
std::uint32_t DprReadReady(int device);
// The driver's last mailbox error, kept in the device's DprLastError and
// returned as that signed 16-bit field; 0 when the call failed.
std::int32_t DprLastError(int device);

// The card word the pattern test borrows (card address; the first word of
// the window on older cards).
inline constexpr std::uint32_t kDprPatternAddress = 0xD000;

// The DPR test of cards reached by commands (USB, Ethernet), through `path`:
// card types above 4 measure the window from two memory words; older ones
// write a pattern into card word $D000 and read it back, and the word is
// written back as it was before. I9 is set to 2 for the test and restored; a card whose I9 cannot
// be read is not tested (0) and nothing of it is changed. 1 when DPR is usable.
int TestDprByCommands(CardCommandPath& path, int device, std::int32_t card_type);

AsciiChannel& DprMailboxChannel();

// ZimoDPRAvailable for the library's own callers: asks the device's
// transport whether its DPR is usable from this process, keeps the answer
// in DprAvailable and returns it (0 when the device is not open here).
int RefreshDprAvailable(int device);

}  // namespace zimo::corvan
