// zimo-drvhost: the driver host. Loads the card drivers onto a simulated
// machine, plugs in the cards configured in the registry and on the command
// line, serves each device's socket, and takes control commands until told
// to quit or terminated. Started as the card drivers' service.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "host/control_server.h"
#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/host_config.h"
#include "host/legacy_isa.h"
#include "host/tamrx.h"
#include "platform/home.h"
#include "platform/process.h"

namespace {

zimo::drivers::host::ControlServer* g_control = nullptr;

void OnSignal(int) {
  if (g_control != nullptr) g_control->Stop();
}

constexpr char kUsage[] =
    "usage: zimo-drvhost [--card \"WORDS\"]... [--no-registry] [--manual-clock]\n"
    "       zimo-drvhost --install | --uninstall\n"
    "       zimo-drvhost --help\n";

// The drivers this host carries, as the services that start it know them.
constexpr const char* kDriverServices[] = {"ZimoPCI", "ZimoISA", "ZimoUSB", "Tqa58"};

// A driver service runs the binary in the system's drivers folder under the
// service's name; here that binary is a launcher of this program, wherever
// it is installed.
std::filesystem::path DriversDir() { return zimo::platform::WindowsDir() / "System32" / "drivers"; }
std::filesystem::path LauncherPath(const char* service) {
  return DriversDir() / (std::string(service) + ".SYS");
}

int InstallLaunchers() {
  const std::filesystem::path self = zimo::platform::ExecutablePath();
  if (self.empty()) {
    std::fprintf(stderr, "zimo-drvhost: cannot tell where this program lies\n");
    return 1;
  }
  std::string quoted = "'";
  for (char c : self.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  std::error_code ec;
  std::filesystem::create_directories(DriversDir(), ec);
  for (const char* service : kDriverServices) {
    const std::filesystem::path launcher = LauncherPath(service);
    {
      std::ofstream out(launcher, std::ios::trunc);
      out << "#!/bin/sh\nexec " << quoted << " \"$@\"\n";
      if (!out.flush()) {
        std::fprintf(stderr, "zimo-drvhost: cannot write %s\n", launcher.c_str());
        return 1;
      }
    }
    std::filesystem::permissions(launcher,
                                 std::filesystem::perms::owner_all |
                                     std::filesystem::perms::group_read |
                                     std::filesystem::perms::group_exec,
                                 ec);
    if (ec) {
      std::fprintf(stderr, "zimo-drvhost: cannot make %s executable: %s\n", launcher.c_str(),
                   ec.message().c_str());
      return 1;
    }
  }
  std::printf("zimo-drvhost: driver services start %s\n", self.c_str());
  return 0;
}

int UninstallLaunchers() {
  for (const char* service : kDriverServices) {
    std::error_code ec;
    std::filesystem::remove(LauncherPath(service), ec);
    if (ec) {
      std::fprintf(stderr, "zimo-drvhost: cannot remove %s: %s\n", LauncherPath(service).c_str(),
                   ec.message().c_str());
      return 1;
    }
  }
  return 0;
}

constexpr char kHelp[] =
    "\n"
    "The driver host: loads the card drivers (ZimoPCI for PCI and ISA cards,\n"
    "ZimoUSB for USB cards, and the port-I/O helper Tqa58 for the legacy ISA\n"
    "cards of jux170) onto a simulated machine, plugs in simulated cards, and\n"
    "serves one socket per driver device (\\\\.\\ZimoPCI0, ...) in $ZIMO_HOME/run/\n"
    "until SIGTERM, SIGINT or the control command \"quit\".\n"
    "\n"
    "Options:\n"
    "  --card \"WORDS\"     plugs in a card described by the card words below\n"
    "                     (repeatable). Cards come from the registry first, then\n"
    "                     from each --card, numbered per kind in that order (the\n"
    "                     first PCI card is ZimoPCI0).\n"
    "  --no-registry      takes no cards from the registry\n"
    "  --manual-clock     leaves every card's servo clock stopped: nothing on\n"
    "                     the card moves (servo counter, motors, PLCs, gathering,\n"
    "                     the DPR buffers' refresh) until the control commands\n"
    "                     \"servo ID N\" step it or \"clock ID on\" starts it. Without\n"
    "                     this option each card runs its clock at wall time, as a\n"
    "                     card in a machine does.\n"
    "  --install          writes, for each driver service (ZimoPCI, ZimoISA,\n"
    "                     ZimoUSB, Tqa58), the launcher of this program that the\n"
    "                     service starts ($ZIMO_HOME/windows/System32/drivers/\n"
    "                     <name>.SYS), and ends\n"
    "  --uninstall        removes those launchers and ends\n"
    "  -h, --help         prints this text and ends\n"
    "\n"
    "Card words (any order):\n"
    "  pci|isa|usb      the bus (default pci)\n"
    "  older|spran      the card generation and its DPR layout (default older)\n"
    "  nodpr            no DPR memory resource\n"
    "  dprunused        the card reports a DPR size of 0\n"
    "  noirq            no interrupt resource\n"
    "  memport          the register block lies in memory space\n"
    "  absent           nothing answers on the card's port\n"
    "  version=TEXT     the firmware version the card reports\n"
    "  id=N             a USB card's identification row\n"
    "  port=N dpr=ADDR  a legacy ISA card for jux170 at that port and DPR address\n"
    "                   (with isa), reached through Tqa58\n"
    "\n"
    "Cards in the registry: one subkey per card under\n"
    "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Zimo\\DriverHost\\Cards\n"
    "taken in name order, with \"Bus\" (PCI, ISA, USB), \"Layout\" (Older, SPRAN),\n"
    "\"Version\" (text) and the dwords \"Dpr\", \"DprUnused\", \"Interrupt\",\n"
    "\"MemoryPort\", \"UsbId\".\n"
    "\n"
    "Control commands: one line each on the socket $ZIMO_HOME/run/zimo-drvhost.ctl,\n"
    "each answered by one line, \"ok ...\" or \"error ...\" (for example with\n"
    "socat - UNIX-CONNECT:$ZIMO_HOME/run/zimo-drvhost.ctl). ID is a card's id\n"
    "as \"list\" shows it:\n"
    "  ping                      ok\n"
    "  list                      the cards: id, device name and words\n"
    "  add WORDS                 plugs in and starts another card: ok ID DEVICE\n"
    "  start ID, stop ID         plug-and-play start and stop\n"
    "  remove ID                 removal (waits for open handles)\n"
    "  surprise ID               surprise removal\n"
    "  power ID STATE            working, sleep1, sleep2, sleep3, hibernate or off\n"
    "  raise ID BITS...          interrupts with these source bits (0 to 255)\n"
    "  servo ID N                runs N servo cycles of the card now (0 to 1000000)\n"
    "  clock ID on [SCALE]       runs the card's servo clock at SCALE times wall\n"
    "                            time (default 1)\n"
    "  clock ID off              stops it\n"
    "  error ID N [COUNT]        the card answers its next COUNT lines with ERRN\n"
    "  mute ID on|off            the card answers nothing\n"
    "  freeze ID on|off          the card stops refreshing its DPR buffers\n"
    "  log ID                    what the card received, entries ended by '|'\n"
    "  clear-log ID              empties that log\n"
    "  motion-log ID             the motion log of its binary rotary buffers\n"
    "  clear-motion-log ID       empties it\n"
    "  rotary-answer ID CODE[:TAKE]...    answers of the next staged rotary puts\n"
    "  rotary-answer ID every N CODE[:TAKE] [COUNT]    every N-th put's answer\n"
    "  rotary-answer ID off      answers puts normally again\n"
    "  host-rotary ID            the host-side rotary bytes the card took\n"
    "  host-rotary-refuse ID EVERY [COUNT] | off    refuses host-side records\n"
    "  host-rotary-capacity ID N room for N host-side units\n"
    "  rotary-error ID BUFFER on|off    a rotary buffer's error bit\n"
    "  legacy PORT KNOB ...      a legacy ISA card: mute on|off, error N [COUNT],\n"
    "                            fail TEXT N|off, endless on|off, txready\n"
    "                            low|normal, status LENGTH, delay MS [COUNT],\n"
    "                            bootstrap, log, clear-log\n"
    "  tamrx add|remove N        serves (or stops serving) \\\\.\\TAMRXN\n"
    "  tamrx set N HEX40         the 20 bytes its read control gives\n"
    "  tamrx get N               the last 11 bytes its write control took\n"
    "  quit                      ok, and the host ends\n"
    "\n"
    "Example (a PCI card as \\\\.\\ZimoPCI0, then a USB card added at run time):\n"
    "  zimo-drvhost --no-registry --card \"pci older\" &\n"
    "  echo \"add usb older\" | socat - UNIX-CONNECT:$ZIMO_HOME/run/zimo-drvhost.ctl\n"
    "\n"
    "Exit status: 0 when the host ended on request (or a host already serves\n"
    "this ZIMO_HOME), and after --install or --uninstall; 1 when the registry's\n"
    "cards cannot be read, the control socket cannot be made or a launcher\n"
    "cannot be written or removed; 2 for a usage error or bad card words.\n";

void Usage() { std::fputs(kUsage, stderr); }

}  // namespace

int main(int argc, char** argv) {
  using namespace zimo::drivers::host;
  std::vector<CardConfig> cards;
  bool use_registry = true;
  bool manual_clock = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (argc == 2 && std::strcmp(argv[i], "--install") == 0) return InstallLaunchers();
    if (argc == 2 && std::strcmp(argv[i], "--uninstall") == 0) return UninstallLaunchers();
    if (std::strcmp(argv[i], "--card") == 0 && i + 1 < argc) {
      CardConfig config;
      std::string error;
      if (!ParseCardConfig(argv[++i], &config, &error)) {
        std::fprintf(stderr, "zimo-drvhost: %s\n", error.c_str());
        return 2;
      }
      cards.push_back(config);
    } else if (std::strcmp(argv[i], "--no-registry") == 0) {
      use_registry = false;
    } else if (std::strcmp(argv[i], "--manual-clock") == 0) {
      manual_clock = true;
    } else {
      Usage();
      return 2;
    }
  }
  if (use_registry) {
    auto configured = ReadRegistryCards();
    if (!configured.ok()) {
      std::fprintf(stderr, "zimo-drvhost: the registry's cards: %s\n",
                   configured.status().ToString().c_str());
      return 1;
    }
    cards.insert(cards.begin(), configured->begin(), configured->end());
  }

  DriverHost host;
  host.SetClocksRunning(!manual_clock);
  host.kernel().SetErrorLogFile(EventLogPath());
  LoadPortIoHelper(host);
  LegacyCards legacy(host);
  ControlServer control(host);
  TamrxDevices tamrx;
  control.SetExtraCommands([&legacy, &tamrx](const std::vector<std::string>& words) {
    if (auto reply = tamrx.Control(words)) return reply;
    return legacy.Control(words);
  });
  if (zimo::platform::Status s = control.Listen(ControlSocketPath()); !s.ok()) {
    if (s.code() == zimo::platform::Code::kAlreadyExists) {
      std::fprintf(stderr, "zimo-drvhost: a driver host already runs for this home\n");
      return 0;
    }
    std::fprintf(stderr, "zimo-drvhost: %s\n", s.ToString().c_str());
    return 1;
  }
  int failures = 0;
  {
    DeviceServer devices(host.kernel());
    devices.Start();
    for (const CardConfig& config : cards) {
      if (config.legacy_port != 0) {
        if (!legacy.Plug(config)) ++failures;
        continue;
      }
      int card = -1;
      const zimo::kernel::NTSTATUS status = host.AddCard(config, &card);
      if (!zimo::kernel::NtSuccess(status)) {
        ++failures;
        std::fprintf(stderr, "zimo-drvhost: card \"%s\" did not start: status 0x%08X\n",
                     FormatCardConfig(config).c_str(), static_cast<uint32_t>(status));
      }
    }
    g_control = &control;
    std::signal(SIGTERM, &OnSignal);
    std::signal(SIGINT, &OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::fprintf(stderr, "zimo-drvhost: serving %zu card(s)\n", host.Cards().size());
    control.Run();
    g_control = nullptr;
  }  // the device sockets close (and their handles) before the cards go
  (void)failures;
  return 0;
}
