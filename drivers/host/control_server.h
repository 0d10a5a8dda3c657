// The driver host's control commands, one line each, answered by one line
// ("ok ..." or "error ..."), over the control socket (ControlSocketPath()):
//
//   ping                        ok
//   add <card words>            ok <card> <device>      (host_config.h has the words)
//   start|stop <card>           ok
//   remove <card>               ok  (once its open handles are closed)
//   surprise <card>             ok  (the card vanishes; then as remove)
//   power <card> <state>        ok  (working, sleep1, sleep2, sleep3, hibernate, off)
//   raise <card> <bits>...      ok  (each set taken before the next; the
//                                    deferred procedure runs after the last)
//   error <card> <number> [n]   ok  (the card's next n lines fail with ERRnnn)
//   mute <card> on|off          ok
//   log <card>                  ok <entry>|<entry>|  (what the card received, in
//                               order: one entry per line or control character
//                               ("^F"); '|' and '\' inside an entry come as "\|", "\\")
//   clear-log <card>            ok
//   motion-log <card>, clear-motion-log <card>, rotary-answer <card> ...,
//   host-rotary <card>, host-rotary-refuse <card> ..., host-rotary-capacity
//   <card> N, rotary-error <card> N on|off
//                               the card's binary rotary buffers
//                               (cardsim/README.md); output as "log" sends it
//   list                        ok <card>:<device>:<words>;...
//   legacy <port> <knob> ...    legacy ISA cards (host/legacy_isa.h), when
//                               the host has them
//   quit                        ok  (the host ends)
//
// Failures: "error 0x<status> <what>" for a driver's status, "error <what>"
// for a bad command. Each connection is served on its own thread, so a
// removal that waits for a handle does not hold up the other commands.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/driver_host.h"
#include "platform/unix_socket.h"

namespace zimo::drivers::host {

class ControlServer {
 public:
  explicit ControlServer(DriverHost& host);
  ~ControlServer();
  // Commands the host adds: the hook answers a line it knows (words as
  // given), else nullopt. Set before Listen.
  using ExtraCommands = std::function<std::optional<std::string>(const std::vector<std::string>&)>;
  void SetExtraCommands(ExtraCommands extra) { extra_ = std::move(extra); }
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Code::kAlreadyExists when a live host already listens there.
  platform::Status Listen(const std::filesystem::path& path);
  // Serves until "quit" or Stop().
  void Run();
  // Safe from a signal handler.
  void Stop();

  // One command line; returns the reply without its line end.
  std::string Execute(std::string_view line);

 private:
  struct Client {
    platform::UnixConnection connection;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void Serve(Client* client);

  DriverHost& host_;
  platform::UnixListener listener_;
  std::mutex mu_;
  ExtraCommands extra_;
  std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace zimo::drivers::host
