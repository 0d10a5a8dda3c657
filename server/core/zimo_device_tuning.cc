// The device object's motor tuning rows: the card programs of the tuning
// procedures, the word texts, the step data worked on in the caller's own
// array, and the estimators.
#include <string>

#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/tuning_api.h"

namespace zimo::server {

using automation::SafeArray;

namespace {

// The caller's step data: one dimension of longs from 0; its upper bound
// counts the samples. False otherwise.
bool StepData(const SafeArray& data, int32_t* count) {
  if (data.dims() != 1 || data.element_type() != automation::VT_I4) return false;
  int32_t lower = -1;
  int32_t upper = -1;
  if (data.LowerBound(1, &lower) != S_OK || lower != 0) return false;
  if (data.UpperBound(1, &upper) != S_OK) return false;
  *count = upper;
  return true;
}

}  // namespace

HRESULT ZimoDevice::get_BufferOpen(int32_t device, int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  *value = InBufferedMode(static_cast<uint32_t>(device));
  return S_OK;
}

HRESULT ZimoDevice::DownloadVelLimitPLC(int32_t device, int16_t motor, int32_t max_speed,
                                        int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ::DownloadVelLimitPLC(static_cast<uint32_t>(device), motor, max_speed);
  return S_OK;
}

HRESULT ZimoDevice::DownloadPosLimitPLC(int32_t device, int16_t motor, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ::DownloadPosLimitPLC(static_cast<uint32_t>(device), motor);
  return S_OK;
}

HRESULT ZimoDevice::DownloadAndRunRoughPhasePLC(int32_t device, int16_t motor, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ::DownloadAndRunRoughPhasePLC(static_cast<uint32_t>(device), motor);
  return S_OK;
}

HRESULT ZimoDevice::CreateIncrementalFinePhasePLC(int32_t device, const Bstr& path, int16_t plc,
                                                  int16_t motor, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file) || success == nullptr) return E_POINTER;
  *success = ::CreateIncrementalFinePhasePLC(static_cast<uint32_t>(device), file.c_str(), plc,
                                             motor, 0, 0);
  return S_OK;
}

HRESULT ZimoDevice::DoAGantryParabolic(int32_t device, int16_t motor, int16_t motor2,
                                       int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  *success = ::DoAGantryParabolic(static_cast<uint32_t>(device), motor, motor2);
  return S_OK;
}

HRESULT ZimoDevice::ConvertWordToStringFloat(const Bstr& word, Bstr* text) {
  std::string w;
  if (!InputText(word, &w) || text == nullptr) return E_POINTER;
  char out[64] = {};
  *text = Bstr::FromAnsi(::ConvertWordToStringFloat(w.c_str(), out));
  return S_OK;
}

HRESULT ZimoDevice::ConvertWordToShort(const Bstr& word, int16_t offset, int16_t* value) {
  std::string w;
  if (!InputText(word, &w) || value == nullptr) return E_POINTER;
  *value = ::ConvertWordToShort(w.c_str(), offset);
  return S_OK;
}

// The 48-bit value's low 32 bits: the width of the client's long.
HRESULT ZimoDevice::ConvertWordToLong(const Bstr& word, int32_t* value) {
  std::string w;
  if (!InputText(word, &w) || value == nullptr) return E_POINTER;
  *value = static_cast<int32_t>(::ConvertWordToLong(w.c_str()));
  return S_OK;
}

HRESULT ZimoDevice::CalculateStepStatistics(SafeArray* data, int32_t step, int32_t i10, int32_t i19,
                                            Bstr* rise, Bstr* peak, Bstr* natural, Bstr* overshoot,
                                            Bstr* damping, Bstr* settling) {
  if (data == nullptr || rise == nullptr || peak == nullptr || natural == nullptr ||
      overshoot == nullptr || damping == nullptr || settling == nullptr) {
    return E_POINTER;
  }
  int32_t count = 0;
  if (!StepData(*data, &count)) return S_FALSE;
  char texts[6][ZIMO_STEP_TEXT_SIZE] = {};
  ::CalculateStepStatistics(reinterpret_cast<const int32_t*>(data->bytes().data()), count, step,
                            i10, i19, texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]);
  Bstr* outs[6] = {rise, peak, natural, overshoot, damping, settling};
  for (int i = 0; i < 6; ++i) *outs[i] = Bstr::FromAnsi(texts[i]);
  return S_OK;
}

HRESULT ZimoDevice::LowPassFilterTheData(SafeArray* data, const Bstr& corner) {
  std::string c;
  if (data == nullptr || !InputText(corner, &c)) return E_POINTER;
  int32_t count = 0;
  if (!StepData(*data, &count)) return S_FALSE;
  ::LowPassFilterTheData(reinterpret_cast<int32_t*>(data->bytes().data()), count, c.c_str());
  return S_OK;
}

HRESULT ZimoDevice::DifferentiateTheData(SafeArray* data, int32_t i10, int32_t i19,
                                         int32_t* minimum, int32_t* maximum) {
  if (data == nullptr || minimum == nullptr || maximum == nullptr) return E_POINTER;
  int32_t count = 0;
  if (!StepData(*data, &count)) return S_FALSE;
  ::DifferentiateTheData(reinterpret_cast<int32_t*>(data->bytes().data()), count, i10, i19, minimum,
                         maximum);
  return S_OK;
}

HRESULT ZimoDevice::MagEstimation(int32_t device, const Bstr& path, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file) || success == nullptr) return E_POINTER;
  *success = ::MagEstimation(static_cast<uint32_t>(device), file.c_str());
  return S_OK;
}

HRESULT ZimoDevice::SlopeEstimation(int32_t device, const Bstr& path, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file) || success == nullptr) return E_POINTER;
  *success = ::Slope(static_cast<uint32_t>(device), file.c_str());
  return S_OK;
}

}  // namespace zimo::server
