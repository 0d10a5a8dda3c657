// The card's serial port on a pseudo-terminal: the card sits on the master
// side, the host opens the slave path as its serial device. Bytes from the
// host go through the card's byte-stream framing (Card::Feed: lines, control
// characters, checksummed mode) and the card's output goes back as it comes,
// held back by a scripted reply delay. Unsolicited messages go out as STX
// lines between replies; a muted card sends nothing.
//
// The slave's line settings are left as a fresh port has them (echo, line
// editing, character mapping): the host sets its end up, as on a real
// serial line. Hosts may open and close it as often as they like. While no host has it open the card sends
// nothing, so its unsolicited messages wait for a listener (or for another
// port of the card). Given a COM number, the slave
// is registered as that port (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM) for as
// long as the attachment runs, so a host finds it as "\\.\COMn".
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cardsim/card.h"
#include "cardsim/pty_line_rate.h"
#include "platform/status.h"
#include "platform/unix_socket.h"

namespace zimo::cardsim {

struct PtyOptions {
  // How often the card looks for unsolicited messages to send.
  std::chrono::milliseconds unsolicited_poll{5};
  // Register the slave as COM port n (1 to 255); 0: not registered.
  int com_port = 0;
  // The card's line rate: bytes sent at another rate go unanswered. 0: any.
  uint32_t line_rate = 0;
};

class PtyAttachment {
 public:
  static platform::Result<std::unique_ptr<PtyAttachment>> Start(Card& card,
                                                                const PtyOptions& options = {});
  ~PtyAttachment();
  PtyAttachment(const PtyAttachment&) = delete;
  PtyAttachment& operator=(const PtyAttachment&) = delete;

  // The device path the host opens, e.g. "/dev/pts/7".
  const std::string& slave_path() const { return slave_path_; }
  // The rates the host's side ran at when bytes came, in order (see PtyLineRate).
  std::vector<uint32_t> rates_seen() const { return line_rate_.seen(); }

  // Stops the card's side, hosts then read nothing more, and takes back the
  // COM port registration. Idempotent.
  void Stop();

 private:
  PtyAttachment(Card& card, const PtyOptions& options);
  void Run();

  Card& card_;
  const PtyOptions options_;
  PtyLineRate line_rate_;
  platform::UniqueFd master_;
  platform::UniqueFd wake_;
  std::string slave_path_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace zimo::cardsim
