// The device object: how clients reach the cards through the server. One
// object serves all eight device numbers; each method checks its arguments,
// calls one operation of the server's library build and converts texts and
// arrays. The object keeps, per card, the error bits of its own last
// exchange, the cards it opened and the device locks it holds; it gives
// all of them back when it goes, whether or not the client said Close.
//
// Events (_IZimoDeviceEvents: Message, Progress, Error) go to the object
// whose call started the operation, with the device of that operation,
// from whatever thread runs it; work the server does for itself reports to
// no one.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "automation/connection_point.h"
#include "automation/dispatch_table.h"
#include "automation/server_lifetime.h"

#include "download/download_state.h"

namespace zimo::server {

using automation::Bstr;
using automation::HRESULT;
using automation::Variant;

extern const automation::InterfaceInfo kIZimoDevice;
extern const automation::InterfaceInfo k_IZimoDeviceEvents;

// Event DISPIDs of _IZimoDeviceEvents.
inline constexpr automation::DispId kEventMessage = 1;
inline constexpr automation::DispId kEventProgress = 2;
inline constexpr automation::DispId kEventError = 3;

class ZimoDevice;

// The reports of one library operation, for the object that started it:
// the library's four callbacks (messages, messages by text number,
// progress, errors) as that object's events with the operation's device.
// The object may go while the operation runs; its reports then reach no
// one.
class LibraryReports : public corvan::DownloadReportSink {
 public:
  LibraryReports(std::weak_ptr<ZimoDevice> object, int32_t device)
      : object_(std::move(object)), device_(device) {}
  void Message(const char* text, int32_t new_line) override;  // OnLibMessage
  // OnLibMessageId: the text of `number` from the library's text table.
  void MessageId(uint32_t number, int32_t new_line);
  void Progress(int32_t percent) override;  // OnLibProgress
  void Error(const char* file, int32_t number, uint32_t line,
             const char* line_text) override;  // OnLibError

 private:
  std::weak_ptr<ZimoDevice> object_;
  int32_t device_;
};

class ZimoDevice : public automation::DispatchImpl<ZimoDevice>,
                   public std::enable_shared_from_this<ZimoDevice> {
 public:
  // `lifetime` may be null (an object outside a server process).
  explicit ZimoDevice(automation::ServerLifetime* lifetime);
  ~ZimoDevice() override;

  HRESULT Open(int32_t device);
  HRESULT Close(int32_t device);
  HRESULT get_ReadReady(int32_t device, int32_t* value);
  HRESULT SendLine(int32_t device, const Bstr& line);
  HRESULT SendChar(int32_t device, uint8_t ch);
  HRESULT GetLine(int32_t device, Bstr* line);
  HRESULT GetResponse(int32_t device, const Bstr& question, Bstr* answer);
  HRESULT LockDevice(int32_t device);
  HRESULT UnlockDevice(int32_t device);
  HRESULT Flush(int32_t device);
  HRESULT GetControlResponse(int32_t device, uint8_t question, Bstr* answer);
  HRESULT get_LastCommError(int32_t device, int32_t* value);
  HRESULT GetLastCommErrorStr(int32_t device, Bstr* text);
  HRESULT GetLocAndEnum(int32_t device, int32_t* location, int32_t* enumeration);
  HRESULT DownloadFile(int32_t device, const Bstr& path);
  HRESULT AbortDownload(int32_t device);
  HRESULT Download(int32_t device, const Bstr& path, int32_t macro, int32_t map, int32_t log,
                   int32_t download);
  HRESULT DownloadAsynch(int32_t device, const Bstr& path, int32_t macro, int32_t map, int32_t log,
                         int32_t download);
  HRESULT get_MaxDownloadErrors(int32_t* value);
  HRESULT put_MaxDownloadErrors(int32_t value);
  HRESULT SendCommand(int32_t device, const Bstr& command);
  HRESULT GetBuffer(int32_t device, int32_t add_lf, Bstr* text);
  HRESULT GetControlValues(int32_t device, int16_t control, Variant* values, int32_t* success);
  HRESULT GetNumDeviceKeys(int32_t* count);
  HRESULT GetFirmwareType(int32_t device, int32_t* kind);
  HRESULT GetResponseBuffered(int32_t device, const Bstr& question, int32_t add_lf, Bstr* answer);

  // The three events, fired on this object's sinks on the calling thread.
  void FireMessage(int32_t device, const char* text, int32_t new_line);
  void FireProgress(int32_t device, int32_t percent);
  void FireError(int32_t device, const char* file, int32_t number, int32_t line,
                 const char* line_text);

  // The reports of one library operation this object started on `device`.
  std::shared_ptr<LibraryReports> ReportsFor(int32_t device);

  // How many device locks the object holds on the card (for tests).
  int held_locks(int device) const;

  static const automation::DispatchTable<ZimoDevice>& Table();

 protected:
  automation::ConnectionPoint* FindConnectionPoint(const automation::Guid& iid) override;

 private:
  // The kept error bits of an exchange; S_FALSE when any is set.
  HRESULT Keep(int device, uint32_t word);

  automation::ModuleLock lock_;
  automation::ConnectionPoint events_;
  std::atomic<uint32_t> last_error_[8] = {};
  mutable std::mutex locks_mu_;
  int held_locks_[8] = {};
};

}  // namespace zimo::server
