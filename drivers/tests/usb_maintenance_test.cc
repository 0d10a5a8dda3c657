// ZimoUSB's maintenance codes: descriptors and pipes, raw requests, the USB
// controller's memory, bulk transfers, and isochronous transfers and the
// stream.
#include <chrono>
#include <thread>

#include "usb_fixture.h"

namespace zimo::drivers::testing {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
namespace u = usb;

std::vector<uint8_t> Pipe(uint32_t index) { return RecordBytes(index); }

TEST_F(UsbTest, DescriptorsAndThePipesOfTheSelectedInterface) {
  const int card = AddCard();
  UsbReply r = Query(u::IOCTL_ZIMOUSB_GET_DEVICE_DESCRIPTOR, 18);
  ASSERT_EQ(r.count, 18u);
  EXPECT_EQ(r.Text(), Port(card).DeviceDescriptor());
  r = Query(u::IOCTL_ZIMOUSB_GET_CONFIG_DESCRIPTOR, 9);
  EXPECT_EQ(r.count, 9u);
  r = Query(u::IOCTL_ZIMOUSB_GET_CONFIG_DESCRIPTOR, 200);
  EXPECT_EQ(r.Text().substr(0, r.count), Port(card).ConfigurationDescriptor());

  r = Query(u::IOCTL_ZIMOUSB_GET_PIPE_INFO, 256);
  ASSERT_EQ(r.count, sizeof(u::InterfaceRecord) + 4 * sizeof(u::PipeRecord));
  const auto head = FromBytes<u::InterfaceRecord>(r.out);
  EXPECT_EQ(head.length, r.count);
  EXPECT_EQ(head.pipe_count, 4);
  const struct { uint8_t address, type; } expected[] = {{0x81, 2}, {0x01, 2}, {0x02, 2}, {0x83, 1}};
  for (size_t i = 0; i < 4; ++i) {
    const auto pipe = FromBytes<u::PipeRecord>(r.out, sizeof(head) + i * sizeof(u::PipeRecord));
    EXPECT_EQ(pipe.endpoint_address, expected[i].address) << i;
    EXPECT_EQ(pipe.pipe_type, expected[i].type) << i;
    EXPECT_EQ(pipe.max_transfer_size, 0xFFFFu) << i;
    EXPECT_NE(pipe.pipe_handle, 0u) << i;
  }

  struct StringCase {
    uint8_t index;
    size_t out;
    NTSTATUS status;
  } strings[] = {
      {2, 255, kernel::kStatusSuccess}, {2, 0, kInvalidParameter}, {9, 255, kUnsuccessful}};
  for (const StringCase& c : strings) {
    r = Ioctl(u::IOCTL_ZIMOUSB_GET_STRING_DESCRIPTOR, {c.index, 0, 0x09, 0x04}, c.out);
    EXPECT_EQ(r.status, c.status) << static_cast<int>(c.index) << " " << c.out;
  }
  r = Ioctl(u::IOCTL_ZIMOUSB_GET_STRING_DESCRIPTOR, {1, 0, 0x09, 0x04}, 255);
  EXPECT_EQ(r.Text().substr(0, r.count), "\x0A\x03Z\0i\0m\0o\0"s);
}

TEST_F(UsbTest, DriverVersionAndLastError) {
  const int card = AddCard();
  UsbReply r = Query(u::IOCTL_ZIMOUSB_GET_DRIVER_VERSION, 6);
  EXPECT_EQ(r.status, kernel::kStatusSuccess);
  EXPECT_EQ(r.count, 6u);
  const auto version = FromBytes<u::DriverVersion>(r.out);
  EXPECT_EQ(version.major, 1);
  EXPECT_EQ(version.minor, 1);
  EXPECT_EQ(version.build, 0);
  EXPECT_EQ(Query(u::IOCTL_ZIMOUSB_GET_DRIVER_VERSION, 5).status, kUnsuccessful);

  EXPECT_EQ(LastUsbError(), 0);
  EXPECT_EQ(Query(u::IOCTL_ZIMOUSB_GET_LAST_ERROR, 3).status, kUnsuccessful);
  Port(card).ScriptFault(usbreq::kReadyWord, cardsim::UsbFault::kStall);
  EXPECT_EQ(Query(IOCTL_ZIMO_BUS_READ_READY).count, 0u);
  EXPECT_EQ(LastUsbError(), kernel::usb::kUsbdStall);
}

TEST_F(UsbTest, ControllerMemoryLoadsSendEveryByte) {
  const int card = AddCard();
  std::vector<uint8_t> image(1000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + 1);
  Port(card).ClearLog();
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_RAM_DOWNLOAD, image).status, kernel::kStatusSuccess);
  // 512 bytes, then the 488 left over as a short block.
  std::vector<std::pair<uint16_t, size_t>> blocks;
  for (const auto& q : Requests(card, usbreq::kLoadController)) {
    blocks.push_back({q.setup.value, q.data_bytes});
  }
  EXPECT_EQ(blocks, (std::vector<std::pair<uint16_t, size_t>>{{0, 512}, {512, 488}}));
  EXPECT_EQ(Port(card).controller_memory(0, 1000), std::string(image.begin(), image.end()));

  // The direct form: 64-byte pieces from a start address.
  Port(card).ClearLog();
  std::vector<uint8_t> data(130, 0x42);
  const std::vector<uint8_t> start = RecordBytes(uint16_t{0x2000});
  kernel::DeviceIoResult w =
      host_->kernel().DeviceIoControl(*files_[0], u::IOCTL_ZIMOUSB_RAM_WRITE, start, data);
  EXPECT_EQ(w.status, kernel::kStatusSuccess);
  blocks.clear();
  for (const auto& q : Requests(card, usbreq::kLoadController)) {
    blocks.push_back({q.setup.value, q.data_bytes});
  }
  EXPECT_EQ(blocks,
            (std::vector<std::pair<uint16_t, size_t>>{{0x2000, 64}, {0x2040, 64}, {0x2080, 2}}));
  std::vector<uint8_t> empty;
  w = host_->kernel().DeviceIoControl(*files_[0], u::IOCTL_ZIMOUSB_RAM_WRITE, start, empty);
  EXPECT_EQ(w.status, kInvalidParameter);
}

TEST_F(UsbTest, VendorRequestRecords) {
  const int card = AddCard();
  // In: the identification bytes come back into the buffer.
  u::VendorRequestRecord in{usbreq::kIdentify, 0, 0, 0, 7, 1, 0};
  UsbReply r = Ioctl(u::IOCTL_ZIMOUSB_VENDOR_REQUEST, RecordBytes(in), sizeof(in));
  EXPECT_EQ(r.count, 7u);
  const auto id = cardsim::UsbIdentityRow(Port(card).identity_row()).Bytes();
  EXPECT_EQ(std::memcmp(r.out.data(), id.data(), 7), 0);
  // More than the buffer holds is never asked for.
  in.length = 500;
  Port(card).ClearLog();
  Ioctl(u::IOCTL_ZIMOUSB_VENDOR_REQUEST, RecordBytes(in), sizeof(in));
  EXPECT_EQ(Port(card).vendor_requests().at(0).setup.length, sizeof(in));

  // Out: the driver's own bytes 0, 1, 2, ..., or the record's byte alone.
  u::VendorRequestRecord out{usbreq::kWriteDpr, 0, 0x300, 0, 5, 0, 0};
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_VENDOR_REQUEST, RecordBytes(out), sizeof(out)).count, 0u);
  out = u::VendorRequestRecord{usbreq::kWriteDpr, 0, 0x305, 0, 1, 0, 0x7E};
  Ioctl(u::IOCTL_ZIMOUSB_VENDOR_REQUEST, RecordBytes(out), sizeof(out));
  uint8_t dpr[6];
  Card(card).memory().ReadDpr(0x300, dpr, 6);
  EXPECT_EQ(std::string(dpr, dpr + 6), "\0\x01\x02\x03\x04\x7E"s);
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_VENDOR_REQUEST, {usbreq::kIdentify}, 10).status,
            kInvalidParameter);

  // Class and vendor requests by type and recipient, data in the caller's buffer.
  struct Case {
    u::ClassVendorRequest request;
    size_t in_length;
    NTSTATUS status;
    uint64_t count;
  } cases[] = {
      {{1, 2, 0, 0, usbreq::kIdentify, 0, 0, 0}, 10, kernel::kStatusSuccess, 7},
      {{1, 1, 0, 0, usbreq::kIdentify, 0, 0, 0}, 10, kUnsuccessful, 0},  // no class requests
      {{1, 3, 0, 0, usbreq::kIdentify, 0, 0, 0}, 10, kInvalidParameter, 0},
      {{1, 2, 4, 0, usbreq::kIdentify, 0, 0, 0}, 10, kInvalidParameter, 0},
      {{1, 2, 0, 0, usbreq::kIdentify, 0, 0, 0}, 9, kInvalidParameter, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> input = RecordBytes(c.request);
    input.resize(c.in_length);
    std::vector<uint8_t> data(7);
    const kernel::DeviceIoResult res = host_->kernel().DeviceIoControl(
        *files_[0], u::IOCTL_ZIMOUSB_CLASS_VENDOR_REQUEST, input, data);
    EXPECT_EQ(res.status, c.status) << static_cast<int>(c.request.type) << " " << c.in_length;
    EXPECT_EQ(res.information, c.count);
  }
}

TEST_F(UsbTest, PipesBulkTransfersAndTheirChecks) {
  const int card = AddCard();
  auto transfer = [this](uint32_t code, uint32_t pipe, std::vector<uint8_t>& data) {
    return host_->kernel().DeviceIoControl(*files_[0], code, Pipe(pipe), data);
  };
  std::vector<uint8_t> command = Bytes("I10\r");
  kernel::DeviceIoResult r = transfer(u::IOCTL_ZIMOUSB_BULK_WRITE, 1, command);
  EXPECT_EQ(r.status, kernel::kStatusSuccess);
  EXPECT_EQ(r.information, 4u);
  std::vector<uint8_t> reply(64);
  r = transfer(u::IOCTL_ZIMOUSB_BULK_READ, 0, reply);
  EXPECT_EQ(r.information, 9u);
  EXPECT_EQ(std::string(reply.begin(), reply.begin() + 9), "3713707\r\x06");

  // A pipe index equal to the pipe count, and a pipe of the wrong kind.
  EXPECT_EQ(transfer(u::IOCTL_ZIMOUSB_BULK_READ, 4, reply).status, kInvalidParameter);
  EXPECT_EQ(transfer(u::IOCTL_ZIMOUSB_BULK_READ, 3, reply).status, kInvalidParameter);
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_ABORT_PIPE, Pipe(4)).status, kInvalidParameter);
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_RESET_PIPE, Pipe(4)).status, kInvalidParameter);
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_RESET_PIPE, Pipe(0)).status, kernel::kStatusSuccess);
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_ABORT_PIPE, Pipe(3)).status, kernel::kStatusSuccess);

  // Interfaces: the one setting there is, and one that is not.
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_SET_INTERFACE, {0, 0}).status, kernel::kStatusSuccess);
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_SET_INTERFACE, {0, 1}).status, kInvalidParameter);
  const UsbReply info = Query(u::IOCTL_ZIMOUSB_GET_PIPE_INFO, 256);
  EXPECT_EQ(info.count, sizeof(u::InterfaceRecord) + 4 * sizeof(u::PipeRecord));
  // The selection asked for the same transfer size on every pipe.
  for (size_t i = 0; i < 4; ++i) {
    const auto pipe =
        FromBytes<u::PipeRecord>(info.out, sizeof(u::InterfaceRecord) + i * sizeof(u::PipeRecord));
    EXPECT_EQ(pipe.max_transfer_size, 0xFFFFu) << i;
  }
  // The new pipe handles work.
  r = transfer(u::IOCTL_ZIMOUSB_BULK_WRITE, 1, command);
  EXPECT_EQ(r.status, kernel::kStatusSuccess);

  // Frames run on; a port reset leaves the device configured.
  const uint32_t f1 = FromBytes<uint32_t>(Query(u::IOCTL_ZIMOUSB_GET_FRAME_NUMBER, 4).out);
  std::this_thread::sleep_for(5ms);
  const uint32_t f2 = FromBytes<uint32_t>(Query(u::IOCTL_ZIMOUSB_GET_FRAME_NUMBER, 4).out);
  EXPECT_NE(f1, 0u);
  EXPECT_GT(f2, f1);
  EXPECT_EQ(Query(u::IOCTL_ZIMOUSB_GET_FRAME_NUMBER, 3).status, kInvalidParameter);
  EXPECT_EQ(Query(u::IOCTL_ZIMOUSB_RESET_PORT).status, kernel::kStatusSuccess);
  EXPECT_EQ(Port(card).configuration(), 1);
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_SET_FEATURE, {1, 0, 0, 0}).status, kUnsuccessful);
  EXPECT_EQ(Ioctl(u::IOCTL_ZIMOUSB_SET_FEATURE, {1, 0}).status, kInvalidParameter);
  EXPECT_EQ(Query(u::IOCTL_ZIMOUSB_GET_CURRENT_CONFIG).status, kernel::kStatusSuccess);
  EXPECT_EQ(Query(0x2220FC).status, kInvalidParameter);
}

// Each packet carries its frame number first: the packets of one request
// come from consecutive frames.
void ExpectPackets(const std::vector<uint8_t>& buffer, uint32_t packets, uint32_t size,
                   uint32_t per_request) {
  const size_t descriptors = size_t{packets} * size;
  for (uint32_t i = 0; i < packets; ++i) {
    const auto d = FromBytes<u::IsoPacketDescriptor>(buffer, descriptors + 12 * i);
    EXPECT_EQ(d.offset, (i % per_request) * size) << i;
    EXPECT_EQ(d.length, size) << i;
    EXPECT_EQ(d.status, 0u) << i;
    if (i % per_request == 0) continue;
    const uint32_t frame = FromBytes<uint32_t>(buffer, size_t{i} * size);
    EXPECT_EQ(frame, FromBytes<uint32_t>(buffer, size_t{i - 1} * size) + 1) << i;
  }
}

TEST_F(UsbTest, IsochronousReadsFillDataAndDescriptors) {
  AddCard();
  const u::IsoParameters p{3, 64, 16, 4, 2};
  std::vector<uint8_t> buffer(16 * (64 + 12));
  const kernel::DeviceIoResult r = host_->kernel().DeviceIoControl(
      *files_[0], u::IOCTL_ZIMOUSB_ISO_READ, RecordBytes(p), buffer);
  ASSERT_EQ(r.status, kernel::kStatusSuccess);
  EXPECT_EQ(r.information, 0u);
  ExpectPackets(buffer, 16, 64, 4);

  struct Case {
    u::IsoParameters p;
    size_t out;
    NTSTATUS status;
  } cases[] = {
      {{3, 64, 15, 4, 2}, 15 * 76, kInvalidParameter},  // not whole cycles
      {{3, 64, 16, 0, 2}, 16 * 76, kInvalidParameter},
      {{3, 64, 16, 4, 0}, 16 * 76, kInvalidParameter},
      {{0, 64, 16, 4, 2}, 16 * 76, kInvalidParameter},  // a bulk pipe
      {{4, 64, 16, 4, 2}, 16 * 76, kInvalidParameter},  // no such pipe
      {{3, 64, 16, 4, 2}, 16 * 76 - 1, kUnsuccessful},  // no room
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.out);
    EXPECT_EQ(host_->kernel()
                  .DeviceIoControl(*files_[0], u::IOCTL_ZIMOUSB_ISO_READ, RecordBytes(c.p), out)
                  .status,
              c.status)
        << c.p.pipe_index << " " << c.p.packet_count << " " << c.out;
  }
}

TEST_F(UsbTest, AnIsochronousStreamFillsItsRingUntilStopped) {
  AddCard();
  const u::IsoParameters p{3, 32, 24, 4, 2};
  ASSERT_EQ(Ioctl(u::IOCTL_ZIMOUSB_START_ISO_STREAM, RecordBytes(p)).status,
            kernel::kStatusSuccess);
  auto read = [this](uint32_t packets, std::vector<uint8_t>* out) {
    const u::IsoParameters q{3, 32, packets, 0, 0};
    out->assign(size_t{packets} * (32 + 12), 0);
    return host_->kernel().DeviceIoControl(*files_[0], u::IOCTL_ZIMOUSB_READ_ISO_BUFFER,
                                           RecordBytes(q), *out);
  };
  // The ring holds 24 packets: once it is full, a read of all of them
  // returns them with their descriptors behind.
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  kernel::DeviceIoResult r;
  do {
    std::this_thread::sleep_for(40ms);  // 24 frames fill the ring
    r = read(24, &out);
    if (r.information == 24 * (32 + 12)) break;
    // Not full yet: what came is whole packets, each with its descriptor.
    ASSERT_EQ(r.information % (32 + 12), 0u);
  } while (std::chrono::steady_clock::now() < deadline);
  ASSERT_EQ(r.information, 24u * (32 + 12));
  for (uint32_t i = 0; i < 24; ++i) {
    const auto d = FromBytes<u::IsoPacketDescriptor>(out, 24 * 32 + 12 * i);
    EXPECT_EQ(d.length, 32u) << i;
    EXPECT_EQ(d.status, 0u) << i;
  }
  for (uint32_t i = 1; i < 24; ++i) {
    EXPECT_GT(FromBytes<uint32_t>(out, 32 * i), FromBytes<uint32_t>(out, 32 * (i - 1))) << i;
  }
  // A read whose output does not fit its packets is refused.
  const u::IsoParameters q{3, 32, 2, 0, 0};
  std::vector<uint8_t> odd(2 * 44 + 1);
  EXPECT_EQ(host_->kernel()
                .DeviceIoControl(*files_[0], u::IOCTL_ZIMOUSB_READ_ISO_BUFFER, RecordBytes(q), odd)
                .status,
            kInvalidParameter);

  // Stopped, the last request to end frees the rings.
  EXPECT_EQ(Query(u::IOCTL_ZIMOUSB_STOP_ISO_STREAM).status, kernel::kStatusSuccess);
  const auto end = std::chrono::steady_clock::now() + 10s;
  do {
    std::this_thread::sleep_for(5ms);
    r = read(1, &out);
  } while (r.status == kernel::kStatusSuccess && std::chrono::steady_clock::now() < end);
  EXPECT_EQ(r.status, kUnsuccessful);
}

}  // namespace
}  // namespace zimo::drivers::testing
