#include "cardsim/interpreter.h"
#include "cardsim/plcc_runner.h"

#include <algorithm>

#include "cardsim/card_word.h"

namespace zimo::cardsim {

namespace {
// Program buffers hold at most this many lines.
constexpr size_t kBufferLines = 65536;
}  // namespace

Interpreter::Interpreter(const CardModel& model, Memory& memory, Variables& vars, Motors& motors,
                         Script& script)
    : model_(model),
      memory_(memory),
      vars_(vars),
      motors_(motors),
      script_(script),
      global_status_(model.global_status),
      saved_i_(vars.SnapshotI()) {
  plcc_ = std::make_unique<PlccRunner>(model, memory);
  AttachCompiledPlcs();
}

Interpreter::~Interpreter() = default;

const std::vector<std::string>* Interpreter::Buffer(const std::string& name) const {
  auto it = buffers_.find(name);
  return it == buffers_.end() ? nullptr : &it->second;
}

Reply Interpreter::Run(std::string_view line) {
  Reply reply;
  if (!line.empty()) last_line_.assign(line.substr(0, kMaxLine));
  for (char c : line) {
    auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u >= 0x7F) {
      reply.error = card_error::kBadCommand;
      return reply;
    }
  }
  if (line.size() > kMaxLine) {
    reply.error = card_error::kCommunication;
    return reply;
  }
  Scanner s(StripComment(line));
  if (!selected_ && s.Peek() != '@') {
    reply.silent = true;
    return reply;
  }
  if (!open_buffer_.empty() && !IntoBuffer(s, reply)) return reply;
  while (!s.AtEnd()) {
    int error = RunOne(s, reply);
    if (error != 0) {
      reply.error = error;
      break;
    }
    if (!selected_) {
      reply = Reply{};
      reply.silent = true;
      break;
    }
    if (!open_buffer_.empty() && !IntoBuffer(s, reply)) break;
  }
  return reply;
}

bool Interpreter::IntoBuffer(Scanner& s, Reply& reply) {
  // While a buffer is open, lines go into it. CLOSE ends it, and the rest of
  // the line runs on line (true); OPEN is refused; CLEAR empties it first.
  if (s.AcceptWord("CLOSE") || s.AcceptWord("CLOS") || s.AcceptWord("CLS")) {
    int error = CloseBuffer();
    if (error != 0) reply.error = error;
    return error == 0;
  }
  if (s.AcceptWord("OPEN") || s.AcceptWord("OPN")) {
    reply.error = card_error::kBufferInUse;
    return false;
  }
  // Status queries and listings are answered at once, never stored.
  size_t at = s.pos();
  if (s.Peek() == '?' || s.AcceptWord("LIST")) {
    s.Reset(at);
    return true;
  }
  if (s.AcceptWord("CLEAR") || s.AcceptWord("CLR")) {
    buffers_[open_buffer_].clear();
    BufferChanged(open_buffer_);
  }
  if (!s.AtEnd()) {
    auto& buffer = buffers_[open_buffer_];
    if (buffer.size() >= kBufferLines) {
      reply.error = card_error::kBufferFull;
      return false;
    }
    // A line that ends with CLOSE (or CLS) closes the buffer behind it.
    std::string text(s.Rest());
    size_t cut = text.size();
    for (std::string_view word : {std::string_view(" CLOSE"), std::string_view(" CLS")}) {
      if (text.size() >= word.size() &&
          text.compare(text.size() - word.size(), word.size(), word) == 0) {
        cut = text.size() - word.size();
      }
    }
    buffer.push_back(text.substr(0, cut));
    BufferChanged(open_buffer_);
    if (cut != text.size()) {
      int error = CloseBuffer();
      if (error != 0) reply.error = error;
    }
  }
  return false;
}

int Interpreter::RunOne(Scanner& s, Reply& reply) {
  char c = s.Peek();
  switch (c) {
    case '&':
      return CoordPrefix(s, reply);
    case '#':
      return MotorPrefix(s, reply);
    case '@':
      return Address(s, reply);
    case '?':
      return Status(s, reply);
    case '%':
      return FeedRate(s, reply);
    case '$':
      if (in_program_) return card_error::kBadCommand;
      return Reset(s, reply);
    case 'I':
    case 'P':
    case 'Q':
    case 'M':
      if (Scanner::IsDigit(s.PeekRaw(1))) return Variable(s, reply);
      if (c == 'M' && (s.PeekRaw(1) == 'I' || s.PeekRaw(1) == 'i') &&
          Scanner::IsDigit(s.PeekRaw(2)))
        return RingStationVariable(s, reply);
      break;
    default:
      break;
  }
  if (in_program_) {
    // Buffer handling belongs to the host, not to a running program.
    for (std::string_view word : {"OPEN", "CLOSE", "CLEAR", "SAVE", "LIST"}) {
      if (s.AcceptWord(word)) return card_error::kBadCommand;
    }
  }
  for (const CommandWord& command : CommandTable()) {
    size_t start = s.pos();
    if (!s.AcceptWord(command.word)) continue;
    // A one-letter command ("#1K", "#1P") is not the start of a longer word.
    char next = s.PeekRaw(0);
    if (command.word.size() == 1 && next >= 'A' && next <= 'Z') {
      s.Reset(start);
      continue;
    }
    return (this->*command.run)(s, reply);
  }
  return card_error::kBadCommand;
}

int Interpreter::CoordPrefix(Scanner& s, Reply& reply) {
  s.Take();
  if (!Scanner::IsDigit(s.Peek())) {
    reply.lines.push_back("&" + std::to_string(coord_));
    return 0;
  }
  auto n = s.Unsigned();
  if (!n || *n < 1 || *n > static_cast<uint64_t>(model_.coordinate_systems())) {
    return card_error::kBadCommand;
  }
  coord_ = static_cast<int>(*n);
  return 0;
}

int Interpreter::MotorPrefix(Scanner& s, Reply& reply) {
  s.Take();
  if (Scanner::IsDigit(s.Peek())) {
    auto n = s.Unsigned();
    if (!n || !motors_.Valid(static_cast<int>(std::min<uint64_t>(*n, 1000)))) {
      return card_error::kBadCommand;
    }
    motor_ = static_cast<int>(*n);
  } else if (s.Peek() != '-') {
    reply.lines.push_back("#" + std::to_string(motor_));
    return 0;
  }
  if (s.AcceptWord("->")) return AxisDefinition(s, reply);
  return 0;
}

int Interpreter::Address(Scanner& s, Reply& reply) {
  s.Take();
  if (s.Accept('@')) {
    selected_ = true;
    return 0;
  }
  if (!Scanner::IsDigit(s.Peek())) {
    reply.lines.push_back("@0");
    return 0;
  }
  auto n = s.Unsigned();
  if (!n) return card_error::kBadCommand;
  selected_ = *n == 0;  // this card answers to address 0
  return 0;
}

std::string Interpreter::MotorStatusText(int motor) const {
  return word::Hex24(motors_.ServoStatus(motor)) + word::Hex24(motors_.MotorStatus(motor));
}

std::string Interpreter::CoordStatusText(int coord) const {
  auto [first, second] = CoordWords(coord);
  return word::Hex24(first) + word::Hex24(second);
}

std::string Interpreter::GlobalStatusText() const {
  // The error flags as the status reply carries them: servo error bit 23,
  // re-entry bit 21, memory checksum bit 14, PROM checksum bit 15 of the
  // first word.
  uint64_t errors = 0;
  auto has = [this](GlobalError e) { return (global_errors_ >> static_cast<int>(e)) & 1u; };
  if (has(GlobalError::kServo)) errors |= uint64_t{1} << (24 + 23);
  if (has(GlobalError::kReEntry)) errors |= uint64_t{1} << (24 + 21);
  if (has(GlobalError::kMemoryChecksum)) errors |= uint64_t{1} << (24 + 14);
  if (has(GlobalError::kPromChecksum)) errors |= uint64_t{1} << (24 + 15);
  return word::Hex48(global_status_ | BufferStatusBits() | errors);
}

int Interpreter::Status(Scanner& s, Reply& reply) {
  int marks = 0;
  while (marks < 3 && s.Accept('?')) ++marks;
  if (marks == 1) {
    std::string text = MotorStatusText(motor_);
    int length = script_.status_length();
    if (length > 0) text.resize(static_cast<size_t>(length), '0');
    reply.lines.push_back(text);
  } else if (marks == 2) {
    reply.lines.push_back(CoordStatusText(coord_));
  } else {
    reply.lines.push_back(GlobalStatusText());
  }
  return 0;
}

int Interpreter::FeedRate(Scanner& s, Reply& reply) {
  s.Take();
  char c = s.Peek();
  if (Scanner::IsDigit(c) || c == '.' || c == '$') {
    auto v = s.Number();
    if (!v) return card_error::kBadCommand;
    feed_[coord_] = *v;
    return 0;
  }
  auto it = feed_.find(coord_);
  reply.lines.push_back(Variables::Format(it == feed_.end() ? 100.0 : it->second));
  return 0;
}

int Interpreter::Reset(Scanner& s, Reply& reply) {
  if (s.AcceptWord("$$$***")) {
    // Back to the factory state: settings, variables, buffers.
    vars_.Reset();
    buffers_.clear();
    compiled_.clear();
    open_buffer_.clear();
    axes_.clear();
    feed_.clear();
    plcs_ = {};
    plc_enabled_ = 0;
    motors_.KillAll();
    UpdateProgramTables();
    return 0;
  }
  if (s.AcceptWord("$$$")) {
    // A reset starts from the saved settings with the motors stopped.
    // Stored programs stay; every PLC that holds one is enabled again and
    // runs as I5 allows.
    vars_.RestoreI(saved_i_);
    open_buffer_.clear();
    plcs_ = {};
    uint32_t with_program = 0;
    for (int n = 0; n < 32; ++n) {
      const auto* lines = Buffer("PLC " + std::to_string(n));
      if (lines != nullptr && !lines->empty()) with_program |= 1u << n;
    }
    plc_enabled_ = 0;
    SetPlcEnabled(with_program);
    motors_.StopAll();
    return 0;
  }
  (void)reply;
  return card_error::kBadCommand;
}

}  // namespace zimo::cardsim
