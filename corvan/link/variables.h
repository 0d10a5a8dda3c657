// Card variable access: I, P, Q and M variables read as text, 16-bit or
// 32-bit integers or doubles, and written from those, each through one
// ASCII exchange ("I130" answered by the value, "I130=2000" to assign).
//
// The exchanges go through a CardCommandPath. The library's own path is the
// command API (every exchange under the device lock, by the device's
// transport); card identification runs over the same seam, so both can be
// driven by a scripted card.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zimo::corvan {

// What variable access and identification need of the library.
class CardCommandPath {
 public:
  virtual ~CardCommandPath() = default;
  // Exchanges `command` for its whole response, stored terminated into
  // `buffer` of `size` characters; the CommStatusWord.
  virtual std::uint32_t GetResponseEx(int device, char* buffer, std::uint32_t size,
                                      const char* command) = 0;
  // Reads one more line into `buffer` (emptied first); the characters stored.
  virtual std::uint32_t GetLine(int device, char* buffer, std::uint32_t size) = 0;
  // Exchanges `command` and drops the response.
  virtual void SendCommand(int device, const char* command) = 0;
  // Appends a state-changing command to the device's change ring.
  virtual void ChangeStore(int device, const char* text) = 0;
  // The device lock around several exchanges that belong together
  // (recursive; the exchanges take it too).
  virtual void Lock(int device) = 0;
  virtual void Unlock(int device) = 0;
};

// The command API of this process.
CardCommandPath& LibraryCommandPath();

// Holds the path's device lock for a scope.
class CommandPathLock {
 public:
  CommandPathLock(CardCommandPath& path, int device) : path_(path), device_(device) {
    path_.Lock(device_);
  }
  ~CommandPathLock() { path_.Unlock(device_); }
  CommandPathLock(const CommandPathLock&) = delete;
  CommandPathLock& operator=(const CommandPathLock&) = delete;

 private:
  CardCommandPath& path_;
  int device_;
};

// A value text: at most 39 characters and the terminator.
inline constexpr std::size_t kVariableTextSize = 40;
// Tries of a query that gets no reply before it fails.
inline constexpr int kVariableQueryTries = 5;

// Asks the card for variable `letter``number` ("%c%u") up to five times until
// a reply comes, and copies its value text into `out` (kVariableTextSize
// bytes): the text after the first '=' when the reply has one (a card that
// names the variable in its reply), else the whole reply, up to its line
// end. 1 on success; 0, with `out` untouched, when no try got a reply or the
// card answered with an error.
int QueryVariableText(CardCommandPath& path, int device, char letter, std::uint32_t number,
                      char* out);

// Parse a value string. A leading "$" marks hex in both forms. Otherwise the
// integer form detects the base the C way (decimal, "0x" hex, leading 0
// octal) and the double form reads a decimal number with '.' as separator
// regardless of locale. Unparsable text yields 0. In the integer form a "$"
// value is taken as 32 bits, signed ($FFFFFFFF is -1, anything longer is
// pinned at $FFFFFFFF), and other values clamp to the 32-bit limits. The
// 16-bit getters keep the low 16 bits of the integer result.
std::int32_t VariableTextToLong(const char* text);
double VariableTextToDouble(const char* text);

// The getters: the value, or `default_value` when the query failed.
std::int16_t GetVariable16(CardCommandPath& path, int device, char letter, std::uint32_t number,
                           std::int16_t default_value);
std::int32_t GetVariable32(CardCommandPath& path, int device, char letter, std::uint32_t number,
                           std::int32_t default_value);
double GetVariableDouble(CardCommandPath& path, int device, char letter, std::uint32_t number,
                         double default_value);

// The setters send "%c%u=%d", "%c%u=%ld" or "%c%u=%lf" (six decimals, '.'
// whatever the locale) and drop the card's answer; with `echo` the same text
// goes into the device's change ring so that other processes see the
// change.
void SetVariable16(CardCommandPath& path, int device, char letter, std::uint32_t number,
                   std::int16_t value, bool echo);
void SetVariable32(CardCommandPath& path, int device, char letter, std::uint32_t number,
                   std::int32_t value, bool echo);
void SetVariableDouble(CardCommandPath& path, int device, char letter, std::uint32_t number,
                       double value, bool echo);

// The I-variable query used inside the library ("I%u"), as QueryVariableText.
int ZimoGetIVariableStrA(std::uint32_t device, char* text, std::uint32_t number);

}  // namespace zimo::corvan
