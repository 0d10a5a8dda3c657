// The device object's gathering rows: the sources, period, mode and buffer
// of the card's data gathering, its run, and the uploaded samples.
#include <cstring>
#include <string>
#include <vector>

#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/gather_api.h"

namespace zimo::server {
namespace {

using automation::SafeArray;

// The longest source address text the library rebuilds.
constexpr uint32_t kGatherTextSize = 512;
// The first asking size for a source's samples; it doubles until all fit.
constexpr uint32_t kFirstSampleRoom = 48;

uint32_t Dev(int32_t device) { return static_cast<uint32_t>(device); }

}  // namespace

HRESULT ZimoDevice::get_GatherPeriod(int32_t device, int32_t* period) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (period == nullptr) return E_POINTER;
  *period = static_cast<int32_t>(ZimoGetGatherPeriod(Dev(device)));
  return S_OK;
}

HRESULT ZimoDevice::put_GatherPeriod(int32_t device, int32_t period) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoSetGatherPeriod(Dev(device), static_cast<uint32_t>(period));
  return S_OK;
}

HRESULT ZimoDevice::get_GatherEnabled(int32_t device, int32_t source, int32_t* on) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (on == nullptr) return E_POINTER;
  *on = ZimoGetGatherEnable(Dev(device), static_cast<uint32_t>(source));
  return S_OK;
}

HRESULT ZimoDevice::put_GatherEnabled(int32_t device, int32_t source, int32_t on) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoSetGatherEnable(Dev(device), static_cast<uint32_t>(source), on);
  return S_OK;
}

HRESULT ZimoDevice::get_GatherMode(int32_t device, int32_t* mode) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (mode == nullptr) return E_POINTER;
  *mode = ZimoGetGatherMode(Dev(device));
  return S_OK;
}

HRESULT ZimoDevice::put_GatherMode(int32_t device, int32_t mode) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoSetGatherMode(Dev(device), mode);
  return S_OK;
}

HRESULT ZimoDevice::get_GatherSampleTime(int32_t device, double* milliseconds) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (milliseconds == nullptr) return E_POINTER;
  *milliseconds = ZimoGetGatherSampleTime(Dev(device));
  return S_OK;
}

HRESULT ZimoDevice::put_GatherSampleTime(int32_t device, double milliseconds) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoSetGatherSampleTime(Dev(device), milliseconds);
  return S_OK;
}

HRESULT ZimoDevice::GetNumGatherSources(int32_t device, int32_t* count) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (count == nullptr) return E_POINTER;
  *count = static_cast<int32_t>(ZimoGetNumGatherSources(Dev(device)));
  return S_OK;
}

HRESULT ZimoDevice::GetNumGatherSamples(int32_t device, int32_t* count) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (count == nullptr) return E_POINTER;
  *count = static_cast<int32_t>(ZimoGetNumGatherSamples(Dev(device)));
  return S_OK;
}

HRESULT ZimoDevice::SetGather(int32_t device, int32_t source, const Bstr& address, int32_t enable,
                              int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string text;
  if (!InputText(address, &text) || success == nullptr) return E_POINTER;
  *success = ZimoSetGather(Dev(device), static_cast<uint32_t>(source), text.c_str(), enable);
  return S_OK;
}

HRESULT ZimoDevice::SetQuickGather(int32_t device, int32_t mask, int32_t enable, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ZimoSetQuickGather(Dev(device), static_cast<uint32_t>(mask), enable);
  return S_OK;
}

HRESULT ZimoDevice::SetQuickGatherWithDirectCurrent(int32_t device, int32_t mask, int32_t enable,
                                                    int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ZimoSetQuickGatherWithDirectCurrent(Dev(device), static_cast<uint32_t>(mask), enable);
  return S_OK;
}

HRESULT ZimoDevice::GetGather(int32_t device, int32_t source, Bstr* address, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (address == nullptr || success == nullptr) return E_POINTER;
  char text[kGatherTextSize + 1] = {};
  *success = ZimoGetGather(Dev(device), static_cast<uint32_t>(source), text, sizeof text);
  *address = Bstr::FromAnsi(text);
  return S_OK;
}

HRESULT ZimoDevice::ClearGather(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoClearGather(Dev(device));
  return S_OK;
}

HRESULT ZimoDevice::InitGather(int32_t device, int32_t size, double milliseconds,
                               int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ZimoInitGather(Dev(device), size, milliseconds);
  return S_OK;
}

HRESULT ZimoDevice::ClearGatherData(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoClearGatherData(Dev(device));
  return S_OK;
}

HRESULT ZimoDevice::CollectGatherData(int32_t device, int32_t* sources, int32_t* samples,
                                      int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (sources == nullptr || samples == nullptr || success == nullptr) return E_POINTER;
  *success = ZimoCollectGatherData(Dev(device), reinterpret_cast<uint32_t*>(sources),
                                   reinterpret_cast<uint32_t*>(samples));
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

HRESULT ZimoDevice::GetGatherPoint(int32_t device, int32_t source, int32_t sample, double* value,
                                   int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr || success == nullptr) return E_POINTER;
  *success = ZimoGetGatherPoint(Dev(device), static_cast<uint32_t>(source),
                                static_cast<uint32_t>(sample), value);
  return S_OK;
}

HRESULT ZimoDevice::StartGather(int32_t device, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ZimoStartGather(Dev(device));
  return S_OK;
}

HRESULT ZimoDevice::StopGather(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoStopGather(Dev(device));
  return S_OK;
}

HRESULT ZimoDevice::InitPlotGather(int32_t device, int32_t size, int32_t period, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ZimoInitPlotGather(Dev(device), size, static_cast<uint32_t>(period));
  return S_OK;
}

HRESULT ZimoDevice::ReadGatherFile(int32_t device, const Bstr& path, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file) || success == nullptr) return E_POINTER;
  *success = ZimoReadGatherFile(Dev(device), file.c_str());
  return S_OK;
}

HRESULT ZimoDevice::WriteGatherFile(int32_t device, const Bstr& path, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file) || success == nullptr) return E_POINTER;
  *success = ZimoWriteGatherFile(Dev(device), file.c_str());
  return S_OK;
}

}  // namespace zimo::server
