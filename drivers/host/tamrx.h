// A stand-in for the outside bridge device "\\.\TAMRX%d", which lies beyond
// the card drivers: each one the host is told to add is served as a device
// socket with the device's two I/O controls. 0x2220C8 gives the 20 bytes the
// device holds for the host (set with the control command), 0x2220CC takes
// the 11 bytes the host sends it (read back with the control command).
//
// Control commands:
//   tamrx add <n>                 ok   (serves \\.\TAMRX<n>)
//   tamrx remove <n>              ok
//   tamrx set <n> <40 hex digits> ok   (what 0x2220C8 gives from now on)
//   tamrx get <n>                 ok <22 hex digits> <writes>  (the last 11
//                                 bytes taken, and how many writes came)
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/unix_socket.h"

namespace zimo::drivers::host {

inline constexpr uint32_t IOCTL_TAMRX_READ = 0x2220C8;
inline constexpr uint32_t IOCTL_TAMRX_WRITE = 0x2220CC;
inline constexpr size_t kTamrxReadSize = 20;
inline constexpr size_t kTamrxWriteSize = 11;

class TamrxDevices {
 public:
  TamrxDevices() = default;
  ~TamrxDevices();  // every device stops being served
  TamrxDevices(const TamrxDevices&) = delete;
  TamrxDevices& operator=(const TamrxDevices&) = delete;

  // "tamrx ..." as above; nullopt for any other command.
  std::optional<std::string> Control(const std::vector<std::string>& words);

 private:
  struct Connection {
    platform::UnixConnection socket;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  struct Device {
    platform::UnixListener listener;
    std::thread accept;
    std::mutex mu;
    std::array<uint8_t, kTamrxReadSize> to_host{};
    std::array<uint8_t, kTamrxWriteSize> from_host{};
    uint64_t writes = 0;
    std::vector<std::unique_ptr<Connection>> connections;
  };

  static void Accept(Device* device);
  static void Serve(Device* device, Connection* connection);
  static void Shutdown(Device& device);

  std::mutex mu_;
  std::map<int, std::unique_ptr<Device>> devices_;
};

}  // namespace zimo::drivers::host
