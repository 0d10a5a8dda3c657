#include "controls/control.h"

namespace zimo::controls {

Control::Control(const automation::InterfaceInfo& events, uint32_t layout_version)
    : events_(events), connection_point_(events.iid), layout_version_(layout_version) {}

Control::~Control() { connection_point_.Clear(); }

void Control::SetClientSite(ControlSite* site) { site_ = site; }

bool Control::AmbientUserMode() const { return site_ != nullptr ? site_->UserMode() : true; }
std::string Control::AmbientDisplayName() const {
  return site_ != nullptr ? site_->DisplayName() : std::string();
}
uint32_t Control::AmbientBackColor() const {
  return site_ != nullptr ? site_->BackColor() : 0x00FFFFFF;
}
bool Control::AmbientUIDead() const { return site_ != nullptr && site_->UIDead(); }

void Control::OnAmbientPropertyChange(DispId id) {
  if (id == kDispidAmbientUserMode) OnAmbientUserModeChanged();
}

void Control::SetModifiedFlag(bool modified) {
  modified_ = modified;
  if (site_ != nullptr) site_->OnModified(modified);
}

void Control::BoundPropertyChanged(DispId id) {
  if (site_ != nullptr) site_->OnChanged(id);
}

int Control::FireEvent(DispId id, std::span<Variant> args) {
  return connection_point_.Fire(id, args);
}

void Control::SetStockEnabled(bool enabled) {
  if (stock_enabled_ == enabled) return;
  stock_enabled_ = enabled;
  OnEnabledChanged();
}

HRESULT Control::InitNew() {
  PropExchange px(nullptr, true);
  DoPropExchange(px);
  return automation::S_OK;
}

HRESULT Control::Load(PropertyBag& bag) {
  PropExchange px(&bag, true);
  DoPropExchange(px);
  return automation::S_OK;
}

HRESULT Control::Save(PropertyBag& bag) {
  PropExchange px(&bag, false);
  DoPropExchange(px);
  SetModifiedFlag(false);
  return automation::S_OK;
}

std::vector<automation::Guid> Control::Interfaces() const {
  std::vector<automation::Guid> ids;
  if (const automation::InterfaceInfo* info = TypeInfo()) ids.push_back(info->iid);
  ids.push_back(kIidControl);
  return ids;
}

void Control::UseMessageService(platform::MessageService* service) {
  platform::SetMessageService(service);
}

bool Control::SetTimer(int id, int interval_ms) {
  return site_ != nullptr && site_->SetTimer(this, id, interval_ms);
}

void Control::KillTimer(int id) {
  if (site_ != nullptr) site_->KillTimer(this, id);
}

void Control::Refresh() {
  if (site_ != nullptr) site_->InvalidateControl(this);
}

Extent Control::SetExtent(const Extent&) { return extent_; }

void Control::DoPropExchange(PropExchange& px) {
  ExchangeVersion(px);
  ExchangeStockProps(px);
}

void Control::ExchangeVersion(PropExchange& px) { px.Version(&loaded_version_, layout_version_); }

void Control::ExchangeStockProps(PropExchange& px) {
  if (!persist_stock_enabled_) return;
  int32_t enabled = stock_enabled_ ? 1 : 0;
  px.Bool("Enabled", &enabled, 1);
  if (px.loading()) SetStockEnabled(enabled != 0);
}

automation::ConnectionPoint* Control::FindConnectionPoint(const automation::Guid& iid) {
  return iid == events_.iid ? &connection_point_ : nullptr;
}

}  // namespace zimo::controls
