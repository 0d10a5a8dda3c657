// Requests to the USB bus driver below: request blocks in internal
// device-control requests, descriptors, configuration, pipes.
#include <algorithm>
#include <cstring>

#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace usbk = kernel::usb;

namespace {

// Sends an internal device-control request down and waits for it.
NTSTATUS SendInternal(DeviceExtension& ext, uint32_t code, void* argument) {
  if (ext.lower_device == nullptr) return kernel::kStatusUnsuccessful;
  kernel::Irp irp(ext.lower_device->stack_size);
  kernel::IoStackLocation& location = irp.NextStackLocation();
  location.major = kernel::IrpMajor::kInternalDeviceControl;
  location.io_control_code = code;
  location.argument1 = argument;
  irp.io_status.status = kernel::kStatusSuccess;
  ext.kernel().CallDriver(ext.lower_device, irp);
  irp.WaitForCompletion();
  return irp.io_status.status;
}

}  // namespace

NTSTATUS CallUsbd(DeviceExtension& ext, usbk::Urb& urb) {
  const NTSTATUS status = SendInternal(ext, usbk::kIoctlInternalSubmitUrb, &urb);
  if (!usbk::UsbdSuccess(urb.status)) ext.last_usb_error = urb.status;
  if (!kernel::NtSuccess(status)) return status;
  if (!usbk::UsbdSuccess(urb.status)) return kernel::kStatusUnsuccessful;
  return status;
}

NTSTATUS ResetPort(DeviceExtension& ext) {
  return SendInternal(ext, usbk::kIoctlInternalResetPort, nullptr);
}

NTSTATUS ReadDeviceDescriptor(DeviceExtension& ext) {
  std::vector<uint8_t> descriptor(sizeof(usbk::DeviceDescriptor));
  usbk::Urb urb;
  usbk::BuildGetDescriptorRequest(&urb, usbk::kDescriptorDevice, 0, 0, descriptor);
  const NTSTATUS status = CallUsbd(ext, urb);
  if (!kernel::NtSuccess(status)) return status;
  descriptor.resize(urb.transfer_length);
  std::lock_guard lock(ext.usb_mu);
  ext.device_descriptor = std::move(descriptor);
  return status;
}

NTSTATUS ReadConfigurationDescriptor(DeviceExtension& ext) {
  // The first 9 bytes tell the whole length.
  std::vector<uint8_t> head(sizeof(usbk::ConfigurationDescriptor));
  usbk::Urb urb;
  usbk::BuildGetDescriptorRequest(&urb, usbk::kDescriptorConfiguration, 0, 0, head);
  NTSTATUS status = CallUsbd(ext, urb);
  if (!kernel::NtSuccess(status)) return status;
  if (urb.transfer_length < head.size()) return kernel::kStatusDeviceConfigurationError;
  usbk::ConfigurationDescriptor header;
  std::memcpy(&header, head.data(), sizeof(header));
  if (header.total_length < sizeof(header)) return kernel::kStatusDeviceConfigurationError;

  std::vector<uint8_t> whole(size_t{header.total_length} + 16);
  usbk::BuildGetDescriptorRequest(&urb, usbk::kDescriptorConfiguration, 0, 0, whole);
  status = CallUsbd(ext, urb);
  if (!kernel::NtSuccess(status)) return status;
  whole.resize(urb.transfer_length);
  std::lock_guard lock(ext.usb_mu);
  ext.configuration_descriptor = std::move(whole);
  return status;
}

NTSTATUS SelectConfiguration(DeviceExtension& ext) {
  std::vector<uint8_t> configuration;
  {
    std::lock_guard lock(ext.usb_mu);
    configuration = ext.configuration_descriptor;
  }
  // The first interface, whatever its number and setting.
  const std::optional<size_t> offset = usbk::ParseConfigurationDescriptor(configuration, -1, -1);
  if (!offset) return kernel::kStatusInsufficientResources;
  const size_t offsets[] = {*offset};
  std::optional<usbk::Urb> urb = usbk::CreateConfigurationRequest(configuration, offsets);
  if (!urb || urb->interfaces.empty()) return kernel::kStatusInsufficientResources;
  for (usbk::PipeInfo& pipe : urb->interfaces[0].pipes) pipe.max_transfer_size = kMaxTransferSize;
  const NTSTATUS status = CallUsbd(ext, *urb);
  if (!kernel::NtSuccess(status)) return status;
  std::lock_guard lock(ext.usb_mu);
  ext.configuration_handle = urb->configuration_handle;
  ext.interface = urb->interfaces[0];
  return status;
}

NTSTATUS Unconfigure(DeviceExtension& ext) {
  usbk::Urb urb;
  urb.function = usbk::kFunctionSelectConfiguration;
  const NTSTATUS status = CallUsbd(ext, urb);
  if (kernel::NtSuccess(status)) {
    std::lock_guard lock(ext.usb_mu);
    ext.configuration_handle = 0;
    ext.interface.reset();
  }
  return status;
}

void AbortPipes(DeviceExtension& ext) {
  std::vector<usbk::PipeHandle> pipes;
  {
    std::lock_guard lock(ext.usb_mu);
    if (ext.interface) {
      for (const usbk::PipeInfo& pipe : ext.interface->pipes) pipes.push_back(pipe.handle);
    }
  }
  for (usbk::PipeHandle handle : pipes) {
    usbk::Urb urb;
    usbk::BuildPipeRequest(&urb, usbk::kFunctionAbortPipe, handle, usbk::kPipeRequestLength);
    CallUsbd(ext, urb);
  }
}

NTSTATUS PipeAt(DeviceExtension& ext, uint32_t index, usbk::PipeInfo* pipe) {
  std::lock_guard lock(ext.usb_mu);
  if (!ext.interface) return kernel::kStatusUnsuccessful;
  if (index >= ext.interface->pipes.size()) return kernel::kStatusInvalidParameter;
  *pipe = ext.interface->pipes[index];
  return kernel::kStatusSuccess;
}

NTSTATUS PipeTransferUsb(DeviceExtension& ext, uint32_t index, std::span<uint8_t> buffer,
                         uint32_t length, uint32_t* moved) {
  *moved = 0;
  usbk::PipeInfo pipe;
  NTSTATUS status = PipeAt(ext, index, &pipe);
  if (!kernel::NtSuccess(status)) return status;
  if (pipe.type != usbk::PipeType::kBulk && pipe.type != usbk::PipeType::kInterrupt) {
    return kernel::kStatusInvalidParameter;
  }
  if (pipe.handle == 0) return kernel::kStatusUnsuccessful;
  if (length == 0) length = static_cast<uint32_t>(std::min<size_t>(buffer.size(), UINT32_MAX));
  if (length > pipe.max_transfer_size || length > buffer.size()) {
    return kernel::kStatusInvalidParameter;
  }
  usbk::Urb urb;
  usbk::BuildBulkOrInterruptTransfer(
      &urb, pipe.handle, (pipe.endpoint_address & usbk::kEndpointIn) != 0, buffer, length);
  status = CallUsbd(ext, urb);
  if (kernel::NtSuccess(status)) *moved = urb.transfer_length;
  return status;
}

}  // namespace zimo::drivers::usb
