#include "cardsim/attach_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>

#include "platform/registry.h"
#include "platform/serial_port.h"

namespace zimo::cardsim {
namespace {

using platform::Result;
using platform::Status;
using Clock = std::chrono::steady_clock;

}  // namespace

PtyAttachment::PtyAttachment(Card& card, const PtyOptions& options)
    : card_(card), options_(options), line_rate_(options.line_rate) {}

Result<std::unique_ptr<PtyAttachment>> PtyAttachment::Start(Card& card, const PtyOptions& options) {
  std::unique_ptr<PtyAttachment> pty(new PtyAttachment(card, options));
  pty->master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!pty->master_) return Status::FromErrno("posix_openpt", errno);
  if (::grantpt(pty->master_.get()) != 0) return Status::FromErrno("grantpt", errno);
  if (::unlockpt(pty->master_.get()) != 0) return Status::FromErrno("unlockpt", errno);
  char name[128];
  if (::ptsname_r(pty->master_.get(), name, sizeof(name)) != 0) {
    return Status::FromErrno("ptsname", errno);
  }
  pty->slave_path_ = name;
  platform::UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave) return Status::FromErrno("open " + pty->slave_path_, errno);
  // Opened and closed once, so that the master sees a hang-up until a host
  // opens the line. Its settings stay as a fresh port has them: setting the
  // line up is the host's business, as on a real serial port.
  slave.reset();
  pty->wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!pty->wake_) return Status::FromErrno("eventfd", errno);
  if (options.com_port != 0) {
    if (Status s = platform::RegisterComPort(options.com_port, pty->slave_path_); !s.ok()) {
      return Status(s.code(), "register " + pty->slave_path_ + " as COM" +
                                  std::to_string(options.com_port) + ": " + s.message(),
                    s.os_error());
    }
  }
  pty->thread_ = std::thread([p = pty.get()] { p->Run(); });
  return pty;
}

PtyAttachment::~PtyAttachment() { Stop(); }

void PtyAttachment::Stop() {
  if (stopping_.exchange(true)) return;
  const uint64_t one = 1;
  if (wake_) (void)::write(wake_.get(), &one, sizeof(one));
  if (thread_.joinable()) thread_.join();
  if (options_.com_port != 0) {
    // Only while the entry is still ours: another port may have taken the
    // number since.
    auto key = platform::RegistryKey::Open(platform::kHkeyLocalMachine,
                                           "HARDWARE\\DEVICEMAP\\SERIALCOMM");
    if (key.ok()) {
      auto data = key->GetString(slave_path_);
      if (data.ok() && *data == "COM" + std::to_string(options_.com_port)) {
        (void)key->DeleteValue(slave_path_);
      }
    }
  }
}

void PtyAttachment::Run() {
  struct Chunk {
    std::string bytes;
    Clock::time_point due;
  };
  std::deque<Chunk> out;  // card output not yet written, in order
  char buffer[4096];
  const int period_ms = static_cast<int>(options_.unsolicited_poll.count());
  for (;;) {
    // Whether a host has the line open: without one the master hangs up.
    pollfd probe{master_.get(), POLLIN, 0};
    while (::poll(&probe, 1, 0) < 0 && errno == EINTR) {
    }
    const bool host = !(probe.revents & POLLHUP);
    if (!host && !(probe.revents & POLLIN)) {
      out.clear();  // what the card sent into a line nobody holds is lost
      pollfd wake{wake_.get(), POLLIN, 0};
      if (::poll(&wake, 1, period_ms) > 0) return;
      continue;
    }
    const Clock::time_point now = Clock::now();
    // Unsolicited messages go out between replies, never inside one.
    if (host && out.empty() && !card_.script().muted()) {
      std::string messages = card_.TakeStreamOutput();
      if (!messages.empty()) out.push_back({std::move(messages), now});
    }
    int timeout_ms = period_ms;
    bool want_write = false;
    if (!out.empty()) {
      if (out.front().due <= now) {
        want_write = true;
      } else {
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(out.front().due - now).count();
        timeout_ms = static_cast<int>(std::min<int64_t>(wait, timeout_ms));
      }
    }
    pollfd fds[2] = {{master_.get(), static_cast<short>(POLLIN | (want_write ? POLLOUT : 0)), 0},
                     {wake_.get(), POLLIN, 0}};
    const int n = ::poll(fds, 2, timeout_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents & POLLIN) return;
    if (fds[0].revents & POLLIN) {
      // A host that wrote and closed at once still gets its command run.
      const ssize_t got = ::read(master_.get(), buffer, sizeof(buffer));
      if (got > 0 && line_rate_.Hears(master_.get())) {
        // CTRL-X flushes: output still held back is dropped (in bootstrap
        // mode the byte may be firmware data instead).
        const std::string_view in(buffer, static_cast<size_t>(got));
        if (in.find(ctrl::kCtrlX) != std::string_view::npos && !card_.InBootstrap()) out.clear();
        std::chrono::microseconds delay{0};
        std::string bytes = card_.Feed(in, &delay);
        if (!bytes.empty()) out.push_back({std::move(bytes), Clock::now() + delay});
      }
    }
    if ((fds[0].revents & POLLOUT) && !out.empty() && out.front().due <= Clock::now()) {
      std::string& bytes = out.front().bytes;
      const ssize_t put = ::write(master_.get(), bytes.data(), bytes.size());
      if (put > 0) {
        bytes.erase(0, static_cast<size_t>(put));
        if (bytes.empty()) out.pop_front();
      }
    }
  }
}

}  // namespace zimo::cardsim
