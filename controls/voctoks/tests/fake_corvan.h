// The state of the stand-in communications library the control tests load:
// what it answers, and a record of every call that reached it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FakeCorvanState {
  int32_t device_count = 2;
  int32_t open_result = 1;
  int32_t close_result = 1;
  int32_t dpram_available = 1;
  int32_t error_code = 0;
  std::string error_text;
  // The reply GetResponse, GetControlResponse and GetBuffer copy, and the
  // count they return (the reply's length when -1).
  std::string reply;
  int64_t reply_count = -1;
  int32_t select_result = -1;
  uint32_t send_line_result = 1;
  // Lines ZimoGetLineA hands out, then 0.
  std::vector<std::string> lines;
  size_t next_line = 0;
  // The download: messages and progress reported, then the result.
  std::vector<std::string> download_messages;
  std::vector<int32_t> download_progress;
  int32_t download_result = 1;
  uint16_t word = 0;
  uint32_t dword = 0;
  // The unsolicited ring: bytes copied (without terminator) and the result.
  std::string unsolicited;
  int32_t unsolicited_result = 1;
  // Whether the buffer of the last take was all zero (its limit's byte
  // after it included) when it was handed over.
  bool unsolicited_buffer_was_empty = false;
  std::vector<std::string> calls;

  void Reset() { *this = FakeCorvanState(); }
  // The calls whose text starts with `prefix`.
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : calls) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
};

extern "C" FakeCorvanState* FakeCorvan();
