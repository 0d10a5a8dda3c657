#include "vocto_ctrl.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pages.h"
#include "vocto/vocto_guids.h"

namespace zimo::vocto {

using automation::Variant;
namespace {

using T = CVoctoCtrl;
using automation::kPropertyGet;
using automation::kPropertyPut;

constexpr int kTimerId = 1;

// The card's record, bounded copy of a text into a fixed field.
void CopyName(char* field, size_t size, const std::string& text) {
  std::snprintf(field, size, "%s", text.c_str());
}

// The last error's text, or "" when the code has none.
std::string ErrorString(tagMCardInfo* record) {
  char text[201] = {};
  if (PGetLastErrorString(record, text, 200) == 0) return {};
  text[200] = '\0';
  return text;
}

}  // namespace

ControlServices& Services() {
  static ControlServices services;
  return services;
}

ReplyCalls& Replies() {
  static ReplyCalls calls;
  return calls;
}

std::string ViewerCommand() {
  const char* env = std::getenv("ZIMO_LOG_VIEWER");
  return env != nullptr && *env != '\0' ? std::string(env) : std::string("xdg-open %s");
}

int32_t ParseDprAddress(const std::string& text) {
  long value = 0;
  size_t dollar = text.find('$');
  if (dollar != std::string::npos) {
    value = std::strtol(text.c_str() + dollar + 1, nullptr, 16);
  } else {
    value = std::strtol(text.c_str(), nullptr, 0);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

const automation::DispatchTable<T>& T::Table() {
  using Table = automation::DispatchTable<T>;
  static const Table table(kDVocto, {Table::Bind<&T::get_CommMethod>(1, kPropertyGet),
                                     Table::Bind<&T::put_CommMethod>(1, kPropertyPut),
                                     Table::Bind<&T::get_Interval>(2, kPropertyGet),
                                     Table::Bind<&T::put_Interval>(2, kPropertyPut),
                                     Table::Bind<&T::get_Timeout>(3, kPropertyGet),
                                     Table::Bind<&T::put_Timeout>(3, kPropertyPut),
                                     Table::Bind<&T::get_LastError>(4, kPropertyGet),
                                     Table::Bind<&T::put_LastError>(4, kPropertyPut),
                                     Table::Bind<&T::get_LastErrorString>(5, kPropertyGet),
                                     Table::Bind<&T::put_LastErrorString>(5, kPropertyPut),
                                     Table::Bind<&T::get_BusBase>(6, kPropertyGet),
                                     Table::Bind<&T::put_BusBase>(6, kPropertyPut),
                                     Table::Bind<&T::get_SerialPortNum>(7, kPropertyGet),
                                     Table::Bind<&T::put_SerialPortNum>(7, kPropertyPut),
                                     Table::Bind<&T::get_ZIMOType>(8, kPropertyGet),
                                     Table::Bind<&T::put_ZIMOType>(8, kPropertyPut),
                                     Table::Bind<&T::get_BusType>(9, kPropertyGet),
                                     Table::Bind<&T::put_BusType>(9, kPropertyPut),
                                     Table::Bind<&T::get_SerialBaudrate>(10, kPropertyGet),
                                     Table::Bind<&T::put_SerialBaudrate>(10, kPropertyPut),
                                     Table::Bind<&T::get_DPRBaseAddress>(11, kPropertyGet),
                                     Table::Bind<&T::put_DPRBaseAddress>(11, kPropertyPut),
                                     Table::Bind<&T::GetControlResponse>(12),
                                     Table::Bind<&T::Flush>(13),
                                     Table::Bind<&T::GetLineCR>(14),
                                     Table::Bind<&T::GetLineACK>(15),
                                     Table::Bind<&T::Restart>(16),
                                     Table::Bind<&T::ShowPropertyPage>(17),
                                     Table::Bind<&T::GetResponse>(18),
                                     Table::Bind<&T::SendLine>(19),
                                     Table::Bind<&T::SaveSettings>(20),
                                     Table::Bind<&T::LoadSettings>(21),
                                     Table::Bind<&T::SendChar>(22),
                                     Table::Bind<&T::DownloadFile>(23),
                                     Table::Bind<&T::UploadData>(24),
                                     Table::Bind<&T::IsLineWaiting>(25),
                                     Table::Bind<&T::DPRGetWord>(26),
                                     Table::Bind<&T::DPRSetWord>(27),
                                     Table::Bind<&T::DPRGetDWord>(28),
                                     Table::Bind<&T::DPRSetDWord>(29),
                                     Table::Bind<&T::DPRGetFloat>(30),
                                     Table::Bind<&T::DPRSetFloat>(31),
                                     Table::Bind<&T::DPRDWordSetBit>(32),
                                     Table::Bind<&T::DPRDWordResetBit>(33),
                                     Table::Bind<&T::DPRDWordBitSet>(34),
                                     Table::Bind<&T::DPRFixed>(35),
                                     Table::Bind<&T::DPRDouble>(36),
                                     Table::Bind<&T::get_Enabled>(-514, kPropertyGet),
                                     Table::Bind<&T::put_Enabled>(-514, kPropertyPut),
                                     Table::Bind<&T::AboutBoxMethod>(-552)});
  return table;
}

CVoctoCtrl::CVoctoCtrl() : controls::Control(kDVoctoEvents, 0x00010000) {
  persist_stock_enabled_ = true;
  jux_.user = this;
  jux_.refresh = [](JuxControl* self) { static_cast<CVoctoCtrl*>(self->user)->Refresh(); };
  jux_.ambient_ui_dead = [](JuxControl* self) {
    return static_cast<CVoctoCtrl*>(self->user)->AmbientUIDead() ? 1 : 0;
  };
}

CVoctoCtrl::~CVoctoCtrl() {
  StopTimer();
  Close();
  // The shared table must not keep a control that is gone.
  remove_from_command_table(&jux_);
  remove_myself_from_the_active_Vocto_list(&jux_);
}

HRESULT CVoctoCtrl::Invoke(automation::DispId id, uint16_t flags,
                           std::span<automation::Variant> args, automation::Variant* result,
                           automation::ExcepInfo* excep) {
  return Table().Invoke(*this, id, flags, args, result, excep);
}

std::unique_ptr<controls::PropertyFrame> CVoctoCtrl::CreatePropertyFrame(
    std::shared_ptr<automation::Dispatch> self) {
  return MakePropertyFrame(std::move(self));
}

std::vector<automation::Guid> CVoctoCtrl::PropertyPages() const {
  return {kGeneralPageClsid, kBusPageClsid, kDprPageClsid, kSerialPageClsid, kAboutPageClsid};
}

void CVoctoCtrl::AboutBox() {
  if (Services().about_box) Services().about_box(*this);
}

// --- the record -------------------------------------------------------------

std::string CVoctoCtrl::SettingsName() const {
  std::string name = AmbientDisplayName();
  return name.empty() ? std::string("VOCTO") : name;
}

tagMCardInfo CVoctoCtrl::BuildImage(bool with_interval) const {
  tagMCardInfo image;
  std::memset(&image, 0, sizeof image);
  CopyName(image.name, sizeof image.name, SettingsName());
  image.method = comm_method_;
  image.retries = 3;
  image.simulated = comm_method_ == 3 ? 1 : 0;
  image.timeout = timeout_;
  image.bus_base = bus_base_;
  image.dpr_base = ParseDprAddress(dpr_base_address_);
  image.com_port = serial_port_num_;
  image.baud_rate = serial_baudrate_;
  image.bus_type = bus_type_;
  if (with_interval) image.poll_interval = interval_;
  return image;
}

void CVoctoCtrl::ApplyImage(const tagMCardInfo& image) {
  comm_method_ = image.method;
  timeout_ = image.timeout;
  bus_base_ = image.bus_base;
  serial_baudrate_ = image.baud_rate;
  serial_port_num_ = image.com_port;
  char text[24];
  std::snprintf(text, sizeof text, "$%lx",
                static_cast<unsigned long>(static_cast<uint32_t>(image.dpr_base)));
  dpr_base_address_ = text;
  interval_ = static_cast<int16_t>(image.poll_interval);
  bus_type_ = image.bus_type;
  for (automation::DispId id : {1, 3, 6, 10, 7, 11, 2, 8, 9}) BoundPropertyChanged(id);
}

bool CVoctoCtrl::IsOpen() const {
  // A simulated record has no channel to connect and counts as open.
  return record_ != nullptr && (record_->connected != 0 || record_->simulated != 0);
}

bool CVoctoCtrl::Open(tagMCardInfo image) {
  record_ = JUXInit(&image);
  jux_.record = record_;
  if (IsOpen()) return true;
  const int32_t code = static_cast<int32_t>(PGetLastGlobalError());
  std::string text = ErrorString(record_);
  if (text.empty()) text = "Unknown Error";
  put_Enabled(false);
  Close();
  FireOnError(code, text);
  return false;
}

void CVoctoCtrl::Close() {
  if (record_ != nullptr) JUXShutDown(&record_);
  record_ = nullptr;
  jux_.record = nullptr;
}

void CVoctoCtrl::StartTimer() { timer_running_ = SetTimer(kTimerId, interval_); }

void CVoctoCtrl::StopTimer() {
  if (timer_running_) KillTimer(kTimerId);
  timer_running_ = false;
}

void CVoctoCtrl::OnTimer(int id) {
  if (id != kTimerId) return;
  send_flag_ = update_commands_in_table(record_, send_flag_);
}

void CVoctoCtrl::OnAmbientUserModeChanged() {
  if (GetStockEnabled()) {
    if (AmbientUserMode()) {
      StartTimer();
    } else {
      StopTimer();
    }
  }
  Refresh();
}

void CVoctoCtrl::OnEnabledChanged() {
  if (in_exchange_) return;  // the exchange opens or closes when it is done
  add_myself_to_the_active_Vocto_list(&jux_);
  if (!AmbientUserMode() || !GetStockEnabled()) {
    StopTimer();
    Close();
    return;
  }
  StartTimer();
  if (record_ == nullptr) Open(BuildImage(false));
}

// --- errors -----------------------------------------------------------------

void CVoctoCtrl::FireOnError(int32_t code, const std::string& text) {
  Variant text_value(Bstr::FromAnsi(text));
  Variant args[] = {Variant(code), Variant::ByRef(&text_value, automation::VT_BSTR)};
  FireEvent(kDispidOnError, args);
}

void CVoctoCtrl::RaiseError(int32_t code, const char* fallback) {
  PSetLastError(record_, code);
  std::string text = ErrorString(record_);
  FireOnError(code, text.empty() ? std::string(fallback) : text);
}

// --- properties -------------------------------------------------------------

HRESULT CVoctoCtrl::get_Enabled(bool* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = GetStockEnabled();
  return automation::S_OK;
}

HRESULT CVoctoCtrl::put_Enabled(bool v) {
  if (v == GetStockEnabled()) return automation::S_OK;
  SetStockEnabled(v);
  SetModifiedFlag();
  BoundPropertyChanged(controls::kDispidEnabled);
  return automation::S_OK;
}

void CVoctoCtrl::DisableForChange() {
  if (GetStockEnabled()) put_Enabled(false);
}

void CVoctoCtrl::PutLong(int32_t* member, int32_t v, automation::DispId id) {
  DisableForChange();
  *member = v;
  SetModifiedFlag();
  BoundPropertyChanged(id);
}

#define LONG_PROPERTY(Name, member, id)             \
  HRESULT CVoctoCtrl::get_##Name(int32_t* v) {      \
    if (v == nullptr) return automation::E_POINTER; \
    *v = member;                                    \
    return automation::S_OK;                        \
  }                                                 \
  HRESULT CVoctoCtrl::put_##Name(int32_t v) {       \
    PutLong(&member, v, id);                        \
    return automation::S_OK;                        \
  }

LONG_PROPERTY(CommMethod, comm_method_, 1)
LONG_PROPERTY(BusBase, bus_base_, 6)
LONG_PROPERTY(SerialPortNum, serial_port_num_, 7)
LONG_PROPERTY(ZIMOType, zimo_type_, 8)
LONG_PROPERTY(BusType, bus_type_, 9)
LONG_PROPERTY(SerialBaudrate, serial_baudrate_, 10)
#undef LONG_PROPERTY

HRESULT CVoctoCtrl::get_Timeout(int32_t* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = timeout_;
  return automation::S_OK;
}

HRESULT CVoctoCtrl::put_Timeout(int32_t v) {
  DisableForChange();
  timeout_ = v;
  if (record_ != nullptr) PSetTimeout(record_, v);
  SetModifiedFlag();
  BoundPropertyChanged(3);
  return automation::S_OK;
}

HRESULT CVoctoCtrl::get_Interval(int16_t* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = interval_;
  return automation::S_OK;
}

HRESULT CVoctoCtrl::put_Interval(int16_t v) {
  interval_ = v;
  if (GetStockEnabled() && AmbientUserMode() && timer_running_) {
    StopTimer();
    StartTimer();
  }
  SetModifiedFlag();
  BoundPropertyChanged(2);
  return automation::S_OK;
}

HRESULT CVoctoCtrl::get_DPRBaseAddress(Bstr* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = Bstr::FromAnsi(dpr_base_address_);
  return automation::S_OK;
}

HRESULT CVoctoCtrl::put_DPRBaseAddress(const Bstr& v) {
  DisableForChange();
  dpr_base_address_ = v.ToAnsi();
  SetModifiedFlag();
  BoundPropertyChanged(11);
  return automation::S_OK;
}

HRESULT CVoctoCtrl::get_LastError(int32_t* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = static_cast<int32_t>(PGetLastError(record_));
  return automation::S_OK;
}

HRESULT CVoctoCtrl::put_LastError(int32_t v) {
  PSetLastError(record_, v);
  SetModifiedFlag();
  return automation::S_OK;
}

HRESULT CVoctoCtrl::get_LastErrorString(Bstr* v) {
  if (v == nullptr) return automation::E_POINTER;
  std::string text = ErrorString(record_);
  *v = Bstr::FromAnsi(text.empty() ? std::string("Unknown Error") : text);
  return automation::S_OK;
}

HRESULT CVoctoCtrl::put_LastErrorString(const Bstr&) {
  SetModifiedFlag();
  return automation::S_OK;
}

// --- the exchange methods ---------------------------------------------------

bool CVoctoCtrl::ReplyMethod(Bstr* response, size_t capacity,
                             const std::function<int(char*, unsigned)>& call) {
  if (!GetStockEnabled()) return true;
  std::string buffer(capacity, '\0');
  // The reader's size counts characters; its terminator takes the last byte.
  int result = call(buffer.data(), static_cast<unsigned>(capacity - 1));
  buffer[capacity - 1] = '\0';
  std::string reply(buffer.c_str());
  if (response != nullptr) *response = Bstr::FromAnsi(reply);
  if (result != 0) return true;
  std::string text = ErrorString(record_);
  if (text.empty()) text = reply.empty() ? std::string("Unknown Error") : reply.substr(0, 20);
  FireOnError(static_cast<int32_t>(PGetLastError(record_)), text);
  return false;
}

bool CVoctoCtrl::SendMethod(int result) {
  if (result != 0) return true;
  std::string text = ErrorString(record_);
  FireOnError(static_cast<int32_t>(PGetLastError(record_)),
              text.empty() ? std::string("Unknown Error") : text);
  return false;
}

bool CVoctoCtrl::GetControlResponse(Bstr* response, int32_t ctl_char) {
  return ReplyMethod(response, 256, [&](char* b, unsigned n) {
    return Replies().get_control_response(record_, b, n, static_cast<char>(ctl_char));
  });
}

bool CVoctoCtrl::GetLineCR(Bstr* response) {
  return ReplyMethod(response, 256,
                     [&](char* b, unsigned n) { return Replies().get_line_cr(record_, b, n); });
}

bool CVoctoCtrl::GetLineACK(Bstr* response) {
  return ReplyMethod(response, 8192,
                     [&](char* b, unsigned n) { return Replies().get_line(record_, b, n); });
}

bool CVoctoCtrl::GetResponse(Bstr* response, const Bstr& command) {
  const std::string text = command.ToAnsi();
  return ReplyMethod(response, 256, [&](char* b, unsigned n) {
    return Replies().get_response(record_, b, n, text.c_str());
  });
}

bool CVoctoCtrl::SendLine(const Bstr& command) {
  if (!GetStockEnabled()) return true;
  return SendMethod(PSendLine(record_, command.ToAnsi().c_str()));
}

bool CVoctoCtrl::SendChar(int32_t a_char) {
  if (!GetStockEnabled()) return true;
  return SendMethod(PSendChar(record_, static_cast<char>(a_char)));
}

bool CVoctoCtrl::Flush() {
  if (GetStockEnabled()) PFlush(record_);
  return true;
}

bool CVoctoCtrl::IsLineWaiting() { return GetStockEnabled() && PIsLineWaiting(record_) != 0; }

bool CVoctoCtrl::Restart() {
  if (!GetStockEnabled()) return true;
  StopTimer();
  Close();
  if (!Open(BuildImage(true))) return false;
  StartTimer();
  return true;
}

bool CVoctoCtrl::ShowPropertyPage() {
  if (Services().property_frame) Services().property_frame(*this);
  return true;
}

// --- DPR --------------------------------------------------------------------

bool CVoctoCtrl::DprCheck() {
  if (record_ != nullptr && record_->method == 1) return true;
  RaiseError(4003, "No DPR Communication Established");
  return false;
}

int16_t CVoctoCtrl::DPRGetWord(int32_t bank, int32_t offset) {
  if (!GetStockEnabled() || !DprCheck()) return 0;
  return static_cast<int16_t>(PDPRGetWord(record_, static_cast<char>(bank), offset));
}

bool CVoctoCtrl::DPRSetWord(int32_t bank, int32_t offset, int16_t value) {
  if (!GetStockEnabled() || !DprCheck()) return false;
  return PDPRSetWord(record_, static_cast<char>(bank), offset, static_cast<uint16_t>(value)) != 0;
}

int32_t CVoctoCtrl::DPRGetDWord(int16_t offset) {
  if (!GetStockEnabled() || !DprCheck()) return 0;
  return static_cast<int32_t>(PDPRGetDWord(record_, offset));
}

bool CVoctoCtrl::DPRSetDWord(int32_t offset, int32_t value) {
  if (!GetStockEnabled() || !DprCheck()) return false;
  return PDPRSetDWord(record_, offset, static_cast<uint32_t>(value)) != 0;
}

float CVoctoCtrl::DPRGetFloat(int32_t offset) {
  if (!GetStockEnabled() || !DprCheck()) return 0.0f;
  return PDPRGetFloat(record_, offset);
}

bool CVoctoCtrl::DPRSetFloat(int32_t offset, float value) {
  if (!GetStockEnabled() || !DprCheck()) return false;
  return PDPRSetFloat(record_, offset, value) != 0;
}

bool CVoctoCtrl::DPRDWordSetBit(int32_t offset, int32_t bit) {
  if (!GetStockEnabled() || !DprCheck()) return false;
  return PDPRDWordSetBit(record_, offset, bit) != 0;
}

bool CVoctoCtrl::DPRDWordResetBit(int32_t offset, int32_t bit) {
  if (!GetStockEnabled() || !DprCheck()) return false;
  return PDPRDWordResetBit(record_, offset, bit) != 0;
}

bool CVoctoCtrl::DPRDWordBitSet(int32_t offset, int32_t bit) {
  if (!GetStockEnabled() || !DprCheck()) return false;
  return PDPRDWordBitSet(record_, offset, bit) != 0;
}

double CVoctoCtrl::DPRFixed(int32_t d0, int32_t d1) { return PDPRFixed(d0, d1); }

double CVoctoCtrl::DPRDouble(int32_t d0, int32_t d1) { return PDPRDouble(d0, d1); }

// --- settings ---------------------------------------------------------------

bool CVoctoCtrl::SaveSettings() {
  if (!GetStockEnabled()) return true;
  tagMCardInfo image = BuildImage(true);
  return PStoreState(&image, SettingsName().c_str()) != 0;
}

bool CVoctoCtrl::LoadSettings() {
  put_Enabled(false);
  tagMCardInfo image;
  std::memset(&image, 0, sizeof image);
  if (PRestoreState(&image, SettingsName().c_str()) == 0) return false;
  ApplyImage(image);
  return true;
}

void CVoctoCtrl::DoPropExchange(controls::PropExchange& px) {
  in_exchange_ = true;
  ExchangeVersion(px);
  ExchangeStockProps(px);
  in_exchange_ = false;
  const int16_t old_interval = interval_;
  int32_t interval = interval_;
  px.Long("BusBase", &bus_base_, 528);
  px.Long("BusType", &bus_type_, 1);
  px.Long("CommMethod", &comm_method_, 3);
  px.Text("DPRBaseAddress", &dpr_base_address_, "$D4000");
  px.Long("ZIMOType", &zimo_type_, 1);
  px.Long("SerialBaudrate", &serial_baudrate_, 38400);
  px.Long("SerialPortNum", &serial_port_num_, 2);
  px.Long("Timeout", &timeout_, 1000);
  px.Long("Interval", &interval, 100);
  const std::string name = SettingsName();

  if (px.loading()) {
    interval_ = static_cast<int16_t>(interval);
    if (interval_ != old_interval) {
      if (timer_running_) {
        StopTimer();
        StartTimer();
      }
      BoundPropertyChanged(2);
    }
    const bool run_time = AmbientUserMode();
    if (!run_time || !GetStockEnabled()) {
      StopTimer();
      Close();
      tagMCardInfo image;
      std::memset(&image, 0, sizeof image);
      if (PRestoreState(&image, name.c_str()) != 0) ApplyImage(image);
    } else {
      StartTimer();
      if (record_ == nullptr) {
        tagMCardInfo image = BuildImage(false);
        if (PFirstTime(name.c_str()) == 0) {
          tagMCardInfo stored;
          std::memset(&stored, 0, sizeof stored);
          if (PRestoreState(&stored, name.c_str()) != 0) image = stored;
          ApplyImage(image);
          image.simulated = comm_method_ == 3 ? 1 : 0;
        }
        Open(image);
      }
    }
  } else {
    tagMCardInfo image = BuildImage(true);
    PStoreState(&image, name.c_str());
  }
  add_myself_to_the_active_Vocto_list(&jux_);
}

}  // namespace zimo::vocto
