// The jog-return write: the commanded position from the real-time copy goes
// to the card's jog-return register through the command path.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "corvan/bus_api.h"
#include "corvan/status_api.h"
#include "pci_card_fixture.h"

namespace zimo::corvan {
namespace {

class JogReturnTest : public testing::PciCardTest {
 protected:
  std::string Ask(const char* command) {
    char reply[64] = {};
    ZimoBUSGetResponseA(0, reply, sizeof reply, command);
    std::string text(reply);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
  }
};

TEST_F(JogReturnTest, OlderCardGetsTheCommandedPositionOfMotor1At2251) {
  const std::size_t r = 36 + 60;  // motor 1's record
  const std::uint32_t words[2] = {0x123456, 0xFFFFFFFF};
  std::memcpy(block().RealTimeCopy + r, words, sizeof words);
  ZimoDPRSetJogReturn(0, 1);
  EXPECT_EQ(Ask("RHY$8CB"), "123456");
  EXPECT_EQ(Ask("RHX$8CB"), "FFFFFF");
  // Motor 8 is none on an older card: nothing is written at its address.
  std::memcpy(block().RealTimeCopy + 36, words, sizeof words);
  ZimoDPRSetJogReturn(0, 8);
  EXPECT_EQ(Ask("RHY$E0B"), "000000");
}

}  // namespace
}  // namespace zimo::corvan
