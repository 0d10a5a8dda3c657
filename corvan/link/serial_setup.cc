#include "link/serial_setup.h"

#include "link/device_registry.h"
#include "platform/debug.h"

namespace zimo::corvan {
namespace {

namespace dcb = platform::dcb;

platform::Dcb ToPortDcb(const SerialDcbRecord& r) {
  platform::Dcb d;
  d.dcb_length = r.DCBlength;
  d.baud_rate = r.BaudRate;
  d.flags = r.Flags;
  d.reserved = r.Reserved;
  d.xon_lim = r.XonLim;
  d.xoff_lim = r.XoffLim;
  d.byte_size = r.ByteSize;
  d.parity = r.Parity;
  d.stop_bits = r.StopBits;
  d.xon_char = r.XonChar;
  d.xoff_char = r.XoffChar;
  d.error_char = r.ErrorChar;
  d.eof_char = r.EofChar;
  d.evt_char = r.EvtChar;
  d.reserved1 = r.Reserved1;
  return d;
}

SerialDcbRecord ToRecord(const platform::Dcb& d) {
  SerialDcbRecord r;
  r.DCBlength = d.dcb_length;
  r.BaudRate = d.baud_rate;
  r.Flags = d.flags;
  r.Reserved = d.reserved;
  r.XonLim = d.xon_lim;
  r.XoffLim = d.xoff_lim;
  r.ByteSize = d.byte_size;
  r.Parity = d.parity;
  r.StopBits = d.stop_bits;
  r.XonChar = d.xon_char;
  r.XoffChar = d.xoff_char;
  r.ErrorChar = d.error_char;
  r.EofChar = d.eof_char;
  r.EvtChar = d.evt_char;
  r.Reserved1 = d.reserved1;
  return r;
}

// The line settings a serial device runs with, over what the port reported.
void ApplyDeviceSettings(const SharedDeviceBlock& shared, SerialDcbRecord& d) {
  d.Flags |= kDcbBinary;
  d.Flags =
      (shared.SerialCTSOutput & 1u) != 0 ? d.Flags | kDcbOutxCtsFlow : d.Flags & ~kDcbOutxCtsFlow;
  d.Flags &= ~(kDcbOutxDsrFlow | kDcbDtrControlMask | kDcbDsrSensitivity | kDcbOutX | kDcbInX);
  const std::uint32_t rts = shared.SerialRTSControl <= dcb::kRtsControlToggle
                                ? shared.SerialRTSControl
                                : dcb::kRtsControlEnable;
  d.Flags = (d.Flags & ~kDcbRtsControlMask) | (rts << kDcbRtsControlShift);
  d.StopBits = shared.SerialBaudrate > kTwoStopBitsAbove ? dcb::kTwoStopBits : dcb::kOneStopBit;
  d.BaudRate = shared.SerialBaudrate;
  d.Parity = static_cast<std::uint8_t>(shared.SerialParity & 0xFF);
  d.ByteSize = d.Parity != dcb::kNoParity ? 7 : 8;
}

}  // namespace

int SetupSerialPort(int device, SharedDeviceBlock& shared, platform::SerialPort& port) {
  GetDeviceLocationDword(device, "SerialPortNumber", &shared.SerialPortNumber, 0);
  GetDeviceLocationDword(device, "SerialBaudrate", &shared.SerialBaudrate, 38400);
  GetDeviceLocationDword(device, "SerialParity", &shared.SerialParity, 0);
  GetDeviceLocationDword(device, "SerialRTSControl", &shared.SerialRTSControl, 1);
  GetDeviceLocationDword(device, "SerialCTSOutput", &shared.SerialCTSOutput, 1);
  GetDeviceLocationDword(device, "SerCharTimeout", &shared.SerCharTimeout, 2000);
  GetDeviceLocationDword(device, "SerFlushTimeout", &shared.SerFlushTimeout, 30);

  if (!port.SetupComm(kSerialInQueue, kSerialOutQueue).ok()) {
    platform::DebugOutput("SetupComm() API  failed");
    return 0;
  }
  if (!ReadSerialState(shared, port)) {
    platform::DebugOutput("GetCommState() API  failed");
    return 0;
  }
  ApplyDeviceSettings(shared, shared.SerialDcb);
  ApplySerialState(shared, port);
  // Reaches the port with the next apply (the communication handshake's).
  shared.SerialDcb.EvtChar = '\r';

  // The time-outs the serial transport counts on. (Every field is set, so
  // what the port had before does not matter.)
  SerialTimeoutsRecord& t = shared.SerialTimeouts;
  t = {1000, 0, 2000, 0, 1000};
  const platform::CommTimeouts wanted{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                      t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                      t.WriteTotalTimeoutConstant};
  if (!port.SetCommTimeouts(wanted).ok()) {
    platform::DebugOutput("SetCommTimeouts() API  failed");
    return 0;
  }
  return 1;
}

int ReadSerialState(SharedDeviceBlock& shared, const platform::SerialPort& port) {
  shared.SerialDcb.DCBlength = sizeof(SerialDcbRecord);
  platform::Result<platform::Dcb> state = port.GetCommState();
  if (!state.ok()) return 0;
  shared.SerialDcb = ToRecord(*state);
  shared.SerialDcb.DCBlength = sizeof(SerialDcbRecord);
  return 1;
}

int ApplySerialState(const SharedDeviceBlock& shared, platform::SerialPort& port) {
  return port.SetCommState(ToPortDcb(shared.SerialDcb)).ok() ? 1 : 0;
}

int TransmitSerialChar(platform::SerialPort& port, char c) {
  return port.TransmitCommChar(c).ok() ? 1 : 0;
}

int PurgeSerialPort(platform::SerialPort& port) {
  namespace comm = platform::comm;
  return port.PurgeComm(comm::kPurgeTxAbort | comm::kPurgeRxAbort | comm::kPurgeTxClear |
                        comm::kPurgeRxClear)
                 .ok()
             ? 1
             : 0;
}

}  // namespace zimo::corvan
