#include "dpr/rotary_reset.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "corvan/dpr_api.h"
#include "dpr/dpr_map.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

// Whether the card has descriptor n: SPRAN cards all eight, older cards
// buffers 2 to 7 only from firmware "1.16B" on (compared as text from the
// version's first digit).
bool HasDescriptor(const SharedDeviceBlock& block, int n) {
  if (block.SpranFlag != 0 || n < 2) return true;
  const char* version = block.FirmwareVersion;
  const char* end = version + strnlen(version, sizeof block.FirmwareVersion);
  while (version < end && !std::isdigit(static_cast<unsigned char>(*version))) ++version;
  char five[6] = {};
  std::memcpy(five, version, std::min<std::size_t>(5, static_cast<std::size_t>(end - version)));
  return std::strncmp(five, kRotaryDescriptorsFirmware, 5) >= 0;
}

// The block of a device whose descriptor n may be used from this process.
const SharedDeviceBlock* UsableBlock(int device, int n) {
  if (!IsRealDevice(device) || n < 0 || n >= kRotaryDescriptors) return nullptr;
  const SharedDeviceBlock* block = App().Block(device);
  if (block == nullptr || App().User(device)->DprAvailable == 0) return nullptr;
  return HasDescriptor(*block, n) ? block : nullptr;
}

}  // namespace

int ZimoDPRGetRotBufDescriptor(int device, int n, RotBufDescriptor* descriptor) {
  if (descriptor == nullptr) return 0;
  std::memset(descriptor, 0, sizeof *descriptor);
  const SharedDeviceBlock* block = UsableBlock(device, n);
  if (block == nullptr) return 0;
  const std::uint32_t offset = RotaryDescriptorOffset(block->SpranFlag != 0, n);
  RotBufDescriptor read{};
  if (ZimoDPRGetMem(static_cast<std::uint32_t>(device), offset, sizeof read, &read) == nullptr) {
    return 0;
  }
  *descriptor = read;
  return 1;
}

void ZimoDPRSetRotBufDescriptor(int device, int n, const RotBufDescriptor* descriptor) {
  if (descriptor == nullptr) return;
  const SharedDeviceBlock* block = UsableBlock(device, n);
  if (block == nullptr) return;
  const std::uint32_t offset = RotaryDescriptorOffset(block->SpranFlag != 0, n);
  ZimoDPRSetMem(static_cast<std::uint32_t>(device), offset, sizeof *descriptor, descriptor);
}

void ResetRotaryDescriptors(int device) {
  for (int n = 0; n < kRotaryDescriptors; ++n) {
    RotBufDescriptor descriptor{};
    if (ZimoDPRGetRotBufDescriptor(device, n, &descriptor) == 0) continue;
    descriptor.HostIndex = 0;
    descriptor.CardIndex = 0;
    descriptor.Size = 0;
    ZimoDPRSetRotBufDescriptor(device, n, &descriptor);
  }
}

}  // namespace zimo::corvan
