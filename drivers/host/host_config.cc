#include "host/host_config.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "platform/home.h"
#include "platform/registry.h"

namespace zimo::drivers::host {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::filesystem::path ControlSocketPath() { return platform::RunDir() / "zimo-drvhost.ctl"; }
std::filesystem::path EventLogPath() { return platform::RunDir() / "zimo-drvhost-events.log"; }

// "port=N" and "dpr=ADDRESS" (C number forms) of a legacy ISA card.
static bool ParseLegacy(const std::string& w, CardConfig* c) {
  const size_t eq = w.find('=');
  char* end = nullptr;
  const unsigned long v = std::strtoul(w.c_str() + eq + 1, &end, 0);
  if (end == w.c_str() + eq + 1 || *end != '\0' || v == 0 || v > 0xFFFFFFFFul) return false;
  (w[0] == 'p' ? c->legacy_port : c->legacy_dpr) = static_cast<uint32_t>(v);
  c->bus = Bus::kIsa;
  return true;
}

bool ParseCardConfig(std::string_view text, CardConfig* config, std::string* error) {
  CardConfig c;
  std::istringstream in{std::string(text)};
  std::string word;
  while (in >> word) {
    const std::string w = Lower(word);
    if (w == "pci") {
      c.bus = Bus::kPci;
    } else if (w == "isa") {
      c.bus = Bus::kIsa;
    } else if (w == "usb") {
      c.bus = Bus::kUsb;
    } else if (w == "older") {
      c.spran = false;
    } else if (w == "spran") {
      c.spran = true;
    } else if (w == "nodpr") {
      c.dpr = false;
    } else if (w == "dprunused") {
      c.dpr_unused = true;
    } else if (w == "noirq") {
      c.interrupt = false;
    } else if (w == "memport") {
      c.port_in_memory = true;
    } else if (w == "absent") {
      c.absent = true;
    } else if (w.rfind("version=", 0) == 0 && w.size() > 8) {
      c.version = word.substr(8);
    } else if (w.rfind("id=", 0) == 0 && w.size() > 3 &&
               w.find_first_not_of("0123456789", 3) == std::string::npos && w.size() <= 5) {
      c.usb_id = std::stoi(w.substr(3));
    } else if ((w.rfind("port=", 0) == 0 || w.rfind("dpr=", 0) == 0) && ParseLegacy(w, &c)) {
    } else {
      if (error != nullptr) *error = "unknown card word \"" + word + "\"";
      return false;
    }
  }
  *config = c;
  return true;
}

platform::Result<std::vector<CardConfig>> ReadRegistryCards() {
  std::vector<CardConfig> cards;
  auto root =
      platform::RegistryKey::Open(platform::kHkeyLocalMachine, kCardsKey, platform::kKeyRead);
  // Only a missing key means no cards: a registry that cannot be read says
  // why (a malformed file names its line).
  if (!root.ok() && root.status().code() == platform::Code::kNotFound) return cards;
  if (!root.ok()) return root.status();
  auto names = root->SubkeyNames();
  if (!names.ok()) return names.status();
  for (const std::string& name : *names) {
    auto key = platform::RegistryKey::Open(root->handle(), name, platform::kKeyRead);
    if (!key.ok()) return key.status();
    CardConfig c;
    auto text = [&](const char* value, std::string fallback) {
      auto v = key->GetString(value);
      return v.ok() ? Lower(*v) : fallback;
    };
    auto flag = [&](const char* value, bool fallback) {
      auto v = key->GetDword(value);
      return v.ok() ? *v != 0 : fallback;
    };
    const std::string bus = text("Bus", "pci");
    const std::string layout = text("Layout", "older");
    if (bus != "pci" && bus != "isa" && bus != "usb") {
      return platform::Status(platform::Code::kBadData,
                              "card " + name + ": \"Bus\" must be \"PCI\", \"ISA\" or \"USB\"");
    }
    if (layout != "older" && layout != "spran") {
      return platform::Status(platform::Code::kBadData,
                              "card " + name + ": \"Layout\" must be \"Older\" or \"SPRAN\"");
    }
    c.bus = bus == "isa" ? Bus::kIsa : bus == "usb" ? Bus::kUsb : Bus::kPci;
    c.spran = layout == "spran";
    c.dpr = flag("Dpr", true);
    c.dpr_unused = flag("DprUnused", false);
    c.interrupt = flag("Interrupt", true);
    c.port_in_memory = flag("MemoryPort", false);
    if (auto v = key->GetString("Version"); v.ok()) c.version = *v;
    if (auto v = key->GetDword("UsbId"); v.ok()) c.usb_id = static_cast<int>(*v);
    cards.push_back(c);
  }
  return cards;
}

}  // namespace zimo::drivers::host
