// One result type for every platform call: what went wrong, the OS error
// behind it and a text that says what was being done.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace zimo::platform {

enum class Code {
  kOk = 0,
  kInvalidArgument,
  kNotFound,       // the named thing does not exist
  kAlreadyExists,  // created by someone else first (CreateMutex and friends still succeed)
  kTimeout,
  kAbandoned,      // a mutex whose owner died; the caller now owns it
  kBadData,        // a file or frame that does not parse
  kClosed,         // the peer or the object went away
  kUnsupported,
  kOsError,        // anything else; os_error() says what
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Code code, std::string message, int os_error = 0)
      : code_(code), os_error_(os_error), message_(std::move(message)) {}

  static Status Ok() { return {}; }
  // An OS failure: `what` names the operation, `err` is the errno value.
  static Status FromErrno(std::string_view what, int err);

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  int os_error() const { return os_error_; }
  const std::string& message() const { return message_; }
  // "message: strerror (errno n)" or "ok".
  std::string ToString() const;

 private:
  Code code_ = Code::kOk;
  int os_error_ = 0;
  std::string message_;
};

const char* CodeName(Code code);

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}          // NOLINT: implicit by design
  Result(Status status) : v_(std::move(status)) {}   // NOLINT: implicit by design

  bool ok() const { return std::holds_alternative<T>(v_); }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<T>(v_); }
  const T& value() const& { return std::get<T>(v_); }
  T&& value() && { return std::get<T>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  // The failure; Status::Ok() when there is a value.
  Status status() const { return ok() ? Status::Ok() : std::get<Status>(v_); }

 private:
  std::variant<T, Status> v_;
};

}  // namespace zimo::platform
