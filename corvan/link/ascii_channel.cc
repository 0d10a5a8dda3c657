#include "link/ascii_channel.h"

#include "link/error_texts.h"
#include "link/library_app.h"
#include "link/transport.h"

namespace zimo::corvan {

AsciiChannel* ChannelOfDevice(int device) {
  Transport* transport = TransportOf(device);
  if (transport == nullptr) return nullptr;
  return transport->Channel(device, *App().User(device));
}

const char* AsciiChannel::ErrorText(std::int32_t code) {
  return LoadLibraryString(static_cast<std::uint32_t>(code));
}

void ClearLinkError(int device) { SetLinkError(device, 0); }

void SetLinkError(int device, std::int32_t code) {
  if (IsRealDevice(device)) App().User(device)->LinkError = code;
}

std::int32_t LinkErrorOf(int device) {
  return IsRealDevice(device) ? App().User(device)->LinkError : 0;
}

int SwitchChecksums(int device, int on) {
  Transport* transport = TransportOf(device);
  return transport != nullptr ? transport->SwitchChecksums(device, on) : 0;
}

}  // namespace zimo::corvan
