#include "sim_options.h"

#include "cardsim/lab_plant.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

namespace zimo::cardsim {
namespace {

using platform::Code;
using platform::Result;
using platform::Status;

Status Bad(const std::string& text) { return Status(Code::kInvalidArgument, text); }

// Decimal, or hexadecimal after "0x" or "$".
std::optional<long long> ParseInteger(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int base = 10;
  size_t at = 0;
  if (text[0] == '$') {
    base = 16;
    at = 1;
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    at = 2;
  }
  const char* begin = text.c_str() + at;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(begin, &end, base);
  if (errno != 0 || end == begin || *end != '\0') return std::nullopt;
  return v;
}

// "N" or "N,COUNT".
std::optional<std::pair<long long, long long>> ParsePair(const std::string& text, long long count) {
  const size_t comma = text.find(',');
  const std::optional<long long> first = ParseInteger(text.substr(0, comma));
  if (!first) return std::nullopt;
  if (comma == std::string::npos) return std::make_pair(*first, count);
  const std::optional<long long> second = ParseInteger(text.substr(comma + 1));
  if (!second) return std::nullopt;
  return std::make_pair(*first, *second);
}

struct Parser {
  SimOptions options;
  std::string model = "older";
  std::vector<std::function<void(CardModel&)>> model_edits;
  int config_depth = 0;

  Status Option(const std::string& name, const std::optional<std::string>& value);
  Status Config(const std::string& path);
  Status AddEndpoint(const std::string& text, bool udp, bool tcp);
};

Status Parser::AddEndpoint(const std::string& text, bool udp, bool tcp) {
  Result<EthOptions> endpoint = ParseEndpoint(text);
  if (!endpoint) return endpoint.status();
  // One card port per address: UDP and TCP on it share the card's output.
  for (EthOptions& e : options.eth) {
    if (e.address == endpoint->address && e.port == endpoint->port) {
      e.udp = e.udp || udp;
      e.tcp = e.tcp || tcp;
      return Status::Ok();
    }
  }
  endpoint->udp = udp;
  endpoint->tcp = tcp;
  options.eth.push_back(*endpoint);
  return Status::Ok();
}

Status Parser::Option(const std::string& name, const std::optional<std::string>& value) {
  // Options without a value.
  const std::map<std::string, std::function<void()>> flags = {
      {"help", [&] { options.help = true; }},
      {"pty", [&] { options.pty = true; }},
      {"mute", [&] { options.mute = true; }},
      {"no-ack", [&] { options.ack_omitted = true; }},
      {"no-servo", [&] { options.servo = false; }},
      {"no-stdin", [&] { options.read_stdin = false; }},
      {"log-changes", [&] { options.log_changes = true; }},
      {"bootstrap", [&] { model_edits.push_back([](CardModel& m) { m.bootstrap = true; }); }},
  };
  if (auto f = flags.find(name); f != flags.end()) {
    if (value) return Bad("option --" + name + " takes no value");
    f->second();
    return Status::Ok();
  }
  if (!value) return Bad("option --" + name + " needs a value (see --help)");
  const std::string& v = *value;
  auto integer = [&](long long low, long long high) -> std::optional<long long> {
    std::optional<long long> n = ParseInteger(v);
    if (!n || *n < low || *n > high) return std::nullopt;
    return n;
  };
  auto bad_value = [&] { return Bad("bad value for --" + name + ": \"" + v + "\""); };

  if (name == "config") return Config(v);
  if (name == "model") {
    if (v != "older" && v != "spran" && v != "spran8") return bad_value();
    model = v;
  } else if (name == "type") {
    const auto n = integer(1, 9);
    if (!n) return bad_value();
    model_edits.push_back([n = static_cast<int>(*n)](CardModel& m) { m.type = n; });
  } else if (name == "type-text") {
    model_edits.push_back([v](CardModel& m) { m.type_text = v; });
  } else if (name == "version") {
    model_edits.push_back([v](CardModel& m) { m.version = v; });
  } else if (name == "date") {
    model_edits.push_back([v](CardModel& m) { m.date = v; });
  } else if (name == "cpu") {
    model_edits.push_back([v](CardModel& m) { m.cpu = v; });
  } else if (name == "motors") {
    const auto n = integer(1, 32);
    if (!n) return bad_value();
    model_edits.push_back([n = static_cast<int>(*n)](CardModel& m) { m.motors = n; });
  } else if (name == "plant") {
    if (!LabPlant::Known(v)) {
      return Bad("unknown plant \"" + v + "\" for --plant (known: " + LabPlant::KnownNames() + ")");
    }
    model_edits.push_back([v](CardModel& m) { m.plant = v; });
  } else if (name == "i10") {
    const auto n = integer(1, 0xFFFFFF);
    if (!n) return bad_value();
    model_edits.push_back([n = static_cast<uint32_t>(*n)](CardModel& m) { m.i10 = n; });
  } else if (name == "time-scale") {
    char* end = nullptr;
    double scale = std::strtod(v.c_str(), &end);
    if (end == v.c_str() || *end != '\0' || !(scale > 0) || scale > 1e6) return bad_value();
    options.time_scale = scale;
  } else if (name == "silence-after" || name == "silence-at") {
    // "N[,COUNT]" or "TEXT[,COUNT]"
    std::string head = v;
    const size_t comma = v.rfind(',');
    if (comma != std::string::npos) {
      const std::optional<long long> count = ParseInteger(v.substr(comma + 1));
      if (!count || *count < -1) return bad_value();
      options.silence_count = static_cast<int>(*count);
      head = v.substr(0, comma);
    }
    if (name == "silence-at") {
      if (head.empty()) return bad_value();
      options.silence_at = head;
    } else {
      const std::optional<long long> n = ParseInteger(head);
      if (!n || *n < 0 || *n > 1000000000) return bad_value();
      options.silence_after = static_cast<int>(*n);
    }
  } else if (name == "watch") {
    // "X:$3D", "Y:1792"
    if (v.size() < 3 || (v[0] != 'X' && v[0] != 'Y' && v[0] != 'x' && v[0] != 'y') || v[1] != ':') {
      return bad_value();
    }
    const std::optional<long long> address = ParseInteger(v.substr(2));
    if (!address || *address < 0 || *address > 0xFFFFFF) return bad_value();
    options.watch.emplace_back(static_cast<char>(std::toupper(static_cast<unsigned char>(v[0]))),
                               static_cast<uint32_t>(*address));
  } else if (name == "fault") {
    // "MOTOR,LOAD[,stuck]"
    const size_t c1 = v.find(',');
    if (c1 == std::string::npos) return bad_value();
    const size_t c2 = v.find(',', c1 + 1);
    const std::optional<long long> motor = ParseInteger(v.substr(0, c1));
    const std::string load_text =
        v.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
    char* end = nullptr;
    const double load = std::strtod(load_text.c_str(), &end);
    const bool stuck = c2 != std::string::npos && v.substr(c2 + 1) == "stuck";
    if (!motor || *motor < 1 || *motor > 32 || load_text.empty() || *end != '\0' ||
        (c2 != std::string::npos && !stuck)) {
      return bad_value();
    }
    options.faults.push_back({static_cast<int>(*motor), load, stuck});
  } else if (name == "limit") {
    // "MOTOR,+" or "MOTOR,-": that limit switch on at start
    const size_t c = v.find(',');
    const std::optional<long long> motor = ParseInteger(v.substr(0, c));
    if (c == std::string::npos || !motor || *motor < 1 || *motor > 32 ||
        (v.substr(c + 1) != "+" && v.substr(c + 1) != "-")) {
      return bad_value();
    }
    options.limits.emplace_back(static_cast<int>(*motor), v.substr(c + 1) == "+");
  } else if (name == "ring") {
    // "N[:TYPE]", several separated by commas.
    size_t start = 0;
    while (start <= v.size()) {
      size_t comma = v.find(',', start);
      std::string item =
          v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      size_t colon = item.find(':');
      std::optional<long long> node = ParseInteger(item.substr(0, colon));
      std::optional<long long> type = colon == std::string::npos
                                          ? std::optional<long long>(1)
                                          : ParseInteger(item.substr(colon + 1));
      if (!node || *node < 0 || *node > 63 || !type) return bad_value();
      options.ring.emplace_back(static_cast<int>(*node), static_cast<double>(*type));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  } else if (name == "dpr-base") {
    const auto n = integer(0, 0xFFFFFF);
    if (!n) return bad_value();
    model_edits.push_back([n = static_cast<uint32_t>(*n)](CardModel& m) { m.dpr_card_base = n; });
  } else if (name == "firmware-bytes") {
    const auto n = integer(0, 0x3FFFFFF);
    if (!n) return bad_value();
    options.firmware_bytes = *n;
  } else if (name == "com") {
    const auto n = integer(1, 255);
    if (!n) return bad_value();
    options.com_port = static_cast<int>(*n);
    options.pty = true;
  } else if (name == "udp" || name == "tcp" || name == "eth") {
    return AddEndpoint(v, name != "tcp", name != "udp");
  } else if (name == "error") {
    const auto pair = ParsePair(v, 1);
    if (!pair || pair->first < 1 || pair->first > 999 || pair->second < -1) return bad_value();
    options.error = static_cast<int>(pair->first);
    options.error_count = static_cast<int>(pair->second);
  } else if (name == "delay") {
    const auto pair = ParsePair(v, -1);
    if (!pair || pair->first < 0 || pair->first > 600000 || pair->second < -1) return bad_value();
    options.delay_ms = static_cast<int>(pair->first);
    options.delay_count = static_cast<int>(pair->second);
  } else if (name == "unsolicited") {
    options.unsolicited.push_back(v);
  } else {
    return Bad("unknown option --" + name + " (see --help)");
  }
  return Status::Ok();
}

Status Parser::Config(const std::string& path) {
  if (++config_depth > 8) return Bad("configuration files include each other: " + path);
  std::ifstream in(path);
  if (!in) return Status(Code::kNotFound, "cannot read configuration file " + path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
    const size_t cut = line.find_first_of("= \t");
    const std::string name = line.substr(0, cut);
    std::optional<std::string> value;
    if (cut != std::string::npos) {
      const size_t start = line.find_first_not_of("= \t", cut);
      value = start == std::string::npos ? std::string() : line.substr(start);
    }
    Status s = Option(name, value);
    if (!s.ok()) {
      return Status(s.code(), path + ":" + std::to_string(number) + ": " + s.message());
    }
  }
  --config_depth;
  return Status::Ok();
}

}  // namespace

const char* SimUsage() {
  return "usage: zimo-cardsim [options]\n"
         "The simulated card. Prints one line per port it opens (\"pty PATH\",\n"
         "\"udp ADDR:PORT\", \"tcp ADDR:PORT\"), then \"ready\", and runs until SIGTERM,\n"
         "SIGINT or the end of its standard input.\n"
         "\n"
         "Card:\n"
         "  --model older|spran|spran8  card generation (default older)\n"
         "  --type N  --type-text TEXT  --version TEXT  --date TEXT  --cpu TEXT\n"
         "  --motors N  --i10 N  --dpr-base N  --bootstrap  --firmware-bytes N\n"
         "  --plant torsion3|torsion2|linear  a lab plant behind the DAC words and encoders\n"
         "Ports:\n"
         "  --pty                 serial port on a pseudo-terminal\n"
         "  --com N               the same, registered as COM port N in $ZIMO_HOME\n"
         "  --udp ADDR[:PORT]     Ethernet over UDP (port 1025 by default)\n"
         "  --tcp ADDR[:PORT]     Ethernet over TCP\n"
         "  --eth ADDR[:PORT]     both\n"
         "Faults:\n"
         "  --mute                answer nothing\n"
         "  --error N[,COUNT]     the next COUNT lines (default 1, -1 all) fail with ERRN\n"
         "  --delay MS[,COUNT]    hold replies back (COUNT default -1: all)\n"
         "  --no-ack              end responses without ACK\n"
         "  --unsolicited TEXT    queue an unsolicited message (repeatable)\n"
         "Running:\n"
         "  --config FILE         more options, one \"name value\" per line\n"
         "  --no-servo            do not run the servo clock\n"
         "  --time-scale X        simulated time runs X times as fast as wall time\n"
         "  --ring N[:TYPE],...   ring stations on these nodes (TYPE: their I3, default 1)\n"
         "Test access:\n"
         "  --silence-after N[,COUNT]  silent after N more lines, for COUNT lines (-1: no end)\n"
         "  --silence-at TEXT[,COUNT]  silent from the first line containing TEXT\n"
         "  --log-changes         log changes of I-variables and watched words\n"
         "  --watch X:ADDR        watch a memory word (repeatable; ADDR decimal or $hex)\n"
         "  --fault MOTOR,LOAD[,stuck]  a steady load (counts/ms^2) or a stuck plant\n"
         "  --limit MOTOR,+|-     a limit switch on at start\n"
         "  --no-stdin            ignore standard input; run until a signal\n"
         "  --help                print this text and end\n"
         "Option values follow the option (--udp 127.0.0.5) or an = (--udp=127.0.0.5).\n"
         "\n"
         "Commands on standard input, each answered \"ok\" or \"error TEXT\":\n"
         "  mute on|off   error N [COUNT]   delay MS [COUNT]   ack on|off\n"
         "  unsolicited TEXT   log (prints \"log ENTRY\" lines)   clear-log   quit\n"
         "  silence after N [COUNT] | at TEXT [COUNT] | off\n"
         "  changes on|off|clear   changes (prints \"change MS WRITER WHAT OLD NEW\")\n"
         "  watch X|Y ADDR   snapshot   compare (prints \"differs ...\" lines)\n"
         "  fault MOTOR LOAD [stuck]   limit MOTOR +|- on|off   ring NODE [TYPE|off]\n"
         "  servo N (run N servo cycles)\n"
         "\n"
         "Examples:\n"
         "  zimo-cardsim --pty --com 1 --no-stdin &        # device on COM1 (zimo-term -s 1)\n"
         "  zimo-cardsim --model spran --udp 127.0.0.5 --no-stdin &\n"
         "\n"
         "Exit status: 0 at the end of standard input, \"quit\", SIGTERM or SIGINT;\n"
         "2 for a bad option or a port that cannot be opened (the reason is printed).\n";
}

Result<EthOptions> ParseEndpoint(const std::string& text) {
  EthOptions e;
  std::string address = text;
  if (const size_t colon = text.find(':'); colon != std::string::npos) {
    address = text.substr(0, colon);
    const std::optional<long long> port = ParseInteger(text.substr(colon + 1));
    if (!port || *port < 0 || *port > 65535) return Bad("bad port in \"" + text + "\"");
    e.port = static_cast<uint16_t>(*port);
  }
  Result<uint32_t> ip = ParseIpv4(address);
  if (!ip) return ip.status();
  e.address = address;
  return e;
}

Result<SimOptions> ParseSimOptions(const std::vector<std::string>& args) {
  Parser p;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0 || arg.size() == 2)
      return Bad("unexpected argument \"" + arg + "\"");
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.erase(eq);
    } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
      // A following word that is not an option is this option's value,
      // unless the option is a flag (then it is an error below).
      static const char* const kFlags[] = {"help",     "pty",      "mute",     "no-ack",
                                           "no-servo", "no-stdin", "bootstrap"};
      bool flag = false;
      for (const char* f : kFlags) flag = flag || name == f;
      if (!flag) value = args[++i];
    }
    Status s = p.Option(name, value);
    if (!s.ok()) return s;
  }
  SimOptions options = std::move(p.options);
  options.model = p.model == "spran"    ? CardModel::Spran()
                  : p.model == "spran8" ? CardModel::SpranType8()
                                        : CardModel::Older();
  for (const auto& edit : p.model_edits) edit(options.model);
  return options;
}

}  // namespace zimo::cardsim
