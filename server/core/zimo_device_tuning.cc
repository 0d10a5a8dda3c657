// The device object's motor tuning rows: the card programs of the tuning
// procedures, the word texts, the step data worked on in the caller's own
// array, and the estimators.
#include <cstring>
#include <string>

#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/tuning_api.h"

namespace zimo::server {

using automation::SafeArray;

namespace {

// The six-step results' length in the caller's VARIANT.
constexpr uint32_t kSixStepCount = 7;

// A client's long flag as the short the library takes: set stays set.
int16_t Flag(int32_t value) { return value != 0 ? 1 : 0; }

// A six-step result: the library's result, with its buffer handed back as
// 7 longs from 0 in the caller's VARIANT.
template <typename Read>
HRESULT SixStepResult(int32_t device, Variant* out, int32_t* result, Read read) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (out == nullptr || result == nullptr) return E_POINTER;
  int32_t values[kSixStepCount] = {};
  *result = read(static_cast<uint32_t>(device), values);
  SafeArray array = SafeArray::Vector(automation::VT_I4, kSixStepCount);
  std::memcpy(array.bytes().data(), values, sizeof values);
  *out = Variant(std::move(array));
  return S_OK;
}

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

// The shape of most rows: the device checked, then the library's result,
// asked with the device number, handed to the one out value.
template <typename Ask>
HRESULT Result(int32_t device, int32_t* out, Ask ask) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (out == nullptr) return E_POINTER;
  *out = ask(static_cast<uint32_t>(device));
  return S_OK;
}

// The same for rows that name a file: the path as 8-bit text as well.
template <typename Ask>
HRESULT ResultForFile(int32_t device, const Bstr& path, int32_t* out, Ask ask) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file) || out == nullptr) return E_POINTER;
  *out = ask(static_cast<uint32_t>(device), file.c_str());
  return S_OK;
}

// The library's six-step download procedures of the voltage and current
// tests, the current-loop steps and the open-loop tests: each family shares
// one signature.
using SixStepDownload = int32_t (*)(uint32_t, int16_t, float, int16_t, int16_t);
using CurrentLoopStep = int32_t (*)(uint32_t, int16_t, int16_t, int32_t, int16_t, char*, float,
                                    int16_t, int16_t);
using OpenLoopDownload = int32_t (*)(uint32_t, int16_t, int16_t, int16_t, int16_t, int16_t,
                                     int16_t);

HRESULT SixStep(SixStepDownload download, int32_t device, int16_t motor, double duty, int32_t varlo,
                int32_t compact, int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return download(d, motor, static_cast<float>(duty), Flag(varlo), Flag(compact));
  });
}

// A current-loop step has no result parameter: S_FALSE when the library
// reports failure. The sample-time text is handed back either way.
HRESULT Step(CurrentLoopStep step, int32_t device, int16_t motor, int16_t dwell, int32_t magnitude,
             int32_t autotune, Bstr* sample_time, double duty, int16_t divisor, int32_t compact) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (sample_time == nullptr) return E_POINTER;
  char text[ZIMO_SAMPLE_TIME_TEXT_SIZE] = {};
  const int32_t done = step(static_cast<uint32_t>(device), motor, dwell, magnitude, Flag(autotune),
                            text, static_cast<float>(duty), divisor, Flag(compact));
  *sample_time = Bstr::FromAnsi(text);
  return done != 0 ? S_OK : S_FALSE;
}

HRESULT OpenLoop(OpenLoopDownload download, int32_t device, int16_t motor, int16_t magnitude,
                 int16_t milliseconds, int16_t repetitions, int32_t gather_currents, int32_t varlo,
                 int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return download(d, motor, magnitude, milliseconds, repetitions, Flag(gather_currents),
                    Flag(varlo));
  });
}

}  // namespace

HRESULT ZimoDevice::get_BufferOpen(int32_t device, int32_t* value) {
  return Result(device, value, [](uint32_t d) { return ::InBufferedMode(d); });
}

HRESULT ZimoDevice::DownloadVelLimitPLC(int32_t device, int16_t motor, int32_t max_speed,
                                        int32_t* success) {
  return Result(device, success,
                [&](uint32_t d) { return ::DownloadVelLimitPLC(d, motor, max_speed); });
}

HRESULT ZimoDevice::DownloadPosLimitPLC(int32_t device, int16_t motor, int32_t* success) {
  return Result(device, success, [&](uint32_t d) { return ::DownloadPosLimitPLC(d, motor); });
}

HRESULT ZimoDevice::DownloadAndRunRoughPhasePLC(int32_t device, int16_t motor, int32_t* success) {
  return Result(device, success,
                [&](uint32_t d) { return ::DownloadAndRunRoughPhasePLC(d, motor); });
}

HRESULT ZimoDevice::CreateIncrementalFinePhasePLC(int32_t device, const Bstr& path, int16_t plc,
                                                  int16_t motor, int32_t* success) {
  return ResultForFile(device, path, success, [&](uint32_t d, const char* file) {
    return ::CreateIncrementalFinePhasePLC(d, file, plc, motor, 0, 0);
  });
}

HRESULT ZimoDevice::DoAGantryParabolic(int32_t device, int16_t motor, int16_t motor2,
                                       int32_t* success) {
  return Result(device, success,
                [&](uint32_t d) { return ::DoAGantryParabolic(d, motor, motor2); });
}

HRESULT ZimoDevice::DownloadCurrentFeedbackTest(int32_t device, int16_t motor, double duty,
                                                int16_t frequency, int32_t varlo, int32_t compact,
                                                int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DownloadCurrentFeedbackTestProgram(d, motor, static_cast<float>(duty), frequency,
                                                varlo, Flag(compact));
  });
}

HRESULT ZimoDevice::ReadResultsFromCurrentFeedbackTest(int32_t device, int16_t motor,
                                                       int32_t* result) {
  return Result(device, result,
                [&](uint32_t d) { return ::ReadResultsFromCurrentFeedbackTest(d, motor); });
}

HRESULT ZimoDevice::DownloadVoltageSixStepTest(int32_t device, int16_t motor, double duty,
                                               int32_t varlo, int32_t compact, int32_t* success) {
  return SixStep(&::DownloadVoltageSixStepTestProgram, device, motor, duty, varlo, compact,
                 success);
}

HRESULT ZimoDevice::DownloadCurrentSixStepTest(int32_t device, int16_t motor, double duty,
                                               int32_t varlo, int32_t compact, int32_t* success) {
  return SixStep(&::DownloadCurrentSixStepTestProgram, device, motor, duty, varlo, compact,
                 success);
}

HRESULT ZimoDevice::DownloadUVWSixStepTest(int32_t device, int16_t motor, double duty,
                                           int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DownloadUVWSixStepTestProgram(d, motor, static_cast<float>(duty));
  });
}

HRESULT ZimoDevice::ReadResultsFromSixStepTest(int32_t device, int32_t skip, Variant* steps,
                                               int32_t* result) {
  return SixStepResult(device, steps, result, [&](uint32_t d, int32_t* values) {
    return ::ReadResultsFromSixStepTest(d, values, Flag(skip));
  });
}

HRESULT ZimoDevice::ReadResultsFromUVWSixStepTest(int32_t device, Variant* states,
                                                  int32_t* result) {
  return SixStepResult(device, states, result, [](uint32_t d, int32_t* values) {
    return ::ReadResultsFromUVWSixStepTest(d, values, 0, 0, 0, 0);
  });
}

HRESULT ZimoDevice::SetIVarForFeedback(int32_t device, int16_t ivar, int32_t address, int32_t type,
                                       int32_t* success) {
  const int16_t known = type == static_cast<int16_t>(type) ? static_cast<int16_t>(type) : 0;
  return Result(device, success,
                [&](uint32_t d) { return ::SetIvarForFeedback(d, ivar, address, known); });
}

HRESULT ZimoDevice::DownloadOpenLoopTest(int32_t device, int16_t motor, int16_t magnitude,
                                         int16_t milliseconds, int16_t repetitions,
                                         int32_t gather_currents, int32_t varlo, int32_t* success) {
  return OpenLoop(&::DownloadOpenLoopTestProgram, device, motor, magnitude, milliseconds,
                  repetitions, gather_currents, varlo, success);
}

HRESULT ZimoDevice::DownloadOpenLoopTest1(int32_t device, int16_t motor, int16_t magnitude,
                                          int16_t milliseconds, int16_t repetitions,
                                          int32_t gather_currents, int32_t varlo,
                                          int32_t* success) {
  return OpenLoop(&::DownloadOpenLoopTestProgram1, device, motor, magnitude, milliseconds,
                  repetitions, gather_currents, varlo, success);
}

HRESULT ZimoDevice::DownloadOpenLoopTestForZIMO1(int32_t device, int16_t motor, int16_t magnitude,
                                                 int16_t milliseconds, int16_t repetitions,
                                                 int32_t gather_currents, int32_t varlo,
                                                 int32_t* success) {
  return OpenLoop(&::DownloadOpenLoopTestProgramForZimo1, device, motor, magnitude, milliseconds,
                  repetitions, gather_currents, varlo, success);
}

HRESULT ZimoDevice::DoACurrentLoopStep(int32_t device, int16_t motor, int16_t dwell,
                                       int32_t magnitude, int32_t autotune, Bstr* sample_time,
                                       double duty, int16_t divisor, int32_t compact) {
  return Step(&::DoACurrentLoopStep, device, motor, dwell, magnitude, autotune, sample_time, duty,
              divisor, compact);
}

HRESULT ZimoDevice::DoACurrentLoopStepBrush(int32_t device, int16_t motor, int16_t dwell,
                                            int32_t magnitude, int32_t autotune, Bstr* sample_time,
                                            double duty, int16_t divisor, int32_t compact) {
  return Step(&::DoACurrentLoopStepBrush, device, motor, dwell, magnitude, autotune, sample_time,
              duty, divisor, compact);
}

HRESULT ZimoDevice::RestoreModifiedIVars(int32_t device, int16_t motor) {
  if (BadDevice(device)) return E_INVALIDARG;
  return ::RestoreModifiedIvars(static_cast<uint32_t>(device), motor) != 0 ? S_OK : S_FALSE;
}

HRESULT ZimoDevice::DoAPositionLoopStep(int32_t device, int16_t motor, int16_t step,
                                        int16_t milliseconds, int32_t bidirectional,
                                        int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DoAPositionLoopStep(d, motor, step, milliseconds, Flag(bidirectional));
  });
}

HRESULT ZimoDevice::DoAParabolicMove(int32_t device, int16_t motor, int16_t step,
                                     int16_t milliseconds, int32_t bidirectional,
                                     int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DoAParabolicMove(d, motor, step, milliseconds, Flag(bidirectional));
  });
}

HRESULT ZimoDevice::DoAGantryPositionLoopStep(int32_t device, int16_t motor, int16_t motor2,
                                              int16_t step, int16_t milliseconds,
                                              int32_t bidirectional, int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DoAGantryPositionLoopStep(d, motor, motor2, step, milliseconds, Flag(bidirectional));
  });
}

HRESULT ZimoDevice::DoAGantryParabolicMove(int32_t device, int16_t motor, int16_t motor2,
                                           int16_t step, int16_t milliseconds,
                                           int32_t bidirectional, int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DoAGantryParabolicMove(d, motor, motor2, step, milliseconds, Flag(bidirectional));
  });
}

HRESULT ZimoDevice::DownloadAutoTuningPLC(int32_t device, int16_t motor, int32_t current_loop,
                                          int32_t bypass_jog, int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DownloadAutoTuningPLC(d, motor, Flag(current_loop), Flag(bypass_jog));
  });
}

HRESULT ZimoDevice::DownloadGantryAutoTuningPLCP1(int32_t device, int16_t motor, int16_t motor2,
                                                  int32_t current_loop, int32_t bypass_jog,
                                                  int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DownloadGantryAutoTuningPLCP1(d, motor, motor2, Flag(current_loop), Flag(bypass_jog));
  });
}

HRESULT ZimoDevice::DownloadGantryAutoTuningPLC(int32_t device, int16_t motor, int16_t motor2,
                                                int32_t current_loop, int32_t bypass_jog,
                                                double travel, int32_t milliseconds,
                                                int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::DownloadGantryAutoTuningPLC(d, motor, motor2, current_loop, bypass_jog,
                                         static_cast<float>(travel), milliseconds);
  });
}

HRESULT ZimoDevice::SetCurrentGather(int32_t device, int32_t mask, int32_t enable,
                                     int32_t* success) {
  return Result(device, success, [&](uint32_t d) {
    return ::ZimoSetCurrentGather(d, static_cast<uint32_t>(mask), enable);
  });
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
  return ResultForFile(device, path, success, &::MagEstimation);
}

HRESULT ZimoDevice::SlopeEstimation(int32_t device, const Bstr& path, int32_t* success) {
  return ResultForFile(device, path, success, &::Slope);
}

}  // namespace zimo::server
