// Opening a device: the link's open path with the DPR bookkeeping of a first
// opener whose card has usable DPR. The open export lives here, above the
// link, because that bookkeeping is the DPR layer's.
#include <optional>

#include "corvan/device_api.h"
#include "corvan/internal/device_user_handle.h"
#include "dpr/rotary_reset.h"
#include "dpr/varbuf_count.h"
#include "dpr/varbuf_owner.h"
#include "link/device_open.h"
#include "link/library_app.h"
#include "link/variables.h"
#include "link/wait_loop.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kCalibrationMs = 500;

// Poll limits from a fresh calibration, empty rotary buffers and variable
// background buffers, and the DPR variable area.
void DprSetUp(int device, SharedDeviceBlock& block, DeviceConfigBlock& config) {
  CalibrateWaits(kCalibrationMs, &block.LoopsPer500ms);
  ResetRotaryDescriptors(device);
  ZimoDPRSetVBGNumEntries(device, 0);
  ZimoDPRSetWriteBufferControl(device, 0);
  App().User(device)->DprBuffers.VbgUsers.fill(std::nullopt);
  block.VbgUserCount = 0;
  block.VbgOwnerProcessId = 0;
  block.VbgAreaTop = 0;
  std::uint32_t i24 = 0;
  if (block.SpranFlag != 0 && block.CardType == 8) {
    i24 = static_cast<std::uint32_t>(GetVariable32(LibraryCommandPath(), device, 'I', 24, 0));
  }
  ComputeDprSetUp(block, config, i24);
  block.DprSetUpDone = 1;
}

}  // namespace
}  // namespace zimo::corvan

extern "C" {

std::int32_t OpenZimoDevice(std::uint32_t device) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  if (!OpenDevice(d, DprSetUp, ReleaseOwnUsers)) return 0;
  // Users left by a process that has ended no longer keep this one out.
  DropUsersOfEndedProcess(d);
  return 1;
}

}  // extern "C"
