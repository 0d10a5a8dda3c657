// The device object's variable background buffer and write buffer rows.
// Their arrays arrive in VARIANTs whose upper bound names the entry count;
// the library reads that many entries, so an array that holds fewer is
// refused with S_FALSE before anything reaches the card.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/identify_api.h"
#include "corvan/varbuf_api.h"
#include "dpr/varbuf_area.h"

namespace zimo::server {
namespace {

using automation::SafeArray;
using automation::VarType;
using device_detail::Dev;

// A write-buffer entry: the address word and two data words.
constexpr size_t kEntryBytes = 12;
// The blocks of a three-dimensional write array, in bytes per entry: the
// addresses from the start, the types 16 bytes per entry later, the entries
// 32 bytes per entry from the start.
constexpr size_t kTypesAt = 16;
constexpr size_t kEntriesAt = 32;

bool IsArrayOf(const Variant& v, VarType element) {
  return v.vt() == (automation::VT_ARRAY | element);
}

// The entry count an array names: the upper bound of its first dimension.
HRESULT EntryCount(const Variant& v, int32_t* n) { return v.array().UpperBound(1, n); }

// The first `n` 32-bit elements of an array of longs; false when it holds
// fewer.
bool FirstLongs(const Variant& v, int32_t n, std::vector<uint32_t>* out) {
  const SafeArray& a = v.array();
  if (a.element_count() < static_cast<size_t>(n)) return false;
  out->resize(static_cast<size_t>(n));
  std::memcpy(out->data(), a.bytes().data(), out->size() * sizeof(uint32_t));
  return true;
}

// `words` 32-bit words from byte `at` of an array's data; false when it
// ends before them.
bool WordsAt(const SafeArray& a, size_t at, size_t words, std::vector<uint32_t>* out) {
  if (a.bytes().size() < at + words * sizeof(uint32_t)) return false;
  out->resize(words);
  std::memcpy(out->data(), a.bytes().data() + at, words * sizeof(uint32_t));
  return true;
}

}  // namespace

HRESULT ZimoDevice::DPRVarBufInit(int32_t device, const Variant& addresses, const Variant& types,
                                  int32_t* handle) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (handle == nullptr) return E_POINTER;
  if (!IsArrayOf(addresses, automation::VT_I4) || !IsArrayOf(types, automation::VT_I4)) {
    return S_FALSE;
  }
  int32_t n = 0;
  if (const HRESULT hr = EntryCount(addresses, &n); hr != S_OK) return hr;
  if (n < 1) return S_OK;
  std::vector<uint32_t> address_words, type_words;
  if (!FirstLongs(addresses, n, &address_words) || !FirstLongs(types, n, &type_words)) {
    return S_FALSE;
  }
  // More than the library's count can say is more than it takes anyway.
  const auto count = static_cast<uint16_t>(std::min<int32_t>(n, 0xFFFF));
  *handle = ZimoDPRVarBufInitEx(Dev(device), count, address_words.data(), type_words.data());
  return S_OK;
}

HRESULT ZimoDevice::DPRVarBufWrite(int32_t device, const Variant& data, const Variant& addresses,
                                   const Variant& types, int32_t* written) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (written == nullptr) return E_POINTER;
  if (!IsArrayOf(data, automation::VT_UI1) || !IsArrayOf(addresses, automation::VT_I4) ||
      !IsArrayOf(types, automation::VT_I4)) {
    return S_FALSE;
  }
  int32_t n = 0;
  if (const HRESULT hr = EntryCount(addresses, &n); hr != S_OK) return hr;
  if (n < 1) return S_OK;
  std::vector<uint32_t> entries, address_words, type_words;
  if (!WordsAt(data.array(), 0, static_cast<size_t>(n) * kEntryBytes / 4, &entries) ||
      !FirstLongs(addresses, n, &address_words) || !FirstLongs(types, n, &type_words)) {
    return S_FALSE;
  }
  *written =
      ZimoDPRWriteBufferEx(Dev(device), n, entries.data(), address_words.data(), type_words.data());
  return S_OK;
}

// The user's data as the card lays it out: one word per entry, two for a
// two-word entry (marked in its address word).
HRESULT ZimoDevice::DPRVarBufReadAll(int32_t device, int32_t handle, Variant* data) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (data == nullptr) return E_POINTER;
  const uint32_t entries = ZimoDPRGetVBGNumEntries(Dev(device), handle);
  if (entries == 0) return S_FALSE;
  const uint32_t two_words = corvan::TwoWordBit(bZIMOIsSpran(Dev(device)) != 0);
  size_t words = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    words += (ZimoDPRGetVBGAddress(Dev(device), handle, static_cast<int32_t>(i)) & two_words) != 0
                 ? 2
                 : 1;
  }
  // Room for every entry as two words, whatever the list says.
  std::vector<uint32_t> read(2 * static_cast<size_t>(entries));
  if (ZimoDPRVarBufReadEx(Dev(device), handle, read.data()) == 0) return S_FALSE;
  SafeArray bytes = SafeArray::Vector(automation::VT_UI1, static_cast<uint32_t>(4 * words));
  std::memcpy(bytes.bytes().data(), read.data(), 4 * words);
  *data = Variant(std::move(bytes));
  return S_OK;
}

HRESULT ZimoDevice::DPRVarBufWriteEx(int32_t device, const Variant& data, int32_t* written) {
  if (BadDevice(device)) return E_INVALIDARG;
  if (written == nullptr) return E_POINTER;
  if (data.vt() != automation::VT_ARRAY || data.array().dims() != 3) return S_FALSE;
  int32_t n = 0;
  if (const HRESULT hr = EntryCount(data, &n); hr != S_OK) return hr;
  if (n < 1) return S_OK;
  const SafeArray& a = data.array();
  const auto count = static_cast<size_t>(n);
  std::vector<uint32_t> entries, address_words, type_words;
  if (!WordsAt(a, 0, count, &address_words) || !WordsAt(a, kTypesAt * count, count, &type_words) ||
      !WordsAt(a, kEntriesAt * count, count * kEntryBytes / 4, &entries)) {
    return S_FALSE;
  }
  *written =
      ZimoDPRWriteBufferEx(Dev(device), n, entries.data(), address_words.data(), type_words.data());
  return S_OK;
}

}  // namespace zimo::server
