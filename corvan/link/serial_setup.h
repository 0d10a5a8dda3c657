// Turning a serial device's settings into its port's line settings and
// time-outs. The serial state lives in the device's SharedDeviceBlock, so
// every process that uses the device sees the same settings; the port is
// this process's open handle of the device.
#pragma once

#include <cstdint>

#include "corvan/internal/shared_table.h"
#include "platform/serial_port.h"

namespace zimo::corvan {

// Queue sizes asked of the port.
inline constexpr std::uint32_t kSerialInQueue = 786432;
inline constexpr std::uint32_t kSerialOutQueue = 500;
// Above this rate the line runs with two stop bits.
inline constexpr std::uint32_t kTwoStopBitsAbove = 110000;

// Set-up after the port is open, for device `device` (0 to 7):
//  1. reads "SerialPortNumber" (0), "SerialBaudrate" (38400), "SerialParity"
//     (0), "SerialRTSControl" (1), "SerialCTSOutput" (1), "SerCharTimeout"
//     (2000) and "SerFlushTimeout" (30) of the device's per-location key
//     into `shared`;
//  2. asks for the queue sizes;
//  3. reads the port's line settings into SerialDcb;
//  4. binary mode; CTS output flow = bit 0 of SerialCTSOutput; no DSR flow,
//     DTR disabled, no DSR sensitivity, no XON/XOFF; RTS control =
//     SerialRTSControl when 0 to 3, else 1 (enable); two stop bits above
//     110000 bits per second, else one; the rate; parity = low byte of
//     SerialParity with 7 data bits when not 0, else 8;
//  5. applies SerialDcb (its result is not checked);
//  6. makes CR the stored event character, for the next apply;
//  7. saves the current port time-outs in SerialTimeouts, then sets read
//     interval 1000 ms, read total 0 x n + 2000 ms, write total 0 x n + 1000 ms.
// 1 when the last write succeeds; 0 at the first failing port call (2, 3 or
// 7), with a debug line naming it. `shared` keeps what was stored up to then.
// Nothing here waits: the transport times its reads by the clock in
// milliseconds, so no wait loop is calibrated (SerCharWaitCount and
// SerFlushWaitCount stay as they are).
int SetupSerialPort(int device, SharedDeviceBlock& shared, platform::SerialPort& port);

// Reads the port's line settings into SerialDcb (record length 28). 1 on
// success, else 0.
int ReadSerialState(SharedDeviceBlock& shared, const platform::SerialPort& port);
// Applies SerialDcb to the port. 1 on success, else 0.
int ApplySerialState(const SharedDeviceBlock& shared, platform::SerialPort& port);
// Sends one character ahead of the port's output queue. 1 on success, else 0.
int TransmitSerialChar(platform::SerialPort& port, char c);
// Discards both queues and aborts pending reads and writes. 1 on success.
int PurgeSerialPort(platform::SerialPort& port);

}  // namespace zimo::corvan
