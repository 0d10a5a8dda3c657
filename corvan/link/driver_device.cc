#include "link/driver_device.h"

#include <array>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "corvan/internal/shared_table.h"
#include "link/library_app.h"
#include "platform/win_error.h"

namespace zimo::corvan {
namespace {

struct DriverHandle {
  std::mutex mutex;  // one request at a time on the connection
  platform::DeviceFile file;
};

class DriverTable {
 public:
  std::shared_ptr<DriverHandle> Get(std::uint32_t location, std::uint32_t enumeration) {
    if (!Valid(location, enumeration)) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_[location][enumeration];
  }
  void Put(std::uint32_t location, std::uint32_t enumeration,
           std::shared_ptr<DriverHandle> handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_[location][enumeration] = std::move(handle);
  }
  std::shared_ptr<DriverHandle> Take(std::uint32_t location, std::uint32_t enumeration) {
    if (!Valid(location, enumeration)) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(handles_[location][enumeration], nullptr);
  }
  std::mutex& open_mutex() { return open_mutex_; }

 private:
  static bool Valid(std::uint32_t location, std::uint32_t enumeration) {
    return location < kLocationRows && enumeration < kEnumerations;
  }

  std::mutex mutex_;       // guards the slots
  std::mutex open_mutex_;  // one open or close at a time
  std::array<std::array<std::shared_ptr<DriverHandle>, kEnumerations>, kLocationRows> handles_;
};

// Lives to the very end of the process: the library's end (an exit handler
// registered when the library is loaded) closes the devices still open, and
// runs after the destructors of statics made later, as this one is.
DriverTable& Table() {
  static DriverTable* const table = new DriverTable();
  return *table;
}

bool IsBusLocation(std::uint32_t location) {
  return location == kLocationIsa || location == kLocationPci || location == kLocationUsb;
}

platform::IoControlResult NoHandle() {
  platform::IoControlResult result;
  result.error = platform::win32::kErrorInvalidHandle;
  return result;
}

platform::IoControlResult Send(DriverHandle* handle, std::uint32_t code, const void* input,
                               std::uint32_t input_size, void* output, std::uint32_t output_size) {
  if (handle == nullptr) return NoHandle();
  std::lock_guard<std::mutex> lock(handle->mutex);
  if (!handle->file.is_open()) return NoHandle();
  return handle->file.DeviceIoControl(code, input, input_size, output, output_size);
}

std::shared_ptr<DriverHandle> HandleOfDevice(int device) {
  if (!IsRealDevice(device)) return nullptr;
  CommLibraryApp& app = App();
  const SharedDeviceBlock* block = app.Block(device);
  const DeviceUserHandle* user = app.User(device);
  if (block == nullptr || user == nullptr || user->Transport == nullptr) return nullptr;
  if (!IsBusLocation(block->Location)) return nullptr;
  return Table().Get(block->Location, block->Enumeration);
}

}  // namespace

std::string DriverDevicePath(std::uint32_t location, std::uint32_t enumeration) {
  if (!IsBusLocation(location) || enumeration >= kEnumerations) return {};
  const char* name = location == kLocationIsa ? "ISA" : location == kLocationPci ? "PCI" : "USB";
  char path[32];
  std::snprintf(path, sizeof path, "\\\\.\\Zimo%s%u", name, enumeration);
  return path;
}

std::uint32_t OpenDriverDevice(std::uint32_t location, std::uint32_t enumeration) {
  const std::string path = DriverDevicePath(location, enumeration);
  if (path.empty()) return platform::win32::kErrorInvalidFunction;
  DriverTable& table = Table();
  std::lock_guard<std::mutex> serialise(table.open_mutex());
  if (table.Get(location, enumeration) != nullptr) return 0;
  auto opened = platform::DeviceFile::Open(path);
  if (!opened.ok()) return platform::Win32ErrorFromStatus(opened.status());
  auto handle = std::make_shared<DriverHandle>();
  handle->file = std::move(opened.value());
  table.Put(location, enumeration, std::move(handle));
  return 0;
}

void CloseDriverDevice(std::uint32_t location, std::uint32_t enumeration) {
  DriverTable& table = Table();
  std::lock_guard<std::mutex> serialise(table.open_mutex());
  std::shared_ptr<DriverHandle> handle = table.Take(location, enumeration);
  if (handle == nullptr) return;
  std::lock_guard<std::mutex> lock(handle->mutex);
  handle->file.Close();
}

bool HasDriverDevice(int device) {
  std::shared_ptr<DriverHandle> handle = HandleOfDevice(device);
  return handle != nullptr && handle->file.is_open();
}

platform::IoControlResult DriverIoctl(int device, std::uint32_t code, const void* input,
                                      std::uint32_t input_size, void* output,
                                      std::uint32_t output_size) {
  std::shared_ptr<DriverHandle> handle = HandleOfDevice(device);
  return Send(handle.get(), code, input, input_size, output, output_size);
}

platform::IoControlResult LocationIoctl(std::uint32_t location, std::uint32_t enumeration,
                                        std::uint32_t code, const void* input,
                                        std::uint32_t input_size, void* output,
                                        std::uint32_t output_size) {
  std::shared_ptr<DriverHandle> handle = Table().Get(location, enumeration);
  return Send(handle.get(), code, input, input_size, output, output_size);
}

}  // namespace zimo::corvan
