#include "link/server_activation.h"

#include "automation/activation.h"
#include "automation/dispatch.h"
#include "platform/debug.h"

namespace zimo::corvan {

bool CreateServerServiceObject(std::shared_ptr<automation::Dispatch>* out) {
  std::shared_ptr<automation::Dispatch> object;
  const automation::HRESULT hr = automation::CreateInstance(kServiceProgId, &object);
  if (hr < 0 || object == nullptr) {
    platform::DebugPrintf("ZimoService activation failed: 0x%08X\n", static_cast<unsigned>(hr));
    return false;
  }
  *out = std::move(object);
  return true;
}

}  // namespace zimo::corvan
