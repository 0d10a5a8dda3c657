// zimo-plcc: compiles the PLC blocks of a card program file.
//
//   zimo-plcc -d N IN OUT
//       for device N's card (the device is opened for the compile);
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

#include "corvan/device_api.h"
#include "corvan/plcc_api.h"
#include "corvan/registry_api.h"
#include "link/error_texts.h"
#include "platform/registry.h"
#include "plcc/plcc_compiler.h"

namespace {

constexpr char kUsage[] =
    "usage: zimo-plcc -d DEVICE IN OUT\n"
    "       zimo-plcc --card older|spran [--firmware TEXT] [--link-list FILE] IN OUT\n"
    "       zimo-plcc --help\n";

constexpr char kHelp[] =
    "\n"
    "The PLC compiler: compiles the PLC blocks (OPEN PLCC n ... CLOSE) of the\n"
    "card program file IN into the card's code and writes OUT, the program\n"
    "file with those blocks compiled, ready for download. Prints\n"
    "\"result 0, words N\" (the code words used), or the error's number, its\n"
    "line and text.\n"
    "\n"
    "Options:\n"
    "  -d DEVICE            compiles for the card of the configured device\n"
    "                       DEVICE (0 to 7): opens the device (which starts\n"
    "                       ZimoServer and identifies the card), compiles for\n"
    "                       the card found, and closes it again\n"
    "  --card older|spran   compiles for a described card of that generation\n"
    "  --firmware TEXT      its firmware version (default 1.16F older, 1.940\n"
    "                       spran)\n"
    "  --link-list FILE     its link list: hexadecimal words, one a line\n"
    "                       (missing words are 0)\n"
    "  -h, --help           prints this text and ends\n"
    "\n"
    "Examples:\n"
    "  zimo-plcc -d 0 motion.pmc motion.out\n"
    "  zimo-plcc --card spran --firmware 1.938 motion.pmc motion.out\n"
    "\n"
    "Exit status: 0 when the file compiled; 1 when it did not (the error is\n"
    "printed) or the device could not be opened (the reason is printed);\n"
    "2 for a usage error or a link list that cannot be read.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Why the device could not be opened, as far as the registry tells: no
// registered server, no registered device; else its card did not answer.
std::string OpenFailureReason(unsigned long device) {
  namespace platform = zimo::platform;
  if (!platform::RegistryKey::Exists(platform::kHkeyClassesRoot, "ZimoServer.ZimoService\\CLSID")) {
    return "ZimoServer is not registered; run `zimoserver -RegServer` once";
  }
  auto key = platform::RegistryKey::Open(
      platform::kHkeyLocalMachine,
      "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device" + std::to_string(device),
      platform::kKeyRead);
  if (!key.ok() || !key->GetDword("Location").ok()) {
    return "device " + std::to_string(device) +
           " is not registered (docs/configuration.md describes the keys)";
  }
  // Programs see the device keys from Device0 up to the first gap only.
  const auto count = DrvNumberOfDevices();
  if (count <= 0 || device >= static_cast<unsigned long>(count)) {
    return "device " + std::to_string(device) + " is not reached: the device keys stop at Device" +
           std::to_string(count < 0 ? 0 : count) +
           " (they must run from Device0 without a gap; see docs/configuration.md)";
  }
  return "its card did not answer or its port or driver device is missing (`zimo-term -d " +
         std::to_string(device) + "` tells more)";
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
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 5 && std::strcmp(argv[1], "-d") == 0) {
    char* end = nullptr;
    const unsigned long device = std::strtoul(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || device > 7) return Usage();
    // The compiler reads the card's description from the device's shared
    // record, which the server fills in when it identifies the card: the
    // open (bounded by the link's own time-outs) makes sure it has.
    if (OpenZimoDevice(static_cast<std::uint32_t>(device)) != 1) {
      std::fprintf(stderr, "zimo-plcc: device %lu could not be opened: %s\n", device,
                   OpenFailureReason(device).c_str());
      return 1;
    }
    std::uint32_t words = 0;
    const int result =
        ZimoPlccCompilerA(static_cast<std::uint32_t>(device), &words, argv[3], argv[4]);
    CloseZimoDevice(static_cast<std::uint32_t>(device));
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
