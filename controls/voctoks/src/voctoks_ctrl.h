// CVoctoKSCtrl: the control through which a form talks to one card by way
// of the communications library (bound at run time, corvan_binding.h).
// It adds the enabled / simulated / open gating, the reply clean-up, the
// automation strings and the OnError event; the card work is the library's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "automation/dispatch_table.h"
#include "controls/control.h"
#include "platform/module.h"
#include "voctoks_interface.h"

namespace zimo::voctoks {

using automation::Bstr;
using automation::HRESULT;

class CVoctoKSCtrl;

// What the download dialog shows; the Qt view and the tests implement it.
class DownloadView {
 public:
  virtual ~DownloadView() = default;
  virtual void AddMessage(const std::string& text) = 0;
  virtual void SetProgress(int percent) = 0;  // the bar and the "%ld" text
};

// What the upload dialog shows.
class UploadView {
 public:
  virtual ~UploadView() = default;
  virtual void SetText(const std::string& text) = 0;
  // Shows the bar with the range 0..maximum, or hides it (maximum 0).
  virtual void SetRange(int32_t maximum) = 0;
  virtual void SetPosition(int32_t position) = 0;
  // Whether Cancel was pressed.
  virtual bool cancelled() const = 0;
};

// What the control needs from the window system, replaceable as a whole:
// the Qt side installs its views; tests install recorders.
struct ControlServices {
  // Null results: the dialog could not be made.
  std::function<std::unique_ptr<DownloadView>(CVoctoKSCtrl&, bool visible)> make_download_view;
  std::function<std::unique_ptr<UploadView>(CVoctoKSCtrl&, bool visible)> make_upload_view;
  // Handles the window messages that wait; returns the idle result.
  std::function<int32_t()> process_messages;
  std::function<void()> beep;
  // Starts the log viewer on `path`, not waited for.
  std::function<void(const std::string& path)> start_viewer;
  std::function<void(CVoctoKSCtrl&)> about_box;
  // Shows the control's property pages (ShowPropertyPage has its own
  // meaning on this control; this is the container's verb).
  std::function<void(CVoctoKSCtrl&)> property_frame;
};
ControlServices& Services();

// The command the default viewer runs, "%s" standing for the log path:
// $ZIMO_LOG_VIEWER when set, else "xdg-open %s".
std::string LogViewerCommand();

class CVoctoKSCtrl : public controls::Control {
 public:
  CVoctoKSCtrl();
  ~CVoctoKSCtrl() override;

  static const automation::DispatchTable<CVoctoKSCtrl>& Table();
  HRESULT Invoke(automation::DispId id, uint16_t flags, std::span<automation::Variant> args,
                 automation::Variant* result, automation::ExcepInfo* excep) override;
  const automation::InterfaceInfo* TypeInfo() const override { return &kDVoctoKS; }
  std::unique_ptr<controls::PropertyFrame> CreatePropertyFrame(
      std::shared_ptr<automation::Dispatch> self) override;
  std::vector<automation::Guid> PropertyPages() const override;
  void AboutBox() override;
  std::string IconName() const override { return "voctoks"; }

  // Properties.
  HRESULT get_SimulateCommunication(bool* v);
  HRESULT put_SimulateCommunication(bool v);
  HRESULT get_DeviceNumber(int32_t* v);
  HRESULT put_DeviceNumber(int32_t v);
  HRESULT get_LastErrorString(Bstr* v);
  HRESULT put_LastErrorString(const Bstr& v);
  HRESULT get_LastError(int32_t* v);
  HRESULT put_LastError(int32_t v);
  HRESULT get_DownloadDeleteTemp(bool* v);
  HRESULT put_DownloadDeleteTemp(bool v);
  HRESULT get_DownloadDo(bool* v);
  HRESULT put_DownloadDo(bool v);
  HRESULT get_DownloadHide(bool* v);
  HRESULT put_DownloadHide(bool v);
  HRESULT get_DownloadLog(bool* v);
  HRESULT put_DownloadLog(bool v);
  HRESULT get_DownloadMap(bool* v);
  HRESULT put_DownloadMap(bool v);
  HRESULT get_DownloadMaxErrors(int32_t* v);
  HRESULT put_DownloadMaxErrors(int32_t v);
  HRESULT get_DownloadParse(bool* v);
  HRESULT put_DownloadParse(bool v);
  HRESULT get_DownloadShowErrors(bool* v);
  HRESULT put_DownloadShowErrors(bool v);
  HRESULT get_UploadAppend(bool* v);
  HRESULT put_UploadAppend(bool v);
  HRESULT get_UploadHide(bool* v);
  HRESULT put_UploadHide(bool v);
  HRESULT get_UploadNoComments(bool* v);
  HRESULT put_UploadNoComments(bool v);
  HRESULT get_UploadShowProgress(bool* v);
  HRESULT put_UploadShowProgress(bool v);
  HRESULT get_Enabled(bool* v);
  HRESULT put_Enabled(bool v);

  // Methods.
  bool GetResponse(Bstr* response, const Bstr& command);
  bool GetControlResponse(Bstr* response, int32_t ctrl_char);
  bool Flush();
  bool GetLineCR(Bstr* response);
  bool GetLineACK(Bstr* response);
  bool SendChar(int32_t a_char);
  int16_t DPRGetWord(int32_t bank, int32_t offset);
  bool DPRSetWord(int32_t bank, int32_t offset, int16_t value);
  int32_t DPRGetDWord(int32_t offset);
  bool DPRSetDWord(int32_t offset, int32_t value);
  float DPRGetFloat(int32_t offset);
  bool DPRSetFloat(int32_t offset, float value);
  bool DPRDWordSetBit(int32_t offset, int32_t bit);
  bool DPRDWordResetBit(int32_t offset, int32_t bit);
  bool DPRDWordBitSet(int32_t offset, int32_t bit);
  double DPRDouble(int32_t least_sig, int32_t most_sig);
  double DPRFixed(int32_t least_sig, int32_t most_sig);
  void LockZIMO();
  void ReleaseZIMO();
  bool DownloadFile(const Bstr& input_file);
  bool DownloadAbort();
  bool UploadData(const Bstr& filename, const Bstr& command, int32_t number_of_lines);
  bool DPRAvailable();
  bool SaveSettings();
  bool LoadSettings();
  int16_t xDPRAsciiStrToRot(const Bstr& input_string, int16_t buffer_number);
  int16_t xDPRRotBuf(bool on);
  int16_t xDPRRotBufChange(int16_t buffer_number, int16_t new_size);
  void xDPRRotBufClr(int16_t buffer_number);
  int16_t xDPRRotBufInit(int16_t buffer_number);
  int32_t xDPRBufLast();
  int16_t xDPRRotBufRemove(int16_t buffer_number);
  bool SendLine(const Bstr& command);
  bool IsLineWaiting();
  bool GetUnsolicitedResponse(Bstr* response);
  bool IsUnsolicitedLineWaiting();
  bool ShowPropertyPage();
  bool SelectDevice();
  void AboutBoxMethod() { AboutBox(); }

  // The device of a running download's Cancel button.
  void CancelDownload();

  bool bound() const { return library_.loaded(); }
  bool device_open() const { return device_open_ != 0; }
  bool dpr_available() const { return dpr_available_ != 0; }
  int32_t device_count() const { return device_count_; }

  // The settings file for the control as it is now (see settings.cc).
  std::string SettingsFileName() const;

  // Raises one of the control's own errors: LastError, LastErrorString,
  // modified, OnError. 1 when the code has a text, else 0 and nothing.
  int RaiseErrorById(int32_t code);

 protected:
  void DoPropExchange(controls::PropExchange& px) override;

 private:
  // Gate of the command methods: kStop (False), kPass (True, nothing done)
  // or kCall.
  enum class Gate { kStop, kPass, kCall };
  Gate CommandGate() const;
  // Gate of the DPR and rotary methods: kPass (neutral value), kStop (4003
  // raised, failure value) or kCall.
  Gate DprGate();
  bool CheckLibraryError();
  void FireOnError(int32_t code, const std::string& text);
  int OpenDevice(int32_t device);
  int CloseDevice(int32_t device);
  void SetBool(int32_t* member, bool v, automation::DispId id);
  void ReadSettingsFile(bool include_enabled);
  uint32_t device() const { return static_cast<uint32_t>(device_number_); }

  // Control state, as the table lists it.
  int32_t download_do_ = 1, download_parse_ = 1, download_log_ = 0, download_map_ = 0,
          download_delete_temp_ = 1, download_hide_ = 1, download_show_errors_ = 0;
  int32_t download_max_errors_ = 10;
  int32_t enabled_ = 0;
  int32_t upload_hide_ = 1, upload_show_progress_ = 1, upload_no_comments_ = 0, upload_append_ = 0;
  int32_t simulate_ = 1;
  int32_t device_open_ = 0;
  platform::Module library_;
  int32_t device_number_ = 0;
  int32_t last_error_ = 0;
  int32_t dpr_available_ = 0;
  int32_t device_count_ = 0;
  std::string last_error_string_;

  friend class TransferRun;
};

}  // namespace zimo::voctoks
