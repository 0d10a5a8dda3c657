#include "nc/translator/program_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "nc/language/code_error.h"
#include "nc/language/error_ids.h"
#include "nc/language/scanner.h"
#include "nc/language/tokens.h"
#include "platform/win_error.h"

namespace zimo::nc {

namespace {

void ReportOpenFailure(NcCardSide& card, unsigned cs, std::string_view path, int err) {
  NcErrorReport report;
  report.id = kMsgUnableToOpen;
  report.mode = NcErrorMode::kMessage;
  report.type = NcErrorType::kOperatorMessage;
  report.text = FormatNcMessage(kMsgUnableToOpen, {path});
  card.RecordError(cs, report);
  NcErrorReport system;
  system.id = platform::Win32ErrorFromErrno(err);
  system.mode = NcErrorMode::kMessage;
  system.type = NcErrorType::kOperatorMessage;
  system.text = std::strerror(err);
  card.RecordError(cs, system);
}

// Reads the whole file (creating it when asked); CR LF into an empty one.
int LoadFile(const std::filesystem::path& host, bool create, std::string* text) {
  int fd = ::open(host.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  // A program the server may only read (a read-only file or medium) still
  // loads: its text is read into memory and never written back.
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)) {
    fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return err != 0 ? err : EINVAL;
  }
  // The line index counts positions in 32 bits: a file of 4 GiB or more is
  // refused before anything is read (it would never finish indexing).
  if (static_cast<uint64_t>(st.st_size) >= kLargestProgramFile) {
    ::close(fd);
    return EFBIG;
  }
  text->clear();
  if (st.st_size == 0) {
    // An empty file gets CR LF; a read-only one keeps them in memory only.
    const int mode = ::fcntl(fd, F_GETFL);
    if ((mode & O_ACCMODE) != O_RDONLY && ::write(fd, "\r\n", 2) != 2) {
      const int err = errno;
      ::close(fd);
      return err;
    }
    text->assign("\r\n");
    ::close(fd);
    return 0;
  }
  text->resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < text->size()) {
    const ssize_t n = ::pread(fd, text->data() + got, text->size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  text->resize(got);
  ::close(fd);
  return 0;
}

// A visible character: a tail of blanks or control characters is no line.
bool Printable(char c) { return c > 0x20 && c <= 0x7E; }

}  // namespace

void BuildLineIndex(NcProgramBuffer& b) {
  b.line_start.clear();
  b.line_length.clear();
  const std::string& t = b.text;
  uint32_t start = 0;
  for (uint32_t i = 0; i < t.size(); ++i) {
    if (t[i] != '\n') continue;
    uint32_t length = i - start;
    if (length > 0 && t[i - 1] == '\r') --length;
    b.line_start.push_back(start);
    b.line_length.push_back(length);
    start = i + 1;
  }
  bool tail = false;
  for (uint32_t i = start; i < t.size() && !tail; ++i) tail = Printable(t[i]);
  if (tail) {
    uint32_t length = static_cast<uint32_t>(t.size()) - start;
    if (t.back() == '\r') --length;
    b.line_start.push_back(start);
    b.line_length.push_back(length);
  }
  b.line_count = static_cast<uint32_t>(b.line_start.size());
  b.total_lines = b.line_count + (b.caller != nullptr ? b.caller->total_lines : 0);
}

std::unique_ptr<NcProgramBuffer> CreateProgramBuffer(NcCardSide& card, std::string_view path,
                                                     const NcProgramOptions& o,
                                                     const NcBlockRecord& previous,
                                                     NcProgramBuffer* caller) {
  auto b = std::make_unique<NcProgramBuffer>();
  b->path.assign(path);
  b->parts = platform::SplitWinPath(path);
  b->program_id = o.program_id;
  b->cs = o.cs;
  b->repeat_total = o.repeat;
  b->call_arg = o.call_arg;
  b->caller = caller;
  const std::filesystem::path host = platform::ToHostPath(path);
  const int err = path.empty() ? ENOENT : LoadFile(host, o.create_when_missing, &b->text);
  if (err != 0) {
    ReportOpenFailure(card, o.cs, path, err);
    return nullptr;
  }
  std::string ext = b->parts.ext;
  for (char& ch : ext) ch = Upper(ch);
  b->is_mdi = ext == ".MDI";
  char name[64];
  if (b->is_mdi) {
    std::snprintf(name, sizeof name, "NC%d%d.MDI", o.device, o.control);
  } else {
    std::snprintf(name, sizeof name, "NC%d.%d.%u", o.device, o.control, b->Depth());
  }
  b->mapping_name = name;
  b->block = previous;
  BuildLineIndex(*b);
  return b;
}

bool ReadNextLine(NcCardSide& card, NcProgramBuffer& b, char* text, std::size_t size) {
  if (b.parse_line >= b.line_count) return false;
  const std::string_view line = b.Line(b.parse_line);
  if (line.size() >= size) {
    CodeError(card, b.cs, b.parse_line, kErrLineTooLong);
    return false;
  }
  std::memcpy(text, line.data(), line.size());
  text[line.size()] = '\0';
  ++b.parse_line;
  return true;
}

bool CopyLine(const NcProgramBuffer& b, uint32_t index, char* text, std::size_t size) {
  if (index >= b.line_count) return false;
  const std::string_view line = b.Line(index);
  if (line.size() >= size) return false;
  std::memcpy(text, line.data(), line.size());
  text[line.size()] = '\0';
  return true;
}

bool AtProgramEnd(const NcProgramBuffer& b) { return b.parse_line >= b.line_count; }

NcProgramBuffer* DeepestProgram(NcProgramBuffer* top) {
  while (top != nullptr && top->called != nullptr) top = top->called.get();
  return top;
}

NcProgramBuffer* CallProgramFile(NcCardSide& card, NcProgramBuffer* top, std::string_view path,
                                 NcProgramOptions options) {
  NcProgramBuffer* deepest = DeepestProgram(top);
  if (deepest == nullptr) return nullptr;
  // A missing file is the caller's to report, with its own message.
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(platform::ToHostPath(path), ec)) {
    return nullptr;
  }
  options.cs = deepest->cs;
  options.create_when_missing = false;
  auto buffer = CreateProgramBuffer(card, path, options, deepest->block, deepest);
  if (buffer == nullptr) return nullptr;
  deepest->called = std::move(buffer);
  return deepest->called.get();
}

NcProgramBuffer* ReturnToCaller(NcProgramBuffer* top) {
  NcProgramBuffer* deepest = DeepestProgram(top);
  if (deepest == nullptr || deepest->caller == nullptr) return nullptr;
  NcProgramBuffer* caller = deepest->caller;
  caller->block = deepest->block;
  caller->called.reset();
  return caller;
}

namespace {

// The first address letter of a line outside comments, and the text after it.
const char* FirstLetter(std::string_view line, char* letter) {
  int depth = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth > 0) --depth;
    } else if (depth == 0 && ClassOf(c) == kClassLetter) {
      *letter = Upper(c);
      return line.data() + i + 1;
    }
  }
  return nullptr;
}

bool NumberEquals(std::string_view line, const char* after, double value) {
  char copy[64];
  const std::size_t offset = static_cast<std::size_t>(after - line.data());
  const std::size_t n = std::min(line.size() - offset, sizeof copy - 1);
  std::memcpy(copy, after, n);
  copy[n] = '\0';
  const char* end = nullptr;
  const double v = ConvertNumber(copy, &end);
  return end != copy && v == value;
}

bool LabelAt(const NcProgramBuffer& b, uint32_t index, char letter, double value) {
  const std::string_view line = b.Line(index);
  char first = 0;
  const char* after = FirstLetter(line, &first);
  return after != nullptr && first == Upper(letter) && NumberEquals(line, after, value);
}

bool EndAt(const NcProgramBuffer& b, uint32_t index, double value) {
  const std::string_view line = b.Line(index);
  for (std::size_t i = 0; i + 3 <= line.size(); ++i) {
    if (Upper(line[i]) == 'E' && Upper(line[i + 1]) == 'N' && Upper(line[i + 2]) == 'D' &&
        NumberEquals(line, line.data() + i + 3, value)) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool FindLabel(const NcProgramBuffer& b, uint32_t* line, char letter, double value,
               bool backward) {
  const uint32_t start = *line;
  if (start == 0 || start > b.line_count) return false;
  if (letter == '>') {
    for (uint32_t i = start - 1; i < b.line_count; ++i) {
      if (EndAt(b, i, value)) {
        *line = i + 1;
        return true;
      }
    }
    return false;
  }
  uint32_t i = start - 1;
  do {
    if (LabelAt(b, i, letter, value)) {
      *line = i + 1;
      return true;
    }
    i = backward ? (i == 0 ? b.line_count - 1 : i - 1) : (i + 1 == b.line_count ? 0 : i + 1);
  } while (i != start - 1);
  return false;
}

}  // namespace zimo::nc
