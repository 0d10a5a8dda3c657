// PLC programs that run: one scan of each enabled PLC per servo cycle. A
// scan runs statements in order until the program's end (the next scan
// starts at the top) or an ENDWHILE (the next scan resumes at its WHILE, so
// a WHILE body runs once per scan). A COMMAND waits for the PLC's command
// slot; the command runs after all scans of the cycle, with the PLC's own
// addressed motor and coordinate system, and its reply goes nowhere.
#include <string>

#include "cardsim/card_word.h"
#include "cardsim/expression.h"
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {
std::string PlcName(int n) { return "PLC " + std::to_string(n); }

// Program tables the host reads (motion programs then PLCs, each entry
// the end of its program in the low 20 bits of an L word's Y half).
constexpr uint32_t kOlderProgramTable = 0xE00, kSpranProgramTable = 0x9000;
constexpr uint32_t kOlderProgramStart = 0x1800, kSpranProgramStart = 0x9600;
// SPRAN cards keep a PLC status table of their own (32 ends, the end before
// them one word below); on older cards it is the PLC part of the table above.
constexpr uint32_t kSpranPlcStatusTable = 0x3100;
constexpr uint32_t kOlderEnableWord = 0x1, kSpranEnableWord = 0x26;
constexpr uint32_t kOlderTimer = 0x700;
}  // namespace

const CompiledProgram* Interpreter::Compiled(const std::string& name) {
  auto it = compiled_.find(name);
  if (it != compiled_.end()) return &it->second;
  const auto* lines = Buffer(name);
  if (lines == nullptr) return nullptr;
  return &compiled_.emplace(name, CompileProgram(*lines)).first->second;
}

void Interpreter::BufferChanged(const std::string& name) {
  compiled_.erase(name);
  if (name.rfind("PLC ", 0) == 0) plcs_[static_cast<size_t>(std::stoi(name.substr(4)) & 31)].pc = 0;
}

void Interpreter::SetPlcEnabled(uint32_t mask) {
  // A PLC that is switched on starts from its top.
  uint32_t started = mask & ~plc_enabled_;
  for (int n = 0; n < 32; ++n) {
    if ((started >> n) & 1u) plcs_[static_cast<size_t>(n)].pc = 0;
  }
  plc_enabled_ = mask;
  UpdateProgramTables();
}

int Interpreter::RunInProgram(std::string_view text, int& motor, int& coord, bool as_program) {
  std::swap(motor_, motor);
  std::swap(coord_, coord);
  bool was = in_program_;
  in_program_ = as_program;
  Reply reply;
  Scanner s(text);
  int error = 0;
  while (error == 0 && !s.AtEnd()) error = RunOne(s, reply);
  in_program_ = was;
  std::swap(motor_, motor);
  std::swap(coord_, coord);
  return error;
}

std::optional<bool> Interpreter::Condition(const std::string& text, int coord) {
  ExpressionContext context;
  context.read = [this, coord](char l, int n) -> std::optional<double> {
    if (l == 'Q') return vars_.Valid(n) ? std::optional<double>(vars_.Q(coord, n)) : std::nullopt;
    return ReadVariable(l, n);
  };
  context.degrees = vars_.I(15) == 0;
  Scanner s(text);
  auto v = EvaluateCondition(s, context);
  if (!v || !s.AtEnd()) return std::nullopt;
  return v;
}

void Interpreter::ScanPlc(int n) {
  const CompiledProgram* program = Compiled(PlcName(n));
  if (program == nullptr || !program->well_formed) return;
  const auto& st = program->statements;
  PlcState& plc = plcs_[static_cast<size_t>(n)];
  writer_ = PlcName(n);
  size_t pc = plc.pc < st.size() ? plc.pc : 0;
  while (pc < st.size()) {
    const Statement& s = st[pc];
    switch (s.kind) {
      case Statement::Kind::kPlain:
        // A statement the card cannot run is passed over, as on line it
        // would be refused; the program goes on.
        RunInProgram(s.text, plc.motor, plc.coord, true);
        ++pc;
        break;
      case Statement::Kind::kIf:
      case Statement::Kind::kWhile:
        pc = Condition(s.text, plc.coord).value_or(false) ? pc + 1 : s.jump + 1;
        break;
      case Statement::Kind::kElse:
        pc = s.jump + 1;
        break;
      case Statement::Kind::kEndIf:
        ++pc;
        break;
      case Statement::Kind::kEndWhile:
        // The scan ends here; a PLC disabled meanwhile starts afresh when
        // it is enabled again.
        plc.pc = ((plc_enabled_ >> n) & 1u) != 0 ? s.jump : 0;
        return;
      case Statement::Kind::kCommand:
        if (plc.has_command) {  // the slot is taken: try again next scan
          plc.pc = pc;
          return;
        }
        plc.has_command = true;
        plc.command = s.text;
        ++pc;
        break;
    }
  }
  plc.pc = 0;
}

void Interpreter::IssuePlcCommands() {
  for (size_t n = 0; n < plcs_.size(); ++n) {
    PlcState& plc = plcs_[n];
    if (!plc.has_command) continue;
    plc.has_command = false;
    writer_ = "CMD " + PlcName(static_cast<int>(n));
    std::string text = std::move(plc.command);
    if (text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x20) {
      std::swap(motor_, plc.motor);
      std::swap(coord_, plc.coord);
      Control(text[0]);
      std::swap(motor_, plc.motor);
      std::swap(coord_, plc.coord);
    } else {
      RunInProgram(text, plc.motor, plc.coord, false);
    }
  }
}

void Interpreter::ServoCycle() {
  memory_.Write(Space::kX, 0, (memory_.Read(Space::kX, 0) + 1) & word::kMask24);
  if (!model_.spran) {
    uint32_t t = memory_.Read(Space::kY, kOlderTimer);
    if (t != 0 && (t & 0x800000u) == 0) memory_.Write(Space::kY, kOlderTimer, t - 1);
  }
  auto i5 = static_cast<int>(vars_.I(5));
  memory_.Write(
      Space::kX, model_.spran ? kSpranEnableWord : kOlderEnableWord,
      (memory_.Read(Space::kX, model_.spran ? kSpranEnableWord : kOlderEnableWord) & ~3u) |
          static_cast<uint32_t>(i5 & 3));
  for (int n = 0; n < 32; ++n) {
    if (((plc_enabled_ >> n) & 1u) == 0) continue;
    if ((i5 & (n == 0 ? 1 : 2)) == 0) continue;
    if (open_buffer_ == PlcName(n)) continue;  // a PLC being edited does not run
    ScanPlc(n);
  }
  CompiledPlcCycle(i5);
  IssuePlcCommands();
  writer_ = "servo";
}

void Interpreter::UpdateProgramTables() {
  uint32_t table = model_.spran ? kSpranProgramTable : kOlderProgramTable;
  uint32_t end = model_.spran ? kSpranProgramStart : kOlderProgramStart;
  uint32_t mask = model_.spran ? 0x7FFFF : 0xFFFF;
  // One word per stored line and one for the program's end.
  auto size = [this](const std::string& name) -> uint32_t {
    const auto* lines = Buffer(name);
    return lines == nullptr ? 0 : static_cast<uint32_t>(lines->size()) + 1;
  };
  memory_.WritePair(table - 1, end & mask);
  for (int n = 0; n < 256; ++n) {
    end += size("PROG " + std::to_string(n));
    memory_.WritePair(table + static_cast<uint32_t>(n), end & mask);
  }
  if (model_.spran) memory_.WritePair(kSpranPlcStatusTable - 1, end & mask);
  for (int n = 0; n < 32; ++n) {
    end += size(PlcName(n));
    uint64_t disabled = ((plc_enabled_ >> n) & 1u) != 0 ? 0 : 0x800000u;
    memory_.WritePair(table + 256 + static_cast<uint32_t>(n), disabled | (end & mask));
    if (model_.spran)
      memory_.WritePair(kSpranPlcStatusTable + static_cast<uint32_t>(n), disabled | (end & mask));
  }
}

uint32_t Interpreter::BufferStatusBits() const {
  if (RotaryBufferOpen()) return 1u << 18;
  if (open_buffer_.empty()) return 0;
  if (open_buffer_.rfind("PROG", 0) == 0) return 1u << 19;
  return 1u << 17;
}

}  // namespace zimo::cardsim
