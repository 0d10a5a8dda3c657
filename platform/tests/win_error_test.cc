#include "platform/win_error.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace zimo::platform {
namespace {

struct ErrnoCase {
  int err;
  uint32_t win32;   // Win32ErrorFromErrno
  int wsa;          // WsaErrorFromErrno, any call but a receive
  int wsa_receive;  // WsaErrorFromErrno on a receive
};

// The numbers the library's texts and prompts test, and the file and device
// errors its callers report.
const ErrnoCase kCases[] = {
    {0, 0, 0, 0},
    // A receive time-out (SO_RCVTIMEO expiry is EAGAIN) is WSAETIMEDOUT.
    {EAGAIN, win32::kErrorGenFailure, 10035, 10060},
    {ETIMEDOUT, 1460, 10060, 10060},
    // Refused and reset both read as WSAECONNRESET: the teardown tests 10054.
    {ECONNREFUSED, 10054, 10054, 10054},
    {ECONNRESET, 10054, 10054, 10054},
    {EPIPE, 109, 10054, 10054},
    {ECONNABORTED, 10053, 10053, 10053},
    {EMFILE, 4, 10024, 10024},
    {EMSGSIZE, 10040, 10040, 10040},
    {ENOBUFS, 1450, 10055, 10055},
    {ENETDOWN, 10050, 10050, 10050},
    {ENETUNREACH, 10051, 10051, 10051},
    {EHOSTUNREACH, 10065, 10065, 10065},
    {EADDRINUSE, 10048, 10048, 10048},
    {EADDRNOTAVAIL, 10049, 10049, 10049},
    {EINVAL, 87, 10022, 10022},
    {ENOTCONN, 10057, 10057, 10057},
    {EISCONN, 10056, 10056, 10056},
    {EINPROGRESS, 10036, 10036, 10036},
    {EAFNOSUPPORT, 10047, 10047, 10047},
    {ENOTSOCK, 10038, 10038, 10038},
    {EBADF, 6, 10038, 10038},
    {EINTR, 995, 10004, 10004},
    {EACCES, 5, 10013, 10013},
    {EPERM, 5, 10013, 10013},
    {ENOENT, 2, 10107, 10107},
    {ENODEV, 2, 10107, 10107},
    {ENOTDIR, 3, 10107, 10107},
    {ENOMEM, 8, 10055, 10055},
    {EEXIST, 183, 10107, 10107},
    {EBUSY, 170, 10107, 10107},
    {ENOTTY, 1, 10107, 10107},
    {ENOSPC, 112, 10107, 10107},
    {ENAMETOOLONG, 206, 10107, 10107},
    {EIO, 1117, 10107, 10107},
    {EDOM, win32::kErrorGenFailure, wsa::kSysCallFailure, wsa::kSysCallFailure},
};

TEST(WinErrorTest, ErrnoMapsToWin32AndWindowsSocketsNumbers) {
  for (const ErrnoCase& c : kCases) {
    SCOPED_TRACE(testing::Message() << "errno " << c.err);
    EXPECT_EQ(Win32ErrorFromErrno(c.err), c.win32);
    EXPECT_EQ(WsaErrorFromErrno(c.err), c.wsa);
    EXPECT_EQ(WsaErrorFromErrno(c.err, SocketCall::kReceive), c.wsa_receive);
  }
}

TEST(WinErrorTest, StatusMapsByErrnoElseByCode) {
  struct StatusCase {
    Status status;
    uint32_t win32;
    int wsa;
  };
  const StatusCase cases[] = {
      {Status::Ok(), 0, 0},
      // A time-out is a time-out whatever errno came with it.
      {Status(Code::kTimeout, "recv", EAGAIN), 1460, 10060},
      {Status(Code::kTimeout, "wait"), 1460, 10060},
      {Status(Code::kClosed, "send", EPIPE), 109, 10054},
      {Status::FromErrno("open", ENOENT), 2, 10107},
      {Status(Code::kNotFound, "no such key"), 2, 10107},
      {Status(Code::kInvalidArgument, "bad size"), 87, 10022},
      {Status(Code::kAlreadyExists, "exists"), 183, 10107},
      {Status(Code::kAbandoned, "owner died"), 735, 10107},
      {Status(Code::kBadData, "truncated"), 13, 10040},
      {Status(Code::kUnsupported, "no modem lines"), 50, 10045},
      {Status(Code::kOsError, "something"), win32::kErrorGenFailure, wsa::kSysCallFailure},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.status.ToString());
    EXPECT_EQ(Win32ErrorFromStatus(c.status), c.win32);
    EXPECT_EQ(WsaErrorFromStatus(c.status), c.wsa);
  }
  EXPECT_EQ(WsaErrorFromStatus(Status(Code::kOsError, "recv", EAGAIN), SocketCall::kReceive),
            10060);
}

}  // namespace
}  // namespace zimo::platform
