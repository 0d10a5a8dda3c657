// The serial transport with checksums (card I4 = 1). A command goes out
// without its CR; the card is asked for its sum of what it got (Ctrl-N) and
// the CR follows only when that sum matches ours, so a garbled line is never
// run. Replies carry a sum byte after every CR and after the ACK; the ACK's
// byte is the sum of the command being answered (kept as LastChecksum).
// The dispatcher switches to these while the card's checksum mode is on.
//
// Readers store at most max characters and always terminate, so buffers
// need max + 1. The serial last error says what went wrong: 80 the user
// gave up retrying a transmit, 76 bad acknowledge, 75 bad or missing line
// sum, 54 the buffer filled, 28 a line too long for its buffer, 3 a card
// error without a number, 1011 port not open.
#pragma once

#include <cstdint>

#include "link/ascii_channel.h"
#include "link/transport.h"

namespace zimo::corvan {

// Longest command text sent in checksummed mode.
inline constexpr std::uint32_t kChecksumLineMax = 256;
// Bad transmit sums in a row before the user is asked whether to go on.
inline constexpr int kChecksumTriesBeforeAsking = 6;
// Attempts of one checksummed response exchange.
inline constexpr int kChecksumExchangeAttempts = 5;

// The serial transport's own state of a device in this process.
struct SerialDeviceState : TransportDeviceState {
  std::uint32_t LastChecksum = 0;  // the sum the card's next ACK repeats
};

// The device's serial state, made when it has none yet.
inline SerialDeviceState& SerialStateOf(DeviceUserHandle& user) {
  return TransportStateOf<SerialDeviceState>(user);
}
// True while the card of a serial device runs checksummed. The mode is the
// card's, kept in the shared record of its link, so every process that has
// the device open frames its exchanges by it. Ask under the device lock.
bool ChecksumsOn(int device);
// Records the card's mode in the shared record of its link (every process
// frames its exchanges by it); the card itself is told by the caller.
void RecordChecksumMode(int device, bool on);

// The 8-bit wrapping sum of a text.
std::uint8_t CardChecksum(const char* text, std::uint32_t length);

// Switches checksummed communication of a serial device: the card's I4 by
// one exchange under the device lock, then the mode in the link's shared
// record, for every process. 1; also 1 for a number outside 0 to 7, which
// changes nothing.
int SetSerialChecksums(int device, int on);

// The checksummed serial transport as the command API's dispatcher calls it.
AsciiChannel& ChecksumSerialChannel();

}  // namespace zimo::corvan

extern "C" {

// Switches the card, and with it every process that uses it, into (on = 1)
// or out of (0) checksummed mode: the card is told with "CLOSE I3=2 I6=1 I4=1" or "I4=0",
// which also goes to the change ring. 1.
std::int32_t ZimoSERDoChecksums(std::uint32_t device, std::int32_t on);
// Sends a command line checked by the card's sum, then its CR: 1 when the
// card confirmed the sum and the CR went out, 0 on failure (a failed write,
// the user's cancel after repeated bad sums: error 80, a text longer than
// 256 characters: error 28). A text that starts with a control character
// (1 to 26) is that character alone, sent without CR: the result of sending
// it. The caller holds the device lock.
std::uint32_t ZimoSERCheckSendLineA(std::uint32_t device, const char* text);
// One checksummed response line: 1 for a good line (its CR stored),
// 0x80000000 for the end of the response, 0xE0000000 a card error,
// 0xC0000000 a time-out, 0xD0000000 a bad acknowledge, 0xF0000000 a bad line
// sum or a line longer than the buffer, 0x10000000 an unsolicited line
// (stored in the ring, count 0). *count receives the characters stored.
std::uint32_t ZimoSERCheckGetLineA(std::uint32_t device, char* buffer, std::uint32_t max,
                                   std::uint32_t* count);
// The checksummed response exchange, at most five attempts (the command is
// sent again after a bad sum or acknowledge): status OR characters stored;
// an empty response counts as 1; a response that fills the buffer returns
// max without status bits (error 54). An empty command returns 1 at once.
std::uint32_t ZimoSERCheckResponseA(std::uint32_t device, char* buffer, std::uint32_t max,
                                    const char* command);
// Checks the byte a response left after its ACK: time-outs, card errors and
// failures come back unchanged; for the end of a response (0x8) the first
// byte of `buffer` is taken (and cleared) and compared with `checksum`: a
// different byte gives 0 and error 76, an equal one the status. Other
// statuses come back unchanged.
std::uint32_t ZimoSerCheckAllWentWell(std::uint32_t device, std::uint32_t status, char* buffer,
                                      std::uint8_t checksum);

}  // extern "C"
