// The interrupt events of this process: per device the eight named
// auto-reset events that the driver sets, one per source, and an unnamed
// one that stops the device's waiting thread. They are made when the
// location handle of an ISA or PCI device opens and closed when it closes.
#pragma once

#include <cstdint>

namespace zimo::corvan {

// Source names in bit order: "ZIMO%d" + the name is the event.
inline constexpr const char* kIntrSourceNames[8] = {"IPOS", "BREQ", "ERROR", "FERROR",
                                                    "HREQ", "IR5",  "IR6",   "IR7"};

// For ISA and PCI locations: creates the events of the device number
// registered for (Location, Enumeration) and hands them to its driver (by a
// handle of its own, which it closes again). 1 when the events stand, and
// also when there is nothing to do (no driver device of that name, no
// device registered for it); 0 when an event could not be made or the
// driver refused them (nothing is kept then); 0 for other locations.
int CreateInterruptEvents(std::uint32_t location, std::uint32_t enumeration);

// Closes the events that CreateInterruptEvents made for (Location,
// Enumeration). The device's waiting thread must have stopped.
void CloseInterruptEvents(std::uint32_t location, std::uint32_t enumeration);

// Stops the device's interrupt waiting thread in this process (or, for a PCI
// card with interrupts off, masks every source). 1 when no thread is left
// running, 0 when called from the thread itself or the number is bad.
int StopInterrupts(int device);
// The device's last close: StopInterrupts, except that a close from inside
// a handler (on the waiting thread itself) lets that thread go; it ends
// after the handler returns, since the close drops its events. 1 then.
int EndInterruptsForClose(int device);

}  // namespace zimo::corvan
