// A card for the tuning tests that answers every line with ACK (or a set
// reply) and can fall silent after a given number of lines, recording
// everything it was sent.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "link/variables.h"

namespace zimo::corvan::testing {

class TuningPath : public CardCommandPath {
 public:
  // Lines after the first `lines` get no answer at all (time-out).
  void SilentAfter(int lines) { silent_after_ = lines; }
  void Reply(const std::string& command, std::string reply, std::uint32_t status = kStatusAck) {
    replies_[command] = {std::move(reply), status};
  }

  std::uint32_t GetResponseEx(int, char* buffer, std::uint32_t size, const char* command) override {
    sent.emplace_back(command);
    buffer[0] = '\0';
    if (silent_after_ >= 0 && static_cast<int>(sent.size()) > silent_after_) return kStatusTimeout;
    auto it = replies_.find(command);
    if (it == replies_.end()) return kStatusAck;
    const std::size_t n = std::min<std::size_t>(it->second.first.size(), size);
    std::memcpy(buffer, it->second.first.data(), n);
    buffer[n] = '\0';
    return it->second.second | static_cast<std::uint32_t>(n);
  }
  std::uint32_t GetLine(int, char* buffer, std::uint32_t) override {
    buffer[0] = '\0';
    return 0;
  }
  void SendCommand(int, const char* command) override { sent.emplace_back(command); }
  void ChangeStore(int, const char*) override {}
  void Lock(int) override {}
  void Unlock(int) override {}

  std::vector<std::string> sent;

 private:
  int silent_after_ = -1;
  std::map<std::string, std::pair<std::string, std::uint32_t>> replies_;
};

}  // namespace zimo::corvan::testing
