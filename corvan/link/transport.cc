#include "link/transport.h"

#include <array>
#include <atomic>

#include "link/library_app.h"
#include "link/transports.h"

namespace zimo::corvan {
namespace {

using TransportTable = std::array<std::atomic<Transport*>, kLocationRows>;

// The one registration of every Location's transport.
TransportTable& Table() {
  static TransportTable* const table = [] {
    auto* t = new TransportTable();
    for (auto& entry : *t) entry.store(nullptr);
    (*t)[kLocationIsa].store(&IsaTransport());
    (*t)[kLocationSerial].store(&SerialTransport());
    (*t)[kLocationEthernet].store(&EthernetTransport());
    (*t)[kLocationPci].store(&PciTransport());
    (*t)[kLocationUsb].store(&UsbTransport());
    return t;
  }();
  return *table;
}

}  // namespace

Transport* TransportFor(std::uint32_t location) {
  if (location >= kLocationRows) return nullptr;
  return Table()[location].load();
}

Transport* TransportOf(int device) {
  if (!IsRealDevice(device)) return nullptr;
  const SharedDeviceBlock* block = App().Block(device);
  return block != nullptr ? TransportFor(block->Location) : nullptr;
}

ScopedTransportOverride::ScopedTransportOverride(std::uint32_t location,
                                                 std::unique_ptr<Transport> transport)
    : location_(location), transport_(std::move(transport)) {
  if (location_ >= kLocationRows) return;
  previous_ = Table()[location_].exchange(transport_.get());
  active_ = true;
}

void ScopedTransportOverride::Restore() {
  if (!active_) return;
  Table()[location_].store(previous_);
  active_ = false;
}

}  // namespace zimo::corvan
