// Requests at the edges of their buffers, and requests that run while the
// card's resources are taken away.
#include <atomic>
#include <thread>

#include "pci_fixture.h"

namespace zimo::drivers::testing {
namespace {

using PciEdgeTest = PciTest;

TEST_F(PciEdgeTest, LineCodesWithoutInput) {
  AddCard();
  // No text at all: the port channel sends CR alone, the mailbox an empty line.
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_SEND_LINE).count, 1u);
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_SEND_LINE).count, 0u);
}

TEST_F(PciEdgeTest, StopWaitsForTheRequestsThatUseTheCard) {
  const int card = AddCard();
  // Mailbox reads poll the DPR window for as long as nothing is posted; the
  // stop must not take the window away under them.
  std::atomic<bool> stopped{false};
  std::atomic<int> rounds{0};
  std::thread requests([&] {
    while (!stopped) {
      LineCode(IOCTL_ZIMO_DPR_GET_LINE);
      ++rounds;
    }
  });
  while (rounds < 2) std::this_thread::yield();
  EXPECT_EQ(host_->StopCard(card), kernel::kStatusSuccess);
  stopped = true;
  requests.join();
  EXPECT_EQ(Query(IOCTL_ZIMO_DPR_AVAILABLE).count, 0u);
}

}  // namespace
}  // namespace zimo::drivers::testing
