// Reading text responses over Ethernet. The card answers a command with its
// whole response at once, in packets of at most 1400 bytes; the host
// collects them for a response exchange, or keeps them in the receive
// buffer and hands them out one line at a time to the line reader. Also the
// socket-error report, which turns a socket failure into a text, prompts and,
// for a lost connection, the teardown of this process's socket.
//
// The collection and the line reader work on an EthPeer, so that what a
// card (or anything else on the wire) sends can be checked without a socket.
// Every answer is taken as untrusted: whatever its length and bytes, nothing
// is written beyond the caller's max + 1 characters or the receive buffer,
// and the buffer never grows beyond kEthResponseLimit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "link/ascii_channel.h"
#include "link/eth_transport.h"

namespace zimo::corvan {

// The longest response the readers take; a peer that goes on sending full
// packets beyond it gets a failure.
inline constexpr std::size_t kEthResponseLimit = std::size_t{16} << 20;

// The card as the readers see it.
class EthPeer {
 public:
  virtual ~EthPeer() = default;
  // One request and its answer, at most `max` bytes into `answer`: the
  // bytes received, or nothing when the exchange failed.
  virtual std::optional<std::size_t> Exchange(const EthRequest& request,
                                              std::string_view payload,
                                              std::uint32_t timeout_ms, char* answer,
                                              std::size_t max) = 0;
  // The exchange that just failed goes through the socket-error report;
  // the socket error it reported.
  virtual int ReportFailure() = 0;
  // Brings the card's reply format back (a reply ended without ACK).
  virtual void RestoreReplyFormat() = 0;
  // An unsolicited line: the text after STX, with its CR.
  virtual void StoreUnsolicited(const char* text, std::size_t length) = 0;
};

// The response exchange: sends `command`, collects the packets of its
// response and stores at most `max` characters of it in `buffer` (which
// holds max + 1). Returns status OR characters stored (see EthGetResponse in
// corvan/eth_api.h). Empties the receive buffer.
std::uint32_t CollectEthResponse(EthPeer& peer, EthReceiveState& state,
                                 std::string_view command, char* buffer, std::uint32_t max);

// The line reader: hands out the next line of the fetched response, and
// fetches the card's pending output when nothing is left. Returns the
// status; *count receives the characters stored (always written).
std::uint32_t ReadEthLine(EthPeer& peer, EthReceiveState& state, char* buffer,
                          std::uint32_t max, std::uint32_t* count);

// The text the socket-error report gives for a socket error number (the
// server's build has its own text for a time-out).
const char* EthSocketErrorText(int socket_error, bool server_build = false);

// The Ethernet transport as the command API's dispatcher calls it.
AsciiChannel& EthernetChannel();

}  // namespace zimo::corvan
