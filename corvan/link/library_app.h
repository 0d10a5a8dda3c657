// The library's one process-wide object: the view of the shared device
// table, the per-process half of every device (DeviceUserHandle), the open
// transports of this process by (Location, Enumeration), and what the
// process learned at start-up.
//
// The library starts in a process on first use (or when libcorvan32.so is
// loaded) and ends when the process ends (or the shared library is
// unloaded). The server's build hands the library the table it created
// instead of letting it map or start anything.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "corvan/internal/device_user_handle.h"
#include "corvan/internal/ring_locks.h"
#include "corvan/internal/rings.h"
#include "corvan/internal/shared_table.h"
#include "platform/file_mapping.h"
#include "platform/serial_port.h"

namespace zimo::automation {
class Dispatch;
}

namespace zimo::corvan {

// Number of Location codes with a row in the location handle table (0 to 5)
// and of Enumerations per Location.
inline constexpr int kLocationRows = 6;
inline constexpr int kEnumerations = 8;

inline constexpr char kDefaultCommandLogName[] = "ZimoCLog.log";

// One open transport of this process, shared by every device number that
// maps to its (Location, Enumeration). It closes when the last of those
// devices closes it.
struct LocationHandle {
  std::uint32_t location = 0;
  std::uint32_t enumeration = 0;
  int users = 0;                // devices of this process that hold it
  int opener_device = -1;       // device whose shared block keeps the owner fields
  platform::SerialPort serial;  // Location 2
};

class CommLibraryApp {
 public:
  // The process's instance, started on first use.
  static CommLibraryApp& Instance();

  CommLibraryApp(const CommLibraryApp&) = delete;
  CommLibraryApp& operator=(const CommLibraryApp&) = delete;

  // Library start-up in the process: resets the per-process records of
  // device slots 0 to 7 and maps the table when it exists (user count + 1).
  // Always succeeds. Starting a started library does nothing.
  void Start();
  // Library end in the process: user count - 1, unmaps the table, drops the
  // server interface. The records of open devices are dropped with their
  // transports. Start may follow again (tests do).
  void End();
  bool started() const { return started_; }

  // The server's build: the server created `table` and owns it; device open
  // then neither starts the server nor maps anything. Call it before any
  // other use of the library in the process (a library already started
  // here is ended first).
  static void UseServerTable(SharedDeviceTable* table);
  bool server_build() const { return server_build_; }

  // Maps "ZimoSharedMemory" when it is not mapped yet and counts this
  // process as a user. True when the table is mapped on return.
  bool MapTable();
  SharedDeviceTable* table() const { return table_; }
  // The device's shared block; null when the table is not mapped or the
  // number is outside 0 to 8.
  SharedDeviceBlock* Block(int device) const;
  // The device's per-process record; null outside 0 to 8.
  DeviceUserHandle* User(int device);
  SharedRings& rings() { return rings_; }

  // The location handle table, guarded by its own mutex (threads of one
  // process may open devices at once).
  std::mutex& handles_mutex() { return handles_mutex_; }
  // Slot of (Location, Enumeration); null outside 0..5 x 0..7.
  std::unique_ptr<LocationHandle>* HandleSlot(std::uint32_t location, std::uint32_t enumeration);

  // The interface that keeps the server running, held from the first open
  // that started it until the library ends.
  std::shared_ptr<automation::Dispatch>& server_interface() { return server_interface_; }

  int current_device() const { return current_device_; }
  void set_current_device(int device) { current_device_ = device; }
  std::uint32_t last_open_error() const { return last_open_error_; }
  void set_last_open_error(std::uint32_t error) { last_open_error_ = error; }
  // Always 2 here: a system of the NT family.
  std::uint32_t platform_id() const { return 2; }

 private:
  CommLibraryApp() = default;
  // The process's instance without starting it.
  static CommLibraryApp& Unstarted();
  void ResetUserHandle(int slot);

  bool started_ = false;
  bool server_build_ = false;
  platform::FileMapping mapping_;
  SharedDeviceTable* table_ = nullptr;
  NamedRingLocks ring_locks_;
  SharedRings rings_{nullptr, &ring_locks_};
  std::array<DeviceUserHandle, kDeviceSlots> users_;
  std::mutex handles_mutex_;
  std::array<std::array<std::unique_ptr<LocationHandle>, kEnumerations>, kLocationRows> handles_;
  std::shared_ptr<automation::Dispatch> server_interface_;
  int current_device_ = 0;
  std::uint32_t last_open_error_ = 0;
};

// The two directions between the device numbers of the exports and the
// library's slot indexes: a number as an index (0 to 8, else -1), and an
// index as the number the exports take.
inline int IndexFromDeviceNumber(std::uint32_t device) {
  return device < static_cast<std::uint32_t>(kDeviceSlots) ? static_cast<int>(device) : -1;
}
inline std::uint32_t DeviceNumberFromIndex(int device) {
  return static_cast<std::uint32_t>(device);
}
// True for a device that can be opened: 0 to 7.
inline bool IsRealDevice(int device) { return device >= 0 && device < kRealDevices; }

// Shorthands for the process's instance.
inline CommLibraryApp& App() { return CommLibraryApp::Instance(); }

}  // namespace zimo::corvan
