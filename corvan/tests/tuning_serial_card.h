// The simulated card on the serial link as device 0, opened through the
// library, for the tuning tests that run a procedure on it; the card's log
// starts empty.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "corvan/device_api.h"
#include "serial_card_fixture.h"
#include "temp_home.h"

namespace zimo::corvan::testing {

// A test with a home folder of its own.
class TempHomeTest : public ::testing::Test {
 protected:
  zimo::testing::TempHome home_;
};

// `Base` gives the home folder (a member `home_`).
template <typename Base = TempHomeTest>
class SerialCardTest : public Base {
 protected:
  void SetUp() override {
    RegisterSerialDevice(0, 1);
    card_ = std::make_unique<SerialCard>(1);
    server_ = std::make_unique<StandInServer>();
    ASSERT_EQ(OpenZimoDevice(0), 1);
    card_->card().script().ClearLog();
  }
  void TearDown() override {
    ShutdownZimoDevice(0, 1);
    App().End();
  }

  LibraryClock clock_;
  std::unique_ptr<SerialCard> card_;
  std::unique_ptr<StandInServer> server_;
};

}  // namespace zimo::corvan::testing
