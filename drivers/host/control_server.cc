#include "host/control_server.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "cardsim/rotary_control.h"
#include "cardsim/script.h"
#include "host/host_config.h"

namespace zimo::drivers::host {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string StatusReply(kernel::NTSTATUS status) {
  if (kernel::NtSuccess(status)) return "ok";
  char text[48];
  std::snprintf(text, sizeof(text), "error 0x%08X", static_cast<uint32_t>(status));
  return text;
}

bool ParseNumber(const std::string& word, long* value) {
  if (word.empty()) return false;
  char* end = nullptr;
  *value = std::strtol(word.c_str(), &end, 0);
  return end != nullptr && *end == '\0';
}

bool ParseSystemState(const std::string& word, kernel::SystemPowerState* state) {
  using S = kernel::SystemPowerState;
  static const std::pair<const char*, S> kStates[] = {
      {"working", S::kWorking},  {"sleep1", S::kSleeping1},    {"sleep2", S::kSleeping2},
      {"sleep3", S::kSleeping3}, {"hibernate", S::kHibernate}, {"off", S::kShutdown},
  };
  for (const auto& [name, s] : kStates) {
    if (word == name) {
      *state = s;
      return true;
    }
  }
  return false;
}

}  // namespace

ControlServer::ControlServer(DriverHost& host) : host_(host) {}

ControlServer::~ControlServer() {
  Stop();
  std::vector<std::unique_ptr<Client>> clients;
  {
    std::lock_guard lock(mu_);
    clients.swap(clients_);
  }
  for (auto& c : clients) c->connection.Shutdown();
  for (auto& c : clients) {
    if (c->thread.joinable()) c->thread.join();
  }
}

platform::Status ControlServer::Listen(const std::filesystem::path& path) {
  auto listening = platform::UnixListener::Listen(path);
  if (!listening.ok()) return listening.status();
  listener_ = std::move(listening.value());
  return platform::Status::Ok();
}

void ControlServer::Stop() { listener_.Interrupt(); }

void ControlServer::Run() {
  for (;;) {
    auto accepted = listener_.Accept();
    if (!accepted.ok()) {
      if (accepted.status().code() == platform::Code::kClosed) return;
      continue;
    }
    auto client = std::make_unique<Client>();
    client->connection = std::move(accepted.value());
    Client* raw = client.get();
    std::lock_guard lock(mu_);
    for (auto& c : clients_) {
      if (c->done && c->thread.joinable()) c->thread.join();
    }
    std::erase_if(clients_, [](const auto& c) { return c->done.load(); });
    raw->thread = std::thread([this, raw] { Serve(raw); });
    clients_.push_back(std::move(client));
  }
}

void ControlServer::Serve(Client* client) {
  std::string pending;
  char buffer[512];
  for (;;) {
    auto got = client->connection.RecvSome(buffer, sizeof(buffer));
    if (!got.ok()) break;
    pending.append(buffer, *got);
    if (pending.size() > 4096 && pending.find('\n') == std::string::npos) break;  // no line ends
    size_t end;
    bool quit = false;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::string reply = Execute(line) + "\n";
      if (!client->connection.SendAll(reply.data(), reply.size()).ok()) break;
      if (Lower(line) == "quit") quit = true;
    }
    if (quit) {
      Stop();
      break;
    }
  }
  client->connection.Shutdown();
  client->done = true;
}

std::string ControlServer::Execute(std::string_view line) {
  std::istringstream in{std::string(line)};
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty()) return "error empty command";
  const std::string command = Lower(words[0]);

  if (command == "ping" || command == "quit") return "ok";
  if (extra_) {
    if (std::optional<std::string> reply = extra_(words)) return *reply;
  }
  if (command == "list") {
    std::string reply = "ok ";
    for (const CardInfo& c : host_.Cards()) {
      reply += std::to_string(c.id) + ":" + c.device_name + ":" + FormatCardConfig(c.config) + ";";
    }
    return reply;
  }
  if (command == "add") {
    CardConfig config;
    std::string error;
    std::string rest;
    for (size_t i = 1; i < words.size(); ++i) rest += words[i] + " ";
    if (!ParseCardConfig(rest, &config, &error)) {
      return "error " + error;
    }
    int card = -1;
    const kernel::NTSTATUS status = host_.AddCard(config, &card);
    if (!kernel::NtSuccess(status)) return StatusReply(status) + " the card did not start";
    CardInfo info;
    host_.GetCard(card, &info);
    return "ok " + std::to_string(card) + " " + info.device_name;
  }

  long card = -1;
  if (words.size() < 2 || !ParseNumber(words[1], &card)) return "error which card?";
  const int id = static_cast<int>(card);
  CardInfo info;
  if (!host_.GetCard(id, &info)) return "error no card " + words[1];

  if (command == "start") return StatusReply(host_.StartCard(id));
  if (command == "stop") return StatusReply(host_.StopCard(id));
  if (command == "remove") return StatusReply(host_.RemoveCard(id));
  if (command == "surprise") return StatusReply(host_.SurpriseRemoveCard(id));
  if (command == "power") {
    kernel::SystemPowerState state;
    if (words.size() != 3 || !ParseSystemState(Lower(words[2]), &state)) {
      return "error power needs working, sleep1, sleep2, sleep3, hibernate or off";
    }
    return StatusReply(host_.SetSystemPower(id, state));
  }
  if (command == "raise") {
    std::vector<uint8_t> sets;
    for (size_t i = 2; i < words.size(); ++i) {
      long bits;
      if (!ParseNumber(words[i], &bits) || bits < 0 || bits > 255)
        return "error bad bits " + words[i];
      sets.push_back(static_cast<uint8_t>(bits));
    }
    if (sets.empty()) return "error raise needs bits";
    return host_.RaiseInterrupts(id, sets, true) ? "ok" : "error no card";
  }
  cardsim::Card* sim = host_.SimCard(id);
  if (sim == nullptr) return "error no card " + words[1];
  {
    // The binary rotary buffers' commands (cardsim/rotary_control.h); their
    // output comes as entries ended by '|', as "log" sends them.
    std::vector<std::string> rotary{command};
    rotary.insert(rotary.end(), words.begin() + 2, words.end());
    if (auto r = cardsim::RunRotaryControl(*sim, rotary)) {
      if (!r->ok) return "error " + r->lines.front();
      if (r->lines.empty()) return "ok";
      std::string reply = "ok ";
      for (const std::string& entry : r->lines) {
        for (char c : entry) {
          if (c == '|' || c == '\\') reply += '\\';
          reply += c;
        }
        reply += '|';
      }
      return reply;
    }
  }
  if (command == "error") {
    long number, count = 1;
    if (words.size() < 3 || !ParseNumber(words[2], &number) ||
        (words.size() > 3 && !ParseNumber(words[3], &count))) {
      return "error error needs a number";
    }
    sim->script().InjectError(static_cast<int>(number), static_cast<int>(count));
    return "ok";
  }
  if (command == "log") {
    // What the card received, one entry per line or control character, in
    // order; a '|' inside an entry is sent as "\|" so entries stay apart.
    std::string reply = "ok ";
    for (const std::string& entry : sim->script().received()) {
      for (char c : entry) {
        if (c == '|' || c == '\\') reply += '\\';
        reply += c == '\n' ? ' ' : c;
      }
      reply += '|';
    }
    return reply;
  }
  if (command == "clear-log") {
    sim->script().ClearLog();
    return "ok";
  }
  if (command == "servo") {
    // Runs the card's servo clock N cycles now (motors, programs, the DPR
    // buffers it refreshes); the host's own time does not move.
    long cycles = 0;
    if (words.size() != 3 || !ParseNumber(words[2], &cycles) || cycles < 0 || cycles > 1000000) {
      return "error servo needs a number of cycles (0 to 1000000)";
    }
    sim->AdvanceServo(static_cast<int>(cycles));
    return "ok";
  }
  if (command == "clock") {
    // The card's servo clock running beside the host: "on" keeps simulated
    // time at wall time (or SCALE times it), "off" stops it.
    const std::string what = words.size() >= 3 ? Lower(words[2]) : "";
    if (what == "off" && words.size() == 3) {
      sim->StopServoThread();
      return "ok";
    }
    double scale = 1.0;
    if (what != "on" || words.size() > 4) return "error clock needs on [SCALE] or off";
    if (words.size() == 4) {
      char* end = nullptr;
      scale = std::strtod(words[3].c_str(), &end);
      if (end == words[3].c_str() || *end != '\0' || !(scale > 0) || scale > 1e6) {
        return "error bad clock scale " + words[3];
      }
    }
    sim->StopServoThread();
    sim->StartServoClock(scale);
    return "ok";
  }
  if (command == "freeze") {
    if (words.size() != 3 || (Lower(words[2]) != "on" && Lower(words[2]) != "off")) {
      return "error freeze needs on or off";
    }
    sim->script().SetDprFrozen(Lower(words[2]) == "on");
    return "ok";
  }
  if (command == "mute") {
    if (words.size() != 3 || (Lower(words[2]) != "on" && Lower(words[2]) != "off")) {
      return "error mute needs on or off";
    }
    sim->script().SetMuted(Lower(words[2]) == "on");
    return "ok";
  }
  return "error unknown command \"" + words[0] + "\"";
}

}  // namespace zimo::drivers::host
