#include "plcc/plcc_compiler.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <memory>
#include <string>
#include <vector>

#include "download/source_name.h"
#include "plcc/plcc_block.h"
#include "plcc/plcc_compilation.h"
#include "plcc/plcc_emit.h"
#include "plcc/plcc_listing.h"
#include "plcc/plcc_tokenizer.h"

namespace zimo::corvan::plcc {

namespace {

constexpr std::size_t kLineLimit = 255;  // characters of one source line
constexpr std::uint32_t kServoBase = 0x40000;
constexpr std::uint32_t kServoHeaderWords = 64;
constexpr std::uint32_t kVarPlccStart = 0x4004;

// The fixed start of the OPEN SERVO area; word 20 becomes the end address.
constexpr std::uint32_t kServoHeader[kServoHeaderWords] = {
    0x0A6300, 0x0AFB03, 0x040040, 0x05533D, 0x05637C, 0x05533D, 0x05637C, 0x05533D,
    0x05637C, 0x0A6320, 0x050C56, 0x0A6380, 0x000001, 0x05DB7C, 0x05E33D, 0x05DB7C,
    0x05E33D, 0x05DB7C, 0x05E33D, 0x0C0001, 0x000000, 0x340000, 0x222F00, 0x232600,
    0x20005C, 0x205C5C, 0x0537DF, 0x228E00, 0x00000C, 0x0A67B7, 0x040029, 0x48DF09,
    0x21A500, 0x212400, 0x0C1881, 0x00C000, 0x213514, 0x0BF080, 0x00FF40, 0x057413,
    0x00000C, 0x0C1881, 0x00C000, 0x213514, 0x200036, 0x01DD15, 0x0BF080, 0x00FF42,
    0x48DF09, 0x21A500, 0x212400, 0x0C1881, 0x00C000, 0x213514, 0x0BF080, 0x00FF40,
    0x059402, 0x00000C, 0x200061, 0x208800, 0x0C1881, 0x00C000, 0x213514, 0x00000C,
};

// At least six upper-case hex digits of v at p (as "%06lX"); returns the end.
char* Hex(char* p, std::uint32_t v) {
  int digits = 6;
  while (digits < 8 && (v >> (4 * digits)) != 0) ++digits;
  for (int d = digits - 1; d >= 0; --d) *p++ = "0123456789ABCDEF"[(v >> (4 * d)) & 0xF];
  return p;
}

// Output lines end with CR LF; the first failed write is remembered.
class Output {
 public:
  explicit Output(std::FILE* f) : f_(f) {}
  void Line(const char* text) {
    if (std::fputs(text, f_) < 0 || std::fputs("\r\n", f_) < 0) failed_ = true;
  }
  void Format(const char* format, unsigned long a, unsigned long b) {
    char line[64];
    std::snprintf(line, sizeof line, format, a, b);
    Line(line);
  }
  // Words as "WP:" lines: eight to a line, the rest one per line. The hex
  // is written by hand: this is most of a compile's output.
  void Words(std::uint32_t address, const std::uint32_t* words, std::size_t count) {
    char line[128];
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8, address += 8) {
      std::memcpy(line, "WP:$", 4);
      char* p = Hex(line + 4, address);
      for (std::size_t j = 0; j < 8; ++j) {
        *p++ = ',';
        *p++ = '$';
        p = Hex(p, words[i + j]);
      }
      *p = '\0';
      Line(line);
    }
    for (; i < count; ++i, ++address) {
      std::memcpy(line, "WP:$", 4);
      char* p = Hex(line + 4, address);
      *p++ = ',';
      *p++ = '$';
      p = Hex(p, words[i]);
      *p = '\0';
      Line(line);
    }
  }
  bool Finish() { return std::fflush(f_) == 0 && !failed_ && !std::ferror(f_); }
  bool failed() const { return failed_; }

 private:
  std::FILE* f_;
  bool failed_ = false;
};

}  // namespace

bool ReadPlccSourceLine(std::FILE* in, std::string& line) {
  line.clear();
  int ch;
  bool any = false;
  while ((ch = std::fgetc(in)) != EOF) {
    any = true;
    if (ch == '\n') break;
    line.push_back(static_cast<char>(ch));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

namespace {

// Upper-case outside quoted texts and comments.
void UpperCaseLine(std::string& line) {
  bool keep = false;
  for (char& ch : line) {
    if (ch == '"') {
      keep = !keep;
    } else if (ch == ';' && !keep) {
      keep = true;
    } else if (!keep) {
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
  }
}

bool IsIfOrWhile(std::uint32_t k) { return k == kTokIf || k == kTokWhile; }

// Block structure of one line's tokens (tokens[first..end)), against the
// block's earlier tokens; stops at the first fault. Sets *closed at CLOSE.
int StructurePass(std::vector<PlccToken>& tokens, std::size_t first, std::size_t end,
                  bool* closed) {
  for (std::size_t i = first; i < end; ++i) {
    const std::uint32_t k = tokens[i].code & 0x3FF;
    if (k == kTokOpenPlcc || k == kTokClose) {
      if (k == kTokClose) *closed = true;
      for (std::size_t j = 0; j < i; ++j) {
        const std::uint32_t code = tokens[j].code;
        if (IsIfOrWhile(code & 0x3FF) && (code & kClosedBit) == 0) return kErrUnclosed;
      }
      continue;
    }
    if (k != kTokElse && k != kTokEndIf && k != kTokEndWhile) continue;
    std::size_t j = i;
    bool found = false;
    while (j-- > 0) {
      const std::uint32_t code = tokens[j].code;
      if (!IsIfOrWhile(code & 0x3FF) || (code & kClosedBit) != 0) continue;
      if (k == kTokElse && (code & kElseBit) != 0) continue;
      found = true;
      break;
    }
    const std::uint32_t open = found ? tokens[j].code & 0x3FF : 0;
    if (k == kTokElse) {
      if (open != kTokIf) return kErrElse;
      tokens[j].code |= kElseBit;
    } else if (k == kTokEndIf) {
      if (open != kTokIf) return kErrEndIf;
      tokens[j].code |= kClosedBit;
    } else {
      if (open != kTokWhile) return kErrEndWhile;
      tokens[j].code |= kClosedBit;
    }
  }
  return 0;
}

class Compiler {
 public:
  Compiler(const PlccTarget& target, std::FILE* in, std::FILE* out, PlccErrorSink* sink)
      : c_(target), in_(in), out_(out), sink_(sink) {}

  PlccCompileResult Run();

 private:
  int Line(std::string& line);
  int StartBlock(std::uint32_t first, const std::string& line);
  int FinishBlock();
  int ReportLineError(int error, const std::string& line);
  int Stop(int error) { return error; }
  void WriteClosingLines();

  PlccCompilation c_;
  std::FILE* in_;
  Output out_;
  PlccErrorSink* sink_;

  std::size_t token_capacity_ = 0;
  std::size_t code_capacity_ = 0;
  std::uint32_t reserve_ = 98;
  std::vector<PlccToken> tokens_;
  std::unique_ptr<PlccCodeBuffer> code_;
  PlccEntryTable table_{};
  bool table_started_ = false;

  bool in_block_ = false;
  BlockKind kind_ = BlockKind::kPlcc;
  bool any_closed_ = false;
  std::size_t index_ = 0;
  std::uint32_t next_address_ = 0;
  std::uint32_t total_ = 0;
  std::uint32_t error_line_ = 0;
  std::uint32_t open_line_ = 0;
  std::uint32_t input_line_ = 0;
  std::uint32_t open_input_line_ = 0;
  bool servo_opened_ = false;
  char file_name_[kSourceNameSize] = "";
};

PlccCompileResult Compiler::Run() {
  PlccCompileResult result;
  result.extended_firmware = c_.extended_firmware;
  const PlccLimits& limits = c_.target.limits;
  token_capacity_ = limits.tokens != 0 ? limits.tokens : c_.spran ? 32768 : 7680;
  code_capacity_ = limits.code_words != 0 ? limits.code_words : c_.spran ? 65536 : 15360;
  tokens_.assign(token_capacity_, PlccToken{});
  code_ = std::make_unique<PlccCodeBuffer>(code_capacity_);
  next_address_ = c_.target.code_start;
  if (!c_.target.first_line.empty()) out_.Line(c_.target.first_line.c_str());

  std::string line;
  int error = 0;
  while (error == 0 && ReadPlccSourceLine(in_, line)) {
    ++input_line_;
    error = Line(line);
  }
  if (error == 0 && in_block_) {
    // A block the file never closed: refused at its OPEN line.
    error = kErrFormat;
    error_line_ = open_line_;
    input_line_ = open_input_line_;
  }
  result.servo_opened = servo_opened_;
  if (error != 0) {
    result.result = error;
    result.words = error_line_;
    result.input_line = input_line_;
    return result;
  }
  std::uint32_t words = 0;
  if (any_closed_) {
    WriteClosingLines();
    words = total_ + (c_.servo_section ? kServoHeaderWords : c_.varplcc_section ? 0 : 98);
  }
  if (std::ferror(in_)) {
    result.result = kErrInput;
    return result;
  }
  if (!out_.Finish()) {
    result.result = kErrOutput;
    return result;
  }
  result.words = words;
  return result;
}

void Compiler::WriteClosingLines() {
  const PlccTarget& t = c_.target;
  if (c_.servo_section) {
    if (c_.asm_output) return;  // the listing printed its own header
    std::uint32_t header[kServoHeaderWords];
    std::memcpy(header, kServoHeader, sizeof header);
    header[20] = kServoBase + kServoHeaderWords + total_;
    out_.Words(kServoBase, header, kServoHeaderWords);
  } else if (c_.varplcc_section) {
    out_.Format("WP:$%06lX,$%06lX", 0x4000, kVarPlccStart + total_);
    out_.Format("WP:$%06lX,$%06lX", 0x4002, kVarPlccStart);
  } else {
    // PLCs without code chain on to the next compiled one.
    std::uint32_t fill = t.chain_end;
    for (int n = 31; n >= 1; --n) {
      const std::size_t i = static_cast<std::size_t>(n);
      if (table_[i] != 0) {
        fill = t.slot_table + 2 * static_cast<std::uint32_t>(n);
      } else {
        table_[i] = fill;
        table_[33 + 2 * i] = fill;
      }
    }
    out_.Words(t.table_base, table_.data(), 96);
    out_.Format("WP:$%06lX,$%06lX", t.table_base + 96, table_[96]);
    if (c_.spran) {
      out_.Format("WP:$%06lX,$%06lX", t.chain_end + 1, t.code_start + total_);
      for (std::uint32_t a = t.code_start - 32; a < t.code_start; a += 8) {
        char text[64];
        std::snprintf(text, sizeof text, "WP:$%06lX,$0,$0,$0,$0,$0,$0,$0,$0",
                      static_cast<unsigned long>(a));
        out_.Line(text);
      }
    } else {
      out_.Format("WP:$%06lX,$%06lX", t.code_start - 1, total_);
    }
  }
}

int Compiler::ReportLineError(int error, const std::string& line) {
  error_line_ = static_cast<std::uint32_t>(CommentLineNumber(line.c_str()));
  if (sink_ != nullptr) sink_->ReportError(file_name_, error, error_line_, line.c_str());
  return error;
}

int Compiler::StartBlock(std::uint32_t first, const std::string& line) {
  const PlccTarget& t = c_.target;
  if (first == kTokOpenPlcc) {
    if (c_.register_relative || c_.servo_section || c_.varplcc_section) return kErrFormat;
    if (!table_started_) {
      if (!t.table_start_line.empty()) out_.Line(t.table_start_line.c_str());
      table_.fill(0);
      table_[0] = t.chain_end;
      for (std::size_t n = 0; n < 32; ++n) table_[32 + 2 * n] = 0x0AF080;
      table_[33] = t.chain_end;
      table_[96] = 0x00000C;
      table_started_ = true;
    }
    kind_ = BlockKind::kPlcc;
  } else if (first == kTokOpenServo) {
    if (c_.servo_section || c_.varplcc_section || table_started_ || !c_.servo_firmware) {
      return kErrFormat;
    }
    out_.Line("\x11 CLS I159,32,100=0");
    std::uint32_t header = kServoHeaderWords;
    if (c_.asm_output) {
      std::vector<std::string> lines;
      header = static_cast<std::uint32_t>(PrintServoHeader(lines));
      for (const std::string& l : lines) out_.Line(l.c_str());
    }
    next_address_ = kServoBase + header;
    c_.servo_section = true;
    servo_opened_ = true;
    code_capacity_ = 3072;
    token_capacity_ = 1536;
    reserve_ = header;
    kind_ = BlockKind::kServo;
  } else {
    if (c_.varplcc_section || c_.servo_section || table_started_ || !c_.servo_firmware) {
      return kErrFormat;
    }
    out_.Line(t.server_build ? "MI14=0" : "MI15=0");
    if (c_.asm_output) out_.Line("\tORG\t$4004\t\t;Start of VARPlcc");
    next_address_ = kVarPlccStart;
    c_.varplcc_section = true;
    code_capacity_ = 8100;
    token_capacity_ = 4050;
    reserve_ = 1;
    kind_ = BlockKind::kVarPlcc;
  }
  code_->set_usable(code_capacity_);
  in_block_ = true;
  open_line_ = static_cast<std::uint32_t>(CommentLineNumber(line.c_str()));
  open_input_line_ = input_line_;
  return 0;
}

int Compiler::FinishBlock() {
  code_->Clear();
  code_->set_listing(c_.asm_output);
  const int r = GeneratePlccCode(c_, kind_, tokens_.data(), index_, next_address_, *code_, table_);
  if (r < 0) return -r;
  std::vector<std::uint32_t> words(code_->size());
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = (*code_)[i];
  if (c_.asm_output) {
    std::vector<std::string> lines;
    PrintPlccListing(*code_, next_address_, lines);
    for (const std::string& l : lines) out_.Line(l.c_str());
  } else {
    out_.Words(next_address_, words.data(), words.size());
  }
  if (out_.failed()) return kErrOutput;
  next_address_ += static_cast<std::uint32_t>(words.size());
  total_ += static_cast<std::uint32_t>(words.size());
  const std::size_t total_limit = c_.target.limits.total_words;
  if (total_limit != 0 ? total_ > total_limit : total_ + 16 + reserve_ > code_capacity_) {
    return kErrMemory;
  }
  in_block_ = false;
  any_closed_ = true;
  index_ = 0;
  c_.pool_fill = 0;
  std::fill(c_.pool.begin(), c_.pool.end(), 0);
  return 0;
}

int Compiler::Line(std::string& line) {
  UpperCaseLine(line);
  CommentSourceName(line.c_str(), file_name_, sizeof file_name_);
  const bool too_long = line.size() > kLineLimit;
  if (too_long && c_.target.refuse_long_lines) return ReportLineError(kErrFormat, line);
  std::string text = line.substr(0, kLineLimit) + "\n";

  const std::size_t start = index_;
  std::size_t slot = index_;
  const char* pos = text.c_str();
  const int r = PlccTokenizeLine(c_, pos, tokens_.data(), slot, token_capacity_);
  const std::uint32_t first = start < token_capacity_ ? tokens_[start].code & 0x3FF : 0;

  if (!in_block_) {
    if (first == kTokOpenPlcc || first == kTokOpenServo || first == kTokOpenVarPlcc) {
      const int s = StartBlock(first, line);
      if (s != 0) return s;
    }
  }
  if (in_block_) {
    if (too_long) return ReportLineError(kErrFormat, line);
    if (r < 0) return ReportLineError(-r, line);
    // Sections do not nest: a section keyword anywhere in an open block,
    // at a line's start or after other tokens, is refused (OPEN PLCC only
    // continues a PLCC block).
    for (std::size_t i = start; i < start + static_cast<std::size_t>(r); ++i) {
      const std::uint32_t k = tokens_[i].code & 0x3FF;
      if (i != 0 && (k == kTokOpenServo || k == kTokOpenVarPlcc ||
                     (k == kTokOpenPlcc && kind_ != BlockKind::kPlcc))) {
        return kErrFormat;
      }
    }
    if (r == 0) return 0;
    bool closed = false;
    const int s = StructurePass(tokens_, start, start + static_cast<std::size_t>(r), &closed);
    if (s != 0) return s;
    index_ += static_cast<std::size_t>(r);
    const std::size_t most = c_.target.limits.program_tokens;
    if (most != 0 ? index_ > most : index_ + 64 > token_capacity_) return kErrTokens;
    return closed ? FinishBlock() : 0;
  }

  // Outside compiled blocks.
  switch (first) {
    case kTokLDefinition: {
      if (r < 0 || too_long) return r < 0 ? -r : kErrFormat;
      const int n = static_cast<int>(tokens_[start].value);
      if (c_.InOverlay(n)) {
        std::string m = line;
        const std::size_t at = m.find('L');
        if (at != std::string::npos) m[at] = 'M';
        out_.Line(m.c_str());
      }
      return 0;
    }
    case kTokFDefinition:
      if (r < 0 || too_long) return r < 0 ? -r : kErrFormat;
      return 0;
    case kTokAsmOut:
    case kTokOptimizeOff:
      return 0;
    case kTokLmOverlay: {
      if (r < 0 || too_long) return r < 0 ? -r : kErrFormat;
      char comment[96];
      std::snprintf(comment, sizeof comment, "; *** Lnn overlay of Mnn from %i to %i ***",
                    c_.overlay_first, c_.overlay_last);
      out_.Line(comment);
      return 0;
    }
    default:
      out_.Line(line.c_str());
      return 0;
  }
}

}  // namespace

PlccCompileResult CompilePlccStream(const PlccTarget& target, std::FILE* in, std::FILE* out,
                                    PlccErrorSink* sink) {
  Compiler compiler(target, in, out, sink);
  return compiler.Run();
}

bool SamePlccFile(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

PlccCompileResult CompilePlccFile(const PlccTarget& target, const char* input_path,
                                  const char* output_path, PlccErrorSink* sink) {
  PlccCompileResult result;
  std::FILE* in = input_path != nullptr ? std::fopen(input_path, "rb") : nullptr;
  if (in == nullptr) {
    result.result = kErrInput;
    return result;
  }
  // Opening the output for writing would empty the input first.
  if (output_path != nullptr && SamePlccFile(input_path, output_path)) {
    std::fclose(in);
    if (sink != nullptr) sink->ReportFileError(kErrOutput, output_path, "the output is the input file");
    result.result = kErrOutput;
    return result;
  }
  std::FILE* out = output_path != nullptr ? std::fopen(output_path, "wb") : nullptr;
  if (out == nullptr) {
    std::fclose(in);
    result.result = kErrOutput;
    return result;
  }
  result = CompilePlccStream(target, in, out, sink);
  std::fclose(in);
  if (std::fclose(out) != 0 && result.result == 0) result.result = kErrOutput;
  return result;
}

}  // namespace zimo::corvan::plcc
