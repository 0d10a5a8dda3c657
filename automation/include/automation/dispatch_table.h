// Binds the members of an interface table to the C++ methods of an object
// class, so that late-bound calls reach typed methods:
//
//   HRESULT get_ScanInterval(int32_t* pVal);          // [out, retval] long*
//   HRESULT SendLine(int32_t dwDevice, const Bstr& line);
//   bool GetResponse(Bstr* response, const Bstr& command);  // control method
//
//   static const DispatchTable<MyObject>& Table() {
//     static const DispatchTable<MyObject> t(kMyInterface, {
//         Bind<&MyObject::get_ScanInterval>(4, kPropertyGet), ...});
//     return t;
//   }
//
// Parameter types: int16_t, int32_t, float, double, bool, uint8_t, int64_t,
// const Bstr&, const Variant&, std::shared_ptr<Dispatch> for in; pointers to
// the scalar kinds, Bstr*, Variant*, SafeArray* and std::shared_ptr<Dispatch>*
// for out and in/out. An
// out parameter the caller did not pass by reference arrives as nullptr,
// so the method's own E_POINTER rule applies.
//
// The table is checked when it is built: every member bound once, and each
// method's parameter kinds, directions and result kind match its row. A
// mismatch is a programming error and aborts with the member's name.
#pragma once

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "automation/dispatch.h"

namespace zimo::automation {

namespace dispatch_detail {

// How a C++ parameter type travels: the kind it carries and whether it is
// an out (pointer) parameter. kAnyArray matches every VT_ARRAY kind.
inline constexpr VarType kAnyArray = 0xFFFF;

template <typename V> struct ScalarKind;
template <> struct ScalarKind<int16_t> { static constexpr VarType kType = VT_I2; };
template <> struct ScalarKind<int32_t> { static constexpr VarType kType = VT_I4; };
template <> struct ScalarKind<float> { static constexpr VarType kType = VT_R4; };
template <> struct ScalarKind<double> { static constexpr VarType kType = VT_R8; };
template <> struct ScalarKind<bool> { static constexpr VarType kType = VT_BOOL; };
template <> struct ScalarKind<uint8_t> { static constexpr VarType kType = VT_UI1; };
template <> struct ScalarKind<int64_t> { static constexpr VarType kType = VT_I8; };
template <> struct ScalarKind<Bstr> { static constexpr VarType kType = VT_BSTR; };

// Where an argument comes from: the caller's Variant (args[i]) or, for a
// retval, the call's result Variant. Either may be null.
struct Source {
  Variant* arg = nullptr;
  bool is_retval = false;
  ParamDir dir = ParamDir::kIn;
};

// An in parameter of a scalar kind, converted from whatever the caller sent.
template <typename V>
struct InSlot {
  static constexpr VarType kType = ScalarKind<V>::kType;
  static constexpr bool kOut = false;
  V value{};
  HRESULT Load(const Source& s) {
    if (s.arg == nullptr) return DISP_E_PARAMNOTFOUND;
    return Failed(s.arg->Deref().To(&value)) ? DISP_E_TYPEMISMATCH : S_OK;
  }
  const V& Get() { return value; }
  HRESULT Store() { return S_OK; }
};

struct VariantInSlot {
  static constexpr VarType kType = VT_VARIANT;
  static constexpr bool kOut = false;
  const Variant* value = nullptr;
  Variant empty;
  HRESULT Load(const Source& s) {
    value = s.arg != nullptr ? &s.arg->Deref() : &empty;
    return S_OK;
  }
  const Variant& Get() { return *value; }
  HRESULT Store() { return S_OK; }
};

struct ObjectInSlot {
  static constexpr VarType kType = VT_DISPATCH;
  static constexpr bool kOut = false;
  std::shared_ptr<Dispatch> value;
  HRESULT Load(const Source& s) {
    if (s.arg == nullptr) return S_OK;
    const Variant& v = s.arg->Deref();
    if (v.vt() == VT_DISPATCH || v.vt() == VT_UNKNOWN) {
      value = v.dispatch();
    } else if (!v.is_empty() && v.vt() != VT_NULL) {
      return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
  }
  std::shared_ptr<Dispatch> Get() { return value; }
  HRESULT Store() { return S_OK; }
};

// The Variant an out parameter writes to: the target of a by-reference
// argument, or the call's result for a retval.
inline Variant* OutTarget(const Source& s, VarType* declared) {
  *declared = VT_VARIANT;
  if (s.arg == nullptr) return nullptr;
  if (s.is_retval) return s.arg;
  if (!s.arg->is_byref()) return nullptr;
  *declared = s.arg->ref_type();
  return s.arg->ref();
}

// An out or in/out scalar: a local of the method's type, loaded from the
// caller's current value (so a method that leaves it alone leaves it as
// it was) and written back in the kind the reference declares.
template <typename V>
struct OutSlot {
  static constexpr VarType kType = ScalarKind<V>::kType;
  static constexpr bool kOut = true;
  V local{};
  Variant* target = nullptr;
  VarType declared = VT_VARIANT;
  HRESULT Load(const Source& s) {
    target = OutTarget(s, &declared);
    if (target == nullptr) return S_OK;
    if (Failed(target->To(&local))) {
      if (s.dir == ParamDir::kInOut) return DISP_E_TYPEMISMATCH;
      local = V{};
    }
    return S_OK;
  }
  V* Get() { return target != nullptr ? &local : nullptr; }
  HRESULT Store() {
    if (target == nullptr) return S_OK;
    Variant v(std::move(local));
    if (declared == VT_VARIANT || declared == v.vt()) {
      *target = std::move(v);
      return S_OK;
    }
    Variant converted;
    HRESULT hr = v.ChangeType(declared, &converted);
    if (Failed(hr)) return hr;
    *target = std::move(converted);
    return S_OK;
  }
};

struct VariantOutSlot {
  static constexpr VarType kType = VT_VARIANT;
  static constexpr bool kOut = true;
  Variant* target = nullptr;
  HRESULT Load(const Source& s) {
    VarType declared;
    target = OutTarget(s, &declared);
    return S_OK;
  }
  Variant* Get() { return target; }
  HRESULT Store() { return S_OK; }
};

// IDispatch** out: the object (or null) handed back as VT_DISPATCH.
struct ObjectOutSlot {
  static constexpr VarType kType = VT_DISPATCH;
  static constexpr bool kOut = true;
  std::shared_ptr<Dispatch> local;
  Variant* target = nullptr;
  HRESULT Load(const Source& s) {
    VarType declared;
    target = OutTarget(s, &declared);
    if (target != nullptr) {
      const Variant& v = target->Deref();
      if (v.vt() == VT_DISPATCH || v.vt() == VT_UNKNOWN) local = v.dispatch();
    }
    return S_OK;
  }
  std::shared_ptr<Dispatch>* Get() { return target != nullptr ? &local : nullptr; }
  HRESULT Store() {
    if (target != nullptr) *target = Variant(std::move(local));
    return S_OK;
  }
};

// SAFEARRAY(x)*: the caller's array itself when it passed one (in-place
// methods work on it), else a local whose result is handed back.
struct ArrayOutSlot {
  static constexpr VarType kType = kAnyArray;
  static constexpr bool kOut = true;
  Variant* target = nullptr;
  SafeArray* array = nullptr;
  SafeArray local;
  HRESULT Load(const Source& s) {
    VarType declared;
    target = OutTarget(s, &declared);
    if (target == nullptr) return S_OK;
    array = target->is_array() ? &target->array() : &local;
    return S_OK;
  }
  SafeArray* Get() { return array; }
  HRESULT Store() {
    if (target != nullptr && array == &local && local.dims() > 0) *target = Variant(std::move(local));
    return S_OK;
  }
};

template <typename A> struct SlotFor;
template <> struct SlotFor<int16_t> { using Type = InSlot<int16_t>; };
template <> struct SlotFor<int32_t> { using Type = InSlot<int32_t>; };
template <> struct SlotFor<float> { using Type = InSlot<float>; };
template <> struct SlotFor<double> { using Type = InSlot<double>; };
template <> struct SlotFor<bool> { using Type = InSlot<bool>; };
template <> struct SlotFor<uint8_t> { using Type = InSlot<uint8_t>; };
template <> struct SlotFor<int64_t> { using Type = InSlot<int64_t>; };
template <> struct SlotFor<const Bstr&> { using Type = InSlot<Bstr>; };
template <> struct SlotFor<const Variant&> { using Type = VariantInSlot; };
template <> struct SlotFor<std::shared_ptr<Dispatch>> { using Type = ObjectInSlot; };
template <> struct SlotFor<int16_t*> { using Type = OutSlot<int16_t>; };
template <> struct SlotFor<int32_t*> { using Type = OutSlot<int32_t>; };
template <> struct SlotFor<float*> { using Type = OutSlot<float>; };
template <> struct SlotFor<double*> { using Type = OutSlot<double>; };
template <> struct SlotFor<bool*> { using Type = OutSlot<bool>; };
template <> struct SlotFor<uint8_t*> { using Type = OutSlot<uint8_t>; };
template <> struct SlotFor<int64_t*> { using Type = OutSlot<int64_t>; };
template <> struct SlotFor<Bstr*> { using Type = OutSlot<Bstr>; };
template <> struct SlotFor<Variant*> { using Type = VariantOutSlot; };
template <> struct SlotFor<SafeArray*> { using Type = ArrayOutSlot; };
template <> struct SlotFor<std::shared_ptr<Dispatch>*> { using Type = ObjectOutSlot; };

template <typename R> constexpr VarType ResultKind() {
  if constexpr (std::is_void_v<R>) {
    return VT_EMPTY;
  } else {
    return ScalarKind<R>::kType;
  }
}

template <typename F> struct MethodTraits;
template <typename C, typename R, typename... A>
struct MethodTraits<R (C::*)(A...)> {
  using Class = C;
  using Result = R;
  using Slots = std::tuple<typename SlotFor<A>::Type...>;
  static constexpr size_t kArity = sizeof...(A);
};

struct Signature {
  std::vector<VarType> types;
  std::vector<bool> outs;
  VarType result_if_value = VT_EMPTY;  // the kind when the method returns a value
  bool returns_hresult = false;
};

[[noreturn]] void BadBinding(std::string_view interface_name, std::string_view member,
                             const char* why);

// Fills `excep` from an exception a bound method threw.
HRESULT FromException(const std::exception& e, ExcepInfo* excep);

}  // namespace dispatch_detail

template <typename T>
class DispatchTable {
 public:
  using Thunk = HRESULT (*)(T& self, const MemberInfo& m, std::span<Variant> args, Variant* result);

  struct Binding {
    DispId id;
    uint16_t kind;
    Thunk thunk;
    dispatch_detail::Signature signature;
  };

  // Binds method Fn to the member (id, kind).
  template <auto Fn>
  static Binding Bind(DispId id, uint16_t kind = kMethod) {
    using Traits = dispatch_detail::MethodTraits<decltype(Fn)>;
    static_assert(std::is_base_of_v<typename Traits::Class, T>, "method of another class");
    Binding b{id, kind, &CallThunk<Fn>, {}};
    std::apply([&b](auto... slot) { (AddSlot(b.signature, slot), ...); },
               typename Traits::Slots{});
    using R = typename Traits::Result;
    if constexpr (std::is_same_v<R, HRESULT> || std::is_void_v<R>) {
      b.signature.returns_hresult = true;
    }
    if constexpr (!std::is_void_v<R>) {
      b.signature.result_if_value = dispatch_detail::ResultKind<R>();
    }
    return b;
  }

  DispatchTable(const InterfaceInfo& info, std::initializer_list<Binding> bindings)
      : DispatchTable(info, std::span<const Binding>(bindings.begin(), bindings.size())) {}
  DispatchTable(const InterfaceInfo& info, std::span<const Binding> bindings)
      : info_(info), entries_(info.members.size(), nullptr) {
    bindings_.assign(bindings.begin(), bindings.end());
    for (const Binding& b : bindings_) {
      size_t index = Index(b.id, b.kind);
      if (index == kNone) dispatch_detail::BadBinding(info.name, "?", "binds a member not in the table");
      const MemberInfo& m = info.members[index];
      if (entries_[index] != nullptr) dispatch_detail::BadBinding(info.name, m.name, "bound twice");
      Check(m, b.signature);
      entries_[index] = &b;
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i] == nullptr) {
        dispatch_detail::BadBinding(info.name, info.members[i].name, "not bound");
      }
    }
    // Every call looks its member up: by (DISPID, kind) in sorted order
    // rather than along the whole interface.
    by_key_.reserve(info.members.size());
    for (size_t i = 0; i < info.members.size(); ++i) {
      by_key_.push_back({Key(info.members[i].id, info.members[i].kind), i});
    }
    std::sort(by_key_.begin(), by_key_.end());
  }
  DispatchTable(const DispatchTable&) = delete;
  DispatchTable& operator=(const DispatchTable&) = delete;

  const InterfaceInfo& info() const { return info_; }

  HRESULT Invoke(T& self, DispId id, uint16_t flags, std::span<Variant> args, Variant* result,
                 ExcepInfo* excep) const {
    const size_t index = Lookup(id, flags);
    if (index == kNone) return DISP_E_MEMBERNOTFOUND;
    const MemberInfo* m = &info_.members[index];
    if (args.size() != m->ArgCount()) return DISP_E_BADPARAMCOUNT;
    const Binding* b = entries_[index];
    try {
      return b->thunk(self, *m, args, result);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
      return dispatch_detail::FromException(e, excep);
    }
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  static uint64_t Key(DispId id, uint16_t kind) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(id)) << 16) | kind;
  }

  // The member for a DISPID and a (possibly combined) invocation kind, in
  // the order InterfaceInfo::Find takes: a method, a property get, a put.
  size_t Lookup(DispId id, uint16_t flags) const {
    for (uint16_t kind : {kMethod, kPropertyGet, kPropertyPut}) {
      if ((flags & kind) == 0) continue;
      const std::pair<uint64_t, size_t> wanted{Key(id, kind), 0};
      auto it = std::lower_bound(by_key_.begin(), by_key_.end(), wanted);
      if (it != by_key_.end() && it->first == wanted.first) return it->second;
    }
    return kNone;
  }

  size_t Index(DispId id, uint16_t kind) const {
    for (size_t i = 0; i < info_.members.size(); ++i) {
      if (info_.members[i].id == id && info_.members[i].kind == kind) return i;
    }
    return kNone;
  }

  template <typename Slot>
  static void AddSlot(dispatch_detail::Signature& s, const Slot&) {
    s.types.push_back(Slot::kType);
    s.outs.push_back(Slot::kOut);
  }

  void Check(const MemberInfo& m, const dispatch_detail::Signature& s) const {
    if (s.types.size() != m.params.size()) {
      dispatch_detail::BadBinding(info_.name, m.name, "parameter count differs from the table");
    }
    for (size_t i = 0; i < s.types.size(); ++i) {
      const ParamInfo& p = m.params[i];
      bool out = p.dir != ParamDir::kIn;
      if (out != s.outs[i]) dispatch_detail::BadBinding(info_.name, m.name, "parameter direction differs");
      bool kind_ok = s.types[i] == dispatch_detail::kAnyArray ? (p.type & VT_ARRAY) != 0
                     : s.types[i] == VT_DISPATCH ? (p.type == VT_DISPATCH || p.type == VT_UNKNOWN)
                                                  : s.types[i] == p.type;
      if (!kind_ok) dispatch_detail::BadBinding(info_.name, m.name, "parameter kind differs");
      if (p.dir == ParamDir::kRetval && i + 1 != m.params.size()) {
        dispatch_detail::BadBinding(info_.name, m.name, "retval is not the last parameter");
      }
    }
    if (m.result == VT_EMPTY ? !s.returns_hresult : s.result_if_value != m.result) {
      dispatch_detail::BadBinding(info_.name, m.name, "result kind differs");
    }
  }

  template <auto Fn>
  static HRESULT CallThunk(T& self, const MemberInfo& m, std::span<Variant> args, Variant* result) {
    using Traits = dispatch_detail::MethodTraits<decltype(Fn)>;
    typename Traits::Slots slots;
    return CallWith<Fn>(self, m, args, result, slots,
                        std::make_index_sequence<Traits::kArity>{});
  }

  template <auto Fn, typename Slots, size_t... I>
  static HRESULT CallWith(T& self, const MemberInfo& m, std::span<Variant> args, Variant* result,
                          Slots& slots, std::index_sequence<I...>) {
    using R = typename dispatch_detail::MethodTraits<decltype(Fn)>::Result;
    HRESULT hr = S_OK;
    // Load every slot in order; the first failure names the call's result.
    [[maybe_unused]] auto load = [&](auto& slot, size_t i) {
      if (Failed(hr)) return;
      const ParamInfo& p = m.params[i];
      dispatch_detail::Source src;
      src.dir = p.dir;
      if (p.dir == ParamDir::kRetval) {
        src.arg = result;
        src.is_retval = true;
      } else {
        src.arg = &args[i];
      }
      hr = slot.Load(src);
    };
    (load(std::get<I>(slots), I), ...);
    if (Failed(hr)) return hr;
    if constexpr (std::is_void_v<R>) {
      (static_cast<T&>(self).*Fn)(std::get<I>(slots).Get()...);
    } else if constexpr (std::is_same_v<R, HRESULT>) {
      R r = (static_cast<T&>(self).*Fn)(std::get<I>(slots).Get()...);
      if (m.result == VT_EMPTY) {
        hr = r;
      } else if (result != nullptr) {
        *result = Variant(r);
      }
    } else {
      R r = (static_cast<T&>(self).*Fn)(std::get<I>(slots).Get()...);
      if (result != nullptr) *result = Variant(r);
    }
    HRESULT store = S_OK;
    [[maybe_unused]] auto write = [&store](auto& slot) {
      HRESULT s = slot.Store();
      if (Succeeded(store) && Failed(s)) store = s;
    };
    (write(std::get<I>(slots)), ...);
    return Failed(store) ? store : hr;
  }

  const InterfaceInfo& info_;
  std::vector<Binding> bindings_;
  std::vector<const Binding*> entries_;
  std::vector<std::pair<uint64_t, size_t>> by_key_;  // (Key, index into the members), sorted
};

// An object whose dispatch interface is a DispatchTable. T provides
// `static const DispatchTable<T>& Table();`.
template <typename T>
class DispatchImpl : public Dispatch {
 public:
  HRESULT Invoke(DispId id, uint16_t flags, std::span<Variant> args, Variant* result,
                 ExcepInfo* excep) override {
    return T::Table().Invoke(static_cast<T&>(*this), id, flags, args, result, excep);
  }
  const InterfaceInfo* TypeInfo() const override { return &T::Table().info(); }
};

}  // namespace zimo::automation
