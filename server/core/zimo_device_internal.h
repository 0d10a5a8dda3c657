// What the device object's source files share: the argument checks, the
// road from the library's plain callbacks to the object whose call runs,
// and the templates of the rows that only forward to one library operation
// (made where the rows are).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "core/zimo_device.h"
#include "corvan/dpr_api.h"

namespace zimo::server {
namespace device_detail {

inline bool BadDevice(int32_t device) { return device < 0 || device > 7; }
// A checked device number as the library takes it.
inline uint32_t Dev(int32_t device) { return static_cast<uint32_t>(device); }

// Texts the library writes for one query, and the firmware version and
// date texts.
inline constexpr uint32_t kTextSize = 255;
inline constexpr uint32_t kRomTextSize = 30;

// 8-bit text of an input text the operation needs; false when it is missing.
bool InputText(const Bstr& text, std::string* out);
// 8-bit text of an optional input text; null when none was given.
const char* OptionalText(const Bstr& text, std::string* out);

// While one lives, the library's plain callbacks on this thread report to
// the object whose call runs (the call returns before the next one).
class RoutedReports {
 public:
  explicit RoutedReports(std::shared_ptr<LibraryReports> reports);
  ~RoutedReports();
  RoutedReports(const RoutedReports&) = delete;
  RoutedReports& operator=(const RoutedReports&) = delete;

 private:
  std::shared_ptr<LibraryReports> reports_;
  LibraryReports* previous_ = nullptr;
};

// The callbacks themselves, for library calls that take them.
int32_t ReportMessage(const char* text, int32_t new_line);
int32_t ReportProgress(int32_t percent);
void ReportProgressOnly(int32_t percent);

}  // namespace device_detail

using automation::E_INVALIDARG;
using automation::E_POINTER;
using automation::S_FALSE;
using automation::S_OK;
using device_detail::BadDevice;
using device_detail::InputText;
using device_detail::OptionalText;

namespace device_detail {

// The parameter types of a library operation.
template <typename F>
struct OpTraits;
template <typename R, typename... P>
struct OpTraits<R (*)(P...)> {
  using Params = std::tuple<P...>;
};
template <typename R, typename... P>
struct OpTraits<R (*)(P...) noexcept> : OpTraits<R (*)(P...)> {};

// An input text handed to an operation as 8-bit text, alive until the end
// of the call it is an argument of.
struct TextArg {
  std::string text;
  operator const char*() const { return text.c_str(); }
};

// A client's argument as the operation's parameter of type P: numbers
// converted (signed to unsigned and back as they stand), texts as 8-bit
// text, out values as pointers to the same bits.
template <typename P, typename A>
P Pass(A value) {
  return static_cast<P>(value);
}
template <typename P>
TextArg Pass(const Bstr& text) {
  static_assert(std::is_same_v<P, const char*>, "a text goes to a const char* parameter");
  return TextArg{text.ToAnsi()};
}
template <typename P, typename A>
P Pass(A* out) {
  if constexpr (std::is_same_v<P, A*> || std::is_same_v<P, void*>) {
    return out;
  } else {
    static_assert(sizeof(std::remove_pointer_t<P>) == sizeof(A), "an out value of another size");
    return reinterpret_cast<P>(out);
  }
}

// Whether a required argument is missing: an empty text or a null out
// pointer.
template <typename A>
bool Missing(const A&) {
  return false;
}
inline bool Missing(const Bstr& text) { return text.empty(); }
template <typename A>
bool Missing(A* out) {
  return out == nullptr;
}

template <auto Op, typename Params, size_t... I, typename... A>
decltype(auto) CallWith(std::index_sequence<I...>, int32_t device, A&&... args) {
  return Op(Dev(device), Pass<std::tuple_element_t<I + 1, Params>>(std::forward<A>(args))...);
}

// Calls the operation with the device and the client's other arguments in
// their order, each as the operation's own type.
template <auto Op, typename... A>
decltype(auto) CallOp(int32_t device, A&&... args) {
  using Params = typename OpTraits<decltype(Op)>::Params;
  static_assert(std::tuple_size_v<Params> == 1 + sizeof...(A), "the operation's arity differs");
  return CallWith<Op, Params>(std::index_sequence_for<A...>{}, device, std::forward<A>(args)...);
}

}  // namespace device_detail

template <auto Op, typename Out, typename... In>
HRESULT ZimoDevice::ValueOf(int32_t device, In... in, Out* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr || (device_detail::Missing(in) || ...)) return E_POINTER;
  *value = static_cast<Out>(device_detail::CallOp<Op>(device, in...));
  return S_OK;
}

template <auto Op, typename... In>
HRESULT ZimoDevice::Action(int32_t device, In... in) {
  if (BadDevice(device)) return E_INVALIDARG;
  if ((device_detail::Missing(in) || ...)) return E_POINTER;
  device_detail::CallOp<Op>(device, in...);
  return S_OK;
}

template <auto Op, typename... In>
HRESULT ZimoDevice::Succeeds(int32_t device, In... in) {
  if (BadDevice(device)) return E_INVALIDARG;
  if ((device_detail::Missing(in) || ...)) return E_POINTER;
  return device_detail::CallOp<Op>(device, in...) != 0 ? S_OK : S_FALSE;
}

template <auto Op, uint32_t Size>
HRESULT ZimoDevice::TextOut(int32_t device, Bstr* text) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (text == nullptr) return E_POINTER;
  char buffer[Size + 1] = {};
  const auto got = Op(device_detail::Dev(device), buffer, Size);
  *text = got ? Bstr::FromAnsi(buffer) : Bstr();
  return S_OK;
}

// The library reads both status words, but the client passed room for one:
// both are read into a local pair and the first is handed back, so the
// second is never written past the client's value.
template <auto Read, typename... In>
HRESULT ZimoDevice::StatusWord(int32_t device, In... in, int32_t* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  uint32_t words[2] = {};
  if (device_detail::CallOp<Read>(device, in..., words) == 0) return S_FALSE;
  *value = static_cast<int32_t>(words[0]);
  return S_OK;
}

template <double (*Convert)(const uint32_t*, double)>
HRESULT ZimoDevice::DprWord(int32_t device, int32_t offset, double* value) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (value == nullptr) return E_POINTER;
  uint32_t words[2] = {};
  if (ZimoDPRGetMem(device_detail::Dev(device), static_cast<uint32_t>(offset), sizeof words,
                    words) == nullptr) {
    *value = 0.0;
    return S_FALSE;
  }
  *value = Convert(words, 1.0);
  return S_OK;
}

}  // namespace zimo::server
