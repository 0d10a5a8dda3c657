// zimo-plcc: compiles the PLC blocks of a card program file.
//
//   zimo-plcc -d N IN OUT
//       for device N, whose card the library knows;
//   zimo-plcc --card older|spran [--firmware TEXT] [--link-list FILE] IN OUT
//       for a described card; the link-list file holds hexadecimal words,
//       one a line (missing words are 0).
//
// Prints the words used, or the error with its line and text; exits with 0
// on success.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corvan/plcc_api.h"
#include "link/error_texts.h"
#include "plcc/plcc_compiler.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zimo-plcc -d N IN OUT\n"
               "       zimo-plcc --card older|spran [--firmware TEXT] [--link-list FILE] IN OUT\n");
  return 2;
}

bool ReadLinkList(const char* path, zimo::corvan::plcc::PlccTarget& target) {
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return false;
  char line[128];
  std::size_t i = 0;
  while (i < target.link_list.size() && std::fgets(line, sizeof line, f) != nullptr) {
    char* end = nullptr;
    const unsigned long word = std::strtoul(line, &end, 16);
    if (end == line) continue;  // blank line
    target.link_list[i++] = static_cast<std::uint32_t>(word);
  }
  std::fclose(f);
  return true;
}

// The tool's report: the words used, or the error's number, its line (the
// number after the failing line's ';', as the library reports it; the
// file's own line where the compiler knows it) and its text. A file error
// names the file.
int Print(int result, std::uint32_t words, std::uint32_t input_line, const char* in,
          const char* out) {
  if (result == 0) {
    std::printf("result 0, words %u\n", static_cast<unsigned>(words));
    return 0;
  }
  std::string where;
  if (input_line != 0) where = " (input line " + std::to_string(input_line) + ")";
  std::string text = zimo::corvan::LoadLibraryString(static_cast<std::uint32_t>(result));
  if (result == 42) text += std::string(": ") + in;
  if (result == 41) {
    text += std::string(": ") + out;
    if (zimo::corvan::plcc::SamePlccFile(in, out)) text += " is the input file";
  }
  std::printf("result %d, line %u%s: %s\n", result, static_cast<unsigned>(words), where.c_str(),
              text.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "-d") == 0) {
    char* end = nullptr;
    const unsigned long device = std::strtoul(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0') return Usage();
    std::uint32_t words = 0;
    const int result =
        ZimoPlccCompilerA(static_cast<std::uint32_t>(device), &words, argv[3], argv[4]);
    return Print(result, words, 0, argv[3], argv[4]);
  }
  if (argc < 5 || std::strcmp(argv[1], "--card") != 0) return Usage();
  using zimo::corvan::plcc::PlccTarget;
  const bool spran = std::strcmp(argv[2], "spran") == 0;
  if (!spran && std::strcmp(argv[2], "older") != 0) return Usage();
  PlccTarget target = spran ? PlccTarget::Spran("1.940") : PlccTarget::Older("1.16F");
  int i = 3;
  for (; i + 2 < argc; i += 2) {
    if (std::strcmp(argv[i], "--firmware") == 0) {
      target.firmware = argv[i + 1];
    } else if (std::strcmp(argv[i], "--link-list") == 0) {
      if (!ReadLinkList(argv[i + 1], target)) {
        std::fprintf(stderr, "zimo-plcc: cannot read %s\n", argv[i + 1]);
        return 2;
      }
    } else {
      return Usage();
    }
  }
  if (argc - i != 2) return Usage();
  const auto r = zimo::corvan::plcc::CompilePlccFile(target, argv[i], argv[i + 1], nullptr);
  return Print(r.result, r.words, r.input_line, argv[i], argv[i + 1]);
}
