#include "platform/status.h"

#include <cstring>

namespace zimo::platform {

Status Status::FromErrno(std::string_view what, int err) {
  Code code = Code::kOsError;
  switch (err) {
    case ENOENT: code = Code::kNotFound; break;
    case EEXIST: code = Code::kAlreadyExists; break;
    case ETIMEDOUT: code = Code::kTimeout; break;
    case EINVAL: code = Code::kInvalidArgument; break;
    case EPIPE:
    case ECONNRESET: code = Code::kClosed; break;
    case ENOSYS:
    case EOPNOTSUPP: code = Code::kUnsupported; break;
    default: break;
  }
  return Status(code, std::string(what), err);
}

std::string Status::ToString() const {
  if (ok()) return "ok";
  std::string text = message_.empty() ? CodeName(code_) : message_;
  if (os_error_ != 0) {
    char buf[128];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* s = strerror_r(os_error_, buf, sizeof buf);
    text += ": ";
    text += s;
    text += " (errno " + std::to_string(os_error_) + ")";
  }
  return text;
}

const char* CodeName(Code code) {
  switch (code) {
    case Code::kOk: return "ok";
    case Code::kInvalidArgument: return "invalid argument";
    case Code::kNotFound: return "not found";
    case Code::kAlreadyExists: return "already exists";
    case Code::kTimeout: return "timed out";
    case Code::kAbandoned: return "abandoned";
    case Code::kBadData: return "bad data";
    case Code::kClosed: return "closed";
    case Code::kUnsupported: return "unsupported";
    case Code::kOsError: return "operating-system error";
  }
  return "unknown";
}

}  // namespace zimo::platform
