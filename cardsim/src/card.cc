#include "cardsim/card.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "cardsim/brushless.h"
#include "cardsim/interpreter.h"
#include "cardsim/lab_plant.h"
#include "cardsim/motors.h"
#include "cardsim/variables.h"

namespace zimo::cardsim {

namespace {
// Card words the host reads to learn about the DPR: older cards flag a
// missing DPR in X:$3 bit 11 and keep its ISA host address in X:$786/$787;
// SPRAN cards give the window's bounds in X:$320F/$3210 and its size in
// Y:$3F (size = value x 4 - $180000).
constexpr uint32_t kOlderDprFlags = 0x3;
constexpr uint32_t kOlderHostAddressHigh = 0x786;
constexpr uint32_t kSpranDprStart = 0x320F;
constexpr uint32_t kSpranDprEnd = 0x3210;
constexpr uint32_t kSpranDprSize = 0x3F;

std::string ControlName(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u < 0x20) return std::string("^") + static_cast<char>(u + 0x40);
  return std::string(1, c);
}

constexpr size_t kChangeLimit = 100000;

std::string WordName(Space space, uint32_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "%c:$%X", static_cast<char>(space), address);
  return text;
}

std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}
}  // namespace

Card::Card(CardModel model)
    : model_(std::move(model)),
      memory_(std::make_unique<Memory>(model_.dpr_card_base)),
      script_(std::make_unique<Script>(memory_.get())),
      vars_(std::make_unique<Variables>(model_, *memory_)),
      motors_(std::make_unique<Motors>(model_, *vars_, *memory_)),
      brushless_(std::make_unique<Brushless>(model_, *vars_, *memory_, *motors_, *script_)),
      interp_(std::make_unique<Interpreter>(model_, *memory_, *vars_, *motors_, *script_)),
      rotary_(std::make_unique<RotaryBuffers>(model_, *memory_)),
      bootstrap_(model_.bootstrap) {
  interp_->AttachRotary(rotary_.get());
  if (!model_.plant.empty()) {
    lab_plant_ = LabPlant::Make(model_.plant, model_.plant_damping);
    if (!lab_plant_) {
      throw std::invalid_argument("unknown plant \"" + model_.plant + "\" (known: " +
                                  LabPlant::KnownNames() + ")");
    }
  }
  InitCardWords();
  vars_->SetIWriteHook([this](int n, double value) { OnIVarWritten(n, value); });
  vars_->SetIChangeHook([this](int n, double old, double now) {
    std::lock_guard<std::mutex> lock(changes_mu_);
    if (!logging_changes_) return;
    if (changes_.size() >= kChangeLimit) changes_.pop_front();
    changes_.push_back({simulated_ms_, interp_->writer(), "I" + std::to_string(n), old, now});
  });
  memory_->SetWatchHook([this](const WordChange& c) {
    std::lock_guard<std::mutex> lock(changes_mu_);
    if (!logging_changes_) return;
    if (changes_.size() >= kChangeLimit) changes_.pop_front();
    changes_.push_back({simulated_ms_, interp_ ? interp_->writer() : "host",
                        WordName(c.space, c.address), static_cast<double>(c.old_value),
                        static_cast<double>(c.new_value)});
  });
}

Card::~Card() { StopServoThread(); }

void Card::InitCardWords() {
  uint32_t base = memory_->dpr_card_base();
  if (model_.spran) {
    memory_->Write(Space::kX, kSpranDprStart, base);
    memory_->Write(Space::kX, kSpranDprEnd, base + Memory::kDprWords);
    memory_->Write(Space::kY, kSpranDprSize, (0x180000 + Memory::kDprSize) / 4);
  } else {
    memory_->Write(Space::kX, kOlderDprFlags, 0);  // bit 11 clear: DPR present
    uint32_t host = model_.host_dpr_address;
    memory_->Write(Space::kX, kOlderHostAddressHigh, (host & 0xF0000) >> 16);
    memory_->Write(Space::kX, kOlderHostAddressHigh + 1, ((host & 0xF000) >> 8) + 5);
  }
}

void Card::OnIVarWritten(int n, double value) {
  // On type 8 cards I24 places the DPR window.
  if (n == 24 && model_.spran && model_.type == 8 && value > 0) {
    memory_->set_dpr_card_base(static_cast<uint32_t>(value));
    InitCardWords();
  }
}

void Card::Finish(Reply& reply) {
  if (reply.silent) return;
  reply.delay = script_->TakeReplyDelay();
  if (script_->ack_omitted()) reply.ack = false;
}

Reply Card::Execute(std::string_view line) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return ExecuteLocked(line);
}

Reply Card::ExecuteLocked(std::string_view line) {
  // A CR (or CR LF) left on the line ends it; it is no part of the command.
  while (!line.empty() && (line.back() == ctrl::kCr || line.back() == ctrl::kLf)) {
    line.remove_suffix(1);
  }
  script_->Log(std::string(line));
  Reply reply;
  if (script_->muted() || script_->TakeSilence(std::string(line))) {
    reply.silent = true;
    return reply;
  }
  if (bootstrap_) {
    reply = BootstrapLine(line);
  } else if (int error = Trim(line).empty() ? 0 : script_->TakeInjectedError(std::string(line));
             error != 0) {
    reply.error = error;
  } else {
    interp_->set_writer("host");
    reply = interp_->Run(line);
    interp_->SyncAssignments();
    interp_->set_writer("servo");
    firmware_.ShapeReply(line, reply);
  }
  Finish(reply);
  return reply;
}

Reply Card::Control(char c) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return ControlLocked(c);
}

Reply Card::ControlLocked(char c) {
  script_->Log(ControlName(c));
  Reply reply;
  if (script_->muted()) {
    reply.silent = true;
    return reply;
  }
  interp_->set_writer("host");
  reply = bootstrap_ ? BootstrapControl(c) : interp_->Control(c);
  interp_->set_writer("servo");
  if (int cut = script_->control_reply_length(c); cut > 0 && !reply.lines.empty()) {
    reply.lines.resize(1);
    if (reply.lines.front().size() > static_cast<size_t>(cut)) {
      reply.lines.front().resize(static_cast<size_t>(cut));
    }
  }
  Finish(reply);
  return reply;
}

Reply Card::BootstrapLine(std::string_view line) {
  // The bootstrap firmware knows only the status query. Hosts send it at the
  // end of their handshake line ("I3=2?", "I3=2I6=1I63=1I64=1?"), so any
  // line that ends in '?' gets the bootstrap text; every other line just
  // gets its ACK.
  Reply reply;
  const std::string trimmed = Trim(line);
  if (!trimmed.empty() && trimmed.back() == '?') reply.lines.push_back(model_.bootstrap_text);
  return reply;
}

Reply Card::BootstrapControl(char c) {
  Reply reply;
  reply.control = true;
  switch (c) {
    case ctrl::kCtrlX:
      reply.ack = false;
      reply.flushed = true;
      stream_line_.clear();
      break;
    case ctrl::kCtrlO:  // a serial firmware image follows
      image_mode_ = true;
      firmware_.Start();
      reply.ack = false;
      break;
    case ctrl::kCtrlR:  // start the firmware
      bootstrap_ = firmware_.stay_in_bootstrap();
      image_mode_ = false;
      reply.ack = false;
      break;
    default:
      break;
  }
  return reply;
}

uint32_t Card::ExecuteBlock(std::string_view block) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (auto scripted = script_->TakeBlockStatus()) return *scripted;
  uint32_t position = 0;
  size_t start = 0;
  while (start < block.size()) {
    size_t end = block.find('\0', start);
    if (end == std::string_view::npos) end = block.size();
    std::string_view line = block.substr(start, end - start);
    start = end + 1;
    ++position;
    Reply reply = ExecuteLocked(line);
    if (reply.error != 0) {
      return 0x80000000u | (static_cast<uint32_t>(reply.error & 0xFF) << 16) | (position & 0xFFFF);
    }
  }
  return 0;
}

void Card::PostUnsolicited(std::string line) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  unsolicited_.push_back(std::move(line));
}

std::optional<std::string> Card::TakeUnsolicited() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (unsolicited_.empty()) return std::nullopt;
  std::string line = std::move(unsolicited_.front());
  unsolicited_.pop_front();
  return line;
}

int32_t Card::IVar(int n) const {
  double v = IVarValue(n);
  if (v >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

void Card::SetIVar(int n, int32_t v) { SetIVarValue(n, v); }

double Card::IVarValue(int n) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return vars_->I(n);
}

void Card::SetIVarValue(int n, double v) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  vars_->SetI(n, v);
}

double Card::PVar(int n) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return vars_->P(n);
}

void Card::SetPVar(int n, double v) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  vars_->SetP(n, v);
}

double Card::QVar(int n, int coord) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return vars_->Q(coord, n);
}

void Card::SetQVar(int n, double v, int coord) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  vars_->SetQ(coord, n, v);
}

double Card::MVar(int n) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return vars_->M(n);
}

void Card::SetMVar(int n, double v) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  vars_->SetM(n, v);
}

bool Card::InBootstrap() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return bootstrap_;
}

void Card::EnterBootstrap() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  bootstrap_ = true;
  image_mode_ = false;
}

void Card::LeaveBootstrap() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  bootstrap_ = false;
  image_mode_ = false;
}

void Card::LoadFirmwareBlock(std::string_view bytes, bool first_block) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (!bootstrap_) return;
  firmware_.AddBlock(bytes, first_block);
}

void Card::LoadFirmwareWord(uint32_t word) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (bootstrap_) firmware_.AddWord(word);
}

size_t Card::firmware_bytes() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return firmware_.bytes();
}

uint32_t Card::MotorServoStatus(int motor) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return motors_->ServoStatus(motor);
}

uint32_t Card::MotorStatusWord(int motor) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return motors_->MotorStatus(motor);
}

double Card::MotorPosition(int motor) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return motors_->Position(motor);
}

double Card::MotorCommandedPosition(int motor) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return motors_->CommandedPosition(motor);
}

double Card::MotorFollowingError(int motor) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return motors_->FollowingError(motor);
}

void Card::SetMotorPosition(int motor, double counts) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  motors_->SetPosition(motor, counts);
}

void Card::SetLimitSwitch(int motor, bool positive, bool on) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  motors_->SetLimitSwitch(motor, positive, on);
}

void Card::SetMotorStatusBits(int motor, uint32_t servo_bits, uint32_t motor_bits) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  motors_->SetScriptedBits(motor, servo_bits, motor_bits);
}

void Card::SetCoordStatusBits(int coord, uint32_t first, uint32_t second) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  interp_->SetScriptedCoordBits(coord, first, second);
}

void Card::SetGlobalError(GlobalError error, bool on) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  interp_->SetGlobalError(error, on);
}

std::string Card::CoordStatusText(int coord) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return interp_->CoordStatusText(coord);
}

void Card::SetPlantFault(int motor, double load, bool stuck) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  motors_->SetPlantFault(motor, load, stuck);
}

uint32_t Card::PlcEnabled() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return interp_->plc_enabled();
}

std::optional<std::vector<std::string>> Card::ProgramBuffer(const std::string& name) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  const auto* lines = interp_->Buffer(name);
  if (lines == nullptr) return std::nullopt;
  return *lines;
}

void Card::AddRingStation(int node, double station_type) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  interp_->AddRingStation(node, station_type);
}

void Card::RemoveRingStation(int node) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  interp_->RemoveRingStation(node);
}

void Card::SetChangeLogging(bool on) {
  std::lock_guard<std::mutex> lock(changes_mu_);
  logging_changes_ = on;
}

void Card::WatchWord(Space space, uint32_t address) {
  {
    std::lock_guard<std::mutex> lock(changes_mu_);
    watched_.insert({space, address});
  }
  memory_->Watch(space, address);
}

std::vector<Card::Change> Card::Changes() const {
  std::lock_guard<std::mutex> lock(changes_mu_);
  return {changes_.begin(), changes_.end()};
}

void Card::ClearChanges() {
  std::lock_guard<std::mutex> lock(changes_mu_);
  changes_.clear();
}

Card::Snapshot Card::TakeSnapshot() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  Snapshot snap;
  snap.i = vars_->SnapshotI();
  std::set<std::pair<Space, uint32_t>> watched;
  {
    std::lock_guard<std::mutex> guard(changes_mu_);
    watched = watched_;
  }
  for (const auto& [space, address] : watched) {
    snap.words[WordName(space, address)] = memory_->Read(space, address);
  }
  return snap;
}

std::vector<std::string> Card::Compare(const Snapshot& before, const Snapshot& after) {
  std::vector<std::string> out;
  for (size_t n = 0; n < std::min(before.i.size(), after.i.size()); ++n) {
    if (before.i[n] != after.i[n]) {
      out.push_back("I" + std::to_string(n) + ": " + Variables::Format(before.i[n]) + " -> " +
                    Variables::Format(after.i[n]));
    }
  }
  for (const auto& [name, value] : after.words) {
    auto it = before.words.find(name);
    if (it == before.words.end() || it->second == value) continue;
    char text[64];
    std::snprintf(text, sizeof text, "%s: $%06X -> $%06X", name.c_str(), it->second, value);
    out.push_back(text);
  }
  return out;
}

Memory& Card::memory() { return *memory_; }
PlccRunner& Card::plcc() { return interp_->plcc(); }
const Memory& Card::memory() const { return *memory_; }
Script& Card::script() { return *script_; }
const CardModel& Card::model() const { return model_; }

const LabPlant* Card::lab_plant() const { return lab_plant_.get(); }

void Card::StepLabPlant() {
  if (!lab_plant_) return;
  auto volts = [this](uint32_t address) {
    uint32_t w = memory_->Read(Space::kY, address) & 0xFFFFFFu;
    int32_t s = (w & 0x800000u) ? static_cast<int32_t>(w) - 0x1000000 : static_cast<int32_t>(w);
    return s / kDacWordsPerVolt;
  };
  double dt = vars_->I(10) > 0 ? vars_->I(10) / 8388608.0 : 0;
  lab_plant_->Step(dt, volts(0xC003), volts(0xC002));
  for (int b = 1; b <= lab_plant_->bodies() && b <= motors_->count(); ++b) {
    motors_->SetExternalPosition(b, std::round(lab_plant_->Counts(b)));
  }
}

void Card::AdvanceServo(int cycles) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  for (int c = 0; c < cycles; ++c) {
    simulated_ms_ += vars_->I(10) > 0 ? vars_->I(10) / 8388608.0 : 0;
    interp_->MotionCycle();
    interp_->set_writer("servo");
    StepLabPlant();
    motors_->Advance(1);
    brushless_->Cycle(vars_->I(10) > 0 ? vars_->I(10) / 8388608.0 : 0);
    interp_->ServoCycle();
    interp_->DprCycle();
    interp_->GatherCycle();
  }
}

void Card::StartServoThread(std::chrono::microseconds period) {
  if (servo_run_.exchange(true)) return;
  servo_thread_ = std::thread([this, period] {
    auto next = std::chrono::steady_clock::now();
    while (servo_run_.load()) {
      next += period;
      auto now = std::chrono::steady_clock::now();
      if (now > next + 100 * period) next = now;  // fell far behind: do not race to catch up
      std::this_thread::sleep_until(next);
      AdvanceServo(1);
    }
  });
}

void Card::StartServoClock(double time_scale) {
  if (!(time_scale > 0)) time_scale = 1.0;
  if (servo_run_.exchange(true)) return;
  servo_thread_ = std::thread([this, time_scale] {
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    double due_ms = 0;  // simulated time owed
    while (servo_run_.load()) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      auto now = Clock::now();
      due_ms += std::chrono::duration<double, std::milli>(now - last).count() * time_scale;
      last = now;
      while (servo_run_.load()) {
        double cycle_ms = IVarValue(10) / 8388608.0;
        if (cycle_ms <= 0) break;
        double cycles = std::floor(due_ms / cycle_ms);
        if (cycles < 1) break;
        int batch = static_cast<int>(std::min(cycles, 64.0));
        AdvanceServo(batch);
        due_ms -= batch * cycle_ms;
      }
      // Fell far behind (a slow machine, a debugger): do not race to catch up.
      due_ms = std::min(due_ms, 100.0 * time_scale);
    }
  });
}

void Card::PlaceRotor(int motor, double electrical_deg) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  brushless_->Place(motor, electrical_deg);
}

double Card::RotorAngle(int motor) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return brushless_->ElectricalAngle(motor);
}

double Card::RotorCounts(int motor) const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return brushless_->EncoderCounts(motor);
}

double Card::SimulatedMs() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return simulated_ms_;
}

void Card::StopServoThread() {
  if (!servo_run_.exchange(false)) return;
  if (servo_thread_.joinable()) servo_thread_.join();
}

}  // namespace zimo::cardsim
