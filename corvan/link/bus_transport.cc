// The bus Locations (ISA, PCI, USB): a card driver's device per Location
// and Enumeration. ASCII exchanges take the bus channel or, on ISA and PCI,
// the DPR mailbox; DPR access goes through the driver's memory I/O
// controls; ISA and PCI cards send interrupts through driver events.
#include <cstring>
#include <vector>

#include "corvan/interrupt_api.h"
#include "drivers/zimo_ioctl.h"
#include "link/bus_channel.h"
#include "link/dpr_channel.h"
#include "link/driver_device.h"
#include "link/interrupts.h"
#include "link/library_app.h"
#include "link/location_settings.h"
#include "link/transports.h"
#include "link/variables.h"
#include "platform/debug.h"
#include "platform/win_error.h"

namespace zimo::corvan {
namespace {

// How the three bus Locations differ.
struct BusKind {
  std::uint32_t location;
  bool interrupts;         // driver events and the interrupt thread (ISA, PCI)
  bool port_registers;     // registers 5 and 6 cleared at open (ISA, PCI)
  bool driver_dpr_test;    // the driver says whether DPR is there (ISA, PCI)
  bool single_word_write;  // a 16-bit DPR word in one access (ISA, PCI)
};

// One bit-record request; true when the driver reached the location.
bool BusBits(int device, std::uint32_t code, drivers::ZimoDprBitsRecord& record) {
  record.done = 0;
  drivers::ZimoDprBitsRecord reply = record;
  const platform::IoControlResult r =
      DriverIoctl(device, code, &record, sizeof record, &reply, sizeof reply);
  if (!r.ok || r.bytes_returned != sizeof reply || reply.done != 1) return false;
  record = reply;
  return true;
}

drivers::ZimoDprBitsRecord FieldRecord(std::uint32_t offset, std::uint16_t first,
                                       std::uint16_t count, std::uint32_t value) {
  drivers::ZimoDprBitsRecord record{};
  record.value = value;
  record.offset = offset;
  record.first_bit = first;
  record.width = count;
  return record;
}

// The single-bit codes read the bit number as one u32 over first_bit and
// width.
drivers::ZimoDprBitsRecord BitRecord(std::uint32_t offset, std::uint32_t bit, std::uint32_t value) {
  return FieldRecord(offset, static_cast<std::uint16_t>(bit & 0xFFFF),
                     static_cast<std::uint16_t>(bit >> 16), value);
}

class BusTransport final : public Transport {
 public:
  explicit BusTransport(const BusKind& kind) : kind_(kind) {}

  std::uint32_t location() const override { return kind_.location; }

  // The driver device; for ISA and PCI cards also the port registers 5 and
  // 6 cleared, and the interrupt events handed to the driver (ISA, or PCI
  // with interrupts enabled in its settings) or every source disabled.
  bool OpenLocation(int, LocationHandle& handle) override {
    const std::uint32_t location = handle.location;
    const std::uint32_t enumeration = handle.enumeration;
    DeviceConfigBlock settings{};
    ReadLocationSettings(location, enumeration, settings);
    const std::uint32_t error = OpenDriverDevice(location, enumeration);
    if (location == kLocationUsb) {
      // The text has always named unit 0.
      platform::DebugOutput(error == 0 ? "CreateFile ZimoUSB0 Passed"
                                       : "CreateFile ZimoUSB0 Failed");
    }
    if (error != 0) {
      App().set_last_open_error(error);
      return false;
    }
    if (!kind_.port_registers) return true;
    LocationIoctl(location, enumeration, drivers::IOCTL_ZIMO_CLEAR_PORT_REGS, nullptr, 0, nullptr,
                  0);
    if (location == kLocationIsa || settings.EnableInterrupts != 0) {
      CreateInterruptEvents(location, enumeration);
    } else {
      const std::uint32_t all_disabled = kIntrAllSources;
      LocationIoctl(location, enumeration, drivers::IOCTL_ZIMO_SET_INTR_MASK, &all_disabled,
                    sizeof all_disabled, nullptr, 0);
    }
    return true;
  }

  void CloseLocation(LocationHandle& handle) override {
    // The interrupt events go with the location that made them.
    CloseInterruptEvents(handle.location, handle.enumeration);
    CloseDriverDevice(handle.location, handle.enumeration);
  }

  bool PrepareDevice(int device, DeviceUserHandle& user, SharedDeviceBlock&) override {
    user.AsciiCommMode = 0;
    if (!kind_.interrupts) {
      DriverIoctl(device, drivers::IOCTL_ZIMO_RESET_CARD, nullptr, 0, nullptr, 0);
      return true;
    }
    auto start = platform::NamedEvent::CreateUnnamed(platform::EventReset::kAuto, false);
    if (!start.ok()) {
      App().set_last_open_error(platform::Win32ErrorFromStatus(start.status()));
      return false;
    }
    user.Interrupts.IntrStartEvent = std::move(start.value());
    return true;
  }

  bool Handshake(int device, DeviceUserHandle&, SharedDeviceBlock&) override {
    return CardStatusHandshake(device);
  }

  void AfterIdentify(SharedDeviceBlock& block, const DeviceConfigBlock& config) override {
    if (kind_.location == kLocationPci) block.InterruptsEnabled = config.EnableInterrupts;
  }

  void CloseDevice(int device, DeviceUserHandle& user) override {
    if (!kind_.interrupts) return;
    EndInterruptsForClose(device);
    user.Interrupts.IntrStartEvent = platform::NamedEvent();
  }

  AsciiChannel* Channel(int, const DeviceUserHandle& user) override {
    return user.AsciiCommMode == 1 ? &DprMailboxChannel() : &BusChannel();
  }

  bool DprReachable(int device) override { return HasDriverDevice(device); }

  int TestDprAvailable(int device, const SharedDeviceBlock& block) override {
    if (!kind_.driver_dpr_test)
      return TestDprByCommands(LibraryCommandPath(), device, block.CardType);
    const platform::IoControlResult r =
        DriverIoctl(device, drivers::IOCTL_ZIMO_DPR_AVAILABLE, nullptr, 0, nullptr, 0);
    return r.ok && r.bytes_returned != 0 ? 1 : 0;
  }

  bool DprRead(int device, std::uint32_t offset, std::uint32_t length, void* destination) override {
    if (length == 0) return true;
    // Read into a buffer of our own: the caller's stays untouched unless the
    // driver delivered the whole block.
    std::vector<std::uint8_t> block(length);
    const platform::IoControlResult r = DriverIoctl(device, drivers::IOCTL_ZIMO_DPR_READ, &offset,
                                                    sizeof offset, block.data(), length);
    if (!r.ok || r.bytes_returned != length) return false;
    std::memcpy(destination, block.data(), length);
    return true;
  }

  bool DprWrite(int device, std::uint32_t offset, std::uint32_t length,
                const void* source) override {
    if (length == 0) return true;
    // The driver takes the offset from the output buffer.
    std::uint32_t offset_argument = offset;
    const platform::IoControlResult r =
        DriverIoctl(device, drivers::IOCTL_ZIMO_DPR_WRITE, source, length, &offset_argument,
                    sizeof offset_argument);
    return r.ok;
  }

  bool DprWriteWord(int device, std::uint32_t offset, std::uint16_t value) override {
    if (!kind_.single_word_write) return DprWrite(device, offset, sizeof value, &value);
    std::uint32_t offset_argument = offset;
    return DriverIoctl(device, drivers::IOCTL_ZIMO_DPR_WRITE_WORD, &value, sizeof value,
                       &offset_argument, sizeof offset_argument)
        .ok;
  }

  bool DprGetBits(int device, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
                  std::uint32_t* value) override {
    drivers::ZimoDprBitsRecord record = FieldRecord(offset, first, count, 0);
    if (!BusBits(device, drivers::IOCTL_ZIMO_DPR_GET_BITS, record)) return false;
    *value = record.value;
    return true;
  }

  bool DprSetBits(int device, std::uint32_t offset, std::uint16_t first, std::uint16_t count,
                  std::uint32_t value) override {
    drivers::ZimoDprBitsRecord record = FieldRecord(offset, first, count, value);
    return BusBits(device, drivers::IOCTL_ZIMO_DPR_SET_BITS, record);
  }

  bool DprGetBit(int device, std::uint32_t offset, std::uint32_t bit,
                 std::uint32_t* value) override {
    drivers::ZimoDprBitsRecord record = BitRecord(offset, bit, 0);
    if (!BusBits(device, drivers::IOCTL_ZIMO_DPR_GET_BIT, record)) return false;
    *value = record.value != 0 ? 1 : 0;
    return true;
  }

  bool DprSetBit(int device, std::uint32_t offset, std::uint32_t bit,
                 std::uint32_t value) override {
    drivers::ZimoDprBitsRecord record = BitRecord(offset, bit, value != 0 ? 1 : 0);
    return BusBits(device, drivers::IOCTL_ZIMO_DPR_SET_BIT, record);
  }

  bool HasInterrupts() const override { return kind_.interrupts; }
  bool HasDprMailbox() const override { return kind_.interrupts; }

 private:
  BusKind kind_;
};

}  // namespace

Transport& IsaTransport() {
  static BusTransport* const transport =
      new BusTransport(BusKind{kLocationIsa, true, true, true, true});
  return *transport;
}

Transport& PciTransport() {
  static BusTransport* const transport =
      new BusTransport(BusKind{kLocationPci, true, true, true, true});
  return *transport;
}

Transport& UsbTransport() {
  static BusTransport* const transport =
      new BusTransport(BusKind{kLocationUsb, false, false, false, false});
  return *transport;
}

}  // namespace zimo::corvan
