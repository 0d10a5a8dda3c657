#include "voctoks_ctrl.h"

#include <cstdlib>
#include <cstring>

#include "corvan_binding.h"
#include "pages.h"
#include "platform/message.h"
#include "platform/process.h"
#include "voctoks/voctoks_guids.h"

namespace zimo::voctoks {

using automation::Variant;
namespace {

using T = CVoctoKSCtrl;
using automation::kMethod;
using automation::kPropertyGet;
using automation::kPropertyPut;

// The control's own error texts.
const char* ErrorText(int32_t code) {
  switch (code) {
    case 0:
      return "All is well.";
    case 1001:
      return "Ran Out of Memory";
    case 1009:
      return "Unable to start supporting driver.  Go to the CARDSETUP.EXE applet to correct.";
    case 1012:
      return "IN BOOTSTRAP MODE";
    case 1013:
      return "Couldn't establish communication at these settings (95 or Serial Only)";
    case 1014:
      return "Unable to configure driver (in registry perhaps, access rights?)";
    case 1015:
      return "Unable to load supporting driver, ZIMO.DLL.";
    case 1016:
      return "Invalid ZIMO Device Number, Go to CARDSETUP.EXE application.";
    case 4003:
      return "No DPR communications established.  Bus will be used instead.";
    case 5002:
      return "Upload Failed";
    default:
      return nullptr;
  }
}

// A reply of `result` characters (the low 28 bits; the top four are status)
// in `buffer`: a CR before the last character ends the text there, else a
// final CR is dropped, else a lone leading CR of an empty reply.
std::string CleanReply(char* buffer, size_t capacity, uint32_t result) {
  buffer[capacity - 1] = '\0';
  size_t n = result & 0x0FFFFFFF;
  if (n > capacity - 1) n = capacity - 1;
  if (n > 1 && buffer[n - 2] == '\r') {
    buffer[n - 2] = '\0';
  } else if (n > 0 && buffer[n - 1] == '\r') {
    buffer[n - 1] = '\0';
  } else if (n == 0 && buffer[0] == '\r') {
    buffer[0] = '\0';
  }
  return std::string(buffer);
}

}  // namespace

ControlServices& Services() {
  static ControlServices services;
  return services;
}

std::string LogViewerCommand() {
  const char* env = std::getenv("ZIMO_LOG_VIEWER");
  return env != nullptr && *env != '\0' ? std::string(env) : std::string("xdg-open %s");
}

const automation::DispatchTable<T>& T::Table() {
  using Table = automation::DispatchTable<T>;
  static const Table table(kDVoctoKS, {Table::Bind<&T::get_SimulateCommunication>(1, kPropertyGet),
                                       Table::Bind<&T::put_SimulateCommunication>(1, kPropertyPut),
                                       Table::Bind<&T::get_DeviceNumber>(2, kPropertyGet),
                                       Table::Bind<&T::put_DeviceNumber>(2, kPropertyPut),
                                       Table::Bind<&T::get_LastErrorString>(3, kPropertyGet),
                                       Table::Bind<&T::put_LastErrorString>(3, kPropertyPut),
                                       Table::Bind<&T::get_LastError>(4, kPropertyGet),
                                       Table::Bind<&T::put_LastError>(4, kPropertyPut),
                                       Table::Bind<&T::get_DownloadDeleteTemp>(5, kPropertyGet),
                                       Table::Bind<&T::put_DownloadDeleteTemp>(5, kPropertyPut),
                                       Table::Bind<&T::get_DownloadDo>(6, kPropertyGet),
                                       Table::Bind<&T::put_DownloadDo>(6, kPropertyPut),
                                       Table::Bind<&T::get_DownloadHide>(7, kPropertyGet),
                                       Table::Bind<&T::put_DownloadHide>(7, kPropertyPut),
                                       Table::Bind<&T::get_DownloadLog>(8, kPropertyGet),
                                       Table::Bind<&T::put_DownloadLog>(8, kPropertyPut),
                                       Table::Bind<&T::get_DownloadMap>(9, kPropertyGet),
                                       Table::Bind<&T::put_DownloadMap>(9, kPropertyPut),
                                       Table::Bind<&T::get_DownloadMaxErrors>(10, kPropertyGet),
                                       Table::Bind<&T::put_DownloadMaxErrors>(10, kPropertyPut),
                                       Table::Bind<&T::get_DownloadParse>(11, kPropertyGet),
                                       Table::Bind<&T::put_DownloadParse>(11, kPropertyPut),
                                       Table::Bind<&T::get_DownloadShowErrors>(12, kPropertyGet),
                                       Table::Bind<&T::put_DownloadShowErrors>(12, kPropertyPut),
                                       Table::Bind<&T::get_UploadAppend>(13, kPropertyGet),
                                       Table::Bind<&T::put_UploadAppend>(13, kPropertyPut),
                                       Table::Bind<&T::get_UploadHide>(14, kPropertyGet),
                                       Table::Bind<&T::put_UploadHide>(14, kPropertyPut),
                                       Table::Bind<&T::get_UploadNoComments>(15, kPropertyGet),
                                       Table::Bind<&T::put_UploadNoComments>(15, kPropertyPut),
                                       Table::Bind<&T::get_UploadShowProgress>(16, kPropertyGet),
                                       Table::Bind<&T::put_UploadShowProgress>(16, kPropertyPut),
                                       Table::Bind<&T::get_Enabled>(-514, kPropertyGet),
                                       Table::Bind<&T::put_Enabled>(-514, kPropertyPut),
                                       Table::Bind<&T::GetResponse>(17),
                                       Table::Bind<&T::GetControlResponse>(18),
                                       Table::Bind<&T::Flush>(19),
                                       Table::Bind<&T::GetLineCR>(20),
                                       Table::Bind<&T::GetLineACK>(21),
                                       Table::Bind<&T::SendChar>(22),
                                       Table::Bind<&T::DPRGetWord>(23),
                                       Table::Bind<&T::DPRSetWord>(24),
                                       Table::Bind<&T::DPRGetDWord>(25),
                                       Table::Bind<&T::DPRSetDWord>(26),
                                       Table::Bind<&T::DPRGetFloat>(27),
                                       Table::Bind<&T::DPRSetFloat>(28),
                                       Table::Bind<&T::DPRDWordSetBit>(29),
                                       Table::Bind<&T::DPRDWordResetBit>(30),
                                       Table::Bind<&T::DPRDWordBitSet>(31),
                                       Table::Bind<&T::DPRDouble>(32),
                                       Table::Bind<&T::DPRFixed>(33),
                                       Table::Bind<&T::LockZIMO>(34),
                                       Table::Bind<&T::ReleaseZIMO>(35),
                                       Table::Bind<&T::DownloadFile>(36),
                                       Table::Bind<&T::DownloadAbort>(37),
                                       Table::Bind<&T::UploadData>(38),
                                       Table::Bind<&T::DPRAvailable>(39),
                                       Table::Bind<&T::SaveSettings>(40),
                                       Table::Bind<&T::LoadSettings>(41),
                                       Table::Bind<&T::xDPRAsciiStrToRot>(42),
                                       Table::Bind<&T::xDPRRotBuf>(43),
                                       Table::Bind<&T::xDPRRotBufChange>(44),
                                       Table::Bind<&T::xDPRRotBufClr>(45),
                                       Table::Bind<&T::xDPRRotBufInit>(46),
                                       Table::Bind<&T::xDPRBufLast>(47),
                                       Table::Bind<&T::xDPRRotBufRemove>(48),
                                       Table::Bind<&T::SendLine>(49),
                                       Table::Bind<&T::IsLineWaiting>(50),
                                       Table::Bind<&T::GetUnsolicitedResponse>(51),
                                       Table::Bind<&T::IsUnsolicitedLineWaiting>(52),
                                       Table::Bind<&T::ShowPropertyPage>(53),
                                       Table::Bind<&T::SelectDevice>(54),
                                       Table::Bind<&T::AboutBoxMethod>(-552)});
  return table;
}

CVoctoKSCtrl::CVoctoKSCtrl() : controls::Control(kDVoctoKSEvents, 0x00010000) {
  library_ = BindCorvanLibrary();
  last_error_string_ = "All is very well!";
  if (bound()) device_count_ = Corvan().DrvNumberOfDevices();
}

CVoctoKSCtrl::~CVoctoKSCtrl() {
  if (bound()) {
    if (device_open_ != 0) CloseDevice(device_number_);
    (void)library_.Free();
  }
}

HRESULT CVoctoKSCtrl::Invoke(automation::DispId id, uint16_t flags,
                             std::span<automation::Variant> args, automation::Variant* result,
                             automation::ExcepInfo* excep) {
  return Table().Invoke(*this, id, flags, args, result, excep);
}

std::unique_ptr<controls::PropertyFrame> CVoctoKSCtrl::CreatePropertyFrame(
    std::shared_ptr<automation::Dispatch> self) {
  return MakePropertyFrame(std::move(self));
}

std::vector<automation::Guid> CVoctoKSCtrl::PropertyPages() const {
  return {kGeneralPageClsid, kDownloadPageClsid, kUploadPageClsid, kAboutPageClsid};
}

void CVoctoKSCtrl::AboutBox() {
  if (Services().about_box) Services().about_box(*this);
}

// --- errors -------------------------------------------------------------

void CVoctoKSCtrl::FireOnError(int32_t code, const std::string& text) {
  Variant text_value(Bstr::FromAnsi(text));
  Variant args[] = {Variant(code), Variant::ByRef(&text_value, automation::VT_BSTR)};
  FireEvent(kDispidOnError, args);
}

int CVoctoKSCtrl::RaiseErrorById(int32_t code) {
  const char* text = ErrorText(code);
  if (text == nullptr) return 0;
  char bounded[300];
  std::snprintf(bounded, sizeof bounded, "%s", text);
  last_error_ = code;
  last_error_string_ = bounded;
  SetModifiedFlag();
  FireOnError(code, bounded);
  return 1;
}

bool CVoctoKSCtrl::CheckLibraryError() {
  int32_t code = Corvan().ZimoGetError(device());
  if (code <= 0) return true;
  char text[256] = {};
  Corvan().ZimoGetErrorStrA(device(), text, 255);
  text[255] = '\0';
  last_error_ = code;
  last_error_string_ = text;
  SetModifiedFlag();
  FireOnError(code, text);
  return false;
}

// --- gates --------------------------------------------------------------

CVoctoKSCtrl::Gate CVoctoKSCtrl::CommandGate() const {
  if (enabled_ == 0) return Gate::kStop;
  if (simulate_ != 0 || device_open_ == 0) return Gate::kPass;
  return Gate::kCall;
}

CVoctoKSCtrl::Gate CVoctoKSCtrl::DprGate() {
  if (simulate_ != 0 || enabled_ == 0) return Gate::kPass;
  if (dpr_available_ == 0) {
    RaiseErrorById(4003);
    return Gate::kStop;
  }
  return Gate::kCall;
}

// --- open, close, Enabled -------------------------------------------------

int CVoctoKSCtrl::OpenDevice(int32_t device) {
  if (simulate_ == 1) return 1;
  int32_t r = Corvan().OpenZimoDevice(static_cast<uint32_t>(device));
  device_open_ = r;
  enabled_ = r;
  SetModifiedFlag();
  SetStockEnabled(r != 0);
  if (r == 0) {
    RaiseErrorById(1009);
    dpr_available_ = 0;
    return 0;
  }
  dpr_available_ = Corvan().ZimoGetDpramAvailable(static_cast<uint32_t>(device));
  return 1;
}

int CVoctoKSCtrl::CloseDevice(int32_t device) {
  if (simulate_ == 1) return 1;
  int32_t r = Corvan().CloseZimoDevice(static_cast<uint32_t>(device));
  dpr_available_ = 0;
  device_open_ = r == 0 ? 1 : 0;
  return 1;
}

HRESULT CVoctoKSCtrl::get_Enabled(bool* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = enabled_ != 0;
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::put_Enabled(bool v) {
  if (v == (enabled_ != 0) || !bound()) return automation::S_OK;
  if (simulate_ == 1) {
    enabled_ = v ? 1 : 0;
    SetStockEnabled(v);
    SetModifiedFlag();
    return automation::S_OK;
  }
  if (AmbientUserMode()) {
    if (!v) {
      if (device_open_ != 0) CloseDevice(device_number_);
      enabled_ = 0;
    } else if (device_open_ != 0) {
      enabled_ = 1;
    } else {
      OpenDevice(device_number_);
    }
  } else {
    if (v) {
      enabled_ = Corvan().OpenZimoDevice(device());
      if (enabled_ != 0) {
        Corvan().CloseZimoDevice(device());
      } else {
        RaiseErrorById(1009);
        dpr_available_ = 0;
      }
    } else {
      enabled_ = 0;
    }
    SetModifiedFlag();
  }
  SetStockEnabled(enabled_ != 0);
  BoundPropertyChanged(controls::kDispidEnabled);
  return automation::S_OK;
}

// --- plain properties -----------------------------------------------------

void CVoctoKSCtrl::SetBool(int32_t* member, bool v, automation::DispId id) {
  *member = v ? 1 : 0;
  SetModifiedFlag();
  BoundPropertyChanged(id);
}

#define PLAIN_BOOL(Name, member, id)                \
  HRESULT CVoctoKSCtrl::get_##Name(bool* v) {       \
    if (v == nullptr) return automation::E_POINTER; \
    *v = member != 0;                               \
    return automation::S_OK;                        \
  }                                                 \
  HRESULT CVoctoKSCtrl::put_##Name(bool v) {        \
    SetBool(&member, v, id);                        \
    return automation::S_OK;                        \
  }

PLAIN_BOOL(SimulateCommunication, simulate_, 1)
PLAIN_BOOL(DownloadDeleteTemp, download_delete_temp_, 5)
PLAIN_BOOL(DownloadDo, download_do_, 6)
PLAIN_BOOL(DownloadHide, download_hide_, 7)
PLAIN_BOOL(DownloadLog, download_log_, 8)
PLAIN_BOOL(DownloadMap, download_map_, 9)
PLAIN_BOOL(DownloadParse, download_parse_, 11)
PLAIN_BOOL(UploadAppend, upload_append_, 13)
PLAIN_BOOL(UploadHide, upload_hide_, 14)
PLAIN_BOOL(UploadNoComments, upload_no_comments_, 15)
PLAIN_BOOL(UploadShowProgress, upload_show_progress_, 16)
#undef PLAIN_BOOL

HRESULT CVoctoKSCtrl::get_DownloadShowErrors(bool* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = download_show_errors_ != 0;
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::put_DownloadShowErrors(bool v) {
  SetBool(&download_show_errors_, v, 12);
  if (v) put_DownloadLog(true);  // errors can only be shown from a log
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::get_DownloadMaxErrors(int32_t* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = download_max_errors_;
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::put_DownloadMaxErrors(int32_t v) {
  download_max_errors_ = v;
  SetModifiedFlag();
  BoundPropertyChanged(10);
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::get_LastError(int32_t* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = last_error_;
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::put_LastError(int32_t v) {
  last_error_ = v;
  SetModifiedFlag();
  BoundPropertyChanged(4);
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::get_LastErrorString(Bstr* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = Bstr::FromAnsi(last_error_string_);
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::put_LastErrorString(const Bstr& v) {
  last_error_string_ = v.ToAnsi();
  SetModifiedFlag();
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::get_DeviceNumber(int32_t* v) {
  if (v == nullptr) return automation::E_POINTER;
  *v = device_number_;
  return automation::S_OK;
}

HRESULT CVoctoKSCtrl::put_DeviceNumber(int32_t v) {
  put_Enabled(false);
  if (v < 0 || v >= device_count_) {
    RaiseErrorById(1016);
    return automation::S_OK;
  }
  device_number_ = v;
  SetModifiedFlag();
  BoundPropertyChanged(2);
  return automation::S_OK;
}

// --- command methods --------------------------------------------------------

bool CVoctoKSCtrl::GetResponse(Bstr* response, const Bstr& command) {
  Gate gate = CommandGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  CorvanFunctions& lib = Corvan();
  lib.LockZimo(device());
  char buffer[17000];
  buffer[0] = '\0';
  uint32_t r = lib.ZimoGetResponseExA(device(), buffer, 16999, command.ToAnsi().c_str());
  std::string reply = CleanReply(buffer, sizeof buffer, r);
  if (response != nullptr) *response = Bstr::FromAnsi(reply);
  bool ok = CheckLibraryError();
  lib.ReleaseZimo(device());
  return ok;
}

bool CVoctoKSCtrl::GetControlResponse(Bstr* response, int32_t ctrl_char) {
  Gate gate = CommandGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  if (ctrl_char == 20) return true;  // Ctrl-T is never sent
  CorvanFunctions& lib = Corvan();
  lib.LockZimo(device());
  char buffer[256];
  buffer[0] = '\0';
  uint32_t r = lib.ZimoGetControlResponseExA(device(), buffer, 255, static_cast<char>(ctrl_char));
  std::string reply = CleanReply(buffer, sizeof buffer, r);
  if (response != nullptr) *response = Bstr::FromAnsi(reply);
  bool ok = CheckLibraryError();
  lib.ReleaseZimo(device());
  return ok;
}

bool CVoctoKSCtrl::Flush() {
  Gate gate = CommandGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  Corvan().ZimoFlush(device());
  return CheckLibraryError();
}

bool CVoctoKSCtrl::GetLineCR(Bstr* response) {
  Gate gate = CommandGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  char buffer[256];
  buffer[0] = '\0';
  uint32_t r = Corvan().ZimoGetLineA(device(), buffer, 255);
  std::string line = CleanReply(buffer, sizeof buffer, r);
  if (response != nullptr) *response = Bstr::FromAnsi(line);
  return CheckLibraryError();
}

bool CVoctoKSCtrl::GetLineACK(Bstr* response) {
  Gate gate = CommandGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  char buffer[17000];
  buffer[0] = '\0';
  uint32_t r = Corvan().ZimoGetBufferA(device(), buffer, 16999);
  std::string text = CleanReply(buffer, sizeof buffer, r);
  if (response != nullptr) *response = Bstr::FromAnsi(text);
  return CheckLibraryError();
}

bool CVoctoKSCtrl::SendChar(int32_t a_char) {
  Gate gate = CommandGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  return Corvan().ZimoSendCharA(device(), static_cast<char>(a_char & 0xFF)) != 0;
}

bool CVoctoKSCtrl::SendLine(const Bstr& command) {
  Gate gate = CommandGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  int32_t r = static_cast<int32_t>(Corvan().ZimoSendLineA(device(), command.ToAnsi().c_str()));
  if (r >= 0) return true;
  // A failed send is reported like any other library error. The library's
  // error is asked only then: after a line the card took it may still hold
  // an earlier exchange's error, which is not this call's.
  (void)CheckLibraryError();
  return false;
}

bool CVoctoKSCtrl::IsLineWaiting() {
  if (enabled_ == 0 || simulate_ != 0 || device_open_ == 0) return false;
  return Corvan().ZimoReadReady(device()) != 0;
}

bool CVoctoKSCtrl::GetUnsolicitedResponse(Bstr* response) {
  Gate gate = CommandGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  CorvanFunctions& lib = Corvan();
  lib.LockZimo(device());
  // Zero-filled: a take stopped by its limit writes no terminator.
  char buffer[17000] = {};
  int32_t r = lib.GetUSResponse(device(), buffer, 16999);
  std::string text = CleanReply(buffer, sizeof buffer, static_cast<uint32_t>(r));
  if (response != nullptr) *response = Bstr::FromAnsi(text);
  (void)CheckLibraryError();
  lib.ReleaseZimo(device());
  return r != 0;
}

bool CVoctoKSCtrl::IsUnsolicitedLineWaiting() {
  if (enabled_ == 0 || simulate_ != 0 || device_open_ == 0) return false;
  return Corvan().USReadReady(device()) != 0;
}

// --- DPR and rotary ---------------------------------------------------------

namespace {
uint32_t WordOffset(int32_t bank, int32_t offset) {
  uint32_t byte = static_cast<uint32_t>(offset) * 4;
  if (bank == 'X' || bank == 'x') byte += 2;
  return byte;
}
uint32_t ByteOffset(int32_t offset) { return static_cast<uint32_t>(offset) * 4; }
}  // namespace

int16_t CVoctoKSCtrl::DPRGetWord(int32_t bank, int32_t offset) {
  if (DprGate() != Gate::kCall) return 0;
  return static_cast<int16_t>(Corvan().ZimoDPRGetWord(device(), WordOffset(bank, offset)));
}

bool CVoctoKSCtrl::DPRSetWord(int32_t bank, int32_t offset, int16_t value) {
  Gate gate = DprGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  Corvan().ZimoDPRSetWord(device(), WordOffset(bank, offset), static_cast<uint16_t>(value));
  return true;
}

int32_t CVoctoKSCtrl::DPRGetDWord(int32_t offset) {
  if (DprGate() != Gate::kCall) return 0;
  return static_cast<int32_t>(Corvan().ZimoDPRGetDWord(device(), ByteOffset(offset)));
}

bool CVoctoKSCtrl::DPRSetDWord(int32_t offset, int32_t value) {
  Gate gate = DprGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  Corvan().ZimoDPRSetDWord(device(), ByteOffset(offset), static_cast<uint32_t>(value));
  return true;
}

float CVoctoKSCtrl::DPRGetFloat(int32_t offset) {
  if (DprGate() != Gate::kCall) return 0.0f;
  return static_cast<float>(Corvan().ZimoDPRGetFloat(device(), ByteOffset(offset)));
}

bool CVoctoKSCtrl::DPRSetFloat(int32_t offset, float value) {
  Gate gate = DprGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  Corvan().ZimoDPRSetFloat(device(), ByteOffset(offset), static_cast<double>(value));
  return true;
}

bool CVoctoKSCtrl::DPRDWordSetBit(int32_t offset, int32_t bit) {
  Gate gate = DprGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  Corvan().ZimoDPRSetDWordBit(device(), ByteOffset(offset), static_cast<uint16_t>(bit));
  return true;
}

bool CVoctoKSCtrl::DPRDWordResetBit(int32_t offset, int32_t bit) {
  Gate gate = DprGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  Corvan().ZimoDPRResetDWordBit(device(), ByteOffset(offset), static_cast<uint16_t>(bit));
  return true;
}

bool CVoctoKSCtrl::DPRDWordBitSet(int32_t offset, int32_t bit) {
  Gate gate = DprGate();
  if (gate != Gate::kCall) return gate == Gate::kPass;
  return Corvan().ZimoDPRDWordBitSet(device(), ByteOffset(offset), static_cast<uint16_t>(bit)) != 0;
}

double CVoctoKSCtrl::DPRDouble(int32_t least_sig, int32_t most_sig) {
  // A pure conversion, but still the library's: nothing without it.
  if (simulate_ != 0 || !bound()) return 0.0;
  uint32_t words[2] = {static_cast<uint32_t>(least_sig), static_cast<uint32_t>(most_sig)};
  return Corvan().ZimoDPRFloat(words, 1.0);
}

double CVoctoKSCtrl::DPRFixed(int32_t least_sig, int32_t most_sig) {
  if (simulate_ != 0 || !bound()) return 0.0;
  uint32_t words[2] = {static_cast<uint32_t>(least_sig), static_cast<uint32_t>(most_sig)};
  return Corvan().ZimoDPRLFixed(words, 1.0);
}

int16_t CVoctoKSCtrl::xDPRAsciiStrToRot(const Bstr& input_string, int16_t buffer_number) {
  if (DprGate() != Gate::kCall) return -1;
  // The library upper-cases the line in place: hand it a copy of our own.
  std::string text = input_string.ToAnsi();
  return static_cast<int16_t>(
      Corvan().ZimoDPRAsciiStrToRotA(device(), text.data(), static_cast<uint16_t>(buffer_number)));
}

int16_t CVoctoKSCtrl::xDPRRotBuf(bool on) {
  if (DprGate() != Gate::kCall) return 0;
  return static_cast<int16_t>(Corvan().ZimoDPRRotBuf(device(), on ? 1 : 0));
}

int16_t CVoctoKSCtrl::xDPRRotBufChange(int16_t buffer_number, int16_t new_size) {
  if (DprGate() != Gate::kCall) return -1;
  return static_cast<int16_t>(Corvan().ZimoDPRRotBufChange(
      device(), static_cast<uint16_t>(buffer_number), static_cast<uint16_t>(new_size)));
}

void CVoctoKSCtrl::xDPRRotBufClr(int16_t buffer_number) {
  if (DprGate() != Gate::kCall) return;
  Corvan().ZimoDPRRotBufClr(device(), static_cast<uint16_t>(buffer_number));
}

int16_t CVoctoKSCtrl::xDPRRotBufInit(int16_t buffer_number) {
  if (DprGate() != Gate::kCall) return -1;
  return static_cast<int16_t>(
      Corvan().ZimoDPRRotBufInit(device(), static_cast<uint16_t>(buffer_number)));
}

int32_t CVoctoKSCtrl::xDPRBufLast() {
  if (DprGate() != Gate::kCall) return 0;
  return Corvan().ZimoDPRBufLast(device());
}

int16_t CVoctoKSCtrl::xDPRRotBufRemove(int16_t buffer_number) {
  if (DprGate() != Gate::kCall) return 0;
  return static_cast<int16_t>(
      Corvan().ZimoDPRRotBufRemove(device(), static_cast<uint16_t>(buffer_number)));
}

// --- the rest ---------------------------------------------------------------

void CVoctoKSCtrl::LockZIMO() {
  if (enabled_ != 0 && simulate_ == 0 && device_open_ != 0) Corvan().LockZimo(device());
}

void CVoctoKSCtrl::ReleaseZIMO() {
  if (enabled_ != 0 && simulate_ == 0 && device_open_ != 0) Corvan().ReleaseZimo(device());
}

bool CVoctoKSCtrl::DownloadAbort() {
  if (enabled_ == 0) return false;
  if (simulate_ == 0 && device_open_ != 0) Corvan().ZimoAbortDownload(device());
  return true;
}

void CVoctoKSCtrl::CancelDownload() {
  if (device_open_ != 0) Corvan().ZimoAbortDownload(device());
}

bool CVoctoKSCtrl::DPRAvailable() {
  if (enabled_ == 0 || !bound()) return false;
  return Corvan().ZimoGetDpramAvailable(device()) != 0;
}

bool CVoctoKSCtrl::ShowPropertyPage() { return SelectDevice(); }

bool CVoctoKSCtrl::SelectDevice() {
  if (!bound()) {
    platform::ShowMessageBox("Unable to load Vocto's supporting driver, ZIMO.DLL", "Error",
                             platform::kMbOk);
    return false;
  }
  put_Enabled(false);
  uintptr_t parent = client_site() != nullptr ? client_site()->ParentWindow() : 0;
  int32_t r = Corvan().ZimoSelect(static_cast<uint32_t>(parent));
  if (r == -1) {
    put_SimulateCommunication(true);
    return false;
  }
  put_SimulateCommunication(false);
  put_DeviceNumber(r);
  put_Enabled(true);
  return true;
}

}  // namespace zimo::voctoks
