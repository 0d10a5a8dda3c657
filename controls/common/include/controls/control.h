// The base of the in-process controls: what a container sees of a control
// besides its own dispatch interface.
//
//  * the client site: ambient properties (UserMode, DisplayName, BackColor,
//    UIDead) read from the container, bound-property notifications and the
//    modified flag sent to it, and the user-mode change coming back;
//  * events on one connection point, fired on the caller's thread;
//  * the stock Enabled property with a hook for its change, and AboutBox;
//  * the property exchange against a property bag (version, the stock
//    properties the control persists, then its own);
//  * a fixed extent that every resize request gets back unchanged;
//  * its property pages.
// No window-system code lives here; controls/common/ui draws and hosts.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "automation/connection_point.h"
#include "automation/dispatch.h"
#include "controls/property_bag.h"
#include "controls/property_page.h"
#include "platform/message.h"

namespace zimo::controls {

using automation::DispId;
using automation::HRESULT;
using automation::Variant;

// What a container asks for to learn that an object is a control (and may
// treat it as a Control).
inline constexpr automation::Guid kIidControl = automation::MakeGuid(
    0xB196B288, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07});

inline constexpr DispId kDispidEnabled = -514;
inline constexpr DispId kDispidAboutBox = -552;
inline constexpr DispId kDispidAmbientBackColor = -701;
inline constexpr DispId kDispidAmbientDisplayName = -702;
inline constexpr DispId kDispidAmbientUserMode = -709;
inline constexpr DispId kDispidAmbientUIDead = -710;

class Control;

// The container's side of one placed control.
class ControlSite {
 public:
  virtual ~ControlSite() = default;
  virtual bool UserMode() const = 0;
  virtual std::string DisplayName() const = 0;
  virtual uint32_t BackColor() const = 0;  // 0x00BBGGRR
  virtual bool UIDead() const = 0;
  // A bound property changed (its DISPID).
  virtual void OnChanged(DispId id) = 0;
  // The control's modified flag was set or cleared.
  virtual void OnModified(bool modified) = 0;
  // The window the control's boxes and dialogs belong to; 0 for none.
  virtual uintptr_t ParentWindow() const { return 0; }
  // Window timers of the control's window: the container calls the
  // control's OnTimer(id) every `interval_ms` until KillTimer. False when
  // the container has no timers.
  virtual bool SetTimer(Control* control, int id, int interval_ms) { return false; }
  virtual void KillTimer(Control* control, int id) {}
  // The control asks to be drawn again.
  virtual void InvalidateControl(Control* control) {}
};

// A size in HIMETRIC units (0.01 mm).
struct Extent {
  int32_t cx = 0;
  int32_t cy = 0;
  friend bool operator==(const Extent&, const Extent&) = default;
};
// Pixels at the usual 96 per inch to HIMETRIC.
inline constexpr int32_t PixelsToHimetric(int32_t pixels) { return (pixels * 2540 + 48) / 96; }

class Control : public automation::Dispatch {
 public:
  // `events` describes the control's event interface (its connection
  // point); `layout_version` is what the exchange stores as the version.
  Control(const automation::InterfaceInfo& events, uint32_t layout_version);
  ~Control() override;

  // Sites the control (nullptr removes it). Without a site the ambient
  // properties have their defaults: user mode, no name, white, UI alive.
  void SetClientSite(ControlSite* site);
  ControlSite* client_site() const { return site_; }

  bool AmbientUserMode() const;
  std::string AmbientDisplayName() const;
  uint32_t AmbientBackColor() const;
  bool AmbientUIDead() const;
  // The container tells the control an ambient property changed.
  void OnAmbientPropertyChange(DispId id);

  bool IsModified() const { return modified_; }
  void SetModifiedFlag(bool modified = true);
  void BoundPropertyChanged(DispId id);

  // Calls the event on every advised sink; returns how many answered.
  int FireEvent(DispId id, std::span<Variant> args);

  // The stock Enabled state (what the container sees).
  bool GetStockEnabled() const { return stock_enabled_; }
  void SetStockEnabled(bool enabled);

  // The persisted state: a new control, or load from / save into a bag.
  HRESULT InitNew();
  HRESULT Load(PropertyBag& bag);
  HRESULT Save(PropertyBag& bag);

  Extent GetExtent() const { return extent_; }
  // Every resize is answered with the stored size.
  Extent SetExtent(const Extent& requested);

  // Class ids of the property pages, in the order the container lists them.
  virtual std::vector<automation::Guid> PropertyPages() const { return {}; }
  // The about box (AboutBox, DISPID -552).
  virtual void AboutBox() {}
  // Drawing: the icon shown at design time (a resource name of the view).
  virtual std::string IconName() const { return {}; }

  const automation::InterfaceInfo& events() const { return events_; }

  // Window timers, through the site (false without one).
  bool SetTimer(int id, int interval_ms);
  void KillTimer(int id);
  // A timer's tick.
  virtual void OnTimer(int id) {}
  // Asks the container to draw the control again (nothing without a site).
  void Refresh();

  // The dispatch interface and kIidControl.
  std::vector<automation::Guid> Interfaces() const override;

  // The frame of the control's pages, bound to `self` (this control).
  virtual std::unique_ptr<PropertyFrame> CreatePropertyFrame(
      std::shared_ptr<automation::Dispatch> self) {
    return nullptr;
  }

  // Boxes the control shows go to `service` (null: the console). Virtual so
  // that it reaches the control library's own message service when the
  // control lives in a library of its own.
  virtual void UseMessageService(platform::MessageService* service);

 protected:
  // The control's persisted properties; derived classes start with
  // ExchangeVersion and ExchangeStockProps.
  virtual void DoPropExchange(PropExchange& px);
  void ExchangeVersion(PropExchange& px);
  // The stock properties this control persists; the base keeps Enabled
  // under "Enabled" when persist_stock_enabled_ is set.
  void ExchangeStockProps(PropExchange& px);
  // Hooks.
  virtual void OnEnabledChanged() {}
  virtual void OnAmbientUserModeChanged() {}

  bool persist_stock_enabled_ = false;

  automation::ConnectionPoint* FindConnectionPoint(const automation::Guid& iid) override;

 private:
  const automation::InterfaceInfo& events_;
  automation::ConnectionPoint connection_point_;
  ControlSite* site_ = nullptr;
  bool modified_ = false;
  bool stock_enabled_ = true;
  uint32_t layout_version_;
  uint32_t loaded_version_ = 0;
  Extent extent_{PixelsToHimetric(32), PixelsToHimetric(32)};
};

}  // namespace zimo::controls
