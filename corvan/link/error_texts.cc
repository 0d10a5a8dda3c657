#include "link/error_texts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "corvan/errors.h"

namespace zimo::corvan {
namespace {

class BuiltInTextSource final : public TextSource {
 public:
  const char* Find(std::uint32_t number) const override { return LibraryText(number); }
};

// Each thread has its own three result buffers: a text one thread loaded is
// never overwritten by another thread's load.
struct LoadedTexts {
  char buffers[kLoadedTextBuffers][kLoadedTextSize];
  int next = 0;
};
thread_local LoadedTexts loaded_texts;

}  // namespace

const char* LibraryText(std::uint32_t number) {
  std::span<const NumberedText> table = BuiltInTextTable();
  auto it = std::lower_bound(table.begin(), table.end(), number,
                             [](const NumberedText& t, std::uint32_t n) { return t.number < n; });
  return it != table.end() && it->number == number ? it->text : nullptr;
}

const TextSource& BuiltInTexts() {
  static const BuiltInTextSource source;
  return source;
}

char* LoadTextInto(const TextSource& source, std::uint32_t number) {
  LoadedTexts& state = loaded_texts;
  char* result = state.buffers[state.next];
  state.next = (state.next + 1) % kLoadedTextBuffers;

  constexpr std::size_t kCapacity = kLoadedTextSize - 1;
  std::size_t length = 0;
  result[0] = '\0';
  for (;;) {
    const char* text = source.Find(number);
    if (text == nullptr) break;
    // A "!" chain longer than the buffer is cut at its end.
    const std::size_t room = kCapacity - length;
    const std::size_t take = strnlen(text, room);
    std::memcpy(result + length, text, take);
    length += take;
    result[length] = '\0';
    if (text[0] != '!' || length == kCapacity || number == UINT32_MAX) break;
    ++number;
  }
  return result;
}

char* LoadLibraryString(std::uint32_t number) { return LoadTextInto(BuiltInTexts(), number); }

}  // namespace zimo::corvan

extern "C" {

char* szLoadStringA(void* /*module*/, std::uint32_t number) {
  return zimo::corvan::LoadLibraryString(number);
}

}  // extern "C"
