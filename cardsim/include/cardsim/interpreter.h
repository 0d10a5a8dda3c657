// The card's command interpreter: runs one command line (several commands
// may share it, without separators) or one control character against the
// card's state, and says what the card answers. Not thread-safe: the Card
// calls it under its lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cardsim/card_model.h"
#include "cardsim/lexer.h"
#include "cardsim/memory.h"
#include "cardsim/motors.h"
#include "cardsim/program.h"
#include "cardsim/reply.h"
#include "cardsim/rotary_buffers.h"
#include "cardsim/rotary_run.h"
#include "cardsim/script.h"
#include "cardsim/variables.h"

namespace zimo::cardsim {

class PlccRunner;

class Interpreter {
 public:
  // The longest command line the card takes (characters before the CR).
  static constexpr size_t kMaxLine = 255;

  Interpreter(const CardModel& model, Memory& memory, Variables& vars, Motors& motors,
              Script& script);
  ~Interpreter();

  // Compiled PLC programs (plcc_runner.h): run once per servo cycle after
  // the text PLCs.
  PlccRunner& plcc() { return *plcc_; }

  Reply Run(std::string_view line);
  Reply Control(char c);

  int motor() const { return motor_; }
  int coord() const { return coord_; }
  uint32_t plc_enabled() const { return plc_enabled_; }
  bool buffer_open() const { return !open_buffer_.empty(); }
  const std::string& open_buffer() const { return open_buffer_; }
  const std::vector<std::string>* Buffer(const std::string& name) const;
  uint64_t global_status() const { return global_status_; }
  void set_global_status(uint64_t status) { global_status_ = status; }
  // The card's own work in one servo cycle, after the motors have moved:
  // the cycle counter (X:0), the countdown timer (Y:$700 on older cards),
  // then one scan of each enabled PLC that I5 lets run, in number order,
  // and last the commands those scans issued.
  void ServoCycle();
  // Motion programs: each running coordinate system moves its motors one
  // servo cycle on (before the motors step).
  void MotionCycle();
  bool ProgramRunning(int coord) const;

  // The fixed DPR buffers and the control panel (fixed_buffers.cc), once
  // per servo cycle after the PLC scans: the real-time and background
  // refreshes when their handshakes let the card write, and the panel's
  // requests while I2 = 3.
  void DprCycle();
  // Data gathering (gather.cc), once per servo cycle after the DPR
  // buffers: one sample every period cycles while gathering runs.
  void GatherCycle();
  // Tells the motors which system each serves (their status words show it).
  void SyncAssignments();
  // A coordinate system's two status words: program status, then motion
  // mode and errors (what ^C and the DPR records report).
  std::pair<uint32_t, uint32_t> CoordWords(int coord) const;
  // Scripted status: extra bits ORed into a system's words (replacing the
  // earlier ones), and the card's global error flags.
  void SetScriptedCoordBits(int coord, uint32_t first, uint32_t second);
  void SetGlobalError(GlobalError error, bool on);
  // The two 24-bit global words as the DPR carries them.
  std::pair<uint32_t, uint32_t> DprGlobalWords() const;

  // Binary rotary buffers (rotary_run.cc): where the units come from and
  // the motion log; the mode is on (older cards: I57, SPRAN cards: "OPEN
  // BIN ROT") and a rotary buffer is open for the status words.
  void AttachRotary(RotaryBuffers* rotary) { rotary_ = rotary; }
  bool BinaryRotaryOn() const;
  bool RotaryBufferOpen() const { return open_buffer_ == "ROT" || binary_rotary_open_; }

  // Ring stations: each has I0..I999; an absent node answers ERR008.
  void AddRingStation(int node, double station_type);
  void RemoveRingStation(int node);
  int ring_nodes() const { return model_.spran ? 64 : 14; }

  // Who is writing now, for the card's change log: "host", "PLC n",
  // "CMD PLC n", "&c" (a motion program), "servo".
  const std::string& writer() const { return writer_; }
  void set_writer(std::string writer) { writer_ = std::move(writer); }

  // Where PLC n resumes at its next scan (statement index; 0 = its start).
  size_t PlcResumePoint(int n) const { return plcs_[static_cast<size_t>(n & 31)].pc; }

  // The 12 hex digits of the status words.
  std::string MotorStatusText(int motor) const;
  std::string CoordStatusText(int coord) const;
  std::string GlobalStatusText() const;

 private:
  using Handler = int (Interpreter::*)(Scanner&, Reply&);
  struct CommandWord {
    std::string_view word;  // upper case, without blanks
    Handler run;
  };
  // The command words, longest first (command_table.cc).
  static const std::vector<CommandWord>& CommandTable();

  int RunOne(Scanner& s, Reply& reply);
  bool IntoBuffer(Scanner& s, Reply& reply);
  int CoordPrefix(Scanner& s, Reply& reply);
  int MotorPrefix(Scanner& s, Reply& reply);
  int Address(Scanner& s, Reply& reply);
  int Status(Scanner& s, Reply& reply);
  int FeedRate(Scanner& s, Reply& reply);
  int Reset(Scanner& s, Reply& reply);
  int Gather(Scanner& s, Reply& reply);
  int EndGather(Scanner& s, Reply& reply);
  int ExecutionAddress(Scanner& s, Reply& reply);
  // Gather buffer commands (gather.cc).
  int DefineGather(Scanner& s, Reply& reply);
  int DeleteGather(Scanner& s, Reply& reply);
  int ListGather(Scanner& s, Reply& reply);
  uint32_t GatherPointerAddress() const;
  void SetGatherPointers(uint32_t start, uint32_t end);
  int LinesRemaining(Scanner& s, Reply& reply);

  // Programs (plc_runner.cc).
  struct PlcState {
    size_t pc = 0;  // statement the next scan starts at
    int motor = 1;  // the PLC's own addressed motor and coordinate system
    int coord = 1;
    bool has_command = false;  // the command slot: one command waits for the scan's end
    std::string command;
  };
  const CompiledProgram* Compiled(const std::string& name);
  void BufferChanged(const std::string& name);
  void ScanPlc(int n);
  void IssuePlcCommands();
  int RunInProgram(std::string_view text, int& motor, int& coord, bool as_program);
  std::optional<bool> Condition(const std::string& text, int coord);
  void SetPlcEnabled(uint32_t mask);
  void UpdateProgramTables();
  uint32_t BufferStatusBits() const;

  // Motion programs (motion_program.cc).
  struct MotorMove {
    int motor = 0;
    double p0 = 0, v0 = 0, p1 = 0, v1 = 0;  // counts, counts per ms
    double start = 0, end = 0;              // LINEAR: start and end, counts
  };
  struct CoordState {
    int program = -1;  // "Bn"; -1: none pointed to
    size_t pc = 0;     // next statement
    size_t sub = 0;    // position inside a statement holding several commands
    bool running = false;
    bool pvt = false;  // PVT mode, else LINEAR
    bool inc = false;
    double ta = 10, tm = 0, f = 1000, segment = 0;  // ms, ms (0: by F), units/s, ms
    std::map<char, double> axis;                    // axis positions
    std::map<char, double> axis_vel;                // end velocities, units/ms
    // What the program is doing now.
    bool moving = false, dwelling = false, cubic = false;
    double t = 0, duration = 0, accel_time = 0;
    std::vector<MotorMove> moves;
    // Hold (program time stands still) and single step (the program waits
    // after each move or dwell until the next step or run).
    bool held = false, step = false, step_wait = false;
  };
  // Fixed buffers (fixed_buffers.cc).
  void RealTimeRefresh();
  void BackgroundRefresh();
  void PanelCycle();
  void PanelAction(int coord, uint8_t actions);
  // Variable background service and write buffer (variable_background.cc).
  void BackgroundLoopCycle();
  uint32_t ProgramStart(int program) const;
  int32_t ExecutionAddressOf(int coord) const;
  int32_t LinesRemainingOf(int coord) const;
  double MoveMsLeft(int coord) const;
  double AccelMsLeft(int coord) const;
  // A started move or dwell takes what is left of this cycle; true when it
  // holds the program past the cycle's end (or a single step waits).
  bool SpendStarted(CoordState& c, double& left, double rate);
  // Binary rotary buffers (rotary_run.cc).
  enum class RotaryStepResult { kContinue, kStarted, kWait };
  void RotaryStatements(int coord, CoordState& c, double& left, double rate);
  RotaryStepResult RotaryStep(int coord, CoordState& c, RotaryRun& r);
  bool RotaryFetch(RotaryRun& r, int buffer, size_t number, uint64_t* unit);
  bool RotaryMove(int coord, CoordState& c, RotaryRun& r);
  void RotaryWord(int coord, CoordState& c, RotaryRun& r, int code, double value);
  bool RotaryTime(int coord, CoordState& c, RotaryRun& r, int code, double value);
  void RotaryFail(int coord, RotaryRun& r, const std::string& why, uint64_t unit);
  void RotaryText(int coord, const std::string& text);
  uint32_t RotaryStatusBits(int coord) const;
  int Begin(Scanner& s, Reply& reply);
  int RunProgram(Scanner& s, Reply& reply);
  int Abort(Scanner& s, Reply& reply);
  int PositionMatch(Scanner& s, Reply& reply);
  int ProgramCounter(Scanner& s, Reply& reply);
  int RunChecks(int coord);
  void MatchPositions(int coord);
  void StopProgram(int coord);
  bool MotionStatement(int coord, CoordState& c, const std::string& text);
  bool AxisMove(int coord, CoordState& c, Scanner& s);
  bool StartMove(int coord, CoordState& c, const std::map<char, std::pair<double, double>>& target,
                 double rapid_duration);
  void ApplyMove(CoordState& c, double t);
  std::optional<double> ProgramValue(Scanner& s, int coord);
  struct AxisOf {
    double scale = 1, offset = 0;
    char letter = 0;  // 0: a motor in the system that moves no axis
  };
  std::map<int, AxisOf> AxesOf(int coord) const;

  int RingCommand(Scanner& s, Reply& reply);

  // Diagnosis status (diagnosis_status.cc): "\" holds the addressed
  // system's program; older cards keep a word per system with a 3-bit field
  // per motor that has an axis there.
  int FeedHold(Scanner& s, Reply& reply);
  static uint32_t AxisField(char letter);
  void PublishSystemMotorWords();

  // Variables (variable_commands.cc).
  int Variable(Scanner& s, Reply& reply);
  int MDefinitionCommand(Scanner& s, Reply& reply, int first, int last);
  std::optional<double> ReadVariable(char letter, int n) const;
  void WriteVariable(char letter, int n, double value);
  std::string VariableText(char letter, int n) const;

  // Identity, buffers, PLCs, settings (command_table.cc).
  int Type(Scanner& s, Reply& reply);
  int Version(Scanner& s, Reply& reply);
  int Date(Scanner& s, Reply& reply);
  int Cpu(Scanner& s, Reply& reply);
  int ListLink(Scanner& s, Reply& reply);
  int List(Scanner& s, Reply& reply);
  int Open(Scanner& s, Reply& reply);
  int Close(Scanner& s, Reply& reply);
  int CloseBuffer();
  int Clear(Scanner& s, Reply& reply);
  int EnablePlc(Scanner& s, Reply& reply);
  int DisablePlc(Scanner& s, Reply& reply);
  int Save(Scanner& s, Reply& reply);
  int Nothing(Scanner& s, Reply& reply);
  int Undefine(Scanner& s, Reply& reply);
  int UndefineAll(Scanner& s, Reply& reply);
  // The PLC numbers of an ENABLE/DISABLE list, as bits of *mask.
  static int ProgramNumbers(Scanner& s, uint32_t* mask);
  int PlcList(Scanner& s, bool enable);
  // Compiled PLCs (plcc_slots.cc).
  int EnablePlcc(Scanner& s, Reply& reply);
  int DisablePlcc(Scanner& s, Reply& reply);
  int PlccList(Scanner& s, bool enable);
  int DeletePlcc(Scanner& s, Reply& reply);
  // "In,count,step": the rest after the first ','; the last number and step.
  static bool VariableSeries(Scanner& s, uint64_t first, uint64_t* last, uint64_t* step);
  // Ring-station variables MIn.
  int RingStationVariable(Scanner& s, Reply& reply);
  bool BufferName(Scanner& s, std::string* name);

  // Memory (memory_commands.cc).
  int ReadHexX(Scanner& s, Reply& reply);
  int ReadHexY(Scanner& s, Reply& reply);
  int ReadHexP(Scanner& s, Reply& reply);
  int ReadHexL(Scanner& s, Reply& reply);
  int ReadX(Scanner& s, Reply& reply);
  int ReadY(Scanner& s, Reply& reply);
  int ReadP(Scanner& s, Reply& reply);
  int ReadL(Scanner& s, Reply& reply);
  int WriteX(Scanner& s, Reply& reply);
  int WriteY(Scanner& s, Reply& reply);
  int WriteP(Scanner& s, Reply& reply);
  int WriteL(Scanner& s, Reply& reply);
  enum class WordKind { kX, kY, kP, kLong };
  int ReadMemory(Scanner& s, Reply& reply, WordKind kind, bool hex);
  int WriteMemory(Scanner& s, WordKind kind);

  // Motors (motor_commands.cc).
  int JogPlus(Scanner& s, Reply& reply);
  int JogMinus(Scanner& s, Reply& reply);
  int JogStop(Scanner& s, Reply& reply);
  int JogEquals(Scanner& s, Reply& reply);
  int JogRelative(Scanner& s, Reply& reply);
  int HomeMotor(Scanner& s, Reply& reply);
  int KillMotor(Scanner& s, Reply& reply);
  int OpenLoop(Scanner& s, Reply& reply);
  int ReportPosition(Scanner& s, Reply& reply);
  int ReportVelocity(Scanner& s, Reply& reply);
  int ReportFollowingError(Scanner& s, Reply& reply);
  int AxisDefinition(Scanner& s, Reply& reply);

  const CardModel& model_;
  std::map<int, double> ring_station_vars_;  // MIn
  Memory& memory_;
  Variables& vars_;
  Motors& motors_;
  Script& script_;

  int motor_ = 1;                                            // addressed motor ("#n")
  int coord_ = 1;                                            // addressed coordinate system ("&n")
  bool selected_ = true;                                     // serial addressing ("@n")
  std::map<int, double> feed_;                               // "%" per coordinate system
  std::map<int, std::map<int, std::string>> axes_;           // cs -> motor -> "1000X"
  std::map<std::string, std::vector<std::string>> buffers_;  // "PLC 3", "PROG 999", "ROT"
  std::string open_buffer_;
  uint32_t plc_enabled_ = 0;
  std::array<PlcState, 32> plcs_{};
  std::unique_ptr<PlccRunner> plcc_;
  void CompiledPlcCycle(int i5);
  void AttachCompiledPlcs();
  std::map<std::string, CompiledProgram> compiled_;  // dropped when the buffer changes
  bool in_program_ = false;                          // running a program's statement
  std::string writer_ = "host";
  std::map<int, CoordState> cs_;                 // motion program state per system
  RotaryBuffers* rotary_ = nullptr;
  std::map<int, RotaryRun> rotary_runs_;
  bool binary_rotary_open_ = false;
  std::map<int, std::vector<double>> stations_;  // ring node -> its I-variables
  uint64_t global_status_ = 0;
  uint32_t global_errors_ = 0;  // bit per GlobalError
  std::map<int, std::pair<uint32_t, uint32_t>> scripted_coord_;
  bool gathering_ = false;  // between GAT and ENDGAT
  struct GatherBuffer {
    bool defined = false;  // DEFINE GATHER and no DELETE GATHER since
    bool running = false;  // recording has begun since the last start
    uint32_t base = 0;     // first L word
    uint32_t size = 0;     // L words
    uint32_t top = 0;      // where the words in use end (a ring: its whole samples)
    uint32_t wait = 0;     // cycles until the next sample
  } gather_;
  uint64_t dpr_cycles_ = 0;
  std::map<int, int> panel_jog_;  // system -> direction of its panel jog
  bool vbg_ready_flags_ = false;  // the host asked for per-entry ready flags
  std::vector<double> saved_i_;
  std::string last_line_;
};

}  // namespace zimo::cardsim
