// Building USB request blocks and reading configuration descriptors.
#include "kernel/usb.h"

#include <algorithm>
#include <cstring>

namespace zimo::kernel::usb {

namespace {

// Descriptors follow each other, each starting with its length and type. A
// length below 2 or past the end stops the walk (a malformed descriptor).
template <typename Visit>
bool WalkDescriptors(std::span<const uint8_t> bytes, size_t from, Visit visit) {
  size_t at = from;
  while (at + 2 <= bytes.size()) {
    const uint8_t length = bytes[at];
    if (length < 2 || at + length > bytes.size()) return false;
    if (!visit(at, length, bytes[at + 1])) return true;
    at += length;
  }
  return at == bytes.size();
}

// The configuration's own length: its total length, capped at the bytes at hand.
std::span<const uint8_t> ConfigurationBytes(std::span<const uint8_t> configuration) {
  if (configuration.size() < sizeof(ConfigurationDescriptor)) return {};
  ConfigurationDescriptor header;
  std::memcpy(&header, configuration.data(), sizeof(header));
  if (header.descriptor_type != kDescriptorConfiguration) return {};
  return configuration.first(std::min<size_t>(header.total_length, configuration.size()));
}

}  // namespace

void BuildGetDescriptorRequest(Urb* urb, uint8_t type, uint8_t index, uint16_t language,
                               std::span<uint8_t> buffer) {
  *urb = Urb{};
  urb->function = kFunctionGetDescriptorFromDevice;
  urb->transfer_flags = kTransferDirectionIn | kTransferShortOk;
  urb->value = static_cast<uint16_t>(type << 8 | index);
  urb->index = language;
  urb->buffer = buffer;
  urb->transfer_length = static_cast<uint32_t>(std::min<size_t>(buffer.size(), 0xFFFF));
}

void BuildVendorRequest(Urb* urb, uint16_t function, bool direction_in, uint8_t request,
                        uint16_t value, uint16_t index, std::span<uint8_t> buffer,
                        uint32_t length) {
  *urb = Urb{};
  urb->function = function;
  urb->transfer_flags = direction_in ? kTransferDirectionIn | kTransferShortOk : kTransferShortOk;
  urb->request = request;
  urb->value = value;
  urb->index = index;
  urb->buffer = buffer;
  urb->transfer_length = static_cast<uint32_t>(std::min<size_t>(length, buffer.size()));
}

void BuildBulkOrInterruptTransfer(Urb* urb, PipeHandle pipe, bool direction_in,
                                  std::span<uint8_t> buffer, uint32_t length) {
  *urb = Urb{};
  urb->function = kFunctionBulkOrInterruptTransfer;
  urb->pipe = pipe;
  urb->transfer_flags = direction_in ? kTransferDirectionIn | kTransferShortOk : kTransferShortOk;
  urb->buffer = buffer;
  urb->transfer_length = static_cast<uint32_t>(std::min<size_t>(length, buffer.size()));
}

void BuildPipeRequest(Urb* urb, uint16_t function, PipeHandle pipe, uint16_t length) {
  *urb = Urb{};
  urb->function = function;
  urb->length = length;
  urb->pipe = pipe;
}

void BuildSetFeatureRequest(Urb* urb, uint16_t feature, uint16_t index) {
  *urb = Urb{};
  urb->function = kFunctionSetFeatureToDevice;
  urb->value = feature;
  urb->index = index;
}

void BuildFrameNumberRequest(Urb* urb) {
  *urb = Urb{};
  urb->function = kFunctionGetCurrentFrameNumber;
}

void BuildSelectInterfaceRequest(Urb* urb, ConfigurationHandle configuration,
                                 InterfaceInfo interface) {
  *urb = Urb{};
  urb->function = kFunctionSelectInterface;
  urb->configuration_handle = configuration;
  urb->interfaces.push_back(std::move(interface));
}

std::optional<size_t> ParseConfigurationDescriptor(std::span<const uint8_t> configuration,
                                                   int interface_number, int alternate_setting) {
  const std::span<const uint8_t> bytes = ConfigurationBytes(configuration);
  if (bytes.empty()) return std::nullopt;
  std::optional<size_t> found;
  WalkDescriptors(bytes, 0, [&](size_t at, uint8_t length, uint8_t type) {
    if (type != kDescriptorInterface || length < sizeof(InterfaceDescriptor)) return true;
    InterfaceDescriptor d;
    std::memcpy(&d, bytes.data() + at, sizeof(d));
    if ((interface_number < 0 || d.interface_number == interface_number) &&
        (alternate_setting < 0 || d.alternate_setting == alternate_setting)) {
      found = at;
      return false;
    }
    return true;
  });
  return found;
}

std::optional<InterfaceInfo> InterfaceAt(std::span<const uint8_t> configuration, size_t offset) {
  const std::span<const uint8_t> bytes = ConfigurationBytes(configuration);
  if (offset + sizeof(InterfaceDescriptor) > bytes.size()) return std::nullopt;
  InterfaceDescriptor d;
  std::memcpy(&d, bytes.data() + offset, sizeof(d));
  if (d.descriptor_type != kDescriptorInterface || d.length < sizeof(d)) return std::nullopt;
  InterfaceInfo info;
  info.interface_number = d.interface_number;
  info.alternate_setting = d.alternate_setting;
  info.interface_class = d.interface_class;
  info.interface_subclass = d.interface_subclass;
  info.interface_protocol = d.interface_protocol;
  if (d.endpoint_count == 0) return info;
  // The endpoints follow the interface, before the next interface descriptor.
  bool malformed = false;
  const bool whole =
      WalkDescriptors(bytes, offset + d.length, [&](size_t at, uint8_t length, uint8_t type) {
        if (type == kDescriptorInterface) return false;
        if (type != kDescriptorEndpoint) return true;
        if (length < sizeof(EndpointDescriptor)) {
          malformed = true;
          return false;
        }
        EndpointDescriptor e;
        std::memcpy(&e, bytes.data() + at, sizeof(e));
        PipeInfo pipe;
        pipe.endpoint_address = e.endpoint_address;
        pipe.type = static_cast<PipeType>(e.attributes & 3);
        pipe.max_packet_size = e.max_packet_size;
        pipe.interval = e.interval;
        info.pipes.push_back(pipe);
        return info.pipes.size() < d.endpoint_count;
      });
  if (!whole || malformed || info.pipes.size() != d.endpoint_count) return std::nullopt;
  return info;
}

std::optional<Urb> CreateConfigurationRequest(std::span<const uint8_t> configuration,
                                              std::span<const size_t> interface_offsets) {
  const std::span<const uint8_t> bytes = ConfigurationBytes(configuration);
  if (bytes.empty()) return std::nullopt;
  Urb urb;
  urb.function = kFunctionSelectConfiguration;
  urb.configuration.assign(bytes.begin(), bytes.end());
  for (size_t offset : interface_offsets) {
    std::optional<InterfaceInfo> info = InterfaceAt(bytes, offset);
    if (!info) return std::nullopt;
    urb.interfaces.push_back(std::move(*info));
  }
  return urb;
}

uint32_t GetUsbdiVersion() { return 0x600; }

}  // namespace zimo::kernel::usb
