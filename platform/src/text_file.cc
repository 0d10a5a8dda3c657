#include "platform/text_file.h"

#include <cerrno>
#include <cstdarg>

namespace zimo::platform {

std::string ToCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

TextFileWriter::~TextFileWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

TextFileWriter::TextFileWriter(TextFileWriter&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

TextFileWriter& TextFileWriter::operator=(TextFileWriter&& other) noexcept {
  if (this != &other) {
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::exchange(other.file_, nullptr);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

Result<TextFileWriter> TextFileWriter::Open(const std::filesystem::path& path, Mode mode) {
  std::FILE* f = std::fopen(path.c_str(), mode == Mode::kAppend ? "abe" : "wbe");
  if (f == nullptr)
    return Status::FromErrno("cannot open " + path.string() + " for writing", errno);
  return TextFileWriter(f, path);
}

Status TextFileWriter::Write(std::string_view text) {
  if (file_ == nullptr) return Status(Code::kClosed, "text file is not open");
  std::string out = ToCrLf(text);
  if (!out.empty() && std::fwrite(out.data(), 1, out.size(), file_) != out.size()) {
    Status s = Status::FromErrno("cannot write " + path_.string(), errno);
    if (error_.ok()) error_ = s;
    return s;
  }
  return Status::Ok();
}

Status TextFileWriter::Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) {
    va_end(args);
    return Status(Code::kInvalidArgument, "bad format text");
  }
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(static_cast<size_t>(n));
  return Write(text);
}

Status TextFileWriter::Flush() {
  if (file_ == nullptr) return Status(Code::kClosed, "text file is not open");
  if (std::fflush(file_) != 0) {
    Status s = Status::FromErrno("cannot write " + path_.string(), errno);
    if (error_.ok()) error_ = s;
    return s;
  }
  return Status::Ok();
}

Status TextFileWriter::Close() {
  if (file_ == nullptr) return error_;
  int rc = std::fclose(std::exchange(file_, nullptr));
  if (rc != 0 && error_.ok()) error_ = Status::FromErrno("cannot write " + path_.string(), errno);
  return error_;
}

Status WriteTextFile(const std::filesystem::path& path, std::string_view text) {
  Result<TextFileWriter> w = TextFileWriter::Open(path);
  if (!w.ok()) return w.status();
  Status s = w->Write(text);
  Status c = w->Close();
  return s.ok() ? c : s;
}

LineReader::~LineReader() {
  if (file_ != nullptr) std::fclose(file_);
}

LineReader::LineReader(LineReader&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

LineReader& LineReader::operator=(LineReader&& other) noexcept {
  if (this != &other) {
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::exchange(other.file_, nullptr);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

Result<LineReader> LineReader::Open(const std::filesystem::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (f == nullptr) return Status::FromErrno("cannot open " + path.string(), errno);
  return LineReader(f, path);
}

bool LineReader::ReadLine(std::string* line) {
  line->clear();
  if (file_ == nullptr) return false;
  bool any = false;
  int c;
  while ((c = std::getc(file_)) != EOF) {
    any = true;
    if (c == '\n') break;
    line->push_back(static_cast<char>(c));
  }
  if (c == EOF && std::ferror(file_)) {
    error_ = Status::FromErrno("cannot read " + path_.string(), errno);
    return false;
  }
  if (!any) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? end : end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return lines;
}

Result<std::string> ReadFileBytes(const std::filesystem::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (f == nullptr) return Status::FromErrno("cannot open " + path.string(), errno);
  std::string out;
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  bool failed = std::ferror(f) != 0;
  int err = errno;
  std::fclose(f);
  if (failed) return Status::FromErrno("cannot read " + path.string(), err);
  return out;
}

Result<std::vector<std::string>> ReadLines(const std::filesystem::path& path) {
  Result<std::string> bytes = ReadFileBytes(path);
  if (!bytes.ok()) return bytes.status();
  return SplitLines(*bytes);
}

}  // namespace zimo::platform
