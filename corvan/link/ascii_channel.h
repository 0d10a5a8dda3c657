// The ASCII channels behind the command API, all with one shape: the
// dispatcher asks the device's transport for its channel (the bus or
// mailbox choice, plain or checksummed serial) and calls the operation of
// the same role.
//
// Readers store at most `max` characters into a buffer of max + 1 and
// always terminate the text. Results are CommStatusWords (command_api.h).
#pragma once

#include <cstdint>

namespace zimo::corvan {

class AsciiChannel {
 public:
  virtual ~AsciiChannel() = default;

  virtual std::uint32_t SendChar(int device, char c) = 0;
  virtual std::uint32_t SendLine(int device, const char* text) = 0;
  // One line: the status bits; the characters stored in *count.
  virtual std::uint32_t GetLine(int device, char* buffer, std::uint32_t max,
                                std::uint32_t* count) = 0;
  // All lines up to the end of the response: the status bits of the line
  // that ended it; the characters stored in *count.
  virtual std::uint32_t GetBuffer(int device, char* buffer, std::uint32_t max,
                                  std::uint32_t* count) = 0;
  // Status bits OR characters stored.
  virtual std::uint32_t GetResponse(int device, char* buffer, std::uint32_t max,
                                    const char* command) = 0;
  virtual std::uint32_t GetControlResponse(int device, char* buffer, std::uint32_t max, char c) = 0;
  virtual std::uint32_t ReadReady(int device) = 0;
  // False when the flush could not reach the card (its link has gone).
  virtual bool Flush(int device) = 0;
  // The channel's last error code for ZimoGetError.
  virtual std::int32_t LastError(int device) = 0;
  // Makes `code` the channel's last error: the command API's name for a
  // failure the channel left without one.
  virtual void SetLastError(int device, std::int32_t code) = 0;
  // The text of one of the channel's error codes (the library's texts; a
  // channel may know more), never null.
  virtual const char* ErrorText(std::int32_t code);
};

// The library's own error of the device's last failed exchange in this
// process, for the channels whose other errors their driver keeps (the bus
// port and the DPR mailbox): their LastError reports it before the
// driver's. Every exchange of the command API clears it first.
void ClearLinkError(int device);
void SetLinkError(int device, std::int32_t code);
// 0 when none.
std::int32_t LinkErrorOf(int device);

// Errors the command API and the channels name failures by (library texts).
inline constexpr std::int32_t kLinkErrCardError = 3;       // a card error without its number
inline constexpr std::int32_t kLinkErrUnknown = 4;         // a failure nothing else names
inline constexpr std::int32_t kLinkErrLineTooLong = 28;    // a command longer than the link takes
inline constexpr std::int32_t kLinkErrNotOpen = 105;       // the device is not open here
inline constexpr std::int32_t kLinkErrTimeout = 1021;      // no answer in time

// The channel the device's exchanges take in this process, as its
// transport says (link/transport.h); null when the table is not mapped, the
// number is outside 0 to 7 or the Location has no transport (results 0).
AsciiChannel* ChannelOfDevice(int device);

// The command API's exchange of a command for its whole response, for the
// library's own callers: device lock, the device's channel, the command log.
// The CommStatusWord; `buffer` (of `size`) always terminated.
std::uint32_t ExchangeResponse(int device, char* buffer, std::uint32_t size, const char* command);

// Switches checksummed communication of the device through its transport;
// 0 where the Location has none.
int SwitchChecksums(int device, int on);

}  // namespace zimo::corvan
