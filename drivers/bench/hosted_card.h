// What the driver benchmarks share: a driver host in this process with one
// card, its device sockets served, the card's device opened as user mode
// opens it and, for requests without the socket, through the kernel's I/O
// manager. One for the whole run.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "host/device_server.h"
#include "host/driver_host.h"
#include "platform/device_io.h"
#include "temp_home.h"

namespace zimo::drivers::bench {

struct HostedCard {
  zimo::testing::TempHome home;
  host::DriverHost host;
  host::DeviceServer server{host.kernel()};
  int card = -1;
  std::shared_ptr<kernel::FileObject> file;  // through the I/O manager
  platform::DeviceFile device;               // through the device socket

  HostedCard(const host::CardConfig& config, const std::string& device_name) {
    server.Start();
    host.AddCard(config, &card);
    host.kernel().OpenFile("\\\\.\\" + device_name, &file);
    device = std::move(platform::DeviceFile::Open("\\\\.\\" + device_name).value());
  }
};

}  // namespace zimo::drivers::bench
