#include "preprocessor.h"

#include <strings.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/message.h"

namespace zimo::vocto {
namespace {

// The line buffer holds 255 characters and a terminator.
constexpr size_t kLineMax = 255;

const char* const kWarnings[] = {
    "",
    "",
    "unknown preprocessor directive",
    "use of #else without '#ifdef' or '#ifndef'",
    "use of #endif without '#ifdef' or '#ifndef'",
    "unmatched number of '#endif's",
    "macro definition leads back to a name already expanded; left as written",
};
const char* const kErrors[] = {
    "",
    "use of '#define' with missing macro name",
    "use of '#include' with missing file name",
    "missing closing parenthesis",
    "missing second parameter",
    "missing parameters",
    "line longer than 255 characters; cut at 255",
};
constexpr int kWarnRecursive = 6;
constexpr int kErrTooLong = 6;

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$';
}
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(const std::string& line, size_t i) {
  return i >= line.size() || line[i] == '\n' || line[i] == '\r';
}
size_t SkipBlanks(const std::string& line, size_t i) {
  while (i < line.size() && IsBlank(line[i])) ++i;
  return i;
}
size_t WordEnd(const std::string& line, size_t i) {
  while (i < line.size() && IsWordChar(line[i])) ++i;
  return i;
}
bool StartsWithNoCase(const std::string& line, size_t at, const char* word) {
  size_t n = std::strlen(word);
  return line.size() - at >= n && strncasecmp(line.c_str() + at, word, n) == 0;
}
std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
// Include names may be written with backslashes.
std::string OpenablePath(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// Reads one line with its line end (a CR before it dropped, as text mode
// reads); false at the end of the file.
bool ReadSourceLine(std::FILE* f, std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(f)) != EOF) {
    if (c == '\n') {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      line->push_back('\n');
      return true;
    }
    line->push_back(static_cast<char>(c));
  }
  return !line->empty();
}

}  // namespace

// --- MacroStore --------------------------------------------------------------

bool MacroStore::Define(const std::string& name, const std::string& definition,
                        const std::string& file) {
  if (by_name_.count(name) != 0) return false;
  by_name_.emplace(name, Macro{name, definition, file});
  by_definition_.emplace(definition, name);
  return true;
}

const std::string* MacroStore::Find(const std::string& name) const {
  auto it = by_name_.find(name);
  return it == by_name_.end() ? nullptr : &it->second.definition;
}

std::vector<MacroStore::Macro> MacroStore::SortedByName() const {
  std::vector<Macro> out;
  for (const auto& [name, macro] : by_name_) out.push_back(macro);
  return out;
}

std::vector<MacroStore::Macro> MacroStore::SortedByDefinition() const {
  std::vector<Macro> out;
  for (const auto& [definition, name] : by_definition_) out.push_back(by_name_.at(name));
  return out;
}

// --- Preprocessor -------------------------------------------------------------

Preprocessor::Preprocessor(int32_t options, bool* abort, Hooks hooks)
    : options_(options), abort_(abort), hooks_(std::move(hooks)) {}

void Preprocessor::Beep() {
  if (hooks_.beep) hooks_.beep();
}
void Preprocessor::Pump() {
  if (hooks_.process_messages) hooks_.process_messages();
}

Preprocessor::OpenResult Preprocessor::Open(const std::string& source) {
  source_ = source;
  std::filesystem::path p(source);
  output_path_ = std::filesystem::path(p).replace_extension(".out").string();
  map_path_ = std::filesystem::path(p).replace_extension(".map").string();
  auto out = platform::TextFileWriter::Open(output_path_);
  if (!out.ok()) return OpenResult::kOutputFailed;
  out_ = std::move(*out);
  auto err = platform::TextFileWriter::Open(kErrorFile);
  if (!err.ok()) return OpenResult::kErrorFileFailed;
  err_ = std::move(*err);
  return OpenResult::kOk;
}

void Preprocessor::Run() {
  ProcessFile(source_, false);
  (void)out_.Printf("\n\n;Now downloading %c%s%c to ZIMO...\n", '"', output_path_.c_str(), '"');
  (void)err_.Printf("\n\nNow downloading %c%s%c to ZIMO...\n", '"', output_path_.c_str(), '"');
}

bool Preprocessor::WriteMap() {
  auto map = platform::TextFileWriter::Open(map_path_);
  if (!map.ok()) return false;
  map_ = std::move(*map);
  if (macros_.size() == 0) return true;
  map_written_ = true;
  (void)map_.Printf(";******* MAP File for file '%s'\n\n", source_.c_str());
  (void)map_.Printf(";  Total macro definitions: %ld\n\n", static_cast<long>(macros_.size()));
  (void)map_.Write(";  Macro names sorted by name:\n");
  for (const auto& m : macros_.SortedByName()) {
    (void)map_.Printf("#define %-40s %-40s %s\n", m.name.c_str(), m.definition.c_str(),
                      m.file.c_str());
  }
  (void)map_.Write("\n\n;  Macro names sorted by macro definition:\n");
  for (const auto& m : macros_.SortedByDefinition()) {
    (void)map_.Printf("#define %-40s %-40s %s\n", m.name.c_str(), m.definition.c_str(),
                      m.file.c_str());
  }
  (void)map_.Write("\n\n;  *** End of File ***\n");
  return true;
}

void Preprocessor::CloseOutput() { (void)out_.Close(); }

void Preprocessor::CardError(const std::string& reference, const std::string& sent,
                             const std::string& description) {
  (void)err_.Printf("Error in%s\n This line was downloaded as: %s\n Error description: %s\n\n",
                    reference.c_str(), sent.c_str(), description.c_str());
  ++total_.errors;
  if (hooks_.counts_changed) hooks_.counts_changed();
}

void Preprocessor::Finish() {
  if (total_.warnings > 0 || total_.errors > 0) (void)err_.Write("\n\n;  *** End of File ***\n");
  (void)out_.Close();
  (void)err_.Close();
  (void)map_.Close();
  std::error_code ec;
  if (!map_written_ && std::filesystem::exists(map_path_, ec)) {
    std::filesystem::remove(map_path_, ec);
  }
  if (std::filesystem::exists(kErrorFile, ec) && std::filesystem::file_size(kErrorFile, ec) == 0) {
    std::filesystem::remove(kErrorFile, ec);
  }
}

void Preprocessor::ProcessFile(const std::string& path, bool include) {
  if (!processed_.insert(path).second) return;
  std::FILE* f = std::fopen(OpenablePath(path).c_str(), "rb");
  if (f == nullptr) {
    Beep();
    char text[600];
    std::snprintf(text, sizeof text, "\r\nUnable to open file %c%s%c.\r\n    Continue anyway?", '"',
                  path.c_str(), '"');
    int answer = platform::ShowMessageBox(text, "File Open Error",
                                          platform::kMbYesNo | platform::kMbIconExclamation);
    if (answer == platform::kIdNo) *abort_ = true;
    return;
  }
  const char* kind = include ? "#include file" : "file";
  (void)out_.Printf(";Preprocessing %s %c%s%c...\n", kind, '"', path.c_str(), '"');
  (void)err_.Printf("Preprocessing %s %c%s%c...\n", kind, '"', path.c_str(), '"');
  if (hooks_.show_file) hooks_.show_file(path);

  const Counts outer = file_;
  file_ = Counts{};
  FileState fs;
  fs.path = path;
  std::string line, last_line;
  while (!*abort_ && ReadSourceLine(f, &line)) {
    ++fs.line_number;
    ++file_.lines;
    ++total_.lines;
    if (total_.lines % 10 == 0 && hooks_.counts_changed) hooks_.counts_changed();
    Pump();
    last_line = line;
    ScanLine(fs, line);
  }
  if (fs.nesting > 0) Warning(fs, 5, last_line);
  std::fclose(f);
  file_ = outer;
  if (hooks_.counts_changed) hooks_.counts_changed();
}

void Preprocessor::Report(const char* kind, FileState& fs, const std::string& line,
                          const char* description) {
  (void)err_.Printf("%s in %c%s%c, line %ld:   %s", kind, '"', BaseName(fs.path).c_str(), '"',
                    fs.line_number, line.c_str());
  (void)err_.Printf(" Description: %s\n\n", description);
}

void Preprocessor::Warning(FileState& fs, int index, const std::string& line) {
  Report("Warning", fs, line, kWarnings[index]);
  ++file_.warnings;
  ++total_.warnings;
  if (hooks_.counts_changed) hooks_.counts_changed();
}

void Preprocessor::Error(FileState& fs, int index, const std::string& line) {
  Report("ERROR", fs, line, kErrors[index]);
  ++file_.errors;
  ++total_.errors;
  Beep();
  if ((options_ & kDownloadAbortOnError) != 0) *abort_ = true;
  if (hooks_.counts_changed) hooks_.counts_changed();
}

std::string Preprocessor::Substitute(FileState& fs, const std::string& word,
                                     const std::string& line) {
  std::string result = word;
  std::set<std::string> seen;
  while (const std::string* definition = macros_.Find(result)) {
    if (!seen.insert(result).second) {
      // The chain came back to a name it expanded: it stays as written.
      Warning(fs, kWarnRecursive, line);
      break;
    }
    result = *definition;
  }
  return result;
}

bool Preprocessor::Directive(FileState& fs, std::string& line, size_t at) {
  size_t i = at + 1;
  if (StartsWithNoCase(line, i, "define")) {
    i = SkipBlanks(line, i + 6);
    size_t name_end = WordEnd(line, i);
    if (IsLineEnd(line, i) || name_end == i) {
      Error(fs, 1, line);
      return true;
    }
    std::string name = line.substr(i, name_end - i);
    if (IsLineEnd(line, name_end)) {
      macros_.Define(name, "NULL", fs.path);
      return true;
    }
    i = SkipBlanks(line, name_end);
    if (IsLineEnd(line, i)) return true;
    size_t end = i;
    while (end < line.size() && line[end] >= ' ' && line[end] <= 'z' && line[end] != '/' &&
           line[end] != ';') {
      ++end;
    }
    while (end > i && IsBlank(line[end - 1])) --end;
    macros_.Define(name, line.substr(i, end - i), fs.path);
    return true;
  }
  if (StartsWithNoCase(line, i, "ifdef") || StartsWithNoCase(line, i, "ifndef")) {
    const bool negate = StartsWithNoCase(line, i, "ifndef");
    i = SkipBlanks(line, i + (negate ? 6 : 5));
    std::string name = line.substr(i, WordEnd(line, i) - i);
    const bool defined = macros_.Find(name) != nullptr;
    fs.skip = negate ? defined : !defined;
    ++fs.nesting;
    return true;
  }
  if (StartsWithNoCase(line, i, "else")) {
    if (fs.nesting > 0) {
      fs.skip = !fs.skip;
    } else {
      Warning(fs, 3, line);
    }
    line.resize(at);
    return true;
  }
  if (StartsWithNoCase(line, i, "endif")) {
    if (fs.nesting > 0) {
      --fs.nesting;
      fs.skip = false;
    } else {
      Warning(fs, 4, line);
    }
    line.resize(at);
    return true;
  }
  if (StartsWithNoCase(line, i, "include")) {
    i = SkipBlanks(line, i + 7);
    if (i < line.size() && (line[i] == '"' || line[i] == '<')) ++i;
    size_t end = i;
    while (end < line.size() &&
           (std::isalnum(static_cast<unsigned char>(line[end])) != 0 || line[end] == '.' ||
            line[end] == ':' || line[end] == '\\' || line[end] == '_')) {
      ++end;
    }
    if (end == i) {
      Error(fs, 2, line);
      return true;
    }
    ProcessFile(line.substr(i, end - i), true);
    if (hooks_.show_file) hooks_.show_file(fs.path);
    return true;
  }
  Warning(fs, 2, line);
  line.resize(at);
  return true;
}

Preprocessor::AtResult Preprocessor::AtMacro(FileState& fs, std::string& line, size_t at) {
  struct Builtin {
    const char* name;
    int args;
    const char* pattern;  // 'a' and 'b' are the arguments
  };
  static const Builtin kBuiltins[] = {
      {"SET_ON", 2, "a=a|b"},
      {"SET_OFF", 2, "a=a&(b^$FFFFFFFFFFFF)"},
      {"ON", 2, "b&a=b"},
      {"OFF", 2, "b&(a^b)!=0"},
      {"START_TIMER", 2, "a=b*8388608/I10"},
      {"TIMER_RUNNING", 1, "a>0"},
      {"TIMER_STOPPED", 1, "a!>0"},
  };
  const size_t name_start = at + 1;
  const size_t name_end = WordEnd(line, name_start);
  const Builtin* macro = nullptr;
  for (const Builtin& b : kBuiltins) {
    if (name_end - name_start == std::strlen(b.name) &&
        strncasecmp(line.c_str() + name_start, b.name, name_end - name_start) == 0) {
      macro = &b;
    }
  }
  if (macro == nullptr) return AtResult::kNotAMacro;
  size_t i = SkipBlanks(line, name_end);
  auto fail = [&](int error, size_t where) {
    Error(fs, error, line);
    line.resize(where);
    return AtResult::kError;
  };
  if (i >= line.size() || line[i] != '(') return fail(5, i);
  ++i;
  size_t a_end = WordEnd(line, i);
  const std::string a = line.substr(i, a_end - i);
  std::string b;
  i = a_end;
  if (macro->args == 2) {
    if (i >= line.size() || line[i] != ',') return fail(4, i);
    ++i;
    size_t b_end = WordEnd(line, i);
    b = line.substr(i, b_end - i);
    i = b_end;
  }
  if (i >= line.size() || line[i] != ')') return fail(3, i);
  std::string expansion;
  for (const char* p = macro->pattern; *p != '\0'; ++p) {
    if (*p == 'a') {
      expansion += a;
    } else if (*p == 'b') {
      expansion += b;
    } else {
      expansion += *p;
    }
  }
  std::string grown = line.substr(0, at) + expansion + line.substr(i + 1);
  if (grown.size() > kLineMax) {
    Error(fs, kErrTooLong, line);
    grown.resize(kLineMax);
  }
  line = grown;
  return AtResult::kExpanded;
}

void Preprocessor::ScanLine(FileState& fs, std::string& line) {
  if (line.size() > kLineMax) {
    Error(fs, kErrTooLong, line);
    line.resize(kLineMax);
  }
  std::string expanded;
  size_t word_start = 0;
  bool echoed = true;
  bool had_comment = false;
  bool too_long = false;
  bool cut = false;  // an error ended the line
  size_t i = 0;
  auto append = [&](const std::string& text) {
    if (too_long) return;
    if (expanded.size() + text.size() > kLineMax) {
      expanded.append(text, 0, kLineMax - expanded.size());
      too_long = true;
      Error(fs, kErrTooLong, line);
      return;
    }
    expanded += text;
  };
  while (i < line.size()) {
    const char c = line[i];
    const char next = i + 1 < line.size() ? line[i + 1] : '\0';
    if (c == '/' && next == '*') {
      fs.block_comment = true;
      echoed = false;
      i += 2;
      word_start = i;
      continue;
    }
    if (c == '*' && next == '/') {
      fs.block_comment = false;
      i += 2;
      word_start = i;
      continue;
    }
    if (c == ';' || (c == '/' && next == '/')) {
      had_comment = true;
      line.resize(i);
      break;
    }
    if (c == '"') fs.in_string = !fs.in_string;
    if (c == '#' && !fs.block_comment && !fs.in_string &&
        std::isdigit(static_cast<unsigned char>(next)) == 0) {
      echoed = false;
      Directive(fs, line, i);
      return;
    }
    if (c == '@' && !fs.block_comment && !fs.in_string && !fs.skip) {
      AtResult r = AtMacro(fs, line, i);
      if (r == AtResult::kExpanded) continue;  // scan the expansion itself
      if (r == AtResult::kError) {
        cut = true;
        break;
      }
    }
    if (IsWordChar(c)) {
      ++i;
      continue;
    }
    // A delimiter ends the word before it.
    if (echoed && !fs.block_comment && !fs.skip) {
      append(Substitute(fs, line.substr(word_start, i - word_start), line));
      if (c != '\r' && c != '\n') append(std::string(1, c));
    }
    ++i;
    word_start = i;
  }
  if (echoed && !fs.block_comment && !fs.skip && !cut && word_start < line.size()) {
    // The text before a comment stands as it is; a last line without a
    // line end still ends its word.
    std::string rest = line.substr(word_start);
    append(had_comment ? rest : Substitute(fs, rest, line));
  }
  if (!echoed || fs.block_comment || fs.skip || expanded.empty()) return;
  (void)out_.Printf("%s  ; file %c%s%c, line %ld: %s\n", expanded.c_str(), '"', fs.path.c_str(),
                    '"', fs.line_number, line.c_str());
}

}  // namespace zimo::vocto
