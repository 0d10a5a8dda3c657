// The transports behind the command API, all with one shape: the dispatcher
// picks a channel by the device's Location (and, for bus devices, the
// process's ASCII channel choice; for serial ones, the checksum flag) and
// calls the operation of the same role.
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
};

enum class ChannelKind {
  kNone,  // a Location without a transport: nothing happens, results 0
  kBus,
  kDprMailbox,
  kSerial,
  kSerialChecksum,
  kEthernet,
};

// The channel the device's exchanges take in this process; kNone when the
// table is not mapped or the number is outside 0 to 7.
ChannelKind ChannelKindOf(int device);

// The channel of a kind; null for kNone.
AsciiChannel* ChannelOf(ChannelKind kind);

// Switches checksummed communication of a serial device (the card's I4 and
// this process's checksum flag); the checksummed transport's result.
int SwitchSerialChecksums(int device, int on);

}  // namespace zimo::corvan
