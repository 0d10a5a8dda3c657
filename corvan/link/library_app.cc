#include "link/library_app.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "automation/dispatch.h"
#include "link/device_open.h"
#include "platform/debug.h"

namespace zimo::corvan {
namespace {

CommLibraryApp* g_app = nullptr;
bool g_process_ending = false;

// Runs when the process ends or the shared library is unloaded: after it
// nothing of the library is called any more, so the instance goes too.
void EndAtExit() {
  g_process_ending = true;
  if (g_app != nullptr) g_app->End();
  delete g_app;
  g_app = nullptr;
}

}  // namespace

CommLibraryApp& CommLibraryApp::Instance() {
  CommLibraryApp& app = Unstarted();
  if (!app.started_ && !app.server_build_ && !g_process_ending) app.Start();
  return app;
}

CommLibraryApp& CommLibraryApp::Unstarted() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_app = new CommLibraryApp();
    std::atexit(EndAtExit);
  });
  // A call from another exit handler after the end gets an instance that
  // never starts.
  if (g_app == nullptr) g_app = new CommLibraryApp();
  return *g_app;
}

void CommLibraryApp::ResetUserHandle(int slot) { ResetDeviceUserHandle(users_[slot], slot); }

void CommLibraryApp::Start() {
  if (started_) return;
  started_ = true;
  for (int slot = 0; slot < kRealDevices; ++slot) ResetUserHandle(slot);
  if (table_ == nullptr) {
    auto opened = platform::FileMapping::Open(kSharedTableName);
    if (!opened.ok() || opened->size() < kSharedTableSize) {
      platform::DebugOutput("OpenFileMapping() Not Initialized yet.\n");
      return;
    }
    mapping_ = std::move(opened.value());
    table_ = SharedTableAt(mapping_.data());
    rings_.SetTable(table_);
  }
  std::atomic_ref<std::uint32_t>(table_->UserCount).fetch_add(1);
}

bool CommLibraryApp::MapTable() {
  if (table_ != nullptr) return true;
  auto opened = platform::FileMapping::Open(kSharedTableName);
  if (!opened.ok()) {
    if (opened.status().code() == platform::Code::kNotFound) {
      platform::DebugOutput("OpenFileMapping() FAILED.\n");
    }
    return false;
  }
  if (opened->size() < kSharedTableSize || SharedTableAt(opened->data()) == nullptr) return false;
  mapping_ = std::move(opened.value());
  table_ = SharedTableAt(mapping_.data());
  rings_.SetTable(table_);
  std::atomic_ref<std::uint32_t>(table_->UserCount).fetch_add(1);
  return true;
}

void CommLibraryApp::End() {
  if (!started_) return;
  // Devices still open here give their transports back, so other processes
  // see the right transport user count and owner.
  for (int device = 0; device < kRealDevices; ++device) {
    if (users_[device].Transport != nullptr || users_[device].CommandMutex.valid()) {
      CloseDevice(device, true);
    }
  }
  if (table_ != nullptr && !server_build_) {
    std::atomic_ref<std::uint32_t> count(table_->UserCount);
    std::uint32_t seen = count.load();
    while (seen > 0 && !count.compare_exchange_weak(seen, seen - 1)) {
    }
    rings_.SetTable(nullptr);
    table_ = nullptr;
    mapping_ = platform::FileMapping();
    platform::DebugOutput("CloseHandle() OK\n");
  }
  server_interface_.reset();
  table_ = nullptr;
  rings_.SetTable(nullptr);
  server_build_ = false;
  started_ = false;
}

void CommLibraryApp::UseServerTable(SharedDeviceTable* table) {
  CommLibraryApp& app = Unstarted();
  app.End();
  app.server_build_ = true;
  app.started_ = true;
  for (int slot = 0; slot < kRealDevices; ++slot) app.ResetUserHandle(slot);
  app.table_ = table;
  app.rings_.SetTable(table);
}

SharedDeviceBlock* CommLibraryApp::Block(int device) const {
  if (table_ == nullptr || device < 0 || device >= kDeviceSlots) return nullptr;
  return &table_->Devices[device];
}

DeviceUserHandle* CommLibraryApp::User(int device) {
  if (device < 0 || device >= kDeviceSlots) return nullptr;
  return &users_[device];
}

std::unique_ptr<LocationHandle>* CommLibraryApp::HandleSlot(std::uint32_t location,
                                                            std::uint32_t enumeration) {
  if (location >= kLocationRows || enumeration >= kEnumerations) return nullptr;
  return &handles_[location][enumeration];
}

}  // namespace zimo::corvan
