// Text-mode files: what the system writes in text mode gets CR LF line ends,
// as it would on Windows, and whatever reads text takes LF or CR LF and a last
// line without a line end.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace zimo::platform {

// Every LF becomes CR LF (a CR already before the LF is kept, as text mode
// does: "\r\n" becomes "\r\r\n").
std::string ToCrLf(std::string_view text);

// A file opened for writing in text mode. Not thread-safe.
class TextFileWriter {
 public:
  enum class Mode { kTruncate, kAppend };

  TextFileWriter() = default;
  ~TextFileWriter();
  TextFileWriter(TextFileWriter&& other) noexcept;
  TextFileWriter& operator=(TextFileWriter&& other) noexcept;
  TextFileWriter(const TextFileWriter&) = delete;
  TextFileWriter& operator=(const TextFileWriter&) = delete;

  static Result<TextFileWriter> Open(const std::filesystem::path& path,
                                     Mode mode = Mode::kTruncate);

  bool is_open() const { return file_ != nullptr; }
  Status Write(std::string_view text);
  // printf-style into a buffer sized for the result.
  Status Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  Status Flush();
  // Flushes and closes; the first write error seen is reported here too.
  Status Close();

 private:
  explicit TextFileWriter(std::FILE* file, std::filesystem::path path)
      : file_(file), path_(std::move(path)) {}
  std::FILE* file_ = nullptr;
  std::filesystem::path path_;
  Status error_;
};

// Writes the whole text (text mode) in one go, replacing the file.
Status WriteTextFile(const std::filesystem::path& path, std::string_view text);

// Reads lines ending in LF or CR LF; the last line may lack its line end.
// Lines come back without line ends. Not thread-safe.
class LineReader {
 public:
  LineReader() = default;
  ~LineReader();
  LineReader(LineReader&& other) noexcept;
  LineReader& operator=(LineReader&& other) noexcept;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  static Result<LineReader> Open(const std::filesystem::path& path);

  // False at the end of the file (or on a read error, see status()).
  bool ReadLine(std::string* line);
  Status status() const { return error_; }

 private:
  explicit LineReader(std::FILE* file, std::filesystem::path path)
      : file_(file), path_(std::move(path)) {}
  std::FILE* file_ = nullptr;
  std::filesystem::path path_;
  Status error_;
};

// Splits a text into lines by the same rules (no empty line after a final
// line end).
std::vector<std::string> SplitLines(std::string_view text);
Result<std::vector<std::string>> ReadLines(const std::filesystem::path& path);
// The whole file as bytes.
Result<std::string> ReadFileBytes(const std::filesystem::path& path);

}  // namespace zimo::platform
