// The device object's program and PLC status rows: program address ranges,
// the PLC status record whole or entry by entry.
#include <cstring>

#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/program_info_api.h"

namespace zimo::server {
namespace {

using automation::SafeArray;

// The record's entries carry no number and the card's PLCs need not be
// numbered from 0 without gaps, so the lists hand out the present entries
// in number order: `n` counts entries handed out so far. Null when fewer
// than n + 1 entries are present.
const ZimoPlcProgramStatus* NthPlc(const ZimoPlcStatus& s, uint32_t n) {
  for (const ZimoPlcProgramStatus& e : s.plc) {
    if (e.size == 0) continue;
    if (n-- == 0) return &e;
  }
  return nullptr;
}

const ZimoPlccProgramStatus* NthPlcc(const ZimoPlcStatus& s, uint32_t n) {
  for (const ZimoPlccProgramStatus& e : s.plcc) {
    if (e.present == 0) continue;
    if (n-- == 0) return &e;
  }
  return nullptr;
}

// The outputs of one list entry, all 0 to begin with.
struct PlcOut {
  int32_t* loaded;  // compiled PLCs only
  int32_t* enabled;
  int32_t* start;
  int32_t* last;
  int32_t* size;
  int32_t* more;

  bool Missing() const {
    return enabled == nullptr || start == nullptr || last == nullptr || size == nullptr ||
           more == nullptr;
  }
  void Zero() const {
    if (loaded != nullptr) *loaded = 0;
    *enabled = *start = *last = *size = *more = 0;
  }
};

// Hands out entry `*next` of `count` and moves on; zeros when none is left.
void NextPlc(const ZimoPlcStatus& s, uint32_t* next, const PlcOut& out) {
  out.Zero();
  if (*next >= s.plc_count) return;
  const ZimoPlcProgramStatus* e = NthPlc(s, *next);
  if (e == nullptr) return;
  *out.enabled = static_cast<int32_t>(e->running);
  *out.start = static_cast<int32_t>(e->start);
  *out.last = static_cast<int32_t>(e->end);
  *out.size = static_cast<int32_t>(e->size);
  ++*next;
  *out.more = *next < s.plc_count ? 1 : 0;
}

void NextPlcc(const ZimoPlcStatus& s, uint32_t* next, const PlcOut& out) {
  out.Zero();
  if (*next >= s.plcc_count) return;
  const ZimoPlccProgramStatus* e = NthPlcc(s, *next);
  if (e == nullptr) return;
  *out.loaded = static_cast<int32_t>(e->present);
  *out.enabled = static_cast<int32_t>(e->enabled);
  *out.start = static_cast<int32_t>(e->start);
  *out.last = static_cast<int32_t>(e->end);
  *out.size = static_cast<int32_t>(e->size);
  ++*next;
  *out.more = *next < s.plcc_count ? 1 : 0;
}

}  // namespace

HRESULT ZimoDevice::GetPlcStatus(int32_t device, int32_t* plcs, int32_t* compiled, int32_t* i5) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (plcs == nullptr || compiled == nullptr || i5 == nullptr) return E_POINTER;
  ZimoPlcStatus& s = plc_status_[device];
  ZimoGetPlcStatus(static_cast<uint32_t>(device), &s);
  plc_next_[device] = 0;
  *plcs = static_cast<int32_t>(s.plc_count);
  *compiled = static_cast<int32_t>(s.plcc_count);
  *i5 = static_cast<int32_t>(s.enable_bits);
  return S_OK;
}

HRESULT ZimoDevice::GetFirstPlcc(int32_t device, int32_t* loaded, int32_t* enabled, int32_t* start,
                                 int32_t* last, int32_t* size, int32_t* more) {
  if (BadDevice(device)) return E_INVALIDARG;
  const PlcOut out{loaded, enabled, start, last, size, more};
  if (loaded == nullptr || out.Missing()) return E_POINTER;
  out.Zero();
  ZimoGetPlcStatus(static_cast<uint32_t>(device), &plc_status_[device]);
  plcc_next_[device] = 0;
  NextPlcc(plc_status_[device], &plcc_next_[device], out);
  return S_OK;
}

HRESULT ZimoDevice::GetNextPlcc(int32_t device, int32_t* loaded, int32_t* enabled, int32_t* start,
                                int32_t* last, int32_t* size, int32_t* more) {
  if (BadDevice(device)) return E_INVALIDARG;
  const PlcOut out{loaded, enabled, start, last, size, more};
  if (loaded == nullptr || out.Missing()) return E_POINTER;
  NextPlcc(plc_status_[device], &plcc_next_[device], out);
  return S_OK;
}

HRESULT ZimoDevice::GetFirstPlc(int32_t device, int32_t* enabled, int32_t* start, int32_t* last,
                                int32_t* size, int32_t* more) {
  if (BadDevice(device)) return E_INVALIDARG;
  const PlcOut out{nullptr, enabled, start, last, size, more};
  if (out.Missing()) return E_POINTER;
  out.Zero();
  ZimoGetPlcStatus(static_cast<uint32_t>(device), &plc_status_[device]);
  plc_next_[device] = 0;
  NextPlc(plc_status_[device], &plc_next_[device], out);
  return S_OK;
}

HRESULT ZimoDevice::GetNextPlc(int32_t device, int32_t* enabled, int32_t* start, int32_t* last,
                               int32_t* size, int32_t* more) {
  if (BadDevice(device)) return E_INVALIDARG;
  const PlcOut out{nullptr, enabled, start, last, size, more};
  if (out.Missing()) return E_POINTER;
  NextPlc(plc_status_[device], &plc_next_[device], out);
  return S_OK;
}

HRESULT ZimoDevice::GetPlcStatusStructure(int32_t device, Variant* record, int32_t* programs) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (record == nullptr || programs == nullptr) return E_POINTER;
  ZimoPlcStatus& s = plc_status_[device];
  const int16_t found = ZimoGetPlcStatus(static_cast<uint32_t>(device), &s);
  *programs = static_cast<int32_t>(static_cast<uint16_t>(found));
  plc_next_[device] = 0;
  SafeArray bytes = SafeArray::Vector(automation::VT_UI1, sizeof s);
  std::memcpy(bytes.bytes().data(), &s, sizeof s);
  *record = Variant(std::move(bytes));
  return S_OK;
}

}  // namespace zimo::server
