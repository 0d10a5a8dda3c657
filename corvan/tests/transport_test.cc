#include "link/transport.h"

#include <gtest/gtest.h>

#include <memory>

#include "link/eth_dpr.h"
#include "link/transports.h"

namespace zimo::corvan {
namespace {

TEST(TransportTable, EachLocationCodeHasItsOwnTransport) {
  struct Case {
    std::uint32_t location;
    bool interrupts;
    bool dpr_set_up;
    bool dpr_mailbox;
  };
  const Case cases[] = {
      {1, true, true, true},     // ISA
      {2, false, false, false},  // serial: no DPR, no interrupts
      {3, false, true, false},   // Ethernet
      {4, true, true, true},     // PCI
      {5, false, true, false},   // USB
  };
  for (const Case& c : cases) {
    Transport* transport = TransportFor(c.location);
    ASSERT_NE(transport, nullptr) << c.location;
    EXPECT_EQ(transport->location(), c.location);
    EXPECT_EQ(transport->HasInterrupts(), c.interrupts) << c.location;
    EXPECT_EQ(transport->HasDprSetUp(), c.dpr_set_up) << c.location;
    EXPECT_EQ(transport->HasDprMailbox(), c.dpr_mailbox) << c.location;
  }
  for (std::uint32_t none : {0u, 6u, 7u, 0xFFFFFFFFu}) EXPECT_EQ(TransportFor(none), nullptr);
}

class SilentRoute : public DprNetworkRoute {
 public:
  bool IsOpen(int) override { return false; }
  std::int32_t GetMem(int, void*, std::uint32_t, std::uint32_t) override { return -1; }
  std::int32_t SetMem(int, const void*, std::uint32_t, std::uint32_t) override { return -1; }
  std::int32_t GetMemBits(int, std::uint32_t, std::uint16_t, std::uint16_t,
                          std::uint32_t*) override {
    return -1;
  }
  std::int32_t SetMemBits(int, std::uint32_t, std::uint16_t, std::uint16_t,
                          std::uint32_t) override {
    return -1;
  }
  std::int32_t GetMemBit(int, std::uint32_t, std::uint32_t, std::uint32_t*) override { return -1; }
  std::int32_t SetMemBit(int, std::uint32_t, std::uint32_t, std::uint32_t) override { return -1; }
};

TEST(TransportTable, AnOverrideHoldsForItsScopeOnly) {
  Transport* registered = TransportFor(3);
  SilentRoute route;
  {
    ScopedTransportOverride over(3, MakeEthernetTransport(route));
    Transport* replaced = TransportFor(3);
    EXPECT_NE(replaced, registered);
    EXPECT_EQ(replaced->location(), 3u);
    EXPECT_EQ(TransportFor(4), &PciTransport()) << "other Locations keep theirs";
    over.Restore();
    EXPECT_EQ(TransportFor(3), registered);
  }
  EXPECT_EQ(TransportFor(3), registered);
  { ScopedTransportOverride over(3, MakeEthernetTransport(route)); }
  EXPECT_EQ(TransportFor(3), registered);
}

}  // namespace
}  // namespace zimo::corvan
