#include "download/preprocessor.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "corvan/internal/shared_table.h"
#include "download/download_files.h"
#include "download/download_state.h"
#include "link/library_app.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/win_path.h"

namespace zimo::corvan {

namespace {

constexpr std::size_t kWordMax = 32;
constexpr std::size_t kValueMax = 128;
constexpr std::size_t kArgumentsMax = 255;
constexpr std::size_t kArgumentMax = 127;
constexpr std::size_t kArgumentCount = 5;
constexpr char kOverflowText[] = "String write past end of parse buffer.";

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsPrintable(char c) { return c >= 32 && c <= 126; }

// Case-insensitive: does `text` start with `word`?
bool StartsWithNoCase(const char* text, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    if (std::toupper(static_cast<unsigned char>(*text)) != *word) return false;
  }
  return true;
}

std::size_t SkipBlanks(const char* input, std::size_t pos) {
  while (IsBlank(input[pos])) ++pos;
  return pos;
}

std::string TakeWord(const char* input, std::size_t* pos) {
  std::string word;
  while (IsWordChar(input[*pos]) && word.size() < kWordMax) word.push_back(input[(*pos)++]);
  return word;
}

struct Builtin {
  const char* name;
  std::size_t arguments;
};
// Matched in this order as prefixes of the text after '@'.
constexpr Builtin kBuiltins[] = {
    {"TESTBIT", 2},       {"ON", 2},     {"OFF", 2},     {"START_TIMER", 2}, {"TIMER_RUNNING", 1},
    {"TIMER_STOPPED", 1}, {"SET_ON", 2}, {"SET_OFF", 2},
};

std::string FormatBuiltin(std::size_t which, const std::vector<std::string>& a) {
  char text[3 * kParseBufferSize];
  const char* x = a[0].c_str();
  const char* y = a.size() > 1 ? a[1].c_str() : "";
  switch (which) {
    case 0:
    case 1:
      std::snprintf(text, sizeof text, "%s & %s = %s", x, y, y);
      break;
    case 2:
      std::snprintf(text, sizeof text, "%s & %s != %s", x, y, y);
      break;
    case 3:
      std::snprintf(text, sizeof text, "%s = %s * 8388608/I10", x, y);
      break;
    case 4:
      std::snprintf(text, sizeof text, "%s > 0", x);
      break;
    case 5:
      std::snprintf(text, sizeof text, "%s !> 0", x);
      break;
    case 6:
      std::snprintf(text, sizeof text, "%s = %s | %s", x, x, y);
      break;
    default:
      std::snprintf(text, sizeof text, "%s = %s & (%s ^ %s)", x, x, x, y);
      break;
  }
  return text;
}

std::string ToReportPath(const std::filesystem::path& host) {
  return platform::Utf8ToCp1252(platform::FromHostPath(host));
}

}  // namespace

MacroPreprocessor& DownloadPreprocessor() {
  static MacroPreprocessor preprocessor;
  return preprocessor;
}

MacroPreprocessor::~MacroPreprocessor() {
  while (!levels_.empty()) PopIncludeFile();
}

std::uint32_t MacroPreprocessor::CurrentLine() const {
  return levels_.empty() ? 0 : levels_.back().line;
}

void MacroPreprocessor::Error(const char* text) {
  DownloadState::Instance().ReportDownloadError(text, CurrentLine());
}

void MacroPreprocessor::DefineMacro(const std::string& name, const std::string& value) {
  DownloadState& state = DownloadState::Instance();
  auto [it, added] = dictionary_.entries.try_emplace(name);
  if (added) {
    it->second.number = state.total_lines();
    it->second.value = value;
    return;
  }
  if (it->second.value == value) return;
  it->second.value = value;
  char text[kReportTextSize];
  std::snprintf(text, sizeof text, "Definition: %s, defined with different value.", name.c_str());
  state.ReportDownloadWarning(text, CurrentLine());
}

const DefineDictionary::Entry* MacroPreprocessor::FindDefinition(const std::string& name) const {
  const auto it = dictionary_.entries.find(name);
  return it == dictionary_.entries.end() ? nullptr : &it->second;
}

void MacroPreprocessor::DefineCardSymbols(int device) {
  CommLibraryApp& app = CommLibraryApp::Instance();
  app.MapTable();
  const SharedDeviceBlock* block = app.Block(device);
  const std::int32_t type = block != nullptr ? block->CardType : 0;
  struct CardSymbols {
    std::vector<const char*> symbols;
    const char* report;
  };
  static const CardSymbols kTable[] = {
      {{"_ZIMO1_"}, "ZIMO1 found"},
      {{"_ZIMO2_"}, "ZIMO2 found"},
      {{"_ZIMOAE_"}, "ZIMO AERIVO found"},
      {{}, nullptr},
      {{"_ZIMO1_", "_SPRAN_"}, "ZIMO1 SPRAN found"},
      {{"_ZIMO2_", "_SPRAN_"}, "ZIMO2 SPRAN found"},
      {{"_ZIMO2_", "_SPRAN_", "_ZIMOAS_"}, "ZIMO AERIVO SPRAN found"},
      {{"_KORB_", "_ZIMO2_", "_SPRAN_"}, "KORB SPRAN found"},
      {{"_TESV_", "_ZIMO2_", "_SPRAN_"}, "TESV SPRAN found"},
  };
  DownloadState& state = DownloadState::Instance();
  if (type < 1 || type > 9 || kTable[type - 1].report == nullptr) {
    char text[kReportTextSize];
    std::snprintf(text, sizeof text, "No card symbols for card type %d", static_cast<int>(type));
    state.ReportDownloadMessage(text);
    return;
  }
  for (const char* symbol : kTable[type - 1].symbols) dictionary_.entries[symbol] = {0, ""};
  state.ReportDownloadMessage(kTable[type - 1].report);
}

bool MacroPreprocessor::Run(int device, const std::string& source, const std::string& output) {
  DownloadState& state = DownloadState::Instance();
  while (!levels_.empty()) PopIncludeFile();
  ClearDictionary();
  DefineCardSymbols(device);
  in_comment_ = false;
  depth_ = 0;
  for (bool& flag : active_) flag = false;
  from_callback_ = state.callbacks().line_source != nullptr;
  main_source_ = source;

  char text[kReportTextSize];
  Level main;
  main.path = source;
  if (!from_callback_) {
    main.file = OpenHostFile(source.c_str(), "rb");
    if (main.file == nullptr) {
      std::snprintf(text, sizeof text, "Unable to open main input file: %s", source.c_str());
      state.ReportDownloadError(text, 0);
      return false;
    }
    std::fseek(main.file, 0, SEEK_END);
    main.length = std::ftell(main.file);
    std::fseek(main.file, 0, SEEK_SET);
  }
  std::FILE* out = OpenHostFile(output.c_str(), "wb");
  if (out == nullptr) {
    std::snprintf(text, sizeof text, "Unable to open output file: %s", output.c_str());
    state.ReportDownloadError(text, 0);
    if (main.file != nullptr) std::fclose(main.file);
    return false;
  }
  std::fprintf(out, "; Created by ZIMO Win32 Driver from:%s\r\n;\r\n", source.c_str());
  levels_.push_back(main);

  std::size_t last_marked = static_cast<std::size_t>(-1);
  std::string line;
  std::string processed;
  while (!state.aborted() && !levels_.empty()) {
    const std::size_t level = levels_.size() - 1;
    if (level != last_marked) {
      std::fprintf(out, ";%s\r\n", levels_.back().path.c_str());
      last_marked = level;
    }
    if (!ReadSourceLine(&line)) continue;
    const std::uint32_t number = levels_.back().line;
    if (PreprocessLine(line.c_str(), &processed, kParseBufferSize)) {
      std::fprintf(out, "%s;%ld\r\n", processed.c_str(), static_cast<long>(number));
    }
  }
  const bool aborted = state.aborted();
  for (; depth_ > 0; --depth_) {
    state.ReportDownloadError("Missing #endif..", aborted ? CurrentLine() : 0);
  }
  std::fprintf(out, "CLOSE\r\n");
  std::fclose(out);
  std::snprintf(text, sizeof text, "Total Lines: %lu",
                static_cast<unsigned long>(state.total_lines()));
  state.ReportDownloadMessage(text);
  while (!levels_.empty()) PopIncludeFile();
  return true;
}

// One whole source line (up to the card's 255 characters before its line
// end); a longer one is refused with its file and line and never split, so
// every later line keeps its number.
bool MacroPreprocessor::ReadSourceLine(std::string* line) {
  DownloadState& state = DownloadState::Instance();
  line->clear();
  Level& level = levels_.back();
  if (levels_.size() > 1 || !from_callback_) {
    if (!ReadWholeLine(level.file, line)) {
      PopIncludeFile();
      return false;
    }
    ++level.line;
    if (level.line % 5 == 0 && level.length > 0) {
      const DownloadCallbacks callbacks = state.callbacks();
      if (callbacks.has_progress()) {
        callbacks.ReportProgress(
            static_cast<std::int32_t>(std::ftell(level.file) * 100 / level.length));
      }
    }
    state.add_total_lines(1);
  } else {
    // Room for a whole line, its CR LF and the terminator; a count that
    // reaches the room is a longer line.
    constexpr std::int32_t kRoom = static_cast<std::int32_t>(kCardLineMax) + 3;
    char buffer[kRoom + 1] = {};
    const std::int32_t count =
        state.callbacks().line_source(static_cast<std::int32_t>(level.line), buffer, kRoom);
    if (count <= 0) {
      PopIncludeFile();
      return false;
    }
    line->assign(buffer, static_cast<std::size_t>(count < kRoom ? count : kRoom));
    const std::size_t nul = line->find('\0');
    if (nul != std::string::npos) line->resize(nul);
    if (count >= kRoom) line->resize(kCardLineMax + 1, ' ');  // refused below
    ++level.line;
    state.add_total_lines(1);
  }
  if (LineTextLength(*line) > kCardLineMax) {
    char text[kReportTextSize];
    std::snprintf(text, sizeof text, "Line longer than %u characters in %s",
                  static_cast<unsigned>(kCardLineMax), level.path.c_str());
    Error(text);
    line->clear();
    return false;
  }
  return !line->empty();
}

void MacroPreprocessor::PopIncludeFile() {
  if (levels_.empty()) return;
  if (levels_.back().file != nullptr) std::fclose(levels_.back().file);
  if (levels_.size() > 1) DownloadState::Instance().PopIncludeLevel();
  levels_.pop_back();
}

bool MacroPreprocessor::PushIncludeFile(const std::string& name) {
  DownloadState& state = DownloadState::Instance();
  char text[kReportTextSize];
  if (levels_.size() >= static_cast<std::size_t>(kIncludeLevels)) {
    std::snprintf(text, sizeof text, "Include file nested too deep: %s", name.c_str());
    Error(text);
    return false;
  }
  // Where to look: as written when the name has a folder; else beside the
  // main source, in its parent, the current folder, the program's folder,
  // then the folders of PATH.
  std::string found_report;
  std::string found_host;
  if (name.find_first_of("\\/") != std::string::npos) {
    if (HostFileExists(name.c_str())) {
      found_report = name;
      found_host = HostFilePath(name.c_str());
    }
  } else if (!name.empty()) {
    std::string dir = main_source_;
    for (int up = 0; up < 2 && found_host.empty(); ++up) {
      const std::size_t cut = dir.find_last_of("\\/");
      if (cut == std::string::npos) break;
      const char separator = dir[cut];
      dir.resize(cut);
      const std::string candidate = dir + separator + name;
      if (HostFileExists(candidate.c_str())) {
        found_report = candidate;
        found_host = HostFilePath(candidate.c_str());
      }
    }
    if (found_host.empty()) {
      std::error_code ec;
      std::string folders = std::filesystem::current_path(ec).string();
      folders += ";" + platform::ExecutableDir().string();
      if (const char* path = std::getenv("PATH"); path != nullptr) {
        for (const char* p = path; *p != '\0'; ++p) folders.push_back(*p == ':' ? ';' : *p);
      }
      if (auto hit = platform::SearchFile(folders, platform::Cp1252ToUtf8(name)); hit) {
        found_host = hit->string();
        found_report = ToReportPath(*hit);
      }
    }
  }
  if (found_host.empty()) {
    std::snprintf(text, sizeof text, "File not found: %s", name.c_str());
    Error(text);
    state.ReportDownloadMessage("  (Be sure to specify full path for #include statements)");
    return false;
  }
  Level level;
  level.file = std::fopen(found_host.c_str(), "rb");
  if (level.file == nullptr) {
    std::snprintf(text, sizeof text, "Unable to open file: %s", name.c_str());
    Error(text);
    return false;
  }
  std::fseek(level.file, 0, SEEK_END);
  level.length = std::ftell(level.file);
  std::fseek(level.file, 0, SEEK_SET);
  level.path = found_report.substr(0, kDownloadPathMax - 1);
  levels_.push_back(level);
  state.PushIncludeLevel();
  std::snprintf(text, sizeof text, "Including file: %s", level.path.c_str());
  state.ReportDownloadMessage(text);
  return true;
}

bool MacroPreprocessor::PreprocessLine(const char* input, std::string* output, std::size_t size) {
  overflow_ = false;
  return PreprocessText(input, output, size, 0);
}

bool MacroPreprocessor::PreprocessText(const char* input, std::string* output, std::size_t size,
                                       int expansion) {
  output->clear();
  const std::size_t cap = size > 0 ? size - 1 : 0;
  const bool keep_semicolon =
      std::strstr(input, "SEND") != nullptr || std::strstr(input, "send") != nullptr;
  // Appends what fits; the first text that does not fit ends the line.
  auto append = [&](const std::string& text) {
    if (output->size() + text.size() > cap) {
      output->append(text, 0, cap - output->size());
      if (!overflow_) Error(kOverflowText);
      overflow_ = true;
      return false;
    }
    output->append(text);
    return true;
  };
  bool quoted = false;
  std::size_t i = 0;
  const std::size_t n = std::strlen(input);
  while (i < n && !overflow_) {
    const char c = input[i];
    if (c == '"') quoted = !quoted;
    if (!quoted && !IsPrintable(c)) {
      ++i;
      continue;
    }
    if (in_comment_) {
      if (c == '*' && input[i + 1] == '/') {
        in_comment_ = false;
        i += 2;
      } else {
        ++i;
      }
      continue;
    }
    if (c == '/' && input[i + 1] == '/') break;
    if (c == '/' && input[i + 1] == '*') {
      in_comment_ = true;
      i += 2;
      continue;
    }
    if (c == ';' && !keep_semicolon) break;
    if (!Active()) {
      if (c != '#' || !DirectiveInSkippedRegion(input, &i)) ++i;
      continue;
    }
    if (c == '$') {
      std::string hex(1, '$');
      for (++i; std::isxdigit(static_cast<unsigned char>(input[i])); ++i) hex.push_back(input[i]);
      append(hex);
      continue;
    }
    if (c == '@') {
      std::size_t pos = i + 1;
      std::string expanded;
      if (ExpandBuiltinMacro(input, &pos, &expanded, expansion)) {
        append(expanded);
      } else if (!overflow_) {
        append("@");
      }
      i = pos;
      continue;
    }
    if (c == '#') {
      std::size_t pos = i + 1;
      if (Directive(input, &pos)) {
        i = pos;
      } else {
        append("#");
        ++i;
      }
      continue;
    }
    if (IsWordChar(c)) {
      const std::string word = TakeWord(input, &i);
      const DefineDictionary::Entry* entry = FindDefinition(word);
      if (entry == nullptr) {
        append(word);
        continue;
      }
      // A name that keeps expanding into names (A defined as A) stops here.
      if (expansion >= kMaxExpansionDepth) {
        if (!overflow_) Error(kOverflowText);
        overflow_ = true;
        break;
      }
      const std::string value = entry->value;
      std::string replaced;
      PreprocessText(value.c_str(), &replaced, kParseBufferSize, expansion + 1);
      append(replaced);
      continue;
    }
    append(std::string(1, c));
    ++i;
  }
  return !output->empty();
}

bool MacroPreprocessor::ExpandBuiltinMacro(const char* input, std::size_t* pos,
                                           std::string* expansion, int expansion_depth) {
  std::size_t which = 0;
  for (; which < std::size(kBuiltins); ++which) {
    if (StartsWithNoCase(input + *pos, kBuiltins[which].name)) break;
  }
  if (which == std::size(kBuiltins)) return false;
  *pos += std::strlen(kBuiltins[which].name);
  *pos = SkipBlanks(input, *pos);
  if (input[*pos] != '(') {
    Error("Parameter list opening '(' missing.");
    return false;
  }
  ++*pos;
  std::string list;
  while (input[*pos] != '\0' && input[*pos] != ')' && list.size() < kArgumentsMax &&
         (IsPrintable(input[*pos]) || std::isspace(static_cast<unsigned char>(input[*pos])))) {
    list.push_back(input[(*pos)++]);
  }
  if (input[*pos] != ')') {
    Error("Parameter list closing ')' missing.");
    return false;
  }
  ++*pos;
  std::vector<std::string> arguments;
  std::size_t start = 0;
  for (std::size_t k = 0; k < kArgumentCount && start <= list.size(); ++k) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string raw = list.substr(start, std::min(comma - start, kArgumentMax));
    std::string processed;
    if (PreprocessText(raw.c_str(), &processed, kParseBufferSize, expansion_depth + 1)) {
      arguments.push_back(processed);
    }
    if (overflow_) return false;
    start = comma + 1;
  }
  if (arguments.size() < kBuiltins[which].arguments) return false;
  *expansion = FormatBuiltin(which, arguments);
  return true;
}

bool MacroPreprocessor::Directive(const char* input, std::size_t* pos) {
  const char* word = input + *pos;
  char text[kReportTextSize];
  if (StartsWithNoCase(word, "ENDIF")) {
    *pos += 5;
    if (depth_ == 0) {
      Error("Misplaced #ENDIF macro.");
    } else {
      active_[depth_] = false;
      --depth_;
    }
    return true;
  }
  if (StartsWithNoCase(word, "ELSE")) {
    *pos += 4;
    if (depth_ == 0) {
      Error("Misplaced #ELSE macro.");
    } else {
      active_[depth_] = !active_[depth_];
    }
    return true;
  }
  if (StartsWithNoCase(word, "DEFINE")) {
    std::size_t p = SkipBlanks(input, *pos + 6);
    const std::string name = TakeWord(input, &p);
    p = SkipBlanks(input, p);
    std::string value;
    while (IsPrintable(input[p]) && value.size() < kValueMax && input[p] != ';' &&
           !(input[p] == '/' && (input[p + 1] == '/' || input[p + 1] == '*'))) {
      value.push_back(input[p++]);
    }
    while (!value.empty() && IsBlank(value.back())) value.pop_back();
    if (value.empty()) value = "?";
    if (name.empty()) {
      Error("Definition name missing.");
    } else {
      DefineMacro(name, value);
    }
    *pos = p;
    return true;
  }
  if (StartsWithNoCase(word, "INCLUDE")) {
    std::size_t p = SkipBlanks(input, *pos + 7);
    std::string file;
    if (input[p] == '"' || input[p] == '<') {
      const char close = input[p] == '"' ? '"' : '>';
      for (++p; IsPrintable(input[p]) && input[p] != close && file.size() < kDownloadPathMax; ++p) {
        file.push_back(input[p]);
      }
      if (input[p] == close) ++p;
    }
    *pos = PushIncludeFile(file) ? std::strlen(input) : p;
    return true;
  }
  const bool ifdef = StartsWithNoCase(word, "IFDEF");
  if (ifdef || StartsWithNoCase(word, "IFNDEF")) {
    *pos += ifdef ? 5 : 6;
    if (depth_ >= kConditionalDepths - 1) {
      std::snprintf(text, sizeof text, "Maximum nested #IF level exceeded.");
      Error(text);
      return true;
    }
    std::size_t p = SkipBlanks(input, *pos);
    const std::string name = TakeWord(input, &p);
    const bool defined = !name.empty() && FindDefinition(name) != nullptr;
    ++depth_;
    active_[depth_] = ifdef ? defined : (!name.empty() && !defined);
    *pos = p;
    return true;
  }
  return false;
}

bool MacroPreprocessor::DirectiveInSkippedRegion(const char* input, std::size_t* pos) {
  const char* word = input + *pos + 1;
  if (StartsWithNoCase(word, "IFDEF") || StartsWithNoCase(word, "IFNDEF")) {
    *pos += StartsWithNoCase(word, "IFDEF") ? 6 : 7;
    if (depth_ >= kConditionalDepths - 1) {
      Error("Maximum nested #IF level exceeded.");
    } else {
      ++depth_;
      active_[depth_] = false;
    }
    return true;
  }
  if (StartsWithNoCase(word, "ENDIF")) {
    *pos += 6;
    active_[depth_] = false;
    if (depth_ > 0) --depth_;
    return true;
  }
  if (StartsWithNoCase(word, "ELSE")) {
    *pos += 5;
    bool enclosing_active = true;
    for (int d = 1; d < depth_; ++d) enclosing_active = enclosing_active && active_[d];
    if (enclosing_active) active_[depth_] = true;
    return true;
  }
  return false;
}

}  // namespace zimo::corvan
