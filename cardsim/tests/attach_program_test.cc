// zimo-cardsim as a program: it announces its ports on standard output,
// serves them, takes control commands on standard input and ends on the end
// of its input or a signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "cardsim/attach_requests.h"
#include "loopback_address.h"
#include "platform/serial_port.h"
#include "temp_home.h"

namespace zimo::cardsim {
namespace {

using namespace std::string_literals;
namespace rq = request;

// The program, with pipes on its standard input, output and error.
class Sim {
 public:
  explicit Sim(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      return;
    }
    const std::string program = (testing::BinDir() / "zimo-cardsim").string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
  }
  ~Sim() {
    CloseInput();
    if (pid_ > 0 && !exit_code_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(stdout_);
    ::close(stderr_);
  }

  // The next line of standard output, or nothing within `ms`.
  std::optional<std::string> Line(int ms = kAnswerMs) {
    for (;;) {
      if (const size_t nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, ms) <= 0) return std::nullopt;
      char chunk[1024];
      const ssize_t n = ::read(stdout_, chunk, sizeof(chunk));
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Lines up to "ready" (the port announcements).
  std::vector<std::string> Announcements() {
    std::vector<std::string> lines;
    while (std::optional<std::string> line = Line()) {
      if (*line == "ready") return lines;
      lines.push_back(*line);
    }
    ADD_FAILURE() << "no \"ready\"; stderr: " << Errors();
    return lines;
  }
  // Sends a control command; returns its output lines up to "ok" or "error ...".
  std::vector<std::string> Command(const std::string& command) {
    const std::string line = command + "\n";
    EXPECT_EQ(::write(stdin_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    std::vector<std::string> out;
    while (std::optional<std::string> l = Line()) {
      out.push_back(*l);
      if (*l == "ok" || l->rfind("error", 0) == 0) break;
    }
    return out;
  }
  void CloseInput() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }
  void Signal(int signal_number) { ::kill(pid_, signal_number); }
  // The exit code, or -1 when the program still runs after `ms`.
  int Wait(int ms = kAnswerMs) {
    for (int waited = 0; waited <= ms; waited += 10) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return *exit_code_;
      }
      ::usleep(10000);
    }
    return -1;
  }
  std::string Errors() {
    std::string text;
    pollfd p{stderr_, POLLIN, 0};
    char chunk[1024];
    while (::poll(&p, 1, 100) > 0) {
      const ssize_t n = ::read(stderr_, chunk, sizeof(chunk));
      if (n <= 0) break;
      text.append(chunk, static_cast<size_t>(n));
    }
    return text;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1, stderr_ = -1;
  std::string buffer_;
  std::optional<int> exit_code_;
};

// One request over UDP; the answer, or nothing within `ms`.
std::optional<std::string> UdpAsk(const std::string& address, uint8_t type, uint8_t code,
                                  const std::string& payload, uint16_t length, int ms = kAnswerMs) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(1025);
  ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  const std::string packet = RequestHeader{type, code, 0, 0, length}.Encode() + payload;
  ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
  std::optional<std::string> answer;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, ms) > 0) {
    char buffer[2048];
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n >= 0) answer = std::string(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return answer;
}

std::optional<std::string> UdpCommand(const std::string& address, const std::string& line,
                                      int ms = kAnswerMs) {
  return UdpAsk(address, rq::kHostToCard, rq::kGetResponse, line,
                static_cast<uint16_t>(line.size()), ms);
}

TEST(ProgramTest, AnnouncesAndServesItsPortsUntilInputEnds) {
  const std::string address = UniqueAddress();
  Sim sim({"--pty", "--eth", address, "--no-servo"});
  const std::vector<std::string> ports = sim.Announcements();
  ASSERT_EQ(ports.size(), 3u);
  ASSERT_EQ(ports[0].rfind("pty /dev/", 0), 0u) << ports[0];
  EXPECT_EQ(ports[1], "udp " + address + ":1025");
  EXPECT_EQ(ports[2], "tcp " + address + ":1025");

  // The serial port.
  const int tty = ::open(ports[0].substr(4).c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(tty, 0);
  termios tio{};
  ::tcgetattr(tty, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(tty, TCSANOW, &tio);
  ASSERT_EQ(::write(tty, "P5=55 P5\r", 9), 9);
  std::string reply;
  pollfd p{tty, POLLIN, 0};
  char c = 0;
  while (c != '\x06' && ::poll(&p, 1, kAnswerMs) > 0 && ::read(tty, &c, 1) == 1) reply += c;
  ::close(tty);
  EXPECT_EQ(reply, "55\r\x06");

  // The same card over Ethernet.
  EXPECT_EQ(UdpCommand(address, "P5"), "55\r\x06");

  // Scripting on standard input.
  EXPECT_EQ(sim.Command("mute on"), std::vector<std::string>{"ok"});
  EXPECT_EQ(UdpCommand(address, "P5", kSilenceMs), std::nullopt);
  EXPECT_EQ(sim.Command("mute off"), std::vector<std::string>{"ok"});
  EXPECT_EQ(sim.Command("unsolicited LIMIT 3"), std::vector<std::string>{"ok"});
  EXPECT_EQ(UdpAsk(address, rq::kHostToCard, rq::kReadPending, "", 1400), "\x02LIMIT 3\r");
  EXPECT_EQ(sim.Command("error 9 1"), std::vector<std::string>{"ok"});
  EXPECT_EQ(UdpCommand(address, "P5"), "\aERR009\r");
  const std::vector<std::string> log = sim.Command("log");
  EXPECT_NE(std::find(log.begin(), log.end(), "log P5=55 P5"), log.end());
  EXPECT_EQ(log.back(), "ok");
  EXPECT_EQ(sim.Command("frobnicate").front().rfind("error unknown command", 0), 0u);
  EXPECT_EQ(sim.Command("delay soon").front().rfind("error", 0), 0u);

  sim.CloseInput();
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(ProgramTest, ConfigurationFileChoosesTheCard) {
  testing::TempHome home;
  const std::string address = UniqueAddress();
  const std::string config = (home.path() / "card.conf").string();
  std::ofstream(config) << "# a SPRAN card that fails its first line\n"
                           "model spran\n"
                           "version = 9.99\n"
                           "udp " + address + "\n"
                           "error 7\n";
  Sim sim({"--config", config, "--no-stdin", "--no-servo"});
  EXPECT_EQ(sim.Announcements(), std::vector<std::string>{"udp " + address + ":1025"});
  EXPECT_EQ(UdpCommand(address, "VER"), "\aERR007\r");
  EXPECT_EQ(UdpCommand(address, "VER"), "9.99\r\x06");
  EXPECT_EQ(UdpCommand(address, "TYPE"), "SPRAN2\r\x06");
  // Standard input is not read: only a signal ends it.
  sim.CloseInput();
  EXPECT_EQ(sim.Wait(kSilenceMs), -1);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(ProgramTest, BadOptionsAreRefusedWithAReason) {
  testing::TempHome home;
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--udp", "300.1.1.1"},
      {"--udp", "127.0.0.1:70000"},
      {"--model", "newest"},
      {"--error", "abc"},
      {"--motors", "99"},
      {"--plant", "seesaw"},
      {"--pty", "yes"},
      {"--com", "0"},
      {"--config", (home.path() / "missing.conf").string()},
      {"stray"},
  };
  for (const auto& args : cases) {
    Sim sim(args);
    EXPECT_EQ(sim.Wait(), 2) << args[0];
    EXPECT_NE(sim.Errors().find("zimo-cardsim: "), std::string::npos) << args[0];
  }
}

TEST(ProgramTest, SignalEndsItAndTakesBackTheComPort) {
  testing::TempHome home;
  Sim sim({"--com", "5"});
  const std::vector<std::string> ports = sim.Announcements();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ("pty " + platform::ResolveComPort(5)->string(), ports[0]);
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_NE("pty " + platform::ResolveComPort(5)->string(), ports[0]);
}

}  // namespace
}  // namespace zimo::cardsim
