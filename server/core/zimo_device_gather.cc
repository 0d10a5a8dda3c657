// The device object's gathering rows that do more than forward to the
// library: a source's address text and its uploaded samples. The others
// (sources, period, mode, buffer, the run) are bound in the row list.
#include <cstring>
#include <string>
#include <vector>

#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/gather_api.h"

namespace zimo::server {
namespace {

using automation::SafeArray;
using device_detail::Dev;

// The longest source address text the library rebuilds.
constexpr uint32_t kGatherTextSize = 512;
// The first asking size for a source's samples; it doubles until all fit.
constexpr uint32_t kFirstSampleRoom = 48;

}  // namespace

HRESULT ZimoDevice::GetGather(int32_t device, int32_t source, Bstr* address, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (address == nullptr || success == nullptr) return E_POINTER;
  char text[kGatherTextSize + 1] = {};
  *success = ZimoGetGather(Dev(device), static_cast<uint32_t>(source), text, sizeof text);
  *address = Bstr::FromAnsi(text);
  return S_OK;
}

// The samples come back whole: the library copies at most the room it is
// given, so the room grows until a copy leaves some of it unused.
HRESULT ZimoDevice::GetGatherSamples(int32_t device, int32_t source, Variant* samples,
                                     int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (samples == nullptr || success == nullptr) return E_POINTER;
  *samples = Variant();
  *success = 0;
  std::vector<double> room(kFirstSampleRoom);
  uint32_t count = 0;
  int32_t result = 0;
  for (;;) {
    count = 0;
    result = ZimoGetGatherSamples(Dev(device), static_cast<uint32_t>(source), &count, room.data(),
                                  static_cast<uint32_t>(room.size()));
    if (result == 0 || count < room.size()) break;
    room.resize(room.size() * 2);
  }
  SafeArray values = SafeArray::Vector(automation::VT_R8, result != 0 ? count : 0);
  if (result != 0) std::memcpy(values.bytes().data(), room.data(), count * sizeof(double));
  *samples = Variant(std::move(values));
  *success = result;
  return S_OK;
}

}  // namespace zimo::server
