#include "dpr/varbuf_owner.h"

#include <atomic>
#include <cstdint>
#include <mutex>

#include "corvan/dpr_api.h"
#include "corvan/internal/device_user_handle.h"
#include "dpr/dpr_map.h"
#include "dpr/varbuf_area.h"
#include "link/library_app.h"
#include "platform/process.h"

namespace zimo::corvan {
namespace {

std::uint32_t Self() { return static_cast<std::uint32_t>(platform::CurrentProcessId()); }

// The card copies nothing more; the shared counts say no user exists.
void FreeArea(int device, SharedDeviceBlock& block) {
  const DprLayout& layout = DprLayoutOf(block.SpranFlag != 0);
  const std::uint32_t number = DeviceNumberFromIndex(device);
  ZimoDPRSetWord(number, layout.vbg_entry_count, 0);
  ZimoDPRSetWord(number, layout.vbg_handshake, 0);
  if (block.VbgAreaTop != 0) block.VbgNextFree = block.VbgAreaTop;
  block.VbgUserCount = 0;
  block.VbgInUse = 0;
  block.VbgAreaTop = 0;
}

}  // namespace

void HoldVbgUsers(SharedDeviceBlock& block) {
  if (block.VbgUserCount == 0) block.VbgAreaTop = block.VbgNextFree;
  std::atomic_ref<std::uint32_t>(block.VbgOwnerProcessId).store(Self());
}

void LetGoOfVbgUsersWhenNone(SharedDeviceBlock& block) {
  if (block.VbgUserCount != 0) return;
  block.VbgAreaTop = 0;
  std::atomic_ref<std::uint32_t>(block.VbgOwnerProcessId).store(0);
}

void DropUsersOfEndedProcess(int device) {
  if (!IsRealDevice(device)) return;
  SharedDeviceBlock* block = App().Block(device);
  if (block == nullptr) return;
  std::atomic_ref<std::uint32_t> owner(block->VbgOwnerProcessId);
  std::uint32_t pid = owner.load();
  if (pid == 0 || pid == Self() || platform::IsProcessAlive(static_cast<pid_t>(pid))) return;
  std::lock_guard<std::mutex> area(VariableAreaMutex());
  // One process drops them; another that looked at the same time finds
  // the owner gone.
  if (!owner.compare_exchange_strong(pid, 0)) return;
  FreeArea(device, *block);
}

void ReleaseOwnUsers(int device) {
  if (!IsRealDevice(device)) return;
  SharedDeviceBlock* block = App().Block(device);
  DeviceUserHandle* user = App().User(device);
  if (block == nullptr || user == nullptr) return;
  std::lock_guard<std::mutex> area(VariableAreaMutex());
  bool held = false;
  for (std::optional<VarBufUser>& slot : user->DprBuffers.VbgUsers) {
    held = held || slot.has_value();
    slot.reset();
  }
  std::uint32_t self = Self();
  if (!held ||
      !std::atomic_ref<std::uint32_t>(block->VbgOwnerProcessId).compare_exchange_strong(self, 0)) {
    return;
  }
  FreeArea(device, *block);
}

}  // namespace zimo::corvan
