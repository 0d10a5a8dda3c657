#include "labhelper/beep.h"

#include <mutex>
#include <utility>

#include "platform/debug.h"

namespace zimo::labhelper {
namespace {

std::mutex hook_mutex;
BeepHook& Hook() {
  static BeepHook hook;
  return hook;
}

}  // namespace

void SetBeepHook(BeepHook hook) {
  std::lock_guard lock(hook_mutex);
  Hook() = std::move(hook);
}

int Beep(uint32_t type) {
  BeepHook hook;
  {
    std::lock_guard lock(hook_mutex);
    hook = Hook();
  }
  if (hook) return hook(type);
  platform::DebugPrintf("qeldll32: beep 0x%08X\n", static_cast<unsigned>(type));
  return 1;
}

}  // namespace zimo::labhelper
