// The comm-type dialog's logic ("Select a ZIMO Comm Type"): a choice
// between a serial port and Ethernet, serial at first. The caller turns the
// checked entry into a Location.
#pragma once

#include <cstdint>

namespace zimo::corvan::dialogs {

class CommType {
 public:
  static constexpr int kSerialPort = 0;
  static constexpr int kEthernet = 1;

  int index() const { return index_; }
  void Check(int index) {
    if (index == kSerialPort || index == kEthernet) index_ = index;
  }
  // 2 (serial) or 3 (Ethernet).
  static std::uint32_t LocationOf(int index) { return static_cast<std::uint32_t>(index + 2); }

 private:
  int index_ = kSerialPort;
};

}  // namespace zimo::corvan::dialogs
