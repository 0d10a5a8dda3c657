// Fuzz target: the BEGIN/END check and the demacrotizer on any text. The
// check stays inside its text plus the added line feed; the demacrotizer
// answers 0 or 1 and writes only whole CR LF lines, each tagged (or, for a
// refused definition, no file at all).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "labhelper/qeldll32.h"

namespace zimo::testing {

const int kFuzzGeneratedInputs = 2000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const char* kPieces[] = {
      "BEGIN", "END", "#define ", "#DEFINE X ", "#", "null", ";",  "\n",  "\r\n", " ",
      "\t",    "P1",  "=",        "CMD_POS",    "x", "\"",   "#4", "0.5", "|"};
  std::vector<std::uint8_t> bytes(4);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  const int n = static_cast<int>(random() % 60);
  for (int i = 0; i < n; ++i) {
    if (random() % 8 == 0) {
      bytes.push_back(static_cast<std::uint8_t>(random()));
    } else {
      const char* piece = kPieces[random() % (sizeof kPieces / sizeof kPieces[0])];
      bytes.insert(bytes.end(), piece, piece + std::strlen(piece));
    }
  }
  return bytes;
}

}  // namespace zimo::testing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  labhelper_fuzz::QuietBoxes();
  labhelper_fuzz::EnterScratchFolder();
  float ts = 0.000884f;
  if (size >= 4) {
    std::memcpy(&ts, data, 4);
    data += 4;
    size -= 4;
  }
  // The text up to its first NUL, in a buffer of exactly its size + 2.
  const std::size_t length = strnlen(reinterpret_cast<const char*>(data), size);
  std::vector<char> text(data, data + length);
  text.push_back('\0');
  text.push_back('\0');
  const int16_t check = check_for_BEGIN_and_END(text.data());
  if (check != 0 && check != 1) std::abort();
  const std::size_t after = std::strlen(text.data());
  if (after < length || after > length + 1 || text[after - 1] != '\n') std::abort();

  text.resize(after + 1);
  const int16_t r = demacrotize_the_file(text.data(), "plc0.$$$", ts);
  if (r != 0 && r != 1) std::abort();
  std::FILE* f = std::fopen("plc0.$$$", "rb");
  if (f == nullptr) {
    // A refused definition (result 1) leaves no source behind.
    if (r == 1) return 0;
    std::abort();
  }
  std::string out;
  for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<char>(c));
  std::fclose(f);
  if (!out.empty() && out.back() != '\n') std::abort();
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) std::abort();
  }
  return 0;
}
