// Program download blocks over Ethernet: the card's status word comes back
// as it was sent, and a block that never reached a card is never reported as
// accepted (a status word of 0 means every line was taken).
#include <string>

#include "corvan/eth_api.h"
#include "eth_test_fixture.h"
#include "link/eth_transport.h"

namespace zimo::corvan {
namespace {

using namespace zimo::corvan::testing;

constexpr int kDevice = 1;  // asks nobody about time-outs
constexpr std::uint32_t kNothingTaken = 0x80000000;

class EthDownloadBlockTest : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
  std::string address_ = UniqueLoopbackAddress();
  EthTable table_;
};

TEST_F(EthDownloadBlockTest, BlockWithoutSocketIsNotTaken) {
  // The card accepts every line: status word 0.
  RoguePeer peer(address_, [](const std::string& request) -> std::optional<std::string> {
    if (ParseHeader(request).request == eth::kWriteBuffer) return Bytes({0, 0, 0, 0});
    return std::string(1, '\x01');
  });
  const char block[] = "P1\0P2";
  EXPECT_EQ(EthWriteBuffer(kDevice, block, sizeof block), kNothingTaken) << "never opened";

  table_.Register(kDevice, 0, false);
  ASSERT_NE(EthOpen(kDevice, AddressNumber(address_)), nullptr);
  EXPECT_EQ(EthWriteBuffer(kDevice, block, sizeof block), 0u);
  ASSERT_EQ(peer.requests().size(), 1u);

  // The connection was lost: the socket is gone and nothing goes out.
  EthTearDown(kDevice, false);
  EXPECT_EQ(EthWriteBuffer(kDevice, block, sizeof block), kNothingTaken);
  EXPECT_EQ(peer.requests().size(), 1u);
}

}  // namespace
}  // namespace zimo::corvan
