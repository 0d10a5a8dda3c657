#include "automation/dispatch_table.h"

#include <gtest/gtest.h>

#include "automation/event_sink.h"
#include "tests/test_objects.h"

namespace zimo::automation {
namespace {

using testing::TestObject;

class DispatchTableTest : public ::testing::Test {
 protected:
  HRESULT Call(DispId id, uint16_t flags, std::vector<Variant> args, Variant* result = nullptr,
               ExcepInfo* excep = nullptr) {
    return object_.Invoke(id, flags, args, result, excep);
  }
  TestObject object_;
};

TEST_F(DispatchTableTest, ArgumentsAreConvertedToTheDeclaredKinds) {
  Variant sum;
  ASSERT_EQ(Call(1, kMethod, {Variant(int16_t{2}), Variant(u" 40")}, &sum), S_OK);
  EXPECT_EQ(sum, Variant(42));
  EXPECT_EQ(Call(1, kMethod, {Variant(1), Variant(u"forty")}, &sum), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call(1, kMethod, {Variant(1)}, &sum), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(99, kMethod, {}), DISP_E_MEMBERNOTFOUND);
}

TEST_F(DispatchTableTest, OutParametersGoThroughReferences) {
  Variant copy;
  ASSERT_EQ(Call(2, kMethod, {Variant(u"abc"), Variant::ByRef(&copy, VT_BSTR)}), S_OK);
  EXPECT_EQ(copy, Variant(u"abc"));
  // An out parameter not passed by reference is a null pointer to the method.
  EXPECT_EQ(Call(2, kMethod, {Variant(u"abc"), Variant()}), E_POINTER);
  // A reference declaring a narrower kind gets the value in that kind.
  Variant sum_as_short;
  Variant shorts = Variant::ByRef(&sum_as_short, VT_I2);
  TestObject* self = &object_;
  EXPECT_EQ(self->Invoke(7, kMethod, std::span<Variant>(&shorts, 1), nullptr, nullptr), S_FALSE);
  EXPECT_EQ(sum_as_short.vt(), VT_I2);
}

TEST_F(DispatchTableTest, AnOutParameterTheMethodLeavesAloneKeepsItsValue) {
  Variant kept(1234);
  EXPECT_EQ(Call(7, kMethod, {Variant::ByRef(&kept)}), S_FALSE);
  EXPECT_EQ(kept, Variant(1234));
}

TEST_F(DispatchTableTest, PropertiesShareTheirDispidAndLateBoundCallersMayCombineKinds) {
  ASSERT_EQ(Call(3, kPropertyPut, {Variant(7)}), S_OK);
  Variant v;
  ASSERT_EQ(Call(3, kMethod | kPropertyGet, {}, &v), S_OK);
  EXPECT_EQ(v, Variant(7));
  EXPECT_EQ(Call(3, kMethod, {}), DISP_E_MEMBERNOTFOUND);
  DispId id = 0;
  ASSERT_EQ(object_.GetIdOfName("count", &id), S_OK);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(object_.GetIdOfName("Counter", &id), DISP_E_UNKNOWNNAME);
}

TEST_F(DispatchTableTest, ArraysAreChangedInPlace) {
  SafeArray data = SafeArray::Vector(VT_I4, 3, 1);
  data.As<int32_t>()[2] = 5;
  Variant arg(std::move(data));
  ASSERT_EQ(Call(4, kMethod, {Variant::ByRef(&arg), Variant(3)}), S_OK);
  EXPECT_EQ(arg.array().As<int32_t>()[2], 15);
  EXPECT_EQ(arg.array().bound(0).lower, 1);
  // Not an array of longs: the method's own refusal.
  Variant shorts(SafeArray::Vector(VT_I2, 1));
  EXPECT_EQ(Call(4, kMethod, {Variant::ByRef(&shorts), Variant(3)}), S_FALSE);
}

TEST_F(DispatchTableTest, MethodsMayReturnAValueAndRaiseErrors) {
  Variant r;
  ASSERT_EQ(Call(6, kMethod, {Variant(2.0)}, &r), S_OK);
  EXPECT_EQ(r, Variant(true));
  ExcepInfo e;
  EXPECT_EQ(Call(5, kMethod, {Variant(1016)}, nullptr, &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.code, 1016);
  EXPECT_EQ(e.description.ToUtf8(), "raised on purpose");
}

TEST_F(DispatchTableTest, ObjectsComeBackAsDispatch) {
  Variant child;
  ASSERT_EQ(Call(10, kMethod, {}, &child), S_OK);
  ASSERT_EQ(child.vt(), VT_DISPATCH);
  Variant sum;
  ASSERT_EQ(child.dispatch()->Call(1, kMethod, {Variant(1), Variant(2)}, &sum), S_OK);
  EXPECT_EQ(sum, Variant(3));
}

// A table whose method does not match its row must not get past start-up.
class Mismatched : public DispatchImpl<Mismatched> {
 public:
  HRESULT Add(int32_t a, double b, int32_t* sum) { return S_OK; }
  static const DispatchTable<Mismatched>& Table() {
    static const MemberInfo members[] = {{1, "Add", kMethod, testing::params::kAdd}};
    static const InterfaceInfo info{"IMismatched", testing::kTestIid, members};
    static const DispatchTable<Mismatched> t(info,
                                             {DispatchTable<Mismatched>::Bind<&Mismatched::Add>(1)});
    return t;
  }
};

TEST(DispatchTableDeathTest, AMethodThatDoesNotMatchItsRowIsRefused) {
  EXPECT_DEATH(Mismatched::Table(), "IMismatched::Add parameter kind differs");
}

TEST(ConnectionPointTest, AdviseChecksTheSinkAndUnadviseTheCookie) {
  ConnectionPoint cp(testing::kTestEventsIid);
  uint32_t cookie = 0;
  auto wrong = MakeEventSink(testing::kTestInterface, nullptr);
  EXPECT_EQ(cp.Advise(wrong, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cp.Advise(nullptr, &cookie), E_POINTER);
  auto sink = MakeEventSink(testing::kTestEvents, nullptr);
  ASSERT_EQ(cp.Advise(sink, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(cp.Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp.Unadvise(cookie), S_OK);
  EXPECT_EQ(cp.Unadvise(cookie), CONNECT_E_NOCONNECTION);
}

TEST(ConnectionPointTest, FiringSkipsFailingSinksAndSurvivesUnadviseFromAHandler) {
  ConnectionPoint cp(testing::kTestEventsIid);
  std::vector<int> order;
  uint32_t leaving = 0;
  auto quitter = MakeEventSink(testing::kTestEvents, [&](DispId, std::span<Variant>, Variant*) {
    order.push_back(1);
    EXPECT_EQ(cp.Unadvise(leaving), S_OK);  // leaves while the event is being fired
    return S_OK;
  });
  auto failing = MakeEventSink(testing::kTestEvents, [&](DispId, std::span<Variant>, Variant*) {
    order.push_back(2);
    return E_FAIL;
  });
  auto answering = MakeEventSink(testing::kTestEvents, [&](DispId, std::span<Variant> args,
                                                           Variant* result) {
    order.push_back(3);
    *result = Variant(args[0].i4() * 2);
    return S_OK;
  });
  uint32_t c2 = 0, c3 = 0;
  ASSERT_EQ(cp.Advise(quitter, &leaving), S_OK);
  ASSERT_EQ(cp.Advise(failing, &c2), S_OK);
  ASSERT_EQ(cp.Advise(answering, &c3), S_OK);
  Variant args[] = {Variant(21)};
  Variant result;
  EXPECT_EQ(cp.Fire(1, args, &result), 2);
  EXPECT_EQ(result, Variant(42));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(cp.size(), 2u);
}

}  // namespace
}  // namespace zimo::automation
