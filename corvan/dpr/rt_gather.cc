// The real-time gather family: up to three card addresses kept in the
// device's shared record, read through a variable background user of the
// device (RtGatherHandle) into this process's result array. Nothing here
// registers that user or makes the array: a caller that wants values does
// both; until then a collection hands back no array.
#include <cstdint>
#include <cstring>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/gather_api.h"
#include "corvan/varbuf_api.h"
#include "dpr/command_lock.h"
#include "dpr/device_block.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

// Reads of one entry before it counts as 0.0.
constexpr int kReadTries = 4000;

void RemoveUser(std::uint32_t device, SharedDeviceBlock& b) {
  if (b.RtGatherHandle != 0)
    ZimoDPRVarBufRemove(device, static_cast<std::int32_t>(b.RtGatherHandle));
}

}  // namespace
}  // namespace zimo::corvan

extern "C" {

int32_t ZimoInitRTGather(uint32_t) { return 0; }

void ZimoClearRTGather(uint32_t device) {
  using namespace zimo::corvan;
  SharedDeviceBlock* b = BlockOf(device);
  if (b == nullptr) return;
  CommandLock lock(device);
  RemoveUser(device, *b);
  b->RtGatherCount = 0;
  std::memset(b->RtGatherAddress, 0, sizeof b->RtGatherAddress);
}

int32_t ZimoAddRTGather(uint32_t device, uint32_t address) {
  using namespace zimo::corvan;
  SharedDeviceBlock* b = BlockOf(device);
  if (b == nullptr) return 0;
  CommandLock lock(device);
  if (b->RtGatherCount < kRtGatherAddresses) {
    RemoveUser(device, *b);
    b->RtGatherAddress[b->RtGatherCount++] = address;
    ZimoInitRTGather(device);
  }
  return 0;
}

uintptr_t ZimoCollectRTGatherData(uint32_t device) {
  using namespace zimo::corvan;
  SharedDeviceBlock* b = BlockOf(device);
  if (b == nullptr) return 0;
  std::vector<double>& result = App().User(IndexFromDeviceNumber(device))->Gather.RtGatherResult;
  CommandLock lock(device);
  // No array in this process: nothing to write into.
  if (result.empty()) return 0;
  const std::uint32_t count =
      b->RtGatherCount < kRtGatherAddresses ? b->RtGatherCount : kRtGatherAddresses;
  for (std::uint32_t i = 0; i < count && i < result.size(); ++i) {
    std::int32_t words[2] = {0, 0};
    bool read = false;
    for (int t = 0; t < kReadTries && !read; ++t) {
      read = ZimoDPRVarBufRead(device, static_cast<std::int32_t>(b->RtGatherHandle),
                               static_cast<std::int32_t>(i), words) == 1;
    }
    result[i] = read ? static_cast<double>(words[0]) : 0.0;
  }
  return reinterpret_cast<uintptr_t>(result.data());
}

}  // extern "C"
