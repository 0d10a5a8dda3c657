// What the device object's source files share: the argument checks, the
// road from the library's plain callbacks to the object whose call runs,
// and the templates that bind whole families of status rows (made where
// the rows are).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/zimo_device.h"

namespace zimo::server {
namespace device_detail {

inline bool BadDevice(int32_t device) { return device < 0 || device > 7; }

// 8-bit text of an input text the operation needs; false when it is missing.
bool InputText(const Bstr& text, std::string* out);
// 8-bit text of an optional input text; null when none was given.
const char* OptionalText(const Bstr& text, std::string* out);

// While one lives, the library's plain callbacks on this thread report to
// the object whose call runs (the call returns before the next one).
class RoutedReports {
 public:
  explicit RoutedReports(std::shared_ptr<LibraryReports> reports);
  ~RoutedReports();
  RoutedReports(const RoutedReports&) = delete;
  RoutedReports& operator=(const RoutedReports&) = delete;

 private:
  std::shared_ptr<LibraryReports> reports_;
  LibraryReports* previous_ = nullptr;
};

// The callbacks themselves, for library calls that take them.
int32_t ReportMessage(const char* text, int32_t new_line);
int32_t ReportProgress(int32_t percent);
void ReportProgressOnly(int32_t percent);

}  // namespace device_detail

using automation::E_INVALIDARG;
using automation::E_POINTER;
using automation::S_FALSE;
using automation::S_OK;
using device_detail::BadDevice;
using device_detail::InputText;
using device_detail::OptionalText;

template <int32_t (*Read)(uint32_t)>
HRESULT ZimoDevice::CardValue(int32_t device, int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  *value = Read(static_cast<uint32_t>(device));
  return S_OK;
}

template <int32_t (*Read)(uint32_t, int32_t)>
HRESULT ZimoDevice::UnitValue(int32_t device, int32_t unit, int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  *value = Read(static_cast<uint32_t>(device), unit);
  return S_OK;
}

template <double (*Read)(uint32_t, int32_t, double)>
HRESULT ZimoDevice::Scaled(int32_t device, int32_t motor, double scale, double* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  *value = Read(static_cast<uint32_t>(device), motor, scale);
  return S_OK;
}

template <void (*Read)(uint32_t, int32_t, double, double*)>
HRESULT ZimoDevice::ScaledInto(int32_t device, int32_t motor, double scale, double* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  Read(static_cast<uint32_t>(device), motor, scale, value);
  return S_OK;
}

// The library reads both status words, but the client passed room for one:
// both are read into a local pair and the first is handed back, so the
// second is never written past the client's value.
template <int32_t (*Read)(uint32_t, int32_t, uint32_t*)>
HRESULT ZimoDevice::StatusWord(int32_t device, int32_t unit, int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  uint32_t words[2] = {};
  if (Read(static_cast<uint32_t>(device), unit, words) == 0) return S_FALSE;
  *value = static_cast<int32_t>(words[0]);
  return S_OK;
}

}  // namespace zimo::server
