// zimo-jux: opens one card through jux170, sends commands (from the command
// line, else one per line of standard input), and prints each response and
// the record's last error code and text.
//
//   zimo-jux [--method bus|dpr|serial|sim] [--base PORT] [--dpr ADDRESS]
//            [--vme] [--com N] [--baud RATE] [--timeout POLLS] [--retries N]
//            [--cfg NAME] [COMMAND...]
//
// --cfg NAME restores the card record from NAME.CFG in the current
// directory; options given after it change that record. Numbers take C
// forms (528, 0x210, 0xD4000). A record with a field out of its range is
// not opened; the field is named. Exit code 0 when the card opened and every
// command succeeded, 1 otherwise, 2 for a bad option.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "jux/card_image.h"
#include "jux/jux170.h"

namespace {

constexpr char kUsage[] =
    "usage: zimo-jux [--method bus|dpr|serial|sim] [--base PORT] [--dpr ADDRESS] [--vme]\n"
    "                [--com N] [--baud RATE] [--timeout POLLS] [--retries N] [--cfg NAME]\n"
    "                [COMMAND...]\n"
    "       zimo-jux --help\n";

constexpr char kHelp[] =
    "\n"
    "Opens one card through the older backend library libjux170.so, sends each\n"
    "COMMAND (or each line of standard input when none is given) and prints\n"
    "\"> COMMAND\", the card's response, and the card record's last error as\n"
    "\"error CODE TEXT\".\n"
    "\n"
    "Options (numbers in C forms: 528, 0x210, 0xD4000):\n"
    "  --method bus|dpr|serial|sim   how the card is reached: its bus port (the\n"
    "                                default), its DPR, a serial port, or the\n"
    "                                library's own simulation\n"
    "  --base PORT       the bus card's port address (default 528)\n"
    "  --dpr ADDRESS     its DPR address (default 0xD4000)\n"
    "  --vme             the card sits on a VME bus (through libvmemgr.so)\n"
    "  --com N           the serial port number (default 1)\n"
    "  --baud RATE       its baud rate (default 38400)\n"
    "  --timeout POLLS   the time-out in polls of 100 microseconds (default 500)\n"
    "  --retries N       how often a command is tried (default 3)\n"
    "  --cfg NAME        restores the card record from NAME.CFG in the current\n"
    "                    folder; options after it change that record\n"
    "  -h, --help        prints this text and ends\n"
    "A record with a field out of its range is not opened; the field is named.\n"
    "Bus and DPR cards are served by zimo-drvhost (legacy ISA cards, card words\n"
    "\"isa port=528 dpr=0xD4000\").\n"
    "\n"
    "Examples:\n"
    "  zimo-jux --method serial --com 1 I10 VERSION\n"
    "  zimo-jux --method bus --base 0x210 --timeout 5000 I10\n"
    "\n"
    "Exit status: 0 when the card opened and every command succeeded; 1 when\n"
    "the card did not open or a command failed (the error is printed); 2 for\n"
    "a bad option or a NAME.CFG that cannot be read.\n";

void Usage() { std::fputs(kUsage, stderr); }

bool Number(const char* text, long* value) {
  char* end = nullptr;
  *value = std::strtol(text, &end, 0);
  return end != text && *end == '\0';
}

void PrintError(tagMCardInfo* record) {
  char text[512];
  PGetLastErrorString(record, text, sizeof(text));
  const long code = record != nullptr ? PGetLastError(record) : PGetLastGlobalError();
  std::printf("error %ld %s\n", code, text);
}

}  // namespace

int main(int argc, char** argv) {
  tagMCardInfo image;
  std::memset(&image, 0, sizeof(image));
  std::strcpy(image.name, "ZIMOJUX");
  image.method = 0;
  image.retries = 3;
  image.timeout = 500;
  image.bus_base = 528;
  image.dpr_base = 0xD4000;
  image.bus_type = 1;
  image.com_port = 1;
  image.baud_rate = 38400;
  std::vector<std::string> commands;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    }
    const bool has_value = i + 1 < argc;
    long n = 0;
    auto number = [&](int32_t* field) {
      if (!has_value || !Number(argv[++i], &n)) return false;
      *field = static_cast<int32_t>(n);
      return true;
    };
    bool ok = true;
    if (arg == "--method" && has_value) {
      const std::string m = argv[++i];
      image.simulated = 0;
      if (m == "bus") {
        image.method = 0;
      } else if (m == "dpr") {
        image.method = 1;
      } else if (m == "serial") {
        image.method = 2;
      } else if (m == "sim") {
        image.method = 3;
        image.simulated = 1;
      } else {
        ok = false;
      }
    } else if (arg == "--base") {
      ok = number(&image.bus_base);
    } else if (arg == "--dpr") {
      ok = number(&image.dpr_base);
    } else if (arg == "--vme") {
      image.bus_type = 2;
    } else if (arg == "--com") {
      ok = number(&image.com_port);
    } else if (arg == "--baud") {
      ok = number(&image.baud_rate);
    } else if (arg == "--timeout") {
      ok = number(&image.timeout);
    } else if (arg == "--retries") {
      ok = number(&image.retries);
    } else if (arg == "--cfg" && has_value) {
      const char* name = argv[++i];
      if (!PRestoreState(&image, name)) {
        std::fprintf(stderr, "zimo-jux: cannot read %s.CFG\n", name);
        return 2;
      }
    } else if (arg.rfind("--", 0) == 0) {
      ok = false;
    } else {
      commands.push_back(arg);
    }
    if (!ok) {
      Usage();
      return 2;
    }
  }

  tagMCardInfo* record = JUXInit(&image);
  if (record == nullptr || (!record->connected && !record->simulated)) {
    std::printf("open failed\n");
    PrintError(record != nullptr && record->last_error != 0 ? record : nullptr);
    // Say which field of the record (a damaged settings file's) was refused.
    const jux::ImageFault fault = jux::CheckCardImage(image);
    if (fault.code != 0) std::printf("card record: %s out of range\n", fault.field);
    if (record != nullptr) JUXShutDown(&record);
    return 1;
  }
  if (commands.empty()) {
    std::string line;
    while (std::getline(std::cin, line)) commands.push_back(line);
  }
  int failures = 0;
  static char response[16384];
  for (const std::string& command : commands) {
    record->last_error = 0;
    const int ok = PGetResponse(record, response, sizeof(response) - 1, command.c_str());
    if (!ok) ++failures;
    std::printf("> %s\n", command.c_str());
    for (char* p = response; *p != '\0'; ++p) {
      if (*p == '\r') *p = '\n';
    }
    if (ok && response[0] != '\0') std::printf("%s\n", response);
    PrintError(record);
  }
  JUXShutDown(&record);
  return failures == 0 ? 0 : 1;
}
