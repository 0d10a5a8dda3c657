// The simulated card: the peer on the far side of every transport. One Card
// holds the card's whole state (variables, memory, motors, the interpreter's
// line state) behind one mutex; every attachment (serial pseudo-terminal,
// bus port registers and DPR mailbox, Ethernet, USB requests) shares it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cardsim/card_model.h"
#include "cardsim/firmware_image.h"
#include "cardsim/framing.h"
#include "cardsim/memory.h"
#include "cardsim/reply.h"
#include "cardsim/script.h"
#include "cardsim/stream.h"

namespace zimo::cardsim {

class Brushless;
class LabPlant;
class Interpreter;
class PlccRunner;
class Motors;
class RotaryBuffers;
class Variables;

// Bytes a stream port sends, and how long to hold them back (scripted delay).
struct CardOutput {
  std::string bytes;
  std::chrono::microseconds delay{0};
};

class Card {
 public:
  explicit Card(CardModel model);
  ~Card();
  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;

  // One host command line (a CR or CR LF at its end is ignored). Several
  // commands may share it.
  Reply Execute(std::string_view line);
  // A control character (^X flush, ^B/^C/^G status, ^P/^V/^F, ^K, ^D, ^Y, ...).
  Reply Control(char c);
  // A block of NUL-separated lines run in order (USB and Ethernet program
  // download). Returns the card's 4-byte block status: 0 when every line
  // was taken, else bit 31, the failing line's position (1-based) in bits
  // 0-15 and its error number in bits 16-23; lines after it do not run.
  uint32_t ExecuteBlock(std::string_view block);

  // Byte-stream framing as a serial port or the bus port sees it: bytes in
  // (CR-ended lines, control characters, checksummed lines while I4 = 1,
  // firmware bytes in bootstrap mode after ^O), bytes out as stream.h
  // describes, with waiting unsolicited lines in front. `delay`, when
  // given, receives the scripted time to hold the bytes back.
  std::string Feed(std::string_view bytes_in, std::chrono::microseconds* delay = nullptr);
  CardOutput FeedWithDelay(std::string_view bytes_in);
  // The bytes a stream port sends for `reply` in the current mode.
  std::string Format(const Reply& reply) const;
  // The current framing settings (I3, I6, I63, I64, I4).
  FrameMode Mode() const;

  // Unsolicited messages: PostUnsolicited queues one; TakeUnsolicited hands
  // out the next raw line (for attachments that carry them on their own);
  // TakeStreamOutput formats all waiting ones for a byte stream.
  void PostUnsolicited(std::string line);
  std::optional<std::string> TakeUnsolicited();
  std::string TakeStreamOutput();

  // Variables. I-variable values may carry fractions; IVar truncates.
  int32_t IVar(int n) const;
  void SetIVar(int n, int32_t v);
  double IVarValue(int n) const;
  void SetIVarValue(int n, double v);
  double PVar(int n) const;
  void SetPVar(int n, double v);
  double QVar(int n, int coord = 1) const;
  void SetQVar(int n, double v, int coord = 1);
  double MVar(int n) const;
  void SetMVar(int n, double v);

  // Bootstrap mode: "?" answers the bootstrap text, ^O starts a serial
  // firmware image, the firmware arrives as bytes or words; ^R (or
  // LeaveBootstrap) starts the firmware.
  bool InBootstrap() const;
  void EnterBootstrap();
  void LeaveBootstrap();
  // A firmware block (USB and Ethernet request), 3 bytes per card word;
  // ignored outside bootstrap mode. `first` starts a new image.
  void LoadFirmwareBlock(std::string_view bytes, bool first_block);
  // One firmware word from the port registers (5 low, 6 middle, 7 high).
  void LoadFirmwareWord(uint32_t word);
  size_t firmware_bytes() const;
  // The image the loader keeps, its configured length and its faults.
  FirmwareImage& firmware() { return firmware_; }

  // The card's motors: status words, positions (counts), and a scripting
  // hook to place a motor.
  uint32_t MotorServoStatus(int motor) const;
  uint32_t MotorStatusWord(int motor) const;
  double MotorPosition(int motor) const;
  double MotorCommandedPosition(int motor) const;
  double MotorFollowingError(int motor) const;
  void SetMotorPosition(int motor, double counts);
  // Scripted plant: a limit switch (servo word bit 21 positive, 22
  // negative), a steady load (counts/ms^2) or a plant that cannot move.
  void SetLimitSwitch(int motor, bool positive, bool on);
  void SetPlantFault(int motor, double load, bool stuck = false);
  // Scripted status bits: ORed into a motor's servo and motor words, into a
  // coordinate system's two words (jog stop, jog hold, errors); each call
  // replaces the bits set before (0 clears). Global error flags show in the
  // status reply and in the DPR's global words.
  void SetMotorStatusBits(int motor, uint32_t servo_bits, uint32_t motor_bits);
  void SetCoordStatusBits(int coord, uint32_t first, uint32_t second);
  void SetGlobalError(GlobalError error, bool on);
  // A coordinate system's 12 status digits, as ^C reports them.
  std::string CoordStatusText(int coord) const;
  // Enabled PLC programs, one bit per PLC number.
  uint32_t PlcEnabled() const;
  // Lines stored in a program buffer ("PLC 3", "PROG 999", "ROT"), if any.
  std::optional<std::vector<std::string>> ProgramBuffer(const std::string& name) const;

  // Binary rotary buffers (card_rotary.cc). The ports' puts: staged
  // commands into ring `buffer` (USB 0xC8; the answer word), the Ethernet
  // 0xC8 payload in either form, 0xCA; USB pipe 2 bytes, its ready byte
  // (0xE2) and 0xE8.
  uint32_t RotaryPutStaged(int buffer, std::string_view staged);
  uint32_t RotaryPutNetwork(int buffer, std::string_view payload);
  bool RotaryInit(int buffer);
  void HostRotaryData(std::string_view bytes);
  bool HostRotaryReady();
  void HostRotaryReset();
  // Scripting: every `every`-th staged put answers `code` (3: the whole
  // commands within `take` bytes are taken), `count` times (-1: until code
  // 0); every `every`-th host-side ready request or Ethernet record put is
  // refused; the units the host-side records may hold; descriptor status
  // bit 15 of a buffer.
  void ScriptRotaryAnswer(uint32_t code, size_t take, int every = 1, int count = -1);
  void QueueRotaryAnswers(std::vector<std::pair<uint32_t, size_t>> answers);
  void ScriptHostRotaryRefusal(int every, int count = -1);
  void SetHostRotaryCapacity(size_t units);
  void SetRotaryBufferError(int buffer, bool on);
  size_t HostRotaryErrors() const;
  std::string HostRotaryReceived() const;  // USB pipe 2 bytes since the last 0xE8
  // The motion log: "&c TEXT" per item a system ran from its rotary buffer.
  std::vector<std::string> MotionLog() const;
  void ClearMotionLog();

  // Ring stations (none at start): a station on `node` whose I3 reads
  // `station_type`; RemoveRingStation makes the node absent again.
  void AddRingStation(int node, double station_type = 1);
  void RemoveRingStation(int node);

  // The change log: while on, every change of an I-variable and of a
  // watched memory word is kept with the simulated time and its writer
  // ("host", "PLC n", "CMD PLC n" for a PLC's command, "&c" for a motion
  // program, "servo" for the card's own cycle work).
  struct Change {
    double ms = 0;
    std::string writer;
    std::string what;  // "I129", "X:$3D", "Y:$700"
    double old_value = 0, new_value = 0;
  };
  void SetChangeLogging(bool on);
  void WatchWord(Space space, uint32_t address);
  std::vector<Change> Changes() const;
  void ClearChanges();
  // Snapshots of the settings (every I-variable) and the watched words;
  // the compare lists what differs, one "what: old -> new" line each.
  struct Snapshot {
    std::vector<double> i;
    std::map<std::string, uint32_t> words;
  };
  Snapshot TakeSnapshot() const;
  static std::vector<std::string> Compare(const Snapshot& before, const Snapshot& after);

  Memory& memory();
  const Memory& memory() const;
  Script& script();
  // Compiled PLC programs: the processor, the firmware routines, the trace
  // and the log of stopped PLCs (plcc_runner.h). Not locked: tests use it
  // between servo cycles.
  PlccRunner& plcc();
  const CardModel& model() const;
  // The lab plant (CardModel::plant), nullptr without one. Each servo cycle
  // it takes the DAC words Y:$C003 (DAC 1) and Y:$C002 (DAC 2) as volts and
  // puts its encoders behind the actual positions of motors 1, 2, ...
  const LabPlant* lab_plant() const;

  // Motors step with the servo clock: one step per cycle of I10.
  void AdvanceServo(int cycles);
  // Or let a background thread advance one cycle per `period`.
  void StartServoThread(std::chrono::microseconds period);
  // Or keep simulated time running `time_scale` times as fast as wall time,
  // the cycle following I10 (1: real time; 100: a one-second program ends
  // in 10 ms). The thread catches up in batches and never holds the card's
  // lock for more than 64 cycles at a time.
  void StartServoClock(double time_scale = 1.0);
  // Simulated milliseconds since the card was made (all servo cycles run).
  double SimulatedMs() const;
  void StopServoThread();

  // The motors' brushless rotors (brushless.h): put one at an electrical
  // angle (degrees); its angle (0..360) and encoder count.
  void PlaceRotor(int motor, double electrical_deg);
  double RotorAngle(int motor) const;
  double RotorCounts(int motor) const;

  // True while checksummed serial mode (I4 = 1) is on.
  bool ChecksumMode() const;

 private:
  Reply ExecuteLocked(std::string_view line);
  Reply ControlLocked(char c);
  Reply BootstrapLine(std::string_view line);
  Reply BootstrapControl(char c);
  void Finish(Reply& reply);
  void OnIVarWritten(int n, double value);
  void InitCardWords();
  std::string DrainUnsolicitedLocked(const FrameMode& mode);
  FrameMode ModeLocked() const;
  void FeedImageByte(char c);

  mutable std::recursive_mutex mu_;
  CardModel model_;
  std::unique_ptr<Memory> memory_;
  std::unique_ptr<Script> script_;
  std::unique_ptr<Variables> vars_;
  std::unique_ptr<Motors> motors_;
  std::unique_ptr<Brushless> brushless_;
  std::unique_ptr<LabPlant> lab_plant_;
  void StepLabPlant();
  std::unique_ptr<Interpreter> interp_;
  std::unique_ptr<RotaryBuffers> rotary_;
  std::deque<std::string> unsolicited_;

  // Byte-stream input state.
  std::string stream_line_;
  bool stream_overflow_ = false;
  uint8_t stream_sum_ = 0;
  uint8_t last_checksum_ = 0;

  bool bootstrap_ = false;
  bool image_mode_ = false;  // serial firmware bytes follow ^O
  FirmwareImage firmware_;

  double simulated_ms_ = 0;
  mutable std::mutex changes_mu_;
  bool logging_changes_ = false;
  std::deque<Change> changes_;
  std::set<std::pair<Space, uint32_t>> watched_;
  std::atomic<bool> servo_run_{false};
  std::thread servo_thread_;
};

}  // namespace zimo::cardsim
