// What the Vocto tests share: a fresh home and working folder, a recorded
// site (notifications, timers, repaints), recorded boxes and OnError events.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/event_sink.h"
#include "platform/message.h"
#include "temp_home.h"
#include "vocto/vocto_guids.h"
#include "vocto_ctrl.h"

namespace zimo::vocto::testing {

using automation::Bstr;
using automation::Variant;

class RecordingSite : public controls::ControlSite {
 public:
  bool user_mode = true;
  std::string name;
  bool ui_dead = false;
  std::vector<automation::DispId> changed;
  std::map<int, int> timers;  // id -> interval
  int repaints = 0;
  bool UserMode() const override { return user_mode; }
  std::string DisplayName() const override { return name; }
  uint32_t BackColor() const override { return 0x00C0C0C0; }
  bool UIDead() const override { return ui_dead; }
  void OnChanged(automation::DispId id) override { changed.push_back(id); }
  void OnModified(bool) override {}
  bool SetTimer(controls::Control*, int id, int interval_ms) override {
    timers[id] = interval_ms;
    return true;
  }
  void KillTimer(controls::Control*, int id) override { timers.erase(id); }
  void InvalidateControl(controls::Control*) override { ++repaints; }
};

struct ErrorEvent {
  int32_t code;
  std::string text;
  friend bool operator==(const ErrorEvent&, const ErrorEvent&) = default;
  friend void PrintTo(const ErrorEvent& e, std::ostream* os) {
    *os << "OnError(" << e.code << ", \"" << e.text << "\")";
  }
};

class VoctoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = home_.path() / "work";
    std::filesystem::create_directories(work_);
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(work_);
    Services() = ControlServices{};
    Replies() = ReplyCalls{};
  }
  void TearDown() override {
    controls_.clear();
    Services() = ControlServices{};
    Replies() = ReplyCalls{};
    std::filesystem::current_path(old_dir_);
  }

  // A new control on `site` (the fixture's own by default), its errors
  // recorded; InitNew unless told otherwise.
  CVoctoCtrl& Make(RecordingSite* site = nullptr, bool init_new = true) {
    auto control = std::make_shared<CVoctoCtrl>();
    control->SetClientSite(site != nullptr ? site : &site_);
    auto sink = automation::MakeEventSink(
        kDVoctoEvents, [this](automation::DispId, std::span<Variant> args, Variant*) {
          Bstr text;
          (void)args[1].Deref().To(&text);
          errors_.push_back({args[0].i4(), text.ToAnsi()});
          return automation::S_OK;
        });
    uint32_t cookie = 0;
    EXPECT_EQ(control->Advise(kEventsIid, sink, &cookie), automation::S_OK);
    controls_.push_back(control);
    if (init_new) control->InitNew();
    return *control;
  }
  CVoctoCtrl& control() { return *controls_.back(); }

  Variant Get(const char* name) {
    Variant v;
    EXPECT_EQ(control().CallByName(name, automation::kPropertyGet, {}, &v), automation::S_OK);
    return v;
  }
  void Put(const char* name, Variant value) {
    EXPECT_EQ(control().CallByName(name, automation::kPropertyPut, {value}), automation::S_OK);
  }

  zimo::testing::TempHome home_;
  std::filesystem::path work_;
  std::filesystem::path old_dir_;
  platform::MessageRecorder boxes_;
  platform::ScopedMessageService scoped_boxes_{boxes_};
  RecordingSite site_;
  RecordingSite other_site_;  // a second form
  std::vector<ErrorEvent> errors_;
  std::vector<std::shared_ptr<CVoctoCtrl>> controls_;
};

}  // namespace zimo::vocto::testing
