// The card's command words and the commands that need no more than a table
// entry: identification, program buffers, PLC enables, settings.
#include <algorithm>
#include <string>

#include "cardsim/interpreter.h"

namespace zimo::cardsim {

const std::vector<Interpreter::CommandWord>& Interpreter::CommandTable() {
  static const std::vector<CommandWord> table = [] {
    std::vector<CommandWord> t = {
        {"LISTLINK", &Interpreter::ListLink},
        {"LIST", &Interpreter::List},
        {"TYPE", &Interpreter::Type},
        {"VERSION", &Interpreter::Version},
        {"VER", &Interpreter::Version},
        {"DATE", &Interpreter::Date},
        {"CPU", &Interpreter::Cpu},
        {"OPEN", &Interpreter::Open},
        {"CLOSE", &Interpreter::Close},
        {"CLOS", &Interpreter::Close},
        {"OPN", &Interpreter::Open},
        {"CLEAR", &Interpreter::Clear},
        {"CLR", &Interpreter::Clear},
        {"CLS", &Interpreter::Close},
        {"ENABLEPLCC", &Interpreter::EnablePlcc},
        {"ENAPLCC", &Interpreter::EnablePlcc},
        {"DISABLEPLCC", &Interpreter::DisablePlcc},
        {"DISPLCC", &Interpreter::DisablePlcc},
        {"ENABLEPLC", &Interpreter::EnablePlc},
        {"ENAPLC", &Interpreter::EnablePlc},
        {"DISABLEPLC", &Interpreter::DisablePlc},
        {"DISPLC", &Interpreter::DisablePlc},
        {"SAVE", &Interpreter::Save},
        // GAT and ENDGAT start and stop gathering (gather.cc) and, on
        // older cards, the DPR real-time refresh with it.
        {"ENDGATHER", &Interpreter::EndGather},
        {"ENDGAT", &Interpreter::EndGather},
        {"ENDG", &Interpreter::EndGather},
        {"GATHER", &Interpreter::Gather},
        {"GAT", &Interpreter::Gather},
        {"PE", &Interpreter::ExecutionAddress},
        {"PR", &Interpreter::LinesRemaining},
        {"DELETEGATHER", &Interpreter::DeleteGather},
        {"DELETEGAT", &Interpreter::DeleteGather},
        {"DELGATHER", &Interpreter::DeleteGather},
        {"DELGAT", &Interpreter::DeleteGather},
        {"DEFINEGATHER", &Interpreter::DefineGather},
        {"DEFINEGAT", &Interpreter::DefineGather},
        {"DEFGATHER", &Interpreter::DefineGather},
        {"DEFGAT", &Interpreter::DefineGather},
        {"LISTGATHER", &Interpreter::ListGather},
        {"LISTGAT", &Interpreter::ListGather},
        {"DELETETRACE", &Interpreter::Nothing},
        {"DELETEPLCC", &Interpreter::DeletePlcc},
        {"UNDEFALL", &Interpreter::UndefineAll},
        {"UNDEF", &Interpreter::Undefine},
        {"RHX", &Interpreter::ReadHexX},
        {"RHY", &Interpreter::ReadHexY},
        {"RHP", &Interpreter::ReadHexP},
        {"RHL", &Interpreter::ReadHexL},
        {"RHD", &Interpreter::ReadHexL},
        {"RX", &Interpreter::ReadX},
        {"RY", &Interpreter::ReadY},
        {"RP", &Interpreter::ReadP},
        {"RL", &Interpreter::ReadL},
        {"RD", &Interpreter::ReadL},
        {"WX", &Interpreter::WriteX},
        {"WY", &Interpreter::WriteY},
        {"WP", &Interpreter::WriteP},
        {"WL", &Interpreter::WriteL},
        {"WD", &Interpreter::WriteL},
        {"J+", &Interpreter::JogPlus},
        {"J-", &Interpreter::JogMinus},
        {"J/", &Interpreter::JogStop},
        {"J=", &Interpreter::JogEquals},
        {"J:", &Interpreter::JogRelative},
        {"J^", &Interpreter::JogRelative},
        {"HM", &Interpreter::HomeMotor},
        {"K", &Interpreter::KillMotor},
        {"O", &Interpreter::OpenLoop},
        {"P", &Interpreter::ReportPosition},
        {"V", &Interpreter::ReportVelocity},
        {"F", &Interpreter::ReportFollowingError},
        {"MS", &Interpreter::RingCommand},
        {"B", &Interpreter::Begin},
        {"R", &Interpreter::RunProgram},
        {"A", &Interpreter::Abort},
        {"PMATCH", &Interpreter::PositionMatch},
        {"PC", &Interpreter::ProgramCounter},
        {"\\", &Interpreter::FeedHold},
    };
    // Longest first, so "VERSION" wins over "VER" and "V".
    std::stable_sort(t.begin(), t.end(), [](const CommandWord& a, const CommandWord& b) {
      return a.word.size() > b.word.size();
    });
    return t;
  }();
  return table;
}

int Interpreter::Type(Scanner&, Reply& reply) {
  reply.lines.push_back(model_.type_text);
  return 0;
}

int Interpreter::Version(Scanner&, Reply& reply) {
  reply.lines.push_back(model_.version);
  return 0;
}

int Interpreter::Date(Scanner&, Reply& reply) {
  reply.lines.push_back(model_.date);
  return 0;
}

int Interpreter::Cpu(Scanner&, Reply& reply) {
  reply.lines.push_back(model_.cpu);
  return 0;
}

int Interpreter::ListLink(Scanner&, Reply& reply) {
  // One entry per line: six hex digits and a separator per entry.
  for (const std::string& entry : model_.link_list) reply.lines.push_back(entry);
  return 0;
}

bool Interpreter::BufferName(Scanner& s, std::string* name) {
  if (s.AcceptWord("ROTARY") || s.AcceptWord("ROT")) {
    *name = "ROT";
    return true;
  }
  const char* kind = nullptr;
  uint64_t limit = 0;
  if (s.AcceptWord("PROGRAM") || s.AcceptWord("PROG")) {
    kind = "PROG ";
    limit = 32767;
  } else if (s.AcceptWord("PLC")) {
    kind = "PLC ";
    limit = 31;
  } else {
    return false;
  }
  auto n = s.Unsigned();
  if (!n || *n > limit) return false;
  *name = kind + std::to_string(*n);
  return true;
}

int Interpreter::List(Scanner& s, Reply& reply) {
  std::string name;
  if (s.AtEnd()) {
    if (open_buffer_.empty()) return card_error::kNoBufferOpen;
    name = open_buffer_;
  } else if (!BufferName(s, &name)) {
    return card_error::kBadCommand;
  }
  if (const auto* lines = Buffer(name)) {
    reply.lines.insert(reply.lines.end(), lines->begin(), lines->end());
  }
  return 0;
}

int Interpreter::Open(Scanner& s, Reply&) {
  std::string name;
  const bool binary = s.AcceptWord("BINARY") || s.AcceptWord("BIN");
  if (!BufferName(s, &name) || (binary && name != "ROT")) return card_error::kBadCommand;
  if (!open_buffer_.empty() || binary_rotary_open_) return card_error::kBufferInUse;
  // "OPEN BIN ROT", and "OPEN ROT" on an older card while I57 = 1, open the
  // binary rotary buffers: their units come through the DPR and the USB and
  // Ethernet ports, so the lines that follow still run.
  if (name == "ROT" && (binary || (!model_.spran && vars_.I(57) != 0))) {
    binary_rotary_open_ = true;
    return 0;
  }
  for (const auto& [coord, state] : cs_) {
    if (state.running && name == "PROG " + std::to_string(state.program)) {
      return card_error::kRunning;
    }
  }
  open_buffer_ = name;
  buffers_[name];  // an opened buffer exists, even while empty
  BufferChanged(name);
  return 0;
}

int Interpreter::CloseBuffer() {
  // Closing checks the program's structure: a block left open or an ELSE,
  // ENDIF or ENDWHILE without its start is a structural error. The lines
  // stay; such a program does not run.
  std::string name = std::move(open_buffer_);
  open_buffer_.clear();
  binary_rotary_open_ = false;
  if (name.empty()) return 0;
  UpdateProgramTables();
  if (name == "ROT") return 0;
  const CompiledProgram* program = Compiled(name);
  return program != nullptr && !program->well_formed ? card_error::kStructure : 0;
}

int Interpreter::Close(Scanner&, Reply&) { return CloseBuffer(); }

int Interpreter::Clear(Scanner&, Reply&) {
  if (binary_rotary_open_) return 0;  // the host empties the rings itself
  if (open_buffer_.empty()) return card_error::kNoBufferOpen;
  buffers_[open_buffer_].clear();
  BufferChanged(open_buffer_);
  return 0;
}

int Interpreter::ProgramNumbers(Scanner& s, uint32_t* mask) {
  // "n", "n,m,...", or "n..m", each from 0 to 31.
  do {
    auto first = s.Unsigned();
    if (!first || *first > 31) return card_error::kBadCommand;
    uint64_t last = *first;
    if (s.AcceptWord("..")) {
      auto end = s.Unsigned();
      if (!end || *end > 31 || *end < *first) return card_error::kBadCommand;
      last = *end;
    }
    for (uint64_t n = *first; n <= last; ++n) *mask |= 1u << n;
  } while (s.Accept(','));
  return 0;
}

int Interpreter::PlcList(Scanner& s, bool enable) {
  uint32_t mask = 0;
  if (int error = ProgramNumbers(s, &mask); error != 0) return error;
  if (enable) {
    // A program with a broken structure is not started.
    for (int n = 0; n < 32; ++n) {
      if (((mask >> n) & 1u) == 0) continue;
      const CompiledProgram* program = Compiled("PLC " + std::to_string(n));
      if (program != nullptr && !program->well_formed) return card_error::kBadStructureRun;
    }
  }
  SetPlcEnabled(enable ? (plc_enabled_ | mask) : (plc_enabled_ & ~mask));
  return 0;
}

int Interpreter::EnablePlc(Scanner& s, Reply&) { return PlcList(s, true); }

int Interpreter::DisablePlc(Scanner& s, Reply&) { return PlcList(s, false); }

int Interpreter::Save(Scanner&, Reply&) {
  saved_i_ = vars_.SnapshotI();
  return 0;
}

int Interpreter::Nothing(Scanner&, Reply&) { return 0; }

int Interpreter::Undefine(Scanner&, Reply&) {
  axes_.erase(coord_);
  return 0;
}

int Interpreter::UndefineAll(Scanner&, Reply&) {
  axes_.clear();
  return 0;
}

}  // namespace zimo::cardsim
