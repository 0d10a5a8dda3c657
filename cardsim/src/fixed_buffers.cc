// The fixed DPR buffers as the card fills them, and the DPR control panel.
//
// Real-time buffer: older cards refresh it between GAT and ENDGAT while
// I48 = 1, every I19 servo cycles, when neither the host-busy bit (0x024
// bit 0) nor the ready bit (0x026 bit 15) is set: servo timer, global
// words, the feed rates that fit before the first record, the first I59
// motor records, then the ready bit. SPRAN cards refresh it while I48 = 1,
// every I47 cycles, when busy (0x06A bit 15) and ready (0x06E bit 15) are
// clear: the 24-bit timer and the records of the motors in the host's mask
// at 0x070, then ready.
//
// Background buffer (I49 = 1): older cards when the word at 0x228 is 0 write
// the hold bytes and the first I59 records, then 1 into the word; SPRAN
// cards every I50 cycles when the byte at 0x67B is 0 write the global words
// and the first `count` (byte 0x674) system records, then 0x80 into 0x67B.
//
// 48-bit words go in as two dwords, the lower 24-bit word first, the upper
// one sign-extended to 32 bits.
#include <algorithm>
#include <cmath>
#include <string>

#include "cardsim/card_word.h"
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
// Real-time buffer.
constexpr size_t kOlderRt = 0x024, kSpranRt = 0x068;
constexpr size_t kOlderRtRecord = 60, kSpranRtRecord = 48;
// Background buffer.
constexpr size_t kOlderBg = 0x228, kSpranBg = 0x674;
constexpr size_t kOlderBgRecord = 124, kSpranBgRecord = 128;
// Control panel.
constexpr size_t kPanelRequest = 0x000, kPanelFeedEnable = 0x002;
constexpr int kPanelSystems = 8;

// The axis letters in the order of the records' axis words.
constexpr std::string_view kRecordAxes = "ABCUVWXYZ";

// Older program tables (as the program and PLC status readers see them).
constexpr uint32_t kOlderProgramTable = 0xE00, kSpranProgramTable = 0x9000;
constexpr uint32_t kOlderProgramStart = 0x1800, kSpranProgramStart = 0x9600;

void PutDword(Memory& m, size_t offset, uint32_t v) { m.SetDprDword(offset, v); }

// A 48-bit word in its DPR form at `offset`.
void Put48(Memory& m, size_t offset, uint64_t w) {
  PutDword(m, offset, static_cast<uint32_t>(w & word::kMask24));
  PutDword(
      m, offset + 4,
      static_cast<uint32_t>(word::SignExtend24(static_cast<uint32_t>((w >> 24) & word::kMask24))));
}

int32_t Clamp32(double v) {
  return static_cast<int32_t>(std::clamp(std::round(v), -2147483648.0, 2147483647.0));
}
}  // namespace

void Interpreter::SyncAssignments() {
  for (int m = 1; m <= motors_.count(); ++m) {
    int coord = 0;
    for (const auto& [cs, defs] : axes_) {
      if (defs.count(m) != 0) coord = cs;
    }
    motors_.SetAssignment(m, coord);
  }
}

std::pair<uint32_t, uint32_t> Interpreter::CoordWords(int coord) const {
  uint32_t first = 0, second = 0;
  auto it = cs_.find(coord);
  if (it != cs_.end()) {
    const CoordState& c = it->second;
    if (c.running) {
      first |= 1u << 0;
      if (c.step)
        first |= 1u << 1;
      else
        first |= (1u << 2) | (1u << 4);           // continuous motion, and asked for
      if (!c.pvt && c.tm <= 0) first |= 1u << 3;  // moves timed by the feed rate
    }
    if (c.pvt) second |= 1u << 4;  // motion mode: PVT (LINEAR is 0)
  }
  auto axes = axes_.find(coord);
  if (axes != axes_.end() && !axes->second.empty()) {
    bool all_in_position = true;
    for (const auto& [motor, def] : axes->second) {
      all_in_position = all_in_position && motors_.InPosition(motor);
      uint32_t status = motors_.MotorStatus(motor);
      if (status & motor_bit::kWarnFollowingError) second |= 1u << 18;
      if (status & motor_bit::kFatalFollowingError) second |= 1u << 19;
      if (status & motor_bit::kAmpFault) second |= 1u << 20;
    }
    if (all_in_position) second |= 1u << 17;
  }
  second |= RotaryStatusBits(coord);
  if (auto s = scripted_coord_.find(coord); s != scripted_coord_.end()) {
    first |= s->second.first;
    second |= s->second.second;
  }
  return {first & word::kMask24, second & word::kMask24};
}

void Interpreter::SetScriptedCoordBits(int coord, uint32_t first, uint32_t second) {
  scripted_coord_[coord] = {first & word::kMask24, second & word::kMask24};
}

void Interpreter::SetGlobalError(GlobalError error, bool on) {
  uint32_t bit = 1u << static_cast<int>(error);
  global_errors_ = on ? (global_errors_ | bit) : (global_errors_ & ~bit);
}

std::pair<uint32_t, uint32_t> Interpreter::DprGlobalWords() const {
  // First word: the buffers open for editing (rotary bit 18, motion
  // program bit 19); second word: the error flags.
  uint32_t first = 0, second = 0;
  if (RotaryBufferOpen()) first |= 1u << 18;
  if (open_buffer_.rfind("PROG ", 0) == 0) first |= 1u << 19;
  auto has = [this](GlobalError e) { return (global_errors_ >> static_cast<int>(e)) & 1u; };
  if (has(GlobalError::kServo)) second |= 1u << 20;
  if (has(GlobalError::kReEntry)) second |= 1u << 22;
  if (has(GlobalError::kMemoryChecksum)) second |= 1u << 13;
  if (has(GlobalError::kPromChecksum)) second |= 1u << 12;
  return {first, second};
}

uint32_t Interpreter::ProgramStart(int program) const {
  if (program < 0 || program > 255) return 0;  // only programs 0..255 have table entries
  uint32_t table = model_.spran ? kSpranProgramTable : kOlderProgramTable;
  uint32_t mask = model_.spran ? 0x7FFFF : 0xFFFF;
  if (program == 0) return model_.spran ? kSpranProgramStart : kOlderProgramStart;
  return static_cast<uint32_t>(memory_.ReadPair(table + static_cast<uint32_t>(program) - 1)) & mask;
}

int32_t Interpreter::ExecutionAddressOf(int coord) const {
  auto it = cs_.find(coord);
  if (it == cs_.end() || it->second.program < 0) return 0;
  const auto* lines = Buffer("PROG " + std::to_string(it->second.program));
  if (lines == nullptr) return 0;
  auto compiled = compiled_.find("PROG " + std::to_string(it->second.program));
  size_t line = lines->size();
  if (compiled != compiled_.end() && it->second.pc < compiled->second.statements.size()) {
    line = compiled->second.statements[it->second.pc].line;
  }
  return static_cast<int32_t>(ProgramStart(it->second.program) + line);
}

int32_t Interpreter::LinesRemainingOf(int coord) const {
  auto it = cs_.find(coord);
  if (it == cs_.end() || !it->second.running) return 0;
  const std::string name = "PROG " + std::to_string(it->second.program);
  const auto* lines = Buffer(name);
  auto compiled = compiled_.find(name);
  if (lines == nullptr || compiled == compiled_.end()) return 0;
  const auto& st = compiled->second.statements;
  if (it->second.pc >= st.size()) return 0;
  return static_cast<int32_t>(lines->size() - st[it->second.pc].line);
}

double Interpreter::MoveMsLeft(int coord) const {
  auto it = cs_.find(coord);
  if (it == cs_.end() || !it->second.running) return 0;
  const CoordState& c = it->second;
  if (!c.moving && !c.dwelling) return 0;
  return std::max(c.duration - c.t, 0.0);
}

double Interpreter::AccelMsLeft(int coord) const {
  auto it = cs_.find(coord);
  if (it == cs_.end() || !it->second.running || !it->second.moving || it->second.cubic) return 0;
  const CoordState& c = it->second;
  if (c.t < c.accel_time) return c.accel_time - c.t;
  if (c.t > c.duration - c.accel_time) return std::max(c.duration - c.t, 0.0);
  return 0;
}

void Interpreter::DprCycle() {
  ++dpr_cycles_;
  SyncAssignments();
  if (vars_.I(2) == 3) PanelCycle();
  if (script_.dpr_frozen()) return;
  if (vars_.I(48) == 1) RealTimeRefresh();
  if (vars_.I(49) == 1) BackgroundRefresh();
}

void Interpreter::RealTimeRefresh() {
  const bool spran = model_.spran;
  if (!spran && !gathering_) return;
  auto period = static_cast<uint64_t>(std::max(vars_.I(spran ? 47 : 19), 1.0));
  if (dpr_cycles_ % period != 0) return;
  Memory& m = memory_;
  auto double_word = [&m](uint32_t address) { return m.ReadPair(address); };
  if (spran) {
    if ((m.DprWord(kSpranRt + 2) & 0x8000) != 0 || (m.DprWord(kSpranRt + 6) & 0x8000) != 0) return;
    auto timer = static_cast<uint32_t>(dpr_cycles_ & word::kMask24);
    m.SetDprWord(kSpranRt + 4, static_cast<uint16_t>(timer & 0xFFFF));
    uint8_t high = static_cast<uint8_t>(timer >> 16);
    m.WriteDpr(kSpranRt + 6, &high, 1);
    uint32_t mask = m.DprDword(kSpranRt + 8);
    for (int i = 0; i < 32 && i < motors_.count(); ++i) {
      if (((mask >> i) & 1u) == 0) continue;
      int motor = i + 1;
      size_t r = kSpranRt + 12 + kSpranRtRecord * static_cast<size_t>(i);
      uint64_t cmd = double_word(motors_.CommandedAddress(motor));
      uint64_t act = double_word(motors_.ActualAddress(motor));
      int64_t fe = word::DecodeFixed48(cmd) - word::DecodeFixed48(act);
      Put48(m, r + 0, static_cast<uint64_t>(fe) & word::kMask48);
      PutDword(m, r + 8, static_cast<uint32_t>(motors_.Output(motor)));
      PutDword(m, r + 12, motors_.ServoStatus(motor));
      PutDword(m, r + 16, motors_.MotorStatus(motor));
      Put48(m, r + 20, 0);  // the card keeps no position bias
      double vel_scale = vars_.I(motor * 100 + 9) * 32;
      PutDword(m, r + 28, static_cast<uint32_t>(Clamp32(motors_.Velocity(motor) * vel_scale)));
      Put48(m, r + 32, double_word(0x8D + 0x80 * static_cast<uint32_t>(i)));
      Put48(m, r + 40, act);
    }
    m.SetDprWord(kSpranRt + 6, static_cast<uint16_t>(m.DprWord(kSpranRt + 6) | 0x8000));
    return;
  }
  if ((m.DprWord(kOlderRt) & 1) != 0 || (m.DprWord(kOlderRt + 2) & 0x8000) != 0) return;
  m.SetDprWord(kOlderRt + 2, static_cast<uint16_t>(dpr_cycles_ & 0x7FFF));
  auto [g1, g2] = DprGlobalWords();
  PutDword(m, kOlderRt + 4, g1);
  PutDword(m, kOlderRt + 8, g2);
  // Feed rates of the systems whose words lie before the first record.
  for (int c = 0; 12 + 8 * (c + 1) <= 36; ++c) {
    auto feed = feed_.find(c + 1);
    Put48(m, kOlderRt + 12 + 8 * static_cast<size_t>(c),
          word::EncodeFloat48(feed == feed_.end() ? 100.0 : feed->second));
  }
  int count = std::clamp(static_cast<int>(vars_.I(59)), 0, std::min(8, motors_.count()));
  bool type1 = model_.type == 1;
  for (int i = 0; i < count; ++i) {
    int motor = i + 1;
    auto k = static_cast<uint32_t>(i);
    size_t r = kOlderRt + 36 + kOlderRtRecord * static_cast<size_t>(i);
    Put48(m, r + 0, double_word(motors_.CommandedAddress(motor)));
    Put48(m, r + 8, double_word(motors_.ActualAddress(motor)));
    Put48(m, r + 16, double_word(0x2D + 0x3C * k));
    Put48(m, r + 24, double_word((type1 ? 0x46u : 0x4Au) + 0x3C * k));
    PutDword(m, r + 32, static_cast<uint32_t>(motors_.Output(motor)));
    PutDword(m, r + 36, motors_.ServoStatus(motor));
    double vel_scale = vars_.I(motor * 100 + 9) * 32;
    PutDword(m, r + 40, static_cast<uint32_t>(Clamp32(motors_.Velocity(motor) * vel_scale)));
    // Time left in the move of the system the motor serves, in units of 2 ms.
    int coord = 0;
    for (const auto& [cs, defs] : axes_) {
      if (defs.count(motor) != 0) coord = cs;
    }
    PutDword(m, r + 44, static_cast<uint32_t>(Clamp32(MoveMsLeft(coord) / 2)));
  }
  m.SetDprWord(kOlderRt + 2, static_cast<uint16_t>(m.DprWord(kOlderRt + 2) | 0x8000));
}

void Interpreter::BackgroundRefresh() {
  Memory& m = memory_;
  auto axes_of = [this](int coord, std::map<char, double>& out) {
    auto it = cs_.find(coord);
    if (it != cs_.end()) out = it->second.axis;
  };
  if (model_.spran) {
    auto period = static_cast<uint64_t>(std::max(vars_.I(50), 1.0));
    if (dpr_cycles_ % period != 0) return;
    uint8_t ready = 0;
    m.ReadDpr(kSpranBg + 7, &ready, 1);
    if (ready != 0) return;
    auto [g1, g2] = DprGlobalWords();
    PutDword(m, kSpranBg + 20, g1);
    PutDword(m, kSpranBg + 24, g2);
    uint8_t count = 0;
    m.ReadDpr(kSpranBg, &count, 1);
    for (int c = 0; c < std::min<int>(count, 16); ++c) {
      int coord = c + 1;
      size_t r = kSpranBg + 40 + kSpranBgRecord * static_cast<size_t>(c);
      auto feed = feed_.find(coord);
      Put48(m, r + 0, word::EncodeFloat48(feed == feed_.end() ? 100.0 : feed->second));
      auto it = cs_.find(coord);
      bool held = it != cs_.end() && it->second.held;
      m.SetDprWord(r + 14,
                   static_cast<uint16_t>((m.DprWord(r + 14) & ~0x40u) | (held ? 0x40u : 0)));
      auto [first, second] = CoordWords(coord);
      m.SetDprWord(r + 20, static_cast<uint16_t>(first & 0xFFFF));
      std::map<char, double> axis;
      axes_of(coord, axis);
      for (size_t a = 0; a < kRecordAxes.size(); ++a) {
        auto v = axis.find(kRecordAxes[a]);
        Put48(m, r + 24 + 8 * a, word::EncodeFloat48(v == axis.end() ? 0.0 : v->second));
      }
      m.SetDprWord(r + 96, static_cast<uint16_t>(second & 0xFFFF));
      uint8_t top = static_cast<uint8_t>(second >> 16);
      m.WriteDpr(r + 98, &top, 1);
      PutDword(m, r + 100, static_cast<uint32_t>(LinesRemainingOf(coord)));
      PutDword(m, r + 104, static_cast<uint32_t>(Clamp32(MoveMsLeft(coord) / 2)));
      PutDword(m, r + 108, static_cast<uint32_t>(Clamp32(AccelMsLeft(coord) / 2)));
      PutDword(m, r + 112, static_cast<uint32_t>(ExecutionAddressOf(coord)));
    }
    uint8_t set = 0x80;
    m.WriteDpr(kSpranBg + 7, &set, 1);
    return;
  }
  if (m.DprWord(kOlderBg) != 0) return;
  // Hold bytes of the systems whose bytes lie before the first record.
  for (int c = 0; 18 + 4 * c < 36; ++c) {
    auto it = cs_.find(c + 1);
    bool held = it != cs_.end() && it->second.held;
    size_t at = kOlderBg + 18 + 4 * static_cast<size_t>(c);
    uint8_t byte = 0;
    m.ReadDpr(at, &byte, 1);
    byte = static_cast<uint8_t>((byte & ~0x40u) | (held ? 0x40u : 0));
    m.WriteDpr(at, &byte, 1);
  }
  int count = std::clamp(static_cast<int>(vars_.I(59)), 0, std::min(8, motors_.count()));
  for (int i = 0; i < count; ++i) {
    int motor = i + 1, coord = i + 1;
    size_t r = kOlderBg + 36 + kOlderBgRecord * static_cast<size_t>(i);
    // The card's target is where the motor is commanded to be.
    Put48(m, r + 0, m.ReadPair(motors_.CommandedAddress(motor)));
    Put48(m, r + 8, 0);  // the card keeps no position bias
    PutDword(m, r + 16, motors_.MotorStatus(motor));
    auto [first, second] = CoordWords(coord);
    m.SetDprWord(r + 24, static_cast<uint16_t>(first & 0xFFFF));
    std::map<char, double> axis;
    axes_of(coord, axis);
    for (size_t a = 0; a < kRecordAxes.size(); ++a) {
      auto v = axis.find(kRecordAxes[a]);
      Put48(m, r + 28 + 8 * a, word::EncodeFloat48(v == axis.end() ? 0.0 : v->second));
    }
    m.SetDprWord(r + 100, static_cast<uint16_t>(second & 0xFFFF));
    m.SetDprWord(r + 102, static_cast<uint16_t>(second >> 16));
    PutDword(m, r + 104, static_cast<uint32_t>(LinesRemainingOf(coord)));
    PutDword(m, r + 108, static_cast<uint32_t>(Clamp32(MoveMsLeft(coord) / 2)));
    PutDword(m, r + 112, static_cast<uint32_t>(Clamp32(AccelMsLeft(coord) / 2)));
    PutDword(m, r + 116, static_cast<uint32_t>(ExecutionAddressOf(coord)));
    double vel_scale = vars_.I(motor * 100 + 9) * 32;
    PutDword(m, r + 120, static_cast<uint32_t>(Clamp32(motors_.Velocity(motor) * vel_scale)));
  }
  m.SetDprWord(kOlderBg, 1);
}

void Interpreter::PanelCycle() {
  uint16_t requests = memory_.DprWord(kPanelRequest);
  if (requests == 0) return;
  uint16_t feed_enable = memory_.DprWord(kPanelFeedEnable);
  for (int cs = 1; cs <= kPanelSystems; ++cs) {
    uint16_t bit = static_cast<uint16_t>(1u << (cs - 1));
    if ((requests & bit) == 0) continue;
    uint8_t actions = 0;
    memory_.ReadDpr(4 * static_cast<size_t>(cs) + 1, &actions, 1);
    if ((feed_enable & bit) != 0) feed_[cs] = memory_.DprWord(4 * static_cast<size_t>(cs) + 2);
    PanelAction(cs, actions);
  }
  // Requests served: the card clears them.
  memory_.SetDprWord(kPanelRequest,
                     static_cast<uint16_t>(memory_.DprWord(kPanelRequest) & ~requests));
}

void Interpreter::PanelAction(int coord, uint8_t actions) {
  std::string saved_writer = writer_;
  writer_ = "panel &" + std::to_string(coord);
  std::vector<int> motors;
  if (auto it = axes_.find(coord); it != axes_.end()) {
    for (const auto& [motor, def] : it->second) motors.push_back(motor);
  }
  // Jog minus (bit 0) and plus (bit 1) run while asked for; a request
  // without either stops a jog the panel started.
  int dir = (actions & 0x02) != 0 ? 1 : ((actions & 0x01) != 0 ? -1 : 0);
  int& jog = panel_jog_[coord];
  if (dir != jog) {
    for (int m : motors) {
      if (dir > 0)
        motors_.JogPositive(m);
      else if (dir < 0)
        motors_.JogNegative(m);
      else
        motors_.JogStop(m);
    }
    jog = dir;
  }
  if ((actions & 0x04) != 0) {
    for (int m : motors) motors_.JogReturn(m);
  }
  if ((actions & 0x40) != 0) {
    for (int m : motors) motors_.Home(m);
  }
  CoordState& c = cs_[coord];
  if ((actions & 0x20) != 0) {  // stop
    if (c.running) StopProgram(coord);
  } else if ((actions & 0x10) != 0) {  // step: start in single step or do the next one
    if (c.running) {
      c.step = true;
      c.step_wait = false;
    } else if (RunChecks(coord) == 0) {
      MatchPositions(coord);
      c.running = true;
      c.moving = c.dwelling = false;
      c.step = true;
      c.step_wait = false;
    }
  } else if ((actions & 0x08) != 0) {  // run
    if (c.running) {
      c.step = c.step_wait = false;
    } else if (RunChecks(coord) == 0) {
      MatchPositions(coord);
      c.running = true;
      c.moving = c.dwelling = false;
    }
  }
  if (c.running) c.held = (actions & 0x80) != 0;
  writer_ = saved_writer;
}

int Interpreter::Gather(Scanner&, Reply&) {
  gathering_ = true;
  return 0;
}

int Interpreter::EndGather(Scanner&, Reply&) {
  gathering_ = false;
  return 0;
}

int Interpreter::ExecutionAddress(Scanner&, Reply& reply) {
  auto it = cs_.find(coord_);
  int program = it == cs_.end() || it->second.program < 0 ? 0 : it->second.program;
  reply.lines.push_back("P" + std::to_string(program) + ":" +
                        std::to_string(ExecutionAddressOf(coord_)));
  return 0;
}

int Interpreter::LinesRemaining(Scanner&, Reply& reply) {
  reply.lines.push_back(std::to_string(LinesRemainingOf(coord_)));
  return 0;
}

}  // namespace zimo::cardsim
