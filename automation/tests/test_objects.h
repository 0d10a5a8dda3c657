// A small object with one member of each shape the tables describe, and an
// event interface, shared by the object-layer tests and the benchmark.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "automation/connection_point.h"
#include "automation/dispatch_table.h"

namespace zimo::automation::testing {

inline constexpr Guid kTestIid = MakeGuid(0x5A1D0001, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1});
inline constexpr Guid kTestEventsIid =
    MakeGuid(0x5A1D0001, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2});

namespace params {
inline constexpr ParamInfo kAdd[] = {
    {"a", VT_I4}, {"b", VT_I4}, {"sum", VT_I4, ParamDir::kRetval}};
inline constexpr ParamInfo kEcho[] = {{"text", VT_BSTR}, {"copy", VT_BSTR, ParamDir::kOut}};
inline constexpr ParamInfo kCountGet[] = {{"pVal", VT_I4, ParamDir::kRetval}};
inline constexpr ParamInfo kCountPut[] = {{"value", VT_I4}};
inline constexpr ParamInfo kScale[] = {{"data", VT_ARRAY | VT_I4, ParamDir::kInOut},
                                       {"factor", VT_I4}};
inline constexpr ParamInfo kRaise[] = {{"code", VT_I4}};
inline constexpr ParamInfo kIsPositive[] = {{"v", VT_R8}};
inline constexpr ParamInfo kKeep[] = {{"pVal", VT_I4, ParamDir::kOut}};
inline constexpr ParamInfo kFire[] = {{"value", VT_I4}};
inline constexpr ParamInfo kCreateChild[] = {{"child", VT_DISPATCH, ParamDir::kRetval}};
inline constexpr ParamInfo kTick[] = {{"value", VT_I4}};
}  // namespace params

inline constexpr MemberInfo kTestMembers[] = {
    {1, "Add", kMethod, params::kAdd},
    {2, "Echo", kMethod, params::kEcho},
    {3, "Count", kPropertyGet, params::kCountGet},
    {3, "Count", kPropertyPut, params::kCountPut},
    {4, "Scale", kMethod, params::kScale},
    {5, "Raise", kMethod, params::kRaise},
    {6, "IsPositive", kMethod, params::kIsPositive, VT_BOOL},
    {7, "Keep", kMethod, params::kKeep},
    {8, "Fire", kMethod, params::kFire},
    {9, "FireFromWorker", kMethod, params::kFire},
    {10, "CreateChild", kMethod, params::kCreateChild},
};
inline constexpr InterfaceInfo kTestInterface{"ITestObject", kTestIid, kTestMembers};

inline constexpr MemberInfo kTestEventMembers[] = {{1, "Tick", kMethod, params::kTick}};
inline constexpr InterfaceInfo kTestEvents{"_ITestObjectEvents", kTestEventsIid,
                                           kTestEventMembers};

class TestObject : public DispatchImpl<TestObject> {
 public:
  ~TestObject() override {
    for (auto& t : workers_) t.join();
  }

  HRESULT Add(int32_t a, int32_t b, int32_t* sum) {
    if (sum == nullptr) return E_POINTER;
    *sum = a + b;
    return S_OK;
  }
  HRESULT Echo(const Bstr& text, Bstr* copy) {
    if (copy == nullptr) return E_POINTER;
    *copy = text;
    return S_OK;
  }
  HRESULT get_Count(int32_t* v) {
    if (v == nullptr) return E_POINTER;
    *v = count_;
    return S_OK;
  }
  HRESULT put_Count(int32_t v) {
    count_ = v;
    return S_OK;
  }
  HRESULT Scale(SafeArray* data, int32_t factor) {
    if (data == nullptr || data->element_type() != VT_I4) return S_FALSE;
    for (int32_t& x : data->As<int32_t>()) x *= factor;
    return S_OK;
  }
  HRESULT Raise(int32_t code) { throw DispatchException(code, "raised on purpose"); }
  bool IsPositive(double v) { return v > 0; }
  HRESULT Keep(int32_t* /*untouched*/) { return S_FALSE; }
  // Fires Tick on the calling thread (for a client call: the server's
  // dispatching thread) and returns how many sinks answered.
  HRESULT Fire(int32_t value) {
    Variant args[] = {Variant(value)};
    count_ = events_.Fire(1, args);
    return S_OK;
  }
  HRESULT FireFromWorker(int32_t value) {
    workers_.emplace_back([this, value] {
      Variant args[] = {Variant(value)};
      events_.Fire(1, args);
    });
    return S_OK;
  }
  HRESULT CreateChild(std::shared_ptr<Dispatch>* child) {
    if (child == nullptr) return E_POINTER;
    *child = std::make_shared<TestObject>();
    return S_OK;
  }

  ConnectionPoint& events() { return events_; }

  static const DispatchTable<TestObject>& Table() {
    using T = DispatchTable<TestObject>;
    static const T table(kTestInterface,
                         {T::Bind<&TestObject::Add>(1), T::Bind<&TestObject::Echo>(2),
                          T::Bind<&TestObject::get_Count>(3, kPropertyGet),
                          T::Bind<&TestObject::put_Count>(3, kPropertyPut),
                          T::Bind<&TestObject::Scale>(4), T::Bind<&TestObject::Raise>(5),
                          T::Bind<&TestObject::IsPositive>(6), T::Bind<&TestObject::Keep>(7),
                          T::Bind<&TestObject::Fire>(8), T::Bind<&TestObject::FireFromWorker>(9),
                          T::Bind<&TestObject::CreateChild>(10)});
    return table;
  }

 protected:
  ConnectionPoint* FindConnectionPoint(const Guid& iid) override {
    return iid == kTestEventsIid ? &events_ : nullptr;
  }

 private:
  std::atomic<int32_t> count_{0};
  ConnectionPoint events_{kTestEventsIid};
  std::vector<std::thread> workers_;
};

}  // namespace zimo::automation::testing
