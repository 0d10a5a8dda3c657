// The service object: what a library process creates to start ZimoServer
// and keep it running. Its scan methods do nothing; its event interface has
// no events. Like every object of the server it holds the server while it
// exists.
#pragma once

#include "automation/connection_point.h"
#include "automation/dispatch_rows.h"
#include "automation/server_lifetime.h"
#include "core/rgb_image.h"

namespace zimo::server {

using automation::HRESULT;

extern const automation::InterfaceInfo& kIZimoService;
extern const automation::InterfaceInfo k_IZimoServiceEvents;

class ZimoService : public automation::DispatchImpl<ZimoService> {
 public:
  // `lifetime` may be null (an object outside a server process).
  explicit ZimoService(automation::ServerLifetime* lifetime);

  HRESULT StartScan();
  HRESULT StopScan();
  // Scanning is not tracked at all; both getters report 0.
  HRESULT get_IsScanning(int32_t* value);
  HRESULT put_IsScanning(int32_t value);
  HRESULT get_ScanInterval(int32_t* value);
  HRESULT put_ScanInterval(int32_t value);
  // Does not modify *device.
  HRESULT Select(int32_t* device);

  // How a container draws the object.
  HRESULT OnDraw(RgbImage& image, const Rect& bounds);

  static const automation::DispatchTable<ZimoService>& Table();

 protected:
  automation::ConnectionPoint* FindConnectionPoint(const automation::Guid& iid) override;

 private:
  automation::ModuleLock lock_;
  automation::ConnectionPoint events_;
};

}  // namespace zimo::server
