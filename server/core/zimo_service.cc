#include "core/zimo_service.h"

#include "core/control_drawing.h"
#include "core/server_ids.h"

namespace zimo::server {
namespace {

using automation::kMethod;
using automation::kPropertyGet;
using automation::kPropertyPut;
using automation::ParamDir;
using automation::ParamInfo;
using automation::VT_I4;

constexpr ParamInfo kGetValue[] = {{"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kPutValue[] = {{"value", VT_I4}};
constexpr ParamInfo kSelect[] = {{"pdwDevice", VT_I4, ParamDir::kOut}};

using Rows = automation::DispatchRows<ZimoService>;

// In slot order.
const Rows& ServiceRows() {
  static const Rows rows(
      "IZimoService", kIidIZimoService,
      {Rows::Row<&ZimoService::StartScan>(1, "StartScan", kMethod, {}),
       Rows::Row<&ZimoService::StopScan>(2, "StopScan", kMethod, {}),
       Rows::Row<&ZimoService::get_IsScanning>(3, "IsScanning", kPropertyGet, kGetValue),
       Rows::Row<&ZimoService::put_IsScanning>(3, "IsScanning", kPropertyPut, kPutValue),
       Rows::Row<&ZimoService::get_ScanInterval>(4, "ScanInterval", kPropertyGet, kGetValue),
       Rows::Row<&ZimoService::put_ScanInterval>(4, "ScanInterval", kPropertyPut, kPutValue),
       Rows::Row<&ZimoService::Select>(5, "Select", kMethod, kSelect)});
  return rows;
}

}  // namespace

const automation::InterfaceInfo& kIZimoService = ServiceRows().info();
const automation::InterfaceInfo k_IZimoServiceEvents{
    "_IZimoServiceEvents", kIid_IZimoServiceEvents, {}};

ZimoService::ZimoService(automation::ServerLifetime* lifetime)
    : lock_(lifetime), events_(kIid_IZimoServiceEvents) {}

HRESULT ZimoService::StartScan() { return automation::S_OK; }
HRESULT ZimoService::StopScan() { return automation::S_OK; }

// No argument is checked, but a missing out pointer is not written through.
HRESULT ZimoService::get_IsScanning(int32_t* value) {
  if (value != nullptr) *value = 0;
  return automation::S_OK;
}
HRESULT ZimoService::put_IsScanning(int32_t) { return automation::S_OK; }
HRESULT ZimoService::get_ScanInterval(int32_t* value) {
  if (value != nullptr) *value = 0;
  return automation::S_OK;
}
HRESULT ZimoService::put_ScanInterval(int32_t) { return automation::S_OK; }
HRESULT ZimoService::Select(int32_t*) { return automation::S_OK; }

HRESULT ZimoService::OnDraw(RgbImage& image, const Rect& bounds) {
  DrawControl(image, bounds, "ZimoService");
  return automation::S_OK;
}

automation::ConnectionPoint* ZimoService::FindConnectionPoint(const automation::Guid& iid) {
  return iid == kIid_IZimoServiceEvents ? &events_ : nullptr;
}

const automation::DispatchTable<ZimoService>& ZimoService::Table() { return ServiceRows().table(); }

}  // namespace zimo::server
