#include "host/legacy_isa.h"

#include <chrono>
#include <cstdlib>

#include "tqa58/tqa58.h"

namespace zimo::drivers::host {

kernel::DriverObject* LoadPortIoHelper(DriverHost& host) {
  kernel::DriverObject* driver = nullptr;
  if (!kernel::NtSuccess(host.kernel().LoadDriver(
          "Tqa58", &tqa58::Tqa58DriverEntry,
          "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Tqa58", &driver))) {
    return nullptr;
  }
  tqa58::SetPortsInUse(driver, [&host](uint64_t first, uint32_t count) {
    for (const CardInfo& card : host.Cards()) {
      if (!card.started || card.removed) continue;
      std::shared_ptr<Slot> slot = host.machine().Get(card.id);
      if (slot && first < slot->port_base + slot->port_length && slot->port_base < first + count) {
        return true;
      }
    }
    return false;
  });
  return driver;
}

LegacyCards::~LegacyCards() {
  for (auto& card : cards_) card.second.reset();
}

std::shared_ptr<Slot> LegacyCards::Plug(const CardConfig& config) {
  std::shared_ptr<Slot> slot = host_.machine().Plug(config);
  if (!slot) return nullptr;
  cards_.emplace_back(slot, std::make_unique<cardsim::IsaDprWindow>(*slot->bus));
  if (host_.clocks_running()) slot->card->StartServoClock(1.0);
  return slot;
}

std::optional<std::string> LegacyCards::Control(const std::vector<std::string>& words) {
  if (words.empty() || words[0] != "legacy") return std::nullopt;
  auto number = [](const std::string& text, long* value) {
    char* end = nullptr;
    *value = std::strtol(text.c_str(), &end, 0);
    return !text.empty() && *end == '\0';
  };
  long port = 0;
  if (words.size() < 3 || !number(words[1], &port)) return "error legacy needs a port and a knob";
  Slot* slot = nullptr;
  for (auto& card : cards_) {
    if (card.first->config.legacy_port == static_cast<uint32_t>(port)) slot = card.first.get();
  }
  if (slot == nullptr) return "error no legacy card at " + words[1];
  cardsim::Card& card = *slot->card;
  const std::string& knob = words[2];
  const std::string arg = words.size() > 3 ? words[3] : "";
  long n = 0, count = -1;
  if (knob == "mute" && (arg == "on" || arg == "off")) {
    card.script().SetMuted(arg == "on");
  } else if (knob == "error" && number(arg, &n)) {
    count = 1;
    if (words.size() > 4 && !number(words[4], &count)) return "error bad count";
    card.script().InjectError(static_cast<int>(n), static_cast<int>(count));
  } else if (knob == "fail" && arg == "off") {
    card.script().FailLinesMatching("", 0);
  } else if (knob == "fail" && !arg.empty() && words.size() > 4 && number(words[4], &n)) {
    card.script().FailLinesMatching(arg, static_cast<int>(n));
  } else if (knob == "endless" && (arg == "on" || arg == "off")) {
    slot->bus->StickPortBits(2, arg == "on" ? 0x1 : 0x0, 0x1);
  } else if (knob == "txready" && (arg == "low" || arg == "normal")) {
    slot->bus->StickPortBits(2, arg == "low" ? 0x2 : 0x0, 0x0);
  } else if (knob == "status" && number(arg, &n)) {
    card.script().SetStatusLength(static_cast<int>(n));
  } else if (knob == "delay" && number(arg, &n)) {
    if (words.size() > 4 && !number(words[4], &count)) return "error bad count";
    card.script().SetReplyDelay(std::chrono::milliseconds(n), static_cast<int>(count));
  } else if (knob == "bootstrap") {
    card.EnterBootstrap();
  } else if (knob == "log") {
    std::string reply = "ok ";
    for (const std::string& entry : card.script().received()) reply += entry + "|";
    return reply;
  } else if (knob == "clear-log") {
    card.script().ClearLog();
  } else {
    return "error unknown legacy knob \"" + knob + "\"";
  }
  return "ok";
}

}  // namespace zimo::drivers::host
