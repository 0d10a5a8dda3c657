// CVoctoCtrl: the older control. It fills a card record image from its
// properties (or its .CFG settings file), opens it through jux170, drives
// jux170's shared periodic command table from its window timer, and offers
// the ASCII exchange, DPR access, download and upload.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "automation/dispatch_table.h"
#include "controls/control.h"
#include "jux/jux170.h"
#include "vocto_interface.h"

namespace zimo::vocto {

using automation::Bstr;
using automation::HRESULT;

class CVoctoCtrl;
class DownloadView;
class UploadView;

// What the control needs from the window system, replaceable as a whole:
// the Qt side installs its views; tests install recorders.
struct ControlServices {
  // Null results: the dialog could not be made.
  std::function<std::unique_ptr<DownloadView>(CVoctoCtrl&, bool visible)> make_download_view;
  std::function<std::unique_ptr<UploadView>(CVoctoCtrl&, bool visible)> make_upload_view;
  // Handles the window messages that wait.
  std::function<void()> process_messages;
  std::function<void()> beep;
  // Starts the error-file viewer on `path`, not waited for.
  std::function<void(const std::string& path)> start_viewer;
  std::function<void(CVoctoCtrl&)> about_box;
  // Shows the control's property frame (ShowPropertyPage).
  std::function<void(CVoctoCtrl&)> property_frame;
};
ControlServices& Services();

// The command the default viewer runs, "%s" standing for the path:
// $ZIMO_LOG_VIEWER when set, else "xdg-open %s".
std::string ViewerCommand();

// The reply readers of the card record, replaceable by tests that need a
// reply the simulated card cannot give.
struct ReplyCalls {
  int (*get_response)(tagMCardInfo*, char*, unsigned, const char*) = &PGetResponse;
  int (*get_line)(tagMCardInfo*, char*, unsigned) = &PGetLine;
  int (*get_line_cr)(tagMCardInfo*, char*, unsigned) = &PGetLineCR;
  int (*get_control_response)(tagMCardInfo*, char*, unsigned, char) = &PGetControlResponse;
};
ReplyCalls& Replies();

// "$" hexadecimal, "0x" hexadecimal, leading-0 octal or decimal, up to the
// first character that does not fit; a signed 32-bit result.
int32_t ParseDprAddress(const std::string& text);

class CVoctoCtrl : public controls::Control {
 public:
  CVoctoCtrl();
  ~CVoctoCtrl() override;

  static const automation::DispatchTable<CVoctoCtrl>& Table();
  HRESULT Invoke(automation::DispId id, uint16_t flags, std::span<automation::Variant> args,
                 automation::Variant* result, automation::ExcepInfo* excep) override;
  const automation::InterfaceInfo* TypeInfo() const override { return &kDVocto; }
  std::unique_ptr<controls::PropertyFrame> CreatePropertyFrame(
      std::shared_ptr<automation::Dispatch> self) override;
  std::vector<automation::Guid> PropertyPages() const override;
  void AboutBox() override;
  std::string IconName() const override { return "vocto"; }
  void OnTimer(int id) override;

  // Properties.
  HRESULT get_CommMethod(int32_t* v);
  HRESULT put_CommMethod(int32_t v);
  HRESULT get_Interval(int16_t* v);
  HRESULT put_Interval(int16_t v);
  HRESULT get_Timeout(int32_t* v);
  HRESULT put_Timeout(int32_t v);
  HRESULT get_LastError(int32_t* v);
  HRESULT put_LastError(int32_t v);
  HRESULT get_LastErrorString(Bstr* v);
  HRESULT put_LastErrorString(const Bstr& v);
  HRESULT get_BusBase(int32_t* v);
  HRESULT put_BusBase(int32_t v);
  HRESULT get_SerialPortNum(int32_t* v);
  HRESULT put_SerialPortNum(int32_t v);
  HRESULT get_ZIMOType(int32_t* v);
  HRESULT put_ZIMOType(int32_t v);
  HRESULT get_BusType(int32_t* v);
  HRESULT put_BusType(int32_t v);
  HRESULT get_SerialBaudrate(int32_t* v);
  HRESULT put_SerialBaudrate(int32_t v);
  HRESULT get_DPRBaseAddress(Bstr* v);
  HRESULT put_DPRBaseAddress(const Bstr& v);
  HRESULT get_Enabled(bool* v);
  HRESULT put_Enabled(bool v);

  // Methods.
  bool GetControlResponse(Bstr* response, int32_t ctl_char);
  bool Flush();
  bool GetLineCR(Bstr* response);
  bool GetLineACK(Bstr* response);
  bool Restart();
  bool ShowPropertyPage();
  bool GetResponse(Bstr* response, const Bstr& command);
  bool SendLine(const Bstr& command);
  bool SaveSettings();
  bool LoadSettings();
  bool SendChar(int32_t a_char);
  bool DownloadFile(const Bstr& input_file, int32_t options);
  bool UploadData(const Bstr& output_file, const Bstr& command, int32_t options, int32_t num_lines);
  bool IsLineWaiting();
  int16_t DPRGetWord(int32_t bank, int32_t offset);
  bool DPRSetWord(int32_t bank, int32_t offset, int16_t value);
  int32_t DPRGetDWord(int16_t offset);
  bool DPRSetDWord(int32_t offset, int32_t value);
  float DPRGetFloat(int32_t offset);
  bool DPRSetFloat(int32_t offset, float value);
  bool DPRDWordSetBit(int32_t offset, int32_t bit);
  bool DPRDWordResetBit(int32_t offset, int32_t bit);
  bool DPRDWordBitSet(int32_t offset, int32_t bit);
  double DPRFixed(int32_t d0, int32_t d1);
  double DPRDouble(int32_t d0, int32_t d1);
  void AboutBoxMethod() { AboutBox(); }

  // The card record (null while disabled) and the control as jux170's
  // active list and command table know it.
  tagMCardInfo* card_record() const { return record_; }
  JuxControl* jux_control() { return &jux_; }
  int32_t send_flag() const { return send_flag_; }
  bool timer_running() const { return timer_running_; }

  // The settings name: the ambient display name, or "VOCTO".
  std::string SettingsName() const;
  // The 352-byte image from the properties; `with_interval` puts Interval
  // into it (Restart, SaveSettings, the save exchange).
  tagMCardInfo BuildImage(bool with_interval) const;
  // Takes the properties back from an image and notifies them.
  void ApplyImage(const tagMCardInfo& image);

  // Stores `code` as the last error (in the record, else globally) and
  // fires OnError with its text, or `fallback` when it has none.
  void RaiseError(int32_t code, const char* fallback);

 protected:
  void DoPropExchange(controls::PropExchange& px) override;
  void OnEnabledChanged() override;
  void OnAmbientUserModeChanged() override;

 private:
  bool ReplyMethod(Bstr* response, size_t capacity,
                   const std::function<int(char*, unsigned)>& call);
  bool SendMethod(int result);
  bool DprCheck();
  void FireOnError(int32_t code, const std::string& text);
  // Opens the record from `image`; a failed open disables the control and
  // fires OnError with the global error. True when open.
  bool Open(tagMCardInfo image);
  void Close();
  bool IsOpen() const;
  void StartTimer();
  void StopTimer();
  void DisableForChange();
  void PutLong(int32_t* member, int32_t v, automation::DispId id);

  // Control state.
  tagMCardInfo* record_ = nullptr;
  int32_t send_flag_ = 1;
  int32_t zimo_type_ = 1;
  int32_t bus_type_ = 1;
  int32_t bus_base_ = 528;
  std::string dpr_base_address_ = "$D4000";
  int32_t serial_port_num_ = 2;
  int32_t serial_baudrate_ = 38400;
  int32_t timeout_ = 1000;
  int32_t comm_method_ = 3;
  int16_t interval_ = 100;

  JuxControl jux_{};
  bool timer_running_ = false;
  bool in_exchange_ = false;
};

}  // namespace zimo::vocto
