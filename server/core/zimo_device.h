// The device object, the clients' way to the cards through the server. A
// single object answers for every device number 0-7: a method validates what
// it is given, makes one call into the library as the server builds it, and
// turns texts and arrays into the client's types. The object keeps, per
// card, the error bits of its own last exchange, the cards it opened and the
// device locks it holds; it gives all of them back when it goes, whether or
// not the client said Close.
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
#include "automation/dispatch_rows.h"
#include "automation/server_lifetime.h"

#include "corvan/program_info_api.h"
#include "corvan/tuning_api.h"
#include "download/download_state.h"

namespace zimo::server {

using automation::Bstr;
using automation::HRESULT;
using automation::Variant;

extern const automation::InterfaceInfo& kIZimoDevice;
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

  // The rows that only forward to one library operation: the device
  // number checked (E_INVALIDARG), then every out pointer and input text
  // (E_POINTER); the client's other arguments go to `Op` in their order,
  // each converted to the operation's own parameter type (texts as 8-bit
  // text, out pointers handed on). The row list binds one instance per
  // row, naming the operation and the client's kinds after the device.
  //   ValueOf: the operation's result goes to the last out value `Out`, S_OK.
  //   Action: the operation is called, its result (if any) dropped; S_OK.
  //   Succeeds: S_FALSE when the operation returns 0.
  //   TextOut: the operation's text through a buffer of `Size` characters,
  //     empty when it reports none.
  //   StatusWord: the first of the two status words the operation reads
  //     into a local pair (the client passed room for one); S_FALSE when
  //     the read fails.
  template <auto Op, typename Out, typename... In>
  HRESULT ValueOf(int32_t device, In... in, Out* value);
  template <auto Op, typename... In>
  HRESULT Action(int32_t device, In... in);
  template <auto Op, typename... In>
  HRESULT Succeeds(int32_t device, In... in);
  template <auto Op, uint32_t Size>
  HRESULT TextOut(int32_t device, Bstr* text);
  template <auto Op, typename... In>
  HRESULT StatusWord(int32_t device, In... in, int32_t* value);
  // A 48-bit word read from DPR (two dwords, lower first) as a number by
  // `Convert`: 0.0 and S_FALSE when the read fails.
  template <double (*Convert)(const uint32_t*, double)>
  HRESULT DprWord(int32_t device, int32_t offset, double* value);

  HRESULT Open(int32_t device);
  HRESULT Close(int32_t device);
  HRESULT SendLine(int32_t device, const Bstr& line);
  HRESULT GetLine(int32_t device, Bstr* line);
  HRESULT GetResponse(int32_t device, const Bstr& question, Bstr* answer);
  HRESULT LockDevice(int32_t device);
  HRESULT UnlockDevice(int32_t device);
  HRESULT GetControlResponse(int32_t device, uint8_t question, Bstr* answer);
  HRESULT get_LastCommError(int32_t device, int32_t* value);
  HRESULT GetLocAndEnum(int32_t device, int32_t* location, int32_t* enumeration);
  HRESULT DownloadFile(int32_t device, const Bstr& path);
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

  // Identity and settings of a card.
  // This server shows no dialogs: no device is ever chosen.
  HRESULT SelectDevice(int32_t window, int32_t* device);
  // Whether this process talks to the card with checksums (serial cards).
  HRESULT get_DoChecksums(int32_t device, int32_t* on);
  HRESULT SetCommandLogging(int32_t device, int32_t on, const Bstr& path, int32_t* success);
  HRESULT GetVariableStr(int32_t device, int16_t letter, int32_t number, Bstr* text,
                         int32_t* success);

  // The link list and the shared rings.
  HRESULT RestoreLinkList(const Bstr& firmware_version);
  HRESULT ChangeStore(int32_t device, const Bstr& text);

  // The card's word formats, from hex text.
  HRESULT DPRFloat(int32_t* words, double scale, double* value);
  HRESULT strtod48f(const Bstr& text, double* value);
  HRESULT strtod48l(const Bstr& text, double* value);
  HRESULT strtod24(const Bstr& text, double* value);
  HRESULT strtod32dp(const Bstr& text, double* value);
  HRESULT strto32f(const Bstr& text, double* value);
  HRESULT GetBitValue(const Bstr& text, int16_t bit, int32_t* value);

  // Program, firmware and list downloads; reports go to this object.
  HRESULT CompilePLCC(int32_t device, const Bstr& in_path, const Bstr& out_path);
  HRESULT DownloadFirmwareFile(int32_t device, const Bstr& path);
  HRESULT MultiDownload(int32_t device, const Bstr& out_file, const Bstr& ini_file,
                        const Bstr& user_id, int32_t macro, int32_t map, int32_t log,
                        int32_t download, int32_t* success);
  HRESULT AddDownloadFile(int32_t device, const Bstr& ini_file, const Bstr& user_id,
                          const Bstr& file, int32_t* success);
  HRESULT RemoveDownloadFile(int32_t device, const Bstr& ini_file, const Bstr& user_id,
                             const Bstr& file, int32_t* success);
  HRESULT RenumberFiles(int32_t device, int32_t number, const Bstr& ini_file);

  // Motor tuning: card programs, step data and the estimators.
  HRESULT get_BufferOpen(int32_t device, int32_t* value);
  HRESULT DownloadVelLimitPLC(int32_t device, int16_t motor, int32_t max_speed, int32_t* success);
  HRESULT DownloadPosLimitPLC(int32_t device, int16_t motor, int32_t* success);
  HRESULT DownloadAndRunRoughPhasePLC(int32_t device, int16_t motor, int32_t* success);
  HRESULT CreateIncrementalFinePhasePLC(int32_t device, const Bstr& path, int16_t plc,
                                        int16_t motor, int32_t* success);
  HRESULT DoAGantryParabolic(int32_t device, int16_t motor, int16_t motor2, int32_t* success);
  // The set-up tests. Flags the library takes as shorts are passed as 0 or
  // 1, so a set flag is never cut to 0. The two six-step results come back
  // as 7 longs (the voltage and current test fill the first six).
  HRESULT DownloadCurrentFeedbackTest(int32_t device, int16_t motor, double duty, int16_t frequency,
                                      int32_t varlo, int32_t compact, int32_t* success);
  HRESULT ReadResultsFromCurrentFeedbackTest(int32_t device, int16_t motor, int32_t* result);
  HRESULT DownloadVoltageSixStepTest(int32_t device, int16_t motor, double duty, int32_t varlo,
                                     int32_t compact, int32_t* success);
  HRESULT DownloadCurrentSixStepTest(int32_t device, int16_t motor, double duty, int32_t varlo,
                                     int32_t compact, int32_t* success);
  HRESULT DownloadUVWSixStepTest(int32_t device, int16_t motor, double duty, int32_t* success);
  HRESULT ReadResultsFromSixStepTest(int32_t device, int32_t skip, Variant* steps, int32_t* result);
  HRESULT ReadResultsFromUVWSixStepTest(int32_t device, Variant* states, int32_t* result);
  // A feedback type that is no short is no type the library knows.
  HRESULT SetIVarForFeedback(int32_t device, int16_t ivar, int32_t address, int32_t type,
                             int32_t* success);
  HRESULT DownloadOpenLoopTest(int32_t device, int16_t motor, int16_t magnitude,
                               int16_t milliseconds, int16_t repetitions, int32_t gather_currents,
                               int32_t varlo, int32_t* success);
  HRESULT DownloadOpenLoopTest1(int32_t device, int16_t motor, int16_t magnitude,
                                int16_t milliseconds, int16_t repetitions, int32_t gather_currents,
                                int32_t varlo, int32_t* success);
  HRESULT DownloadOpenLoopTestForZIMO1(int32_t device, int16_t motor, int16_t magnitude,
                                       int16_t milliseconds, int16_t repetitions,
                                       int32_t gather_currents, int32_t varlo, int32_t* success);
  // The current-loop steps and the restore have no result parameter: a
  // step or restore the library reports failed answers S_FALSE.
  HRESULT DoACurrentLoopStep(int32_t device, int16_t motor, int16_t dwell, int32_t magnitude,
                             int32_t autotune, Bstr* sample_time, double duty, int16_t divisor,
                             int32_t compact);
  HRESULT DoACurrentLoopStepBrush(int32_t device, int16_t motor, int16_t dwell, int32_t magnitude,
                                  int32_t autotune, Bstr* sample_time, double duty, int16_t divisor,
                                  int32_t compact);
  HRESULT RestoreModifiedIVars(int32_t device, int16_t motor);
  HRESULT DoAPositionLoopStep(int32_t device, int16_t motor, int16_t step, int16_t milliseconds,
                              int32_t bidirectional, int32_t* success);
  HRESULT DoAParabolicMove(int32_t device, int16_t motor, int16_t step, int16_t milliseconds,
                           int32_t bidirectional, int32_t* success);
  HRESULT DoAGantryPositionLoopStep(int32_t device, int16_t motor, int16_t motor2, int16_t step,
                                    int16_t milliseconds, int32_t bidirectional, int32_t* success);
  HRESULT DoAGantryParabolicMove(int32_t device, int16_t motor, int16_t motor2, int16_t step,
                                 int16_t milliseconds, int32_t bidirectional, int32_t* success);
  HRESULT DownloadAutoTuningPLC(int32_t device, int16_t motor, int32_t current_loop,
                                int32_t bypass_jog, int32_t* success);
  HRESULT DownloadGantryAutoTuningPLCP1(int32_t device, int16_t motor, int16_t motor2,
                                        int32_t current_loop, int32_t bypass_jog, int32_t* success);
  HRESULT DownloadGantryAutoTuningPLC(int32_t device, int16_t motor, int16_t motor2,
                                      int32_t current_loop, int32_t bypass_jog, double travel,
                                      int32_t milliseconds, int32_t* success);
  HRESULT SetCurrentGather(int32_t device, int32_t mask, int32_t enable, int32_t* success);
  HRESULT ConvertWordToStringFloat(const Bstr& word, Bstr* text);
  HRESULT ConvertWordToShort(const Bstr& word, int16_t offset, int16_t* value);
  HRESULT ConvertWordToLong(const Bstr& word, int32_t* value);
  // The step data is the caller's one-dimensional array with lower bound
  // 0 (else S_FALSE); its upper bound is the sample count.
  HRESULT CalculateStepStatistics(automation::SafeArray* data, int32_t step, int32_t i10,
                                  int32_t i19, Bstr* rise, Bstr* peak, Bstr* natural,
                                  Bstr* overshoot, Bstr* damping, Bstr* settling);
  HRESULT LowPassFilterTheData(automation::SafeArray* data, const Bstr& corner);
  HRESULT DifferentiateTheData(automation::SafeArray* data, int32_t i10, int32_t i19,
                               int32_t* minimum, int32_t* maximum);
  HRESULT MagEstimation(int32_t device, const Bstr& path, int32_t* success);
  HRESULT SlopeEstimation(int32_t device, const Bstr& path, int32_t* success);

  // Status rows with a reading of their own.
  HRESULT get_ProgramFeedMode(int32_t device, int32_t cs, int32_t* value);

  // Variable background buffers and the write buffer. An array shorter
  // than the entry count it comes with is refused (S_FALSE) before the
  // card is touched; the count itself stays the array's upper bound.
  HRESULT DPRVarBufInit(int32_t device, const Variant& addresses, const Variant& types,
                        int32_t* handle);
  HRESULT DPRVarBufWrite(int32_t device, const Variant& data, const Variant& addresses,
                         const Variant& types, int32_t* written);
  HRESULT DPRVarBufReadAll(int32_t device, int32_t handle, Variant* data);
  HRESULT DPRVarBufWriteEx(int32_t device, const Variant& data, int32_t* written);

  // Program and PLC status. The lists walk the object's copy of the card's
  // PLC status, present programs only, in the order of their numbers.
  HRESULT GetPlcStatus(int32_t device, int32_t* plcs, int32_t* compiled, int32_t* i5);
  HRESULT GetFirstPlcc(int32_t device, int32_t* loaded, int32_t* enabled, int32_t* start,
                       int32_t* last, int32_t* size, int32_t* more);
  HRESULT GetNextPlcc(int32_t device, int32_t* loaded, int32_t* enabled, int32_t* start,
                      int32_t* last, int32_t* size, int32_t* more);
  HRESULT GetFirstPlc(int32_t device, int32_t* enabled, int32_t* start, int32_t* last,
                      int32_t* size, int32_t* more);
  HRESULT GetNextPlc(int32_t device, int32_t* enabled, int32_t* start, int32_t* last, int32_t* size,
                     int32_t* more);
  // The whole record as 1164 bytes.
  HRESULT GetPlcStatusStructure(int32_t device, Variant* record, int32_t* programs);

  // Data gathering.
  HRESULT GetGather(int32_t device, int32_t source, Bstr* address, int32_t* success);
  // Every uploaded sample of the source, as doubles.
  HRESULT GetGatherSamples(int32_t device, int32_t source, Variant* samples, int32_t* success);

  // Why a motor or a coordinate system does not move, and the ring's
  // stations. The ring table of a card is this object's: filled on first
  // use and by every GetVarloNodes.
  HRESULT GetWhyMotorNotMovingStr(int32_t mask, Bstr* text);
  HRESULT GetWhyCSNotMovingStr(int32_t mask, Bstr* text);
  HRESULT UploadVarloConfig(int32_t device, const Bstr& path, int32_t* success);
  HRESULT GetVarloIVariableLong(int32_t device, int32_t node, int32_t number, int32_t def,
                                int32_t* value);
  HRESULT SetVarloIVariableString(int32_t device, int32_t node, int32_t number, const Bstr& value,
                                  int32_t* success);
  HRESULT GetVarloIVariableString(int32_t device, int32_t node, int32_t number, const Bstr& def,
                                  Bstr* value);
  HRESULT GetVarloNodes(int32_t device, int32_t* stations, int32_t* active);
  // Nodes 0 to 63; any other number (negative ones too) gives E_FAIL.
  HRESULT GetVarloNodeInfo(int32_t device, int32_t node, int32_t* enabled, int32_t* io_node,
                           int32_t* id);
  // The whole node table as 776 bytes.
  HRESULT AerivoAnalyze(int32_t device, Variant* table, int32_t* active);

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
  // The interface's rows: its description and its dispatch table.
  static const automation::DispatchRows<ZimoDevice>& Rows();

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
  // Per card: the last PLC status read and how far each list has gone.
  ZimoPlcStatus plc_status_[8] = {};
  uint32_t plc_next_[8] = {};
  uint32_t plcc_next_[8] = {};
  // Per card: the last ring analysis, and whether this object made one.
  int32_t ring_table_[8][VARLO_NODE_TABLE_WORDS] = {};
  bool ring_analysed_[8] = {};
};

}  // namespace zimo::server
