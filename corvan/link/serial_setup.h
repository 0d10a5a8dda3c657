// Turning a serial device's settings into its port's line settings and
// time-outs. The serial state lives in the device's SharedDeviceBlock, so
// every process that uses the device sees the same settings and wait counts;
// the port is this process's open handle of the device.
#pragma once

#include <cstdint>
#include <functional>

#include "corvan/internal/shared_table.h"
#include "platform/serial_port.h"

namespace zimo::corvan {

// Queue sizes asked of the port.
inline constexpr std::uint32_t kSerialInQueue = 786432;
inline constexpr std::uint32_t kSerialOutQueue = 500;
// Above this rate the line runs with two stop bits.
inline constexpr std::uint32_t kTwoStopBitsAbove = 110000;

// Wait-loop calibration: how many 1 ms waits make up `timeout_ms`.
using WaitCalibration = std::function<std::uint32_t(std::uint32_t timeout_ms)>;

// Set-up after the port is open, for device `device` (0 to 7):
//  1. reads "SerialPortNumber" (0), "SerialBaudrate" (38400), "SerialParity"
//     (0), "SerialRTSControl" (1), "SerialCTSOutput" (1), "SerCharTimeout"
//     (2000) and "SerFlushTimeout" (30) of the device's per-location key
//     into `shared`;
//  2. calibrates SerCharWaitCount, then SerFlushWaitCount;
//  3. asks for the queue sizes;
//  4. reads the port's line settings into SerialDcb;
//  5. binary mode; CTS output flow = bit 0 of SerialCTSOutput; no DSR flow,
//     DTR disabled, no DSR sensitivity, no XON/XOFF; RTS control =
//     SerialRTSControl when 0 to 3, else 1 (enable); two stop bits above
//     110000 bits per second, else one; the rate; parity = low byte of
//     SerialParity with 7 data bits when not 0, else 8;
//  6. applies SerialDcb (its result is not checked);
//  7. makes CR the stored event character, for the next apply;
//  8. saves the current port time-outs in SerialTimeouts, then sets read
//     interval 1000 ms, read total 0 x n + 2000 ms, write total 0 x n + 1000 ms.
// 1 when the last write succeeds; 0 at the first failing port call (3, 4 or
// 8), with a debug line naming it. `shared` keeps what was stored up to then.
int SetupSerialPort(int device, SharedDeviceBlock& shared, platform::SerialPort& port,
                    const WaitCalibration& calibrate);

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
