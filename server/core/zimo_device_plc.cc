// The device object's PLC status rows: the record whole or entry by entry.
#include <cstring>

#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/program_info_api.h"

namespace zimo::server {
namespace {

using automation::SafeArray;

// The record's entries carry no number and the card's PLCs need not be
// numbered from 0 without gaps, so the lists hand out the present entries
// in number order.
bool Present(const ZimoPlcProgramStatus& e) { return e.size != 0; }
bool Present(const ZimoPlccProgramStatus& e) { return e.present != 0; }

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
  void Fill(const ZimoPlcProgramStatus& e) const {
    *enabled = static_cast<int32_t>(e.running);
    Range(e);
  }
  void Fill(const ZimoPlccProgramStatus& e) const {
    *loaded = static_cast<int32_t>(e.present);
    *enabled = static_cast<int32_t>(e.enabled);
    Range(e);
  }
  template <typename Entry>
  void Range(const Entry& e) const {
    *start = static_cast<int32_t>(e.start);
    *last = static_cast<int32_t>(e.end);
    *size = static_cast<int32_t>(e.size);
  }
};

// Hands out the present entry after the `*next` ones handed out so far of
// `count`, and moves on; zeros when none is left.
template <typename Entry, size_t N>
void NextEntry(const Entry (&list)[N], uint32_t count, uint32_t* next, const PlcOut& out) {
  out.Zero();
  if (*next >= count) return;
  uint32_t skip = *next;
  for (const Entry& e : list) {
    if (!Present(e)) continue;
    if (skip-- > 0) continue;
    out.Fill(e);
    ++*next;
    *out.more = *next < count ? 1 : 0;
    return;
  }
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

// A first entry reads the card's status afresh; a next one walks the copy.
HRESULT ZimoDevice::GetFirstPlcc(int32_t device, int32_t* loaded, int32_t* enabled, int32_t* start,
                                 int32_t* last, int32_t* size, int32_t* more) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (loaded == nullptr || PlcOut{loaded, enabled, start, last, size, more}.Missing()) {
    return E_POINTER;
  }
  ZimoGetPlcStatus(static_cast<uint32_t>(device), &plc_status_[device]);
  plcc_next_[device] = 0;
  return GetNextPlcc(device, loaded, enabled, start, last, size, more);
}

HRESULT ZimoDevice::GetNextPlcc(int32_t device, int32_t* loaded, int32_t* enabled, int32_t* start,
                                int32_t* last, int32_t* size, int32_t* more) {
  if (BadDevice(device)) return E_INVALIDARG;
  const PlcOut out{loaded, enabled, start, last, size, more};
  if (loaded == nullptr || out.Missing()) return E_POINTER;
  const ZimoPlcStatus& s = plc_status_[device];
  NextEntry(s.plcc, s.plcc_count, &plcc_next_[device], out);
  return S_OK;
}

HRESULT ZimoDevice::GetFirstPlc(int32_t device, int32_t* enabled, int32_t* start, int32_t* last,
                                int32_t* size, int32_t* more) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (PlcOut{nullptr, enabled, start, last, size, more}.Missing()) return E_POINTER;
  ZimoGetPlcStatus(static_cast<uint32_t>(device), &plc_status_[device]);
  plc_next_[device] = 0;
  return GetNextPlc(device, enabled, start, last, size, more);
}

HRESULT ZimoDevice::GetNextPlc(int32_t device, int32_t* enabled, int32_t* start, int32_t* last,
                               int32_t* size, int32_t* more) {
  if (BadDevice(device)) return E_INVALIDARG;
  const PlcOut out{nullptr, enabled, start, last, size, more};
  if (out.Missing()) return E_POINTER;
  const ZimoPlcStatus& s = plc_status_[device];
  NextEntry(s.plc, s.plc_count, &plc_next_[device], out);
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
