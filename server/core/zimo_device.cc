#include "core/zimo_device.h"

#include "core/zimo_device_internal.h"

#include <cstring>
#include <string>

#include "core/card_registry.h"
#include "core/comm_library.h"
#include "core/device_clients.h"
#include "core/server_ids.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/device_level_api.h"
#include "corvan/download_api.h"
#include "corvan/firmware_api.h"
#include "corvan/identify_api.h"
#include "corvan/rings_api.h"
#include "corvan/status_query_api.h"
#include "corvan/variables_api.h"
#include "corvan/word_formats_api.h"
#include "download/download_state.h"
#include "download/pipeline.h"
#include "link/error_texts.h"
#include "link/library_app.h"
#include "link/serial_checksum.h"

namespace zimo::server {
namespace {

using automation::E_INVALIDARG;
using automation::E_POINTER;
using automation::kMethod;
using automation::MemberInfo;
using automation::ParamInfo;
using automation::S_FALSE;
using automation::S_OK;
using automation::SafeArray;
using automation::VT_BSTR;
using automation::VT_I4;
using automation::VT_R8;
using device_detail::kTextSize;
using device_detail::ReportMessage;
using device_detail::ReportProgress;
using device_detail::RoutedReports;

// Bits 28 to 30 of a result word: time-out, card error, failure (and an
// unfinished line); bit 31 alone is the end of a response.
constexpr uint32_t kErrorBits = 0x70000000;
// A line the library reads, and a variable's value text.
constexpr uint32_t kLineSize = 256;
constexpr uint32_t kVariableTextSize = 40;

constexpr ParamInfo kMessage[] = {{"Device", VT_I4}, {"Msg", VT_BSTR}, {"bNewLine", VT_I4}};
constexpr ParamInfo kProgress[] = {{"Device", VT_I4}, {"dwPercent", VT_I4}};
constexpr ParamInfo kError[] = {{"Device", VT_I4},
                                {"FileName", VT_BSTR},
                                {"ErrorID", VT_I4},
                                {"LineNum", VT_I4},
                                {"line", VT_BSTR}};
constexpr MemberInfo kEventMembers[] = {
    {kEventMessage, "Message", kMethod, kMessage},
    {kEventProgress, "Progress", kMethod, kProgress},
    {kEventError, "Error", kMethod, kError},
};

using DownloadStart = int32_t (*)(uint32_t device, const corvan::DownloadCallbacks& callbacks,
                                  const corvan::DownloadOptions& options, const char* source);

// A download of the client's file by `start`, its reports going to
// `reports`: S_FALSE when it does not run.
HRESULT StartDownload(DownloadStart start, int32_t device, const Bstr& path,
                      const corvan::DownloadOptions& options,
                      std::shared_ptr<LibraryReports> reports) {
  std::string file;
  if (!InputText(path, &file)) return E_POINTER;
  corvan::DownloadCallbacks callbacks;
  callbacks.sink = std::move(reports);
  return start(static_cast<uint32_t>(device), callbacks, options, file.c_str()) != 0 ? S_OK
                                                                                     : S_FALSE;
}

}  // namespace

namespace device_detail {

bool InputText(const Bstr& text, std::string* out) {
  if (text.empty()) return false;
  *out = text.ToAnsi();
  return true;
}

const char* OptionalText(const Bstr& text, std::string* out) {
  if (text.empty()) return nullptr;
  *out = text.ToAnsi();
  return out->c_str();
}

}  // namespace device_detail

const automation::InterfaceInfo& kIZimoDevice = ZimoDevice::Rows().info();
const automation::InterfaceInfo k_IZimoDeviceEvents{"_IZimoDeviceEvents", kIid_IZimoDeviceEvents,
                                                    kEventMembers};

ZimoDevice::ZimoDevice(automation::ServerLifetime* lifetime)
    : lock_(lifetime), events_(kIid_IZimoDeviceEvents) {}

ZimoDevice::~ZimoDevice() {
  // A client that went without UnlockDevice or Close (or died) leaves no
  // lock held and no card open on its account.
  for (int d = 0; d < 8; ++d) {
    int held = 0;
    {
      std::lock_guard lock(locks_mu_);
      held = held_locks_[d];
      held_locks_[d] = 0;
    }
    for (; held > 0; --held) ReleaseZimo(static_cast<uint32_t>(d));
  }
  for (int d : DeviceClients::Instance().RemoveEverywhere(this)) {
    // A threaded download to the card holds its lock for lines at a time;
    // the close waits for the download's end on its worker rather than
    // here, where every client's call waits behind it.
    const uint32_t card = static_cast<uint32_t>(d);
    if (!corvan::RunAfterThreadDownload(card, [card] { CloseZimoDevice(card); })) {
      CloseZimoDevice(card);
    }
  }
  events_.Clear();
}

HRESULT ZimoDevice::Keep(int device, uint32_t word) {
  const uint32_t e = word & kErrorBits;
  last_error_[device] = e;
  return e != 0 ? S_FALSE : S_OK;
}

HRESULT ZimoDevice::Open(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  DeviceClients& clients = DeviceClients::Instance();
  if (clients.Contains(device, this)) return S_OK;
  if (OpenZimoDevice(static_cast<uint32_t>(device)) == 0) return S_FALSE;
  clients.Add(device, this);
  return S_OK;
}

HRESULT ZimoDevice::Close(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (DeviceClients::Instance().Remove(device, this)) {
    CloseZimoDevice(static_cast<uint32_t>(device));
  }
  return S_OK;
}

HRESULT ZimoDevice::SendLine(int32_t device, const Bstr& line) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string text;
  if (!InputText(line, &text)) return E_POINTER;
  return Keep(device, ZimoSendLineA(static_cast<uint32_t>(device), text.c_str()));
}

HRESULT ZimoDevice::GetLine(int32_t device, Bstr* line) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (line == nullptr) return E_POINTER;
  char buffer[kLineSize] = {};
  const HRESULT hr =
      Keep(device, ZimoGetLineExA(static_cast<uint32_t>(device), buffer, sizeof buffer));
  if (hr == S_OK) *line = Bstr::FromAnsi(buffer);
  return hr;
}

HRESULT ZimoDevice::GetResponse(int32_t device, const Bstr& question, Bstr* answer) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string text;
  if (!InputText(question, &text) || answer == nullptr) return E_POINTER;
  char buffer[kLineSize] = {};
  const uint32_t word =
      ZimoGetResponseExA(static_cast<uint32_t>(device), buffer, sizeof buffer, text.c_str());
  *answer = Bstr::FromAnsi(buffer);
  return Keep(device, word);
}

HRESULT ZimoDevice::LockDevice(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  const uint32_t r = LockZimo(static_cast<uint32_t>(device));
  if (r == corvan::kWaitObject0 || r == corvan::kWaitAbandoned) {
    std::lock_guard lock(locks_mu_);
    ++held_locks_[device];
  }
  return S_OK;
}

HRESULT ZimoDevice::UnlockDevice(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  {
    // Only a lock this object took is given back on its account.
    std::lock_guard lock(locks_mu_);
    if (held_locks_[device] == 0) return S_OK;
    --held_locks_[device];
  }
  ReleaseZimo(static_cast<uint32_t>(device));
  return S_OK;
}

HRESULT ZimoDevice::GetControlResponse(int32_t device, uint8_t question, Bstr* answer) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (answer == nullptr) return E_POINTER;
  char buffer[kTextSize + 1] = {};
  const uint32_t word = ZimoGetControlResponseExA(static_cast<uint32_t>(device), buffer, kTextSize,
                                                  static_cast<char>(question));
  *answer = word == 0 ? Bstr() : Bstr::FromAnsi(buffer);
  return S_OK;
}

HRESULT ZimoDevice::get_LastCommError(int32_t device, int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  *value = static_cast<int32_t>(last_error_[device].load());
  return S_OK;
}

HRESULT ZimoDevice::GetLocAndEnum(int32_t device, int32_t* location, int32_t* enumeration) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (location == nullptr || enumeration == nullptr) return E_POINTER;
  uint32_t l = 0;
  uint32_t e = 0;
  if (MapLocAndEnumFromDeviceNum(static_cast<uint32_t>(device), &l, &e) == 0) return S_FALSE;
  *location = static_cast<int32_t>(l);
  *enumeration = static_cast<int32_t>(e);
  return S_OK;
}

void LibraryReports::Message(const char* text, int32_t new_line) {
  if (auto o = object_.lock()) o->FireMessage(device_, text, new_line);
}

void LibraryReports::MessageId(uint32_t number, int32_t new_line) {
  if (auto o = object_.lock()) o->FireMessage(device_, corvan::LoadLibraryString(number), new_line);
}

void LibraryReports::Progress(int32_t percent) {
  if (auto o = object_.lock()) o->FireProgress(device_, percent);
}

void LibraryReports::Error(const char* file, int32_t number, uint32_t line, const char* line_text) {
  if (auto o = object_.lock()) {
    o->FireError(device_, file, number, static_cast<int32_t>(line), line_text);
  }
}

std::shared_ptr<LibraryReports> ZimoDevice::ReportsFor(int32_t device) {
  return std::make_shared<LibraryReports>(weak_from_this(), device);
}

HRESULT ZimoDevice::DownloadFile(int32_t device, const Bstr& path) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file)) return E_POINTER;
  corvan::DownloadCallbacks callbacks;
  callbacks.sink = ReportsFor(device);
  corvan::SendFileAsRequest(static_cast<uint32_t>(device), callbacks, file.c_str());
  return S_OK;
}

HRESULT ZimoDevice::Download(int32_t device, const Bstr& path, int32_t macro, int32_t map,
                             int32_t log, int32_t download) {
  if (BadDevice(device)) return E_INVALIDARG;
  return StartDownload(&corvan::RunDownload, device, path,
                       corvan::DownloadOptions{macro, map, log, download}, ReportsFor(device));
}

HRESULT ZimoDevice::DownloadAsynch(int32_t device, const Bstr& path, int32_t macro, int32_t map,
                                   int32_t log, int32_t download) {
  if (BadDevice(device)) return E_INVALIDARG;
  return StartDownload(&corvan::StartThreadDownload, device, path,
                       corvan::DownloadOptions{macro, map, log, download}, ReportsFor(device));
}

HRESULT ZimoDevice::get_MaxDownloadErrors(int32_t* value) {
  if (value == nullptr) return E_POINTER;
  *value = CommLibrary::max_download_errors();
  return S_OK;
}

HRESULT ZimoDevice::put_MaxDownloadErrors(int32_t value) {
  CommLibrary::set_max_download_errors(value);
  return S_OK;
}

HRESULT ZimoDevice::SendCommand(int32_t device, const Bstr& command) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string text;
  if (!InputText(command, &text)) return E_POINTER;
  // The client's text is the argument of a plain format: a '%' in it is
  // sent as it stands. A text too long for one command line is refused.
  if (text.size() > static_cast<size_t>(kMaxCommandLength)) return S_FALSE;
  CommLibrary::SendCommand(static_cast<uint32_t>(device), "%s", text.c_str());
  return S_OK;
}

HRESULT ZimoDevice::GetBuffer(int32_t device, int32_t add_lf, Bstr* text) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (text == nullptr) return E_POINTER;
  const uint32_t d = static_cast<uint32_t>(device);
  LockZimo(d);
  last_error_[device] = 0;
  std::string joined;
  bool any = false;
  const uint32_t word = CommLibrary::CollectLines(d, add_lf != 0, &joined, &any);
  *text = any ? Bstr::FromAnsi(joined) : Bstr();
  ReleaseZimo(d);
  return Keep(device, word);
}

HRESULT ZimoDevice::GetControlValues(int32_t device, int16_t control, Variant* values,
                                     int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (values == nullptr || success == nullptr) return E_POINTER;
  double read[kControlValueCount] = {};
  *success = CommLibrary::GetControlValues(static_cast<uint32_t>(device), control, read);
  SafeArray array = SafeArray::Vector(VT_R8, kControlValueCount);
  std::memcpy(array.bytes().data(), read, sizeof read);
  *values = Variant(std::move(array));
  return S_OK;
}

HRESULT ZimoDevice::GetNumDeviceKeys(int32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = CountConfiguredDevices();
  return S_OK;
}

HRESULT ZimoDevice::GetFirmwareType(int32_t device, int32_t* kind) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (kind == nullptr) return E_POINTER;
  *kind = CommLibrary::GetFirmwareType(static_cast<uint32_t>(device));
  return S_OK;
}

HRESULT ZimoDevice::GetResponseBuffered(int32_t device, const Bstr& question, int32_t add_lf,
                                        Bstr* answer) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string text;
  if (!InputText(question, &text) || answer == nullptr) return E_POINTER;
  std::string joined;
  bool any = false;
  const uint32_t word = CommLibrary::GetResponseBuffered(static_cast<uint32_t>(device),
                                                         text.c_str(), add_lf != 0, &joined, &any);
  *answer = any ? Bstr::FromAnsi(joined) : Bstr();
  return Keep(device, word);
}

void ZimoDevice::FireMessage(int32_t device, const char* text, int32_t new_line) {
  Variant args[] = {Variant(device), Variant(Bstr::FromAnsi(text != nullptr ? text : "")),
                    Variant(new_line)};
  events_.Fire(kEventMessage, args);
}

void ZimoDevice::FireProgress(int32_t device, int32_t percent) {
  Variant args[] = {Variant(device), Variant(percent)};
  events_.Fire(kEventProgress, args);
}

void ZimoDevice::FireError(int32_t device, const char* file, int32_t number, int32_t line,
                           const char* line_text) {
  Variant args[] = {Variant(device), Variant(Bstr::FromAnsi(file != nullptr ? file : "")),
                    Variant(number), Variant(line),
                    Variant(Bstr::FromAnsi(line_text != nullptr ? line_text : ""))};
  events_.Fire(kEventError, args);
}

int ZimoDevice::held_locks(int device) const {
  if (BadDevice(device)) return 0;
  std::lock_guard lock(locks_mu_);
  return held_locks_[device];
}

automation::ConnectionPoint* ZimoDevice::FindConnectionPoint(const automation::Guid& iid) {
  return iid == kIid_IZimoDeviceEvents ? &events_ : nullptr;
}

// The selection dialog needs a display, which this server process never
// has; the choice is always "none", and the caller's number stays.
HRESULT ZimoDevice::SelectDevice(int32_t, int32_t* device) {
  if (device == nullptr) return E_POINTER;
  return S_FALSE;
}

HRESULT ZimoDevice::get_DoChecksums(int32_t device, int32_t* on) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (on == nullptr) return E_POINTER;
  *on = corvan::ChecksumsOn(device) ? 1 : 0;
  return S_OK;
}

// An empty path leaves the library's own file name.
HRESULT ZimoDevice::SetCommandLogging(int32_t device, int32_t on, const Bstr& path,
                                      int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  std::string name;
  const bool named = InputText(path, &name);
  *success =
      ZimoSetCommandLogging(static_cast<uint32_t>(device), on, named ? name.c_str() : nullptr);
  return S_OK;
}

HRESULT ZimoDevice::GetVariableStr(int32_t device, int16_t letter, int32_t number, Bstr* text,
                                   int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (text == nullptr || success == nullptr) return E_POINTER;
  char buffer[kVariableTextSize] = {};
  *success = ZimoGetVariableStrA(static_cast<uint32_t>(device), static_cast<char>(letter), buffer,
                                 static_cast<uint32_t>(number));
  *text = Bstr::FromAnsi(buffer);
  return S_OK;
}

HRESULT ZimoDevice::RestoreLinkList(const Bstr& firmware_version) {
  std::string section;
  if (!InputText(firmware_version, &section)) return E_POINTER;
  return ::RestoreLinkList(section.c_str()) != 0 ? S_OK : S_FALSE;
}

// The text is checked before the device number.
HRESULT ZimoDevice::ChangeStore(int32_t device, const Bstr& text) {
  std::string line;
  if (!InputText(text, &line)) return E_POINTER;
  if (BadDevice(device)) return E_INVALIDARG;
  return ::ChangeStore(static_cast<uint32_t>(device), line.c_str()) != 0 ? S_OK : S_FALSE;
}

// The caller hands one dword; the upper one of the pair is taken as 0.
HRESULT ZimoDevice::DPRFloat(int32_t* words, double scale, double* value) {
  if (words == nullptr || value == nullptr) return E_POINTER;
  const uint32_t pair[2] = {static_cast<uint32_t>(*words), 0};
  *value = ZimoDPRFloat(pair, scale);
  return S_OK;
}

namespace {
HRESULT Convert(double (*convert)(const char*), const Bstr& text, double* value) {
  if (text.empty()) return E_POINTER;
  if (value == nullptr) return E_POINTER;
  *value = convert(text.ToAnsi().c_str());
  return S_OK;
}
}  // namespace

HRESULT ZimoDevice::strtod48f(const Bstr& text, double* value) {
  return Convert(::strtod48f, text, value);
}
HRESULT ZimoDevice::strtod48l(const Bstr& text, double* value) {
  return Convert(::strtod48l, text, value);
}
HRESULT ZimoDevice::strtod24(const Bstr& text, double* value) {
  return Convert(::strtod24, text, value);
}
HRESULT ZimoDevice::strtod32dp(const Bstr& text, double* value) {
  return Convert(::strtod32dp, text, value);
}
HRESULT ZimoDevice::strto32f(const Bstr& text, double* value) {
  return Convert(::strtod32f, text, value);
}

HRESULT ZimoDevice::GetBitValue(const Bstr& text, int16_t bit, int32_t* value) {
  std::string hex;
  if (!InputText(text, &hex)) return E_POINTER;
  if (value == nullptr) return E_POINTER;
  *value = getBitValue(hex.c_str(), bit);
  return S_OK;
}

namespace device_detail {

namespace {
// The object whose call runs on this thread.
thread_local LibraryReports* t_reports = nullptr;
}  // namespace

int32_t ReportMessage(const char* text, int32_t new_line) {
  if (t_reports != nullptr) t_reports->Message(text, new_line);
  return 1;
}
int32_t ReportProgress(int32_t percent) {
  if (t_reports != nullptr) t_reports->Progress(percent);
  return 1;
}
void ReportProgressOnly(int32_t percent) { ReportProgress(percent); }

RoutedReports::RoutedReports(std::shared_ptr<LibraryReports> reports)
    : reports_(std::move(reports)) {
  previous_ = t_reports;
  t_reports = reports_.get();
}
RoutedReports::~RoutedReports() { t_reports = previous_; }

}  // namespace device_detail

// The compile is a request of its own on the process's download state, so
// its messages reach this object and no other; refused while a download
// runs.
HRESULT ZimoDevice::CompilePLCC(int32_t device, const Bstr& in_path, const Bstr& out_path) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string in;
  std::string out;
  if (!InputText(in_path, &in) || !InputText(out_path, &out)) return E_POINTER;
  corvan::DownloadCallbacks callbacks;
  callbacks.sink = ReportsFor(device);
  corvan::DownloadState& state = corvan::DownloadState::Instance();
  if (!state.TryMarkBusy()) {
    callbacks.ReportMessage(corvan::kAlreadyRunning);
    return S_FALSE;
  }
  state.BeginRequest(device, callbacks, corvan::DownloadOptions{});
  state.BeginRun();
  const int32_t r = ZimoCompilePLCC(static_cast<uint32_t>(device), out.c_str(), in.c_str());
  state.EndRun();
  state.set_active(false);
  return r != 0 ? S_OK : S_FALSE;
}

HRESULT ZimoDevice::DownloadFirmwareFile(int32_t device, const Bstr& path) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file)) return E_POINTER;
  RoutedReports route(ReportsFor(device));
  return ZimoDownloadFirmwareFile(static_cast<uint32_t>(device), &ReportMessage, &ReportProgress,
                                  file.c_str()) != 0
             ? S_OK
             : S_FALSE;
}

HRESULT ZimoDevice::MultiDownload(int32_t device, const Bstr& out_file, const Bstr& ini_file,
                                  const Bstr& user_id, int32_t macro, int32_t map, int32_t log,
                                  int32_t download, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (success == nullptr) return E_POINTER;
  std::string out, ini, user;
  const char* o = OptionalText(out_file, &out);
  const char* i = OptionalText(ini_file, &ini);
  OptionalText(user_id, &user);
  RoutedReports route(ReportsFor(device));
  *success = ZimoMultiDownloadA(static_cast<uint32_t>(device), &ReportMessage, o, i,
                                user_id.empty() ? nullptr : user.data(), macro, map, log, download);
  return S_OK;
}

HRESULT ZimoDevice::AddDownloadFile(int32_t device, const Bstr& ini_file, const Bstr& user_id,
                                    const Bstr& file, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string ini, user, name;
  if (!InputText(user_id, &user) || !InputText(file, &name) || success == nullptr) {
    return E_POINTER;
  }
  *success = ZimoAddDownloadFileA(static_cast<uint32_t>(device), OptionalText(ini_file, &ini),
                                  user.data(), name.data());
  return S_OK;
}

// Without a file every file of the user goes.
HRESULT ZimoDevice::RemoveDownloadFile(int32_t device, const Bstr& ini_file, const Bstr& user_id,
                                       const Bstr& file, int32_t* success) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string ini, user, name;
  if (!InputText(user_id, &user) || success == nullptr) return E_POINTER;
  OptionalText(file, &name);
  *success = ZimoRemoveDownloadFileA(static_cast<uint32_t>(device), OptionalText(ini_file, &ini),
                                     user.data(), file.empty() ? nullptr : name.data());
  return S_OK;
}

HRESULT ZimoDevice::RenumberFiles(int32_t device, int32_t number, const Bstr& ini_file) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string ini;
  ZimoRenumberFilesA(static_cast<uint32_t>(device), number, OptionalText(ini_file, &ini));
  return S_OK;
}

HRESULT ZimoDevice::get_ProgramFeedMode(int32_t device, int32_t cs, int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  // The mode bit; the feed rate the library also gives is not asked for.
  uint32_t mode = 0;
  ZimoGetFeedRateMode(static_cast<uint32_t>(device), cs, &mode);
  *value = static_cast<int32_t>(mode);
  return S_OK;
}

}  // namespace zimo::server
