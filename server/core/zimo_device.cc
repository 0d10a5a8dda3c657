#include "core/zimo_device.h"

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
#include "download/download_state.h"
#include "download/pipeline.h"
#include "link/error_texts.h"

namespace zimo::server {
namespace {

using automation::E_INVALIDARG;
using automation::E_POINTER;
using automation::kMethod;
using automation::kPropertyGet;
using automation::kPropertyPut;
using automation::MemberInfo;
using automation::ParamDir;
using automation::ParamInfo;
using automation::S_FALSE;
using automation::S_OK;
using automation::SafeArray;
using automation::VT_BSTR;
using automation::VT_I2;
using automation::VT_I4;
using automation::VT_R8;
using automation::VT_UI1;
using automation::VT_VARIANT;

// Bits 28 to 30 of a result word: time-out, card error, failure (and an
// unfinished line); bit 31 alone is the end of a response.
constexpr uint32_t kErrorBits = 0x70000000;
// Texts the library writes for one query.
constexpr uint32_t kLineSize = 256;
constexpr uint32_t kTextSize = 255;

bool BadDevice(int32_t device) { return device < 0 || device > 7; }

constexpr ParamInfo kDevice[] = {{"dwDevice", VT_I4}};
constexpr ParamInfo kDeviceGet[] = {{"dwDevice", VT_I4}, {"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kDeviceLine[] = {{"dwDevice", VT_I4}, {"line", VT_BSTR}};
constexpr ParamInfo kDeviceChar[] = {{"dwDevice", VT_I4}, {"ch", VT_UI1}};
constexpr ParamInfo kDeviceTextOut[] = {{"dwDevice", VT_I4}, {"pVal", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetResponse[] = {
    {"dwDevice", VT_I4}, {"question", VT_BSTR}, {"pAnswer", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetControlResponse[] = {
    {"dwDevice", VT_I4}, {"question", VT_UI1}, {"pAnswer", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetLocAndEnum[] = {
    {"dwDevice", VT_I4}, {"pLoc", VT_I4, ParamDir::kOut}, {"pEnum", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDeviceFile[] = {{"dwDevice", VT_I4}, {"filePath", VT_BSTR}};
constexpr ParamInfo kDownload[] = {{"dwDevice", VT_I4}, {"filePath", VT_BSTR}, {"bMacro", VT_I4},
                                   {"bMap", VT_I4},     {"bLog", VT_I4},       {"bDnld", VT_I4}};
constexpr ParamInfo kValueGet[] = {{"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kValuePut[] = {{"value", VT_I4}};
constexpr ParamInfo kSendCommand[] = {{"dwDevice", VT_I4}, {"cmd", VT_BSTR}};
constexpr ParamInfo kGetBuffer[] = {
    {"dwDevice", VT_I4}, {"bAddLF", VT_I4}, {"pBuf", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetControlValues[] = {{"dwDevice", VT_I4},
                                           {"ctrlCh", VT_I2},
                                           {"pVariant", VT_VARIANT, ParamDir::kOut},
                                           {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kValueOut[] = {{"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDeviceValueOut[] = {{"dwDevice", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetResponseBuffered[] = {{"dwDevice", VT_I4},
                                              {"question", VT_BSTR},
                                              {"bAddLF", VT_I4},
                                              {"pAnswer", VT_BSTR, ParamDir::kOut}};

// The members built so far, in slot order; the others answer
// DISP_E_MEMBERNOTFOUND.
constexpr MemberInfo kMembers[] = {
    {0x1, "Open", kMethod, kDevice},
    {0x2, "Close", kMethod, kDevice},
    {0x4, "ReadReady", kPropertyGet, kDeviceGet},
    {0x5, "SendLine", kMethod, kDeviceLine},
    {0x6, "SendChar", kMethod, kDeviceChar},
    {0x7, "GetLine", kMethod, kDeviceTextOut},
    {0x17, "GetResponse", kMethod, kGetResponse},
    {0x18, "LockDevice", kMethod, kDevice},
    {0x19, "UnlockDevice", kMethod, kDevice},
    {0x1b, "Flush", kMethod, kDevice},
    {0x1e, "GetControlResponse", kMethod, kGetControlResponse},
    {0x1f, "LastCommError", kPropertyGet, kDeviceGet},
    {0x20, "GetLastCommErrorStr", kMethod, kDeviceTextOut},
    {0x39, "GetLocAndEnum", kMethod, kGetLocAndEnum},
    {0x3b, "DownloadFile", kMethod, kDeviceFile},
    {0x3c, "AbortDownload", kMethod, kDevice},
    {0x3e, "Download", kMethod, kDownload},
    {0x3f, "DownloadAsynch", kMethod, kDownload},
    {0x40, "MaxDownloadErrors", kPropertyGet, kValueGet},
    {0x40, "MaxDownloadErrors", kPropertyPut, kValuePut},
    {0x42, "SendCommand", kMethod, kSendCommand},
    {0x43, "GetBuffer", kMethod, kGetBuffer},
    {0xc5, "GetControlValues", kMethod, kGetControlValues},
    {0xcf, "GetNumDeviceKeys", kMethod, kValueOut},
    {0xd7, "GetFirmwareType", kMethod, kDeviceValueOut},
    {0xd8, "GetResponseBuffered", kMethod, kGetResponseBuffered},
};

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

// 8-bit text of an input text the operation needs; false when it is missing.
bool InputText(const Bstr& text, std::string* out) {
  if (text.empty()) return false;
  *out = text.ToAnsi();
  return true;
}

}  // namespace

const automation::InterfaceInfo kIZimoDevice{"IZimoDevice", kIidIZimoDevice, kMembers};
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
    CloseZimoDevice(static_cast<uint32_t>(d));
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

HRESULT ZimoDevice::get_ReadReady(int32_t device, int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  *value = static_cast<int32_t>(ZimoReadReady(static_cast<uint32_t>(device)));
  return S_OK;
}

HRESULT ZimoDevice::SendLine(int32_t device, const Bstr& line) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string text;
  if (!InputText(line, &text)) return E_POINTER;
  return Keep(device, ZimoSendLineA(static_cast<uint32_t>(device), text.c_str()));
}

HRESULT ZimoDevice::SendChar(int32_t device, uint8_t ch) {
  if (BadDevice(device)) return E_INVALIDARG;
  return ZimoSendCharA(static_cast<uint32_t>(device), static_cast<char>(ch)) != 0 ? S_OK : S_FALSE;
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

HRESULT ZimoDevice::Flush(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoFlush(static_cast<uint32_t>(device));
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

HRESULT ZimoDevice::GetLastCommErrorStr(int32_t device, Bstr* text) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (text == nullptr) return E_POINTER;
  char buffer[kTextSize + 1] = {};
  const int32_t code = ZimoGetErrorStrA(static_cast<uint32_t>(device), buffer, kTextSize);
  *text = code == 0 ? Bstr() : Bstr::FromAnsi(buffer);
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

HRESULT ZimoDevice::AbortDownload(int32_t device) {
  if (BadDevice(device)) return E_INVALIDARG;
  ZimoAbortDownload(static_cast<uint32_t>(device));
  return S_OK;
}

HRESULT ZimoDevice::Download(int32_t device, const Bstr& path, int32_t macro, int32_t map,
                             int32_t log, int32_t download) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file)) return E_POINTER;
  corvan::DownloadCallbacks callbacks;
  callbacks.sink = ReportsFor(device);
  return corvan::RunDownload(static_cast<uint32_t>(device), callbacks,
                             corvan::DownloadOptions{macro, map, log, download}, file.c_str()) != 0
             ? S_OK
             : S_FALSE;
}

HRESULT ZimoDevice::DownloadAsynch(int32_t device, const Bstr& path, int32_t macro, int32_t map,
                                   int32_t log, int32_t download) {
  if (BadDevice(device)) return E_INVALIDARG;
  std::string file;
  if (!InputText(path, &file)) return E_POINTER;
  corvan::DownloadCallbacks callbacks;
  callbacks.sink = ReportsFor(device);
  return corvan::StartThreadDownload(static_cast<uint32_t>(device), callbacks,
                                     corvan::DownloadOptions{macro, map, log, download},
                                     file.c_str()) != 0
             ? S_OK
             : S_FALSE;
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
  *success = CommLibrary::GetControlValues(static_cast<uint32_t>(device),
                                           static_cast<char>(control), read);
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

const automation::DispatchTable<ZimoDevice>& ZimoDevice::Table() {
  using T = automation::DispatchTable<ZimoDevice>;
  static const T table(kIZimoDevice,
                       {T::Bind<&ZimoDevice::Open>(0x1),
                        T::Bind<&ZimoDevice::Close>(0x2),
                        T::Bind<&ZimoDevice::get_ReadReady>(0x4, kPropertyGet),
                        T::Bind<&ZimoDevice::SendLine>(0x5),
                        T::Bind<&ZimoDevice::SendChar>(0x6),
                        T::Bind<&ZimoDevice::GetLine>(0x7),
                        T::Bind<&ZimoDevice::GetResponse>(0x17),
                        T::Bind<&ZimoDevice::LockDevice>(0x18),
                        T::Bind<&ZimoDevice::UnlockDevice>(0x19),
                        T::Bind<&ZimoDevice::Flush>(0x1b),
                        T::Bind<&ZimoDevice::GetControlResponse>(0x1e),
                        T::Bind<&ZimoDevice::get_LastCommError>(0x1f, kPropertyGet),
                        T::Bind<&ZimoDevice::GetLastCommErrorStr>(0x20),
                        T::Bind<&ZimoDevice::GetLocAndEnum>(0x39),
                        T::Bind<&ZimoDevice::DownloadFile>(0x3b),
                        T::Bind<&ZimoDevice::AbortDownload>(0x3c),
                        T::Bind<&ZimoDevice::Download>(0x3e),
                        T::Bind<&ZimoDevice::DownloadAsynch>(0x3f),
                        T::Bind<&ZimoDevice::get_MaxDownloadErrors>(0x40, kPropertyGet),
                        T::Bind<&ZimoDevice::put_MaxDownloadErrors>(0x40, kPropertyPut),
                        T::Bind<&ZimoDevice::SendCommand>(0x42),
                        T::Bind<&ZimoDevice::GetBuffer>(0x43),
                        T::Bind<&ZimoDevice::GetControlValues>(0xc5),
                        T::Bind<&ZimoDevice::GetNumDeviceKeys>(0xcf),
                        T::Bind<&ZimoDevice::GetFirmwareType>(0xd7),
                        T::Bind<&ZimoDevice::GetResponseBuffered>(0xd8)});
  return table;
}

}  // namespace zimo::server
