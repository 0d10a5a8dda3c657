// Small file, text and card-word helpers of the lab program: a line reader
// over one shared read stream, file tests, command-line words, clean-up of
// card reply lines and the card's hexadecimal word formats.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "files.h"
#include "labhelper/qeldll32.h"

namespace zimo::labhelper {
namespace {

constexpr int kLineBuffer = 256;
constexpr size_t kWordBuffer = 260;
constexpr int16_t kEndOfFile = 16;

// The one read stream of the process, and every stream the library opened
// and has not closed yet (an open forgets the earlier stream, it does not
// close it).
struct Streams {
  std::mutex mutex;
  std::FILE* current = nullptr;
  std::vector<std::FILE*> open;
};
Streams& TheStreams() {
  static Streams streams;
  return streams;
}

// Cuts the text at the first ';' and drops control characters in place;
// returns the character that ended the scan.
char Clean(char* text) {
  char* out = text;
  char* in = text;
  for (; *in != '\0' && *in != ';'; ++in) {
    const unsigned char c = static_cast<unsigned char>(*in);
    if (c < 32 || c == 127) continue;
    *out++ = *in;
  }
  const char end = *in;
  *out = '\0';
  return end;
}

// Value of one digit of a card word: '1'-'9' and 'A'-'F' only.
int DigitValue(char c) {
  if (c >= '1' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// Decodes `digits` digits of `text` starting at index `first`, most
// significant first; positions beyond the end of the text read as 0.
uint64_t Digits(const char* text, int first, int digits) {
  uint64_t value = 0;
  bool ended = text == nullptr;
  for (int i = 0; i < first && !ended; ++i) ended = text[i] == '\0';
  for (int i = 0; i < digits; ++i) {
    int digit = 0;
    if (!ended) {
      const char c = text[first + i];
      if (c == '\0') {
        ended = true;
      } else {
        digit = DigitValue(c);
      }
    }
    value = value * 16 + digit;
  }
  return value;
}

int64_t Signed24(uint64_t word) {
  return word >= 0x800000 ? static_cast<int64_t>(word) - 0x1000000 : static_cast<int64_t>(word);
}

}  // namespace
}  // namespace zimo::labhelper

using zimo::labhelper::Digits;
using zimo::labhelper::Signed24;
using zimo::labhelper::TheStreams;

extern "C" {

int16_t open_file(const char* path) {
  std::FILE* file = zimo::labhelper::OpenForReading(path);
  auto& streams = TheStreams();
  std::lock_guard lock(streams.mutex);
  streams.current = file;
  if (file == nullptr) return 0;
  streams.open.push_back(file);
  return 1;
}

int16_t read_a_line_from_file(char* line, int16_t* raw_length) {
  auto& streams = TheStreams();
  std::lock_guard lock(streams.mutex);
  if (streams.current == nullptr || line == nullptr) return 1;
  char buffer[zimo::labhelper::kLineBuffer];
  if (std::fgets(buffer, sizeof buffer, streams.current) == nullptr) return 1;
  const size_t length = std::strlen(buffer);
  std::memcpy(line, buffer, length + 1);
  if (raw_length != nullptr) *raw_length = static_cast<int16_t>(length);
  zimo::labhelper::Clean(line);
  return std::feof(streams.current) ? zimo::labhelper::kEndOfFile : 0;
}

int32_t close_file(void) {
  auto& streams = TheStreams();
  std::lock_guard lock(streams.mutex);
  int32_t closed = 0;
  for (std::FILE* file : streams.open) {
    std::fclose(file);
    ++closed;
  }
  streams.open.clear();
  streams.current = nullptr;
  return closed;
}

int16_t file_exists(const char* path) {
  std::FILE* file = zimo::labhelper::OpenForReading(path);
  if (file == nullptr) return 0;
  std::fclose(file);
  return 1;
}

int32_t get_file_size(const char* path) {
  std::FILE* file = zimo::labhelper::OpenForReading(path);
  if (file == nullptr) return -1;
  struct stat info;
  const bool known = fstat(fileno(file), &info) == 0;
  std::fclose(file);
  // A length that 32 bits cannot hold is reported as unknown.
  if (!known || info.st_size > INT32_MAX) return -1;
  return static_cast<int32_t>(info.st_size);
}

int16_t get_current_directory(char* buffer, int16_t size) {
  if (buffer == nullptr || size <= 0) return 0;
  std::vector<char> directory(PATH_MAX + 1);
  if (getcwd(directory.data(), directory.size()) != nullptr &&
      std::strlen(directory.data()) < static_cast<size_t>(size)) {
    std::memcpy(buffer, directory.data(), std::strlen(directory.data()) + 1);
  }
  return static_cast<int16_t>(strnlen(buffer, size));
}

// Words longer than the word buffer (259 characters) are cut.
int16_t get_parameter(const char* text, char* word, int32_t n) {
  if (text == nullptr || word == nullptr || n <= 0) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  for (int32_t counter = 0; counter < n;) {
    while (*p != '\0' && std::isspace(*p)) ++p;
    if (*p == '\0') return 0;
    size_t length = 0;
    while (*p != '\0' && !std::isspace(*p)) {
      if (length < zimo::labhelper::kWordBuffer - 1) word[length++] = static_cast<char>(*p);
      ++p;
    }
    word[length] = '\0';
    if (++counter == n) return static_cast<int16_t>(length);
  }
  return 0;
}

int16_t strip_off_extra(char* text) {
  if (text == nullptr) return 0;
  return zimo::labhelper::Clean(text);
}

// Truncation toward zero; values beyond 32 bits stop at the nearest limit,
// and a NaN gives 0.
int32_t cast_to_long(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return INT32_MAX;
  if (x <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(x);
}

int32_t hex_long(const char* text) { return static_cast<int32_t>(Digits(text, 0, 6)); }

double convert_short_word_to_long(const char* text) {
  return static_cast<double>(Signed24(Digits(text, 0, 6)));
}

double convert_word_to_long(const char* text) {
  const int64_t high = Signed24(Digits(text, 0, 6));
  const uint64_t low = Digits(text, 6, 6);
  return static_cast<double>(high * 16777216 + static_cast<int64_t>(low));
}

// 36-bit two's-complement mantissa (a fraction of 2^35) and a 12-bit
// exponent with bias 2047.
double convert_word_to_double(const char* text) {
  const uint64_t raw = Digits(text, 0, 9);
  const int64_t mantissa = raw >= (uint64_t{1} << 35)
                               ? static_cast<int64_t>(raw) - (int64_t{1} << 36)
                               : static_cast<int64_t>(raw);
  const int exponent = static_cast<int>(Digits(text, 9, 3));
  return std::ldexp(static_cast<double>(mantissa), exponent - 2047 - 35);
}

}  // extern "C"
