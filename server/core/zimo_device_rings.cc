// The device object's diagnosis and ring rows: why a motor or coordinate
// system does not move, the ring stations' I-variables, their saved
// configuration and the analysis of the ring's nodes.
#include <cstring>
#include <string>

#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/tuning_api.h"

namespace zimo::server {
namespace {

using automation::E_FAIL;
using automation::SafeArray;
using device_detail::Dev;

// Nodes of the analysis table, and where its three tables start.
constexpr uint32_t kNodes = 64;
constexpr size_t kNodesAnswered = 0;
constexpr size_t kStations = 1;
constexpr size_t kPresentAt = 2;
constexpr size_t kIoNodeAt = kPresentAt + kNodes;
constexpr size_t kStationTypeAt = kIoNodeAt + kNodes;
static_assert(kStationTypeAt + kNodes == VARLO_NODE_TABLE_WORDS);

Bstr TextOf(const char* text) { return Bstr::FromAnsi(text != nullptr ? text : ""); }

}  // namespace

HRESULT ZimoDevice::GetWhyMotorNotMovingStr(int32_t mask, Bstr* text) {
  if (text == nullptr) return E_POINTER;
  *text = TextOf(whyMotorNotMovingString(static_cast<uint32_t>(mask)));
  return S_OK;
}

HRESULT ZimoDevice::GetWhyCSNotMovingStr(int32_t mask, Bstr* text) {
  if (text == nullptr) return E_POINTER;
  *text = TextOf(whyCSNotMovingString(static_cast<uint32_t>(mask)));
  return S_OK;
}

// The save's progress reaches this object as Progress events.
HRESULT ZimoDevice::UploadVarloConfig(int32_t device, const Bstr& path, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file) || success == nullptr) return E_POINTER;
  device_detail::RoutedReports route(ReportsFor(device));
  *success = VARLOUploadConfig(Dev(device), &device_detail::ReportProgressOnly, file.c_str());
  return S_OK;
}

HRESULT ZimoDevice::GetVarloIVariableLong(int32_t device, int32_t node, int32_t number, int32_t def,
                                          int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  *value = VARLOGetIVariableLong(Dev(device), static_cast<uint32_t>(node),
                                 static_cast<uint32_t>(number), def);
  return S_OK;
}

HRESULT ZimoDevice::SetVarloIVariableString(int32_t device, int32_t node, int32_t number,
                                            const Bstr& value, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string text;
  if (!InputText(value, &text) || success == nullptr) return E_POINTER;
  *success = VARLOSetIVariableString(Dev(device), static_cast<uint32_t>(node),
                                     static_cast<uint32_t>(number), text.c_str());
  return S_OK;
}

// No default text is an empty one.
HRESULT ZimoDevice::GetVarloIVariableString(int32_t device, int32_t node, int32_t number,
                                            const Bstr& def, Bstr* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  const std::string fallback = def.ToAnsi();
  *value = TextOf(VARLOGetIVariableString(Dev(device), static_cast<uint32_t>(node),
                                          static_cast<uint32_t>(number), fallback.c_str()));
  return S_OK;
}

HRESULT ZimoDevice::GetVarloNodes(int32_t device, int32_t* stations, int32_t* active) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (stations == nullptr || active == nullptr) return E_POINTER;
  int32_t* table = ring_table_[device];
  ::AerivoAnalyze(Dev(device), table);
  ring_analysed_[device] = true;
  *stations = table[kStations];
  *active = table[kNodesAnswered];
  return S_OK;
}

HRESULT ZimoDevice::GetVarloNodeInfo(int32_t device, int32_t node, int32_t* enabled,
                                     int32_t* io_node, int32_t* id) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (enabled == nullptr || io_node == nullptr || id == nullptr) return E_POINTER;
  // Compared without sign: a negative node is as far outside as 64.
  const auto n = static_cast<uint32_t>(node);
  if (n >= kNodes) return E_FAIL;
  int32_t* table = ring_table_[device];
  if (!ring_analysed_[device]) {
    ::AerivoAnalyze(Dev(device), table);
    ring_analysed_[device] = true;
  }
  *enabled = table[kPresentAt + n];
  *io_node = table[kIoNodeAt + n];
  *id = table[kStationTypeAt + n];
  return S_OK;
}

HRESULT ZimoDevice::AerivoAnalyze(int32_t device, Variant* table, int32_t* active) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (table == nullptr || active == nullptr) return E_POINTER;
  int32_t local[VARLO_NODE_TABLE_WORDS] = {};
  *active = ::AerivoAnalyze(Dev(device), local);
  SafeArray bytes = SafeArray::Vector(automation::VT_UI1, sizeof local);
  std::memcpy(bytes.bytes().data(), local, sizeof local);
  *table = Variant(std::move(bytes));
  return S_OK;
}

}  // namespace zimo::server
