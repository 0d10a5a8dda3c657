// A zimo-drvhost process for a test, with its control connection.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/host_config.h"
#include "platform/process.h"
#include "platform/unix_socket.h"
#include "temp_home.h"

namespace zimo::drivers::testing {

// Sends one control line and returns the reply line.
inline std::string Control(platform::UnixConnection& c, const std::string& line) {
  const std::string out = line + "\n";
  if (!c.SendAll(out.data(), out.size()).ok()) return "send failed";
  std::string reply;
  char ch;
  while (c.RecvExact(&ch, 1, std::chrono::seconds(30)).ok()) {
    if (ch == '\n') return reply;
    reply += ch;
  }
  return "no reply";
}

inline platform::Result<platform::UnixConnection> ConnectControl() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    auto c = platform::UnixConnection::Connect(host::ControlSocketPath(), std::chrono::seconds(1));
    if (c.ok() && Control(*c, "ping") == "ok") return c;
    if (std::chrono::steady_clock::now() > deadline) {
      return platform::Status(platform::Code::kTimeout, "the driver host did not come up");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

class HostProcess {
 public:
  // Starts zimo-drvhost with these cards (and no registry cards), their
  // servo clocks stopped unless `running_clocks`: the tests step them
  // ("servo ID N").
  explicit HostProcess(const std::vector<std::string>& cards, bool registry = false,
                       bool running_clocks = false) {
    std::vector<std::string> argv = {(zimo::testing::BinDir() / "zimo-drvhost").string()};
    if (!running_clocks) argv.push_back("--manual-clock");
    if (!registry) argv.push_back("--no-registry");
    for (const std::string& card : cards) {
      argv.push_back("--card");
      argv.push_back(card);
    }
    auto spawned = platform::Spawn(argv);
    EXPECT_TRUE(spawned.ok()) << spawned.status().ToString();
    if (spawned.ok()) process_ = std::move(spawned.value());
    auto control = ConnectControl();
    EXPECT_TRUE(control.ok()) << control.status().ToString();
    if (control.ok()) control_ = std::move(control.value());
  }
  ~HostProcess() {
    if (control_.is_open()) Control(control_, "quit");
    if (process_.valid() && !process_.Wait(std::chrono::seconds(20)).ok()) {
      (void)process_.Signal(9);
      (void)process_.Wait();
    }
  }
  std::string Command(const std::string& line) { return Control(control_, line); }
  platform::Process& process() { return process_; }

 private:
  platform::Process process_;
  platform::UnixConnection control_;
};

}  // namespace zimo::drivers::testing
