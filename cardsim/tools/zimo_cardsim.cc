// zimo-cardsim: the simulated card as a program. It opens the ports asked
// for, says where they are on standard output (one machine-readable line
// each, then "ready"), and serves until SIGTERM, SIGINT, a "quit" command or
// the end of standard input.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cardsim/attach_eth.h"
#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "control_channel.h"
#include "sim_options.h"

namespace {

using zimo::cardsim::Card;
using zimo::cardsim::ControlResult;
using zimo::cardsim::EthAttachment;
using zimo::cardsim::PtyAttachment;
using zimo::cardsim::SimOptions;

void Say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "zimo-cardsim: %s\n", what.c_str());
  return 2;
}

// Serves until a signal, "quit" or the end of standard input.
void Serve(Card& card, const SimOptions& options, int signal_fd) {
  std::string pending;
  bool stdin_open = options.read_stdin;
  for (;;) {
    pollfd fds[2] = {{signal_fd, POLLIN, 0}, {stdin_open ? 0 : -1, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents & POLLIN) return;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[4096];
      const ssize_t n = ::read(0, buffer, sizeof(buffer));
      if (n <= 0) return;  // standard input closed
      pending.append(buffer, static_cast<size_t>(n));
      size_t nl;
      while ((nl = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        const ControlResult result = zimo::cardsim::RunControlCommand(card, line);
        for (const std::string& out : result.lines) Say(out);
        if (result.quit) return;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  zimo::platform::Result<SimOptions> parsed = zimo::cardsim::ParseSimOptions(args);
  if (!parsed) return Fail(parsed.status().message());
  const SimOptions& options = *parsed;
  if (options.help) {
    std::fputs(zimo::cardsim::SimUsage(), stdout);
    return 0;
  }

  // Signals are taken through a descriptor; every thread started below
  // inherits the mask, so none of them is interrupted by them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const int signal_fd = ::signalfd(-1, &signals, SFD_CLOEXEC);
  if (signal_fd < 0) return Fail("signalfd failed");
  ::signal(SIGPIPE, SIG_IGN);

  Card card(options.model);
  card.script().SetMuted(options.mute);
  card.firmware().set_expected_bytes(static_cast<size_t>(options.firmware_bytes));
  card.script().SetAckOmitted(options.ack_omitted);
  if (options.error != 0) card.script().InjectError(options.error, options.error_count);
  if (options.delay_ms > 0) {
    card.script().SetReplyDelay(std::chrono::milliseconds(options.delay_ms), options.delay_count);
  }
  for (const std::string& message : options.unsolicited) card.PostUnsolicited(message);
  for (const auto& [node, type] : options.ring) card.AddRingStation(node, type);
  if (options.silence_after >= 0)
    card.script().SilenceAfter(options.silence_after, options.silence_count);
  if (!options.silence_at.empty())
    card.script().SilenceAt(options.silence_at, options.silence_count);
  for (const auto& [space, address] : options.watch) {
    card.WatchWord(space == 'X' ? zimo::cardsim::Space::kX : zimo::cardsim::Space::kY, address);
  }
  card.SetChangeLogging(options.log_changes);
  for (const auto& f : options.faults) card.SetPlantFault(f.motor, f.load, f.stuck);
  for (const auto& [motor, positive] : options.limits) card.SetLimitSwitch(motor, positive, true);
  if (options.servo) card.StartServoClock(options.time_scale);

  std::unique_ptr<PtyAttachment> pty;
  if (options.pty) {
    zimo::cardsim::PtyOptions pty_options;
    pty_options.com_port = options.com_port;
    auto started = PtyAttachment::Start(card, pty_options);
    if (!started) return Fail("serial port: " + started.status().ToString());
    pty = std::move(*started);
    Say("pty " + pty->slave_path());
  }
  std::vector<std::unique_ptr<EthAttachment>> eth;
  for (const zimo::cardsim::EthOptions& e : options.eth) {
    auto started = EthAttachment::Start(card, e);
    if (!started) return Fail("Ethernet port: " + started.status().ToString());
    if (e.udp) Say("udp " + e.address + ":" + std::to_string((*started)->udp_port()));
    if (e.tcp) Say("tcp " + e.address + ":" + std::to_string((*started)->tcp_port()));
    eth.push_back(std::move(*started));
  }
  Say("ready");

  Serve(card, options, signal_fd);

  for (auto& e : eth) e->Stop();
  if (pty) pty->Stop();
  card.StopServoThread();
  ::close(signal_fd);
  return 0;
}
