// Where the driver host finds its cards and its control socket.
//
// Cards in the registry: one subkey per card under
//   HKEY_LOCAL_MACHINE\SOFTWARE\Zimo\DriverHost\Cards
// taken in the subkeys' name order, with the values
//   "Bus"        REG_SZ    "PCI" (default), "ISA" or "USB"
//   "Layout"     REG_SZ    "Older" (default) or "SPRAN": the card's DPR layout
//   "Dpr"        REG_DWORD 1 (default): the card has a DPR memory resource
//   "DprUnused"  REG_DWORD 0 (default); 1: the card reports a DPR size of 0
//   "Interrupt"  REG_DWORD 1 (default): the card has an interrupt resource
//   "MemoryPort" REG_DWORD 0 (default); 1: its registers lie in memory space
//   "Version"    REG_SZ    the firmware version the card reports (default: the model's)
//   "UsbId"      REG_DWORD a USB card's identification row 0..12 (default: by layout)
//
// The same in text, for the command line and the control command "add":
//   pci|isa|usb older|spran [nodpr] [dprunused] [noirq] [memport] [absent] [version=TEXT] [id=N]
// ("absent": nothing answers on the card's port, so its probe fails).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/sim_machine.h"
#include "platform/status.h"

namespace zimo::drivers::host {

inline constexpr char kCardsKey[] = "SOFTWARE\\Zimo\\DriverHost\\Cards";

// RunDir()/zimo-drvhost.ctl
std::filesystem::path ControlSocketPath();
// RunDir()/zimo-drvhost-events.log: the system error log's entries.
std::filesystem::path EventLogPath();

// Words in any order and case; false (with `error` saying which word) for
// a word it does not know.
bool ParseCardConfig(std::string_view text, CardConfig* config, std::string* error);

// The cards listed in the registry (none when the key is missing); an
// error when the registry cannot be read or a card's values are wrong.
platform::Result<std::vector<CardConfig>> ReadRegistryCards();

}  // namespace zimo::drivers::host
