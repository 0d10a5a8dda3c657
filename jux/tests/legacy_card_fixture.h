// A legacy ISA card at port 528 with its DPR at 0xD4000, in a driver host
// running in this process beside the port-I/O helper driver, and a card
// record opened on one of its channels.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/device_server.h"
#include "host/driver_host.h"
#include "host/legacy_isa.h"
#include "jux/jux170.h"
#include "temp_home.h"

namespace jux_testing {

namespace host = zimo::drivers::host;

class LegacyCardTest : public ::testing::Test {
 protected:
  void Plug(const std::string& version = "") {
    ASSERT_NE(host::LoadPortIoHelper(host_), nullptr);
    host::CardConfig config;
    config.bus = host::Bus::kIsa;
    config.legacy_port = 528;
    config.legacy_dpr = 0xD4000;
    config.version = version;
    slot_ = legacy_.Plug(config);
    ASSERT_NE(slot_, nullptr);
    devices_ = std::make_unique<host::DeviceServer>(host_.kernel());
    devices_->Start();
  }
  void TearDown() override {
    if (record_ != nullptr) JUXShutDown(&record_);
    devices_.reset();
  }
  zimo::cardsim::Card& card() { return *slot_->card; }
  std::vector<std::string> Log() { return card().script().received(); }

  // A record made without a channel (method 2 with no port keeps it
  // closed), then opened with `method` on the card.
  tagMCardInfo* OpenRecord(const char* name, int method, int retries, int timeout) {
    tagMCardInfo image;
    std::memset(&image, 0, sizeof(image));
    std::strcpy(image.name, name);
    image.method = 2;
    image.retries = retries;
    image.timeout = timeout;
    record_ = JUXInit(&image);
    if (record_ == nullptr) return nullptr;
    record_->method = method;
    record_->bus_base = 528;
    if (method == 1) record_->dpr_base = 0xD4000;
    record_->bus_type = 1;
    record_->last_error = 0;
    POpenChannel(record_);
    return record_;
  }

  zimo::testing::TempHome home_;
  host::DriverHost host_;
  host::LegacyCards legacy_{host_};
  std::shared_ptr<host::Slot> slot_;
  std::unique_ptr<host::DeviceServer> devices_;
  tagMCardInfo* record_ = nullptr;
};

}  // namespace jux_testing
