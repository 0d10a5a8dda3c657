// The legacy card of jux_cards.h under a test: a home of the test's own and
// a card record opened on one of the card's channels, shut down at the end.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jux_cards.h"
#include "temp_home.h"

namespace jux_testing {

class LegacyCardTest : public ::testing::Test {
 protected:
  void Plug(const std::string& version = "") { ASSERT_TRUE(machine_.Plug(version)); }
  void TearDown() override {
    if (record_ != nullptr) JUXShutDown(&record_);
    machine_.devices.reset();
  }
  zimo::cardsim::Card& card() { return *slot_->card; }
  std::vector<std::string> Log() { return card().script().received(); }

  tagMCardInfo* OpenRecord(const char* name, int method, int retries, int timeout) {
    record_ = OpenLegacyRecord(name, method, retries, timeout);
    return record_;
  }

  zimo::testing::TempHome home_;
  LegacyMachine machine_;
  host::DriverHost& host_ = machine_.host;
  std::shared_ptr<host::Slot>& slot_ = machine_.slot;
  tagMCardInfo* record_ = nullptr;
};

}  // namespace jux_testing
