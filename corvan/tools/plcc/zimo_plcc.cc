// zimo-plcc: compiles the PLC blocks of a card program file.
//
//   zimo-plcc -d N IN OUT
//       for device N, whose card the library knows;
//   zimo-plcc --card older|spran [--firmware TEXT] [--link-list FILE] IN OUT
//       for a described card; the link-list file holds hexadecimal words,
//       one a line (missing words are 0).
//
// Prints the result and the words used; exits with 0 on success.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corvan/plcc_api.h"
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

int Print(int result, std::uint32_t words) {
  std::printf("result %d, words %u\n", result, static_cast<unsigned>(words));
  return result == 0 ? 0 : 1;
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
    return Print(result, words);
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
  return Print(r.result, r.words);
}
