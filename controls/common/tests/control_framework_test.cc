// The control base, the property bag and bound property pages, with a small
// control of their own.
#include <gtest/gtest.h>

#include <fstream>

#include "automation/dispatch_table.h"
#include "automation/event_sink.h"
#include "controls/control.h"
#include "controls/property_bag.h"
#include "controls/property_page.h"
#include "platform/message.h"
#include "temp_home.h"

namespace zimo::controls {
namespace {

using automation::Bstr;
using automation::DispatchTable;
using automation::InterfaceInfo;
using automation::kMethod;
using automation::kPropertyGet;
using automation::kPropertyPut;
using automation::MemberInfo;
using automation::ParamDir;
using automation::ParamInfo;
using automation::VT_BOOL;
using automation::VT_I4;

constexpr automation::Guid kIid = automation::MakeGuid(0x11, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8});
constexpr automation::Guid kEventsIid = automation::MakeGuid(0x12, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8});
constexpr ParamInfo kLongGet[] = {{"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kLongPut[] = {{"v", VT_I4}};
constexpr ParamInfo kBoolGet[] = {{"pVal", VT_BOOL, ParamDir::kRetval}};
constexpr ParamInfo kBoolPut[] = {{"v", VT_BOOL}};
constexpr MemberInfo kMembers[] = {
    {1, "Limit", kPropertyGet, kLongGet},
    {1, "Limit", kPropertyPut, kLongPut},
    {2, "Loud", kPropertyGet, kBoolGet},
    {2, "Loud", kPropertyPut, kBoolPut},
    {3, "Quiet", kPropertyGet, kBoolGet},
    {3, "Quiet", kPropertyPut, kBoolPut},
    {4, "Ring", kMethod, {}},
};
constexpr InterfaceInfo kInterface{"_DSample", kIid, kMembers};
constexpr ParamInfo kRang[] = {{"Count", VT_I4}};
constexpr MemberInfo kEventMembers[] = {{1, "Rang", kMethod, kRang}};
constexpr InterfaceInfo kEvents{"_DSampleEvents", kEventsIid, kEventMembers};

// Setting Loud clears Quiet through Quiet's own setter.
class SampleControl : public Control {
 public:
  SampleControl() : Control(kEvents, 0x00020003) { persist_stock_enabled_ = true; }
  static const DispatchTable<SampleControl>& Table() {
    using T = DispatchTable<SampleControl>;
    static const T t(kInterface, {T::Bind<&SampleControl::get_Limit>(1, kPropertyGet),
                                  T::Bind<&SampleControl::put_Limit>(1, kPropertyPut),
                                  T::Bind<&SampleControl::get_Loud>(2, kPropertyGet),
                                  T::Bind<&SampleControl::put_Loud>(2, kPropertyPut),
                                  T::Bind<&SampleControl::get_Quiet>(3, kPropertyGet),
                                  T::Bind<&SampleControl::put_Quiet>(3, kPropertyPut),
                                  T::Bind<&SampleControl::Ring>(4)});
    return t;
  }
  automation::HRESULT Invoke(automation::DispId id, uint16_t flags, std::span<Variant> args,
                             Variant* result, automation::ExcepInfo* excep) override {
    return Table().Invoke(*this, id, flags, args, result, excep);
  }
  const InterfaceInfo* TypeInfo() const override { return &kInterface; }

  automation::HRESULT get_Limit(int32_t* v) { return *v = limit, automation::S_OK; }
  automation::HRESULT put_Limit(int32_t v) {
    limit = v;
    puts.push_back("Limit");
    SetModifiedFlag();
    BoundPropertyChanged(1);
    return automation::S_OK;
  }
  automation::HRESULT get_Loud(bool* v) { return *v = loud, automation::S_OK; }
  automation::HRESULT put_Loud(bool v) {
    loud = v;
    puts.push_back("Loud");
    if (v) put_Quiet(false);
    return automation::S_OK;
  }
  automation::HRESULT get_Quiet(bool* v) { return *v = quiet, automation::S_OK; }
  automation::HRESULT put_Quiet(bool v) {
    quiet = v;
    puts.push_back("Quiet");
    return automation::S_OK;
  }
  void Ring() {
    Variant args[] = {Variant(++rings)};
    FireEvent(1, args);
  }

  int32_t limit = 5;
  bool loud = false;
  bool quiet = true;
  int32_t rings = 0;
  int enabled_changes = 0;
  int user_mode_changes = 0;
  std::vector<std::string> puts;

 protected:
  void DoPropExchange(PropExchange& px) override {
    ExchangeVersion(px);
    ExchangeStockProps(px);
    px.Long("Limit", &limit, 5);
  }
  void OnEnabledChanged() override { ++enabled_changes; }
  void OnAmbientUserModeChanged() override { ++user_mode_changes; }
};

class Site : public ControlSite {
 public:
  bool UserMode() const override { return user_mode; }
  std::string DisplayName() const override { return "Sample1"; }
  uint32_t BackColor() const override { return 0x00112233; }
  bool UIDead() const override { return true; }
  void OnChanged(automation::DispId id) override { changed.push_back(id); }
  void OnModified(bool m) override { modified.push_back(m); }
  bool SetTimer(Control* c, int id, int ms) override {
    timers.push_back({id, ms});
    return true;
  }
  void KillTimer(Control*, int id) override { timers.push_back({id, 0}); }
  bool user_mode = false;
  std::vector<std::pair<int, int>> timers;
  std::vector<automation::DispId> changed;
  std::vector<bool> modified;
};

TEST(ControlTest, SiteAmbientsNotificationsAndEvents) {
  SampleControl c;
  EXPECT_TRUE(c.AmbientUserMode());  // no site yet
  EXPECT_EQ(c.AmbientBackColor(), 0x00FFFFFFu);
  Site site;
  c.SetClientSite(&site);
  EXPECT_FALSE(c.AmbientUserMode());
  EXPECT_EQ(c.AmbientDisplayName(), "Sample1");
  EXPECT_EQ(c.AmbientBackColor(), 0x00112233u);
  EXPECT_TRUE(c.AmbientUIDead());
  site.user_mode = true;
  c.OnAmbientPropertyChange(kDispidAmbientUserMode);
  c.OnAmbientPropertyChange(kDispidAmbientBackColor);
  EXPECT_EQ(c.user_mode_changes, 1);

  ASSERT_EQ(c.CallByName("limit", kPropertyPut, {Variant(9)}), automation::S_OK);
  EXPECT_EQ(site.changed, std::vector<automation::DispId>{1});
  EXPECT_EQ(site.modified, std::vector<bool>{true});
  EXPECT_TRUE(c.IsModified());

  std::vector<int32_t> rang;
  auto sink = automation::MakeEventSink(kEvents,
                                        [&](automation::DispId id, std::span<Variant> a, Variant*) {
                                          rang.push_back(id * 100 + a[0].i4());
                                          return automation::S_OK;
                                        });
  uint32_t cookie = 0;
  ASSERT_EQ(c.Advise(kEventsIid, sink, &cookie), automation::S_OK);
  EXPECT_EQ(c.Advise(kIid, sink, &cookie), automation::CONNECT_E_NOCONNECTION);
  c.Call(4, kMethod, {});
  c.Call(4, kMethod, {});
  EXPECT_EQ(rang, (std::vector<int32_t>{101, 102}));
}

TEST(ControlTest, WindowTimersGoThroughTheSite) {
  SampleControl c;
  EXPECT_FALSE(c.SetTimer(1, 100));  // no site, no timer
  Site site;
  c.SetClientSite(&site);
  EXPECT_TRUE(c.SetTimer(1, 100));
  c.KillTimer(1);
  EXPECT_EQ(site.timers, (std::vector<std::pair<int, int>>{{1, 100}, {1, 0}}));
}

TEST(ControlTest, TheExtentIsFixedAt32PixelsAndEnabledHasItsHook) {
  SampleControl c;
  const Extent fixed{847, 847};  // 32 pixels at 96 per inch in 0.01 mm
  EXPECT_EQ(c.GetExtent(), fixed);
  EXPECT_EQ(c.SetExtent({5000, 100}), fixed);
  EXPECT_EQ(c.GetExtent(), fixed);
  c.SetStockEnabled(true);  // already enabled: no change
  c.SetStockEnabled(false);
  EXPECT_EQ(c.enabled_changes, 1);
  EXPECT_FALSE(c.GetStockEnabled());
}

TEST(ControlTest, TheExchangeStoresVersionStockPropertiesAndDefaults) {
  zimo::testing::TempHome home;
  SampleControl c;
  c.limit = 12;
  c.SetStockEnabled(false);
  PropertyBag bag;
  c.Save(bag);
  EXPECT_EQ(bag.Read("_Version"), "131075");
  EXPECT_EQ(bag.Read("Enabled"), "0");
  EXPECT_EQ(bag.Read("LIMIT"), "12");
  const auto file = home.path() / "sample.bag";
  ASSERT_TRUE(bag.SaveFile(file).ok());
  auto loaded = PropertyBag::LoadFile(file);
  ASSERT_TRUE(loaded.ok());
  SampleControl d;
  d.Load(*loaded);
  EXPECT_EQ(d.limit, 12);
  EXPECT_FALSE(d.GetStockEnabled());
  SampleControl fresh;
  fresh.limit = 99;
  fresh.InitNew();
  EXPECT_EQ(fresh.limit, 5);
  PropertyBag odd;
  odd.Write("Limit", "many");
  fresh.Load(odd);
  EXPECT_EQ(fresh.limit, 5);

  std::ofstream(home.path() / "broken.bag") << "Limit=3\nno equals sign\n";
  auto broken = PropertyBag::LoadFile(home.path() / "broken.bag");
  ASSERT_FALSE(broken.ok());
  EXPECT_NE(broken.status().message().find(":2:"), std::string::npos);
}

constexpr std::string_view kTexts[] = {"Sample options"};
constexpr PageField kFields[] = {
    {10, "Limit", FieldKind::kNumber, "Limit", true, 1, 50},
    {11, "Loud", FieldKind::kCheck, "Loud"},
    {12, "Quiet", FieldKind::kCheck, "Quiet"},
};
constexpr PageDescription kPage{kIid, 300, "Sample", kTexts, kFields};

TEST(PropertyPageTest, ApplyWritesOnlyChangedFieldsThroughTheSetters) {
  auto c = std::make_shared<SampleControl>();
  PropertyFrame frame;
  frame.AddPage(std::make_unique<PropertyPage>(kPage, c));
  PropertyPage& page = frame.page(0);
  page.LoadFromObject();
  EXPECT_EQ(page.Text(10), "5");
  EXPECT_TRUE(page.Checked(12));
  EXPECT_FALSE(frame.CanApply());
  page.SetChecked(11, true);
  EXPECT_TRUE(frame.CanApply());
  ASSERT_TRUE(frame.Apply());
  // Quiet was not touched on the page, so Loud's setter clearing it stands.
  EXPECT_EQ(c->puts, (std::vector<std::string>{"Loud", "Quiet"}));
  EXPECT_FALSE(c->quiet);
  EXPECT_FALSE(frame.CanApply());
}

TEST(PropertyPageTest, RangeChecksRefuseBeforeAnythingIsWritten) {
  platform::MessageRecorder boxes;
  platform::ScopedMessageService scoped(boxes);
  auto c = std::make_shared<SampleControl>();
  PropertyFrame frame;
  frame.AddPage(std::make_unique<PropertyPage>(kPage, c));
  PropertyPage& page = frame.page(0);
  page.LoadFromObject();
  page.SetChecked(11, true);
  struct Case {
    const char* text;
    const char* message;
  };
  for (const Case& k : {Case{"51", "Please enter an integer between 1 and 50."},
                        Case{"0", "Please enter an integer between 1 and 50."},
                        Case{"x7", "Please enter an integer."}}) {
    page.SetText(10, k.text);
    EXPECT_FALSE(frame.Ok()) << k.text;
    EXPECT_EQ(boxes.last()->text, k.message);
    EXPECT_TRUE(c->puts.empty());
    EXPECT_FALSE(frame.closed());
  }
  page.SetText(10, " 50 ");
  EXPECT_TRUE(frame.Ok());
  EXPECT_TRUE(frame.closed());
  EXPECT_EQ(c->limit, 50);
}

}  // namespace
}  // namespace zimo::controls
