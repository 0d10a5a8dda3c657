#include "link/ascii_channel.h"

#include "link/library_app.h"
#include "link/transport.h"

namespace zimo::corvan {

AsciiChannel* ChannelOfDevice(int device) {
  Transport* transport = TransportOf(device);
  if (transport == nullptr) return nullptr;
  return transport->Channel(device, *App().User(device));
}

int SwitchChecksums(int device, int on) {
  Transport* transport = TransportOf(device);
  return transport != nullptr ? transport->SwitchChecksums(device, on) : 0;
}

}  // namespace zimo::corvan
