// What the VoctoKS tests share: a fresh home and working folder, the
// stand-in library (its state reached through the same loaded file the
// control binds), a recorded site, recorded boxes and OnError events.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "automation/event_sink.h"
#include "corvan_binding.h"
#include "fake_corvan.h"
#include "platform/message.h"
#include "platform/module.h"
#include "temp_home.h"
#include "voctoks/voctoks_guids.h"
#include "voctoks_ctrl.h"

namespace zimo::voctoks::testing {

using automation::Variant;

class RecordingSite : public controls::ControlSite {
 public:
  bool user_mode = true;
  std::string name;
  std::vector<automation::DispId> changed;
  int modified_count = 0;
  bool UserMode() const override { return user_mode; }
  std::string DisplayName() const override { return name; }
  uint32_t BackColor() const override { return 0x00C0C0C0; }
  bool UIDead() const override { return false; }
  void OnChanged(automation::DispId id) override { changed.push_back(id); }
  void OnModified(bool modified) override { modified_count += modified ? 1 : 0; }
};

struct ErrorEvent {
  int32_t code;
  std::string text;
  friend bool operator==(const ErrorEvent&, const ErrorEvent&) = default;
};

class VoctoKSTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = home_.path() / "work";
    std::filesystem::create_directories(work_);
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(work_);
    UseLibrary(FAKE_CORVAN_FULL);
    Services() = ControlServices{};
  }
  void TearDown() override {
    control_.reset();
    Services() = ControlServices{};
    std::filesystem::current_path(old_dir_);
    (void)library_.Free();
  }

  // Points the binding at `path` and keeps the file loaded, so its state
  // lives across controls.
  void UseLibrary(const char* path) {
    SetCorvanLibraryName(path);
    (void)library_.Free();
    auto loaded = platform::Module::Load(path);
    ASSERT_TRUE(loaded.ok()) << loaded.status().ToString();
    library_ = std::move(loaded.value());
    auto get = library_.Function<FakeCorvanState*()>("FakeCorvan");
    ASSERT_TRUE(get.ok()) << get.status().ToString();
    fake_ = (*get)();
    fake_->Reset();
  }

  // A new control on the recorded site, its errors recorded; loaded as a
  // new control (exchange defaults, then the settings file).
  CVoctoKSCtrl& Make(bool init_new = true) {
    control_ = std::make_shared<CVoctoKSCtrl>();
    control_->SetClientSite(&site_);
    auto sink = automation::MakeEventSink(
        kDVoctoKSEvents, [this](automation::DispId id, std::span<Variant> args, Variant*) {
          automation::Bstr text;
          (void)args[1].Deref().To(&text);
          errors_.push_back({args[0].i4(), text.ToAnsi()});
          return automation::S_OK;
        });
    uint32_t cookie = 0;
    EXPECT_EQ(control_->Advise(kEventsIid, sink, &cookie), automation::S_OK);
    if (init_new) control_->InitNew();
    return *control_;
  }

  // A control whose device is open (not simulated, enabled, user mode).
  CVoctoKSCtrl& MakeOpen() {
    CVoctoKSCtrl& c = Make();
    c.put_SimulateCommunication(false);
    c.put_Enabled(true);
    EXPECT_TRUE(c.device_open());
    fake_->calls.clear();
    return c;
  }

  Variant CallById(automation::DispId id, std::vector<Variant> args,
                   uint16_t flags = automation::kMethod) {
    Variant result;
    EXPECT_EQ(control_->Invoke(id, flags, args, &result, nullptr), automation::S_OK);
    return result;
  }

  zimo::testing::TempHome home_;
  std::filesystem::path work_;
  std::filesystem::path old_dir_;
  platform::MessageRecorder boxes_;
  platform::ScopedMessageService scoped_boxes_{boxes_};
  platform::Module library_;
  FakeCorvanState* fake_ = nullptr;
  RecordingSite site_;
  std::vector<ErrorEvent> errors_;
  std::shared_ptr<CVoctoKSCtrl> control_;
};

}  // namespace zimo::voctoks::testing
