// What the serial benchmarks share: a simulated card on a pseudo-terminal
// registered as COM1 and opened as device 0 through the library (in the
// server's build, so the shared table is the program's own), and for the
// baseline exchanges a second card of the same model on a line of its own,
// set to the library's line mode and read directly by this program. The two
// never read each other's bytes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "corvan/device_api.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "link/serial_transport.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "temp_home.h"
#include "tests/library_harness.h"

namespace zimo::bench {

// The card on a pseudo-terminal registered as COM1, device 0, opened through the library in the
// server's build (the table is this program's own); beside it the baseline's own card and line.
class Bench {
 public:
  Bench() : card_(cardsim::CardModel::Older()), direct_card_(cardsim::CardModel::Older()) {
    auto pty = cardsim::PtyAttachment::Start(card_);
    if (!pty.ok()) Fail(pty.status().ToString());
    pty_ = std::move(pty.value());
    if (!platform::RegisterComPort(1, pty_->slave_path()).ok()) Fail("COM1");
    if (corvan::RegisterDevice(0, corvan::kLocationSerial, 1, nullptr) != 1) Fail("Device0");

    table_.AddSlot(0, corvan::kLocationSerial, 1);
    {
      corvan::testing::LibraryClock fast;
      if (OpenZimoDevice(0) != 1) Fail("OpenZimoDevice(0)");
    }
    auto direct_pty = cardsim::PtyAttachment::Start(direct_card_);
    if (!direct_pty.ok()) Fail(direct_pty.status().ToString());
    direct_pty_ = std::move(direct_pty.value());
    direct_ = ::open(direct_pty_->slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (direct_ < 0) Fail("open the baseline's port");
    // The line mode the library left on its port (raw: no echo, no line
    // editing, no translation, reads return what came), set here on the
    // baseline's own line.
    const platform::SerialPort* port = corvan::SerialPortOf(0);
    termios mode{};
    if (port == nullptr || ::tcgetattr(port->fd(), &mode) != 0) Fail("read the library's line");
    if ((mode.c_lflag & (ICANON | ECHO)) != 0 || (mode.c_oflag & OPOST) != 0) {
      Fail("the library's line is not raw");
    }
    if (::tcsetattr(direct_, TCSANOW, &mode) != 0) Fail("set the baseline's line");
    // Both cards have answered once before anything is measured.
    char reply[64];
    if (!DirectExchange("I10", reply, sizeof reply)) Fail("the baseline's first exchange");
  }
  ~Bench() {
    ::close(direct_);
    direct_pty_->Stop();
    ShutdownZimoDevice(0, 1);
    corvan::App().End();
    pty_->Stop();
  }

  std::string home() const { return home_.path().string(); }

  // The direct exchange of one line on the baseline's line: the line out,
  // then everything up to the ACK.
  bool DirectExchange(const std::string& line, char* buffer, size_t size) {
    const std::string out = line + "\r";
    if (::write(direct_, out.data(), out.size()) != static_cast<ssize_t>(out.size())) {
      return false;
    }
    size_t n = 0;
    while (n < size) {
      pollfd p{direct_, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) return false;
      const ssize_t got = ::read(direct_, buffer + n, size - n);
      if (got <= 0) return false;
      n += static_cast<size_t>(got);
      if (buffer[n - 1] == 0x06) return true;
    }
    return false;
  }

 private:
  [[noreturn]] static void Fail(const std::string& what) {
    std::fprintf(stderr, "bench: %s failed\n", what.c_str());
    std::exit(1);
  }

  zimo::testing::TempHome home_;
  cardsim::Card card_;
  std::unique_ptr<cardsim::PtyAttachment> pty_;
  corvan::testing::OwnDeviceTable table_;
  cardsim::Card direct_card_;
  std::unique_ptr<cardsim::PtyAttachment> direct_pty_;
  int direct_ = -1;
};

inline Bench& TheBench() {
  static Bench bench;
  return bench;
}

}  // namespace zimo::bench
