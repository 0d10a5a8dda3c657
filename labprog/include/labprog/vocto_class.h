// The lab program's wrapper over the hosted communication control: every
// card exchange of the program goes through the one VoctoClass, which calls
// the control late-bound by its dispatch ids. BusBase, timeout and
// CommMethod are kept for callers but change nothing: the control's own
// persisted settings choose the card.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "automation/dispatch.h"
#include "automation/variant.h"

namespace zimo::labprog {

// The control's dispatch ids the wrapper calls.
namespace vocto_ids {
inline constexpr automation::DispId kLoadSettings = 41;
inline constexpr automation::DispId kSaveSettings = 40;
inline constexpr automation::DispId kGetResponse = 17;
inline constexpr automation::DispId kSendChar = 22;
inline constexpr automation::DispId kSendLine = 49;
inline constexpr automation::DispId kGetLineCR = 20;
inline constexpr automation::DispId kSelectDevice = 54;
inline constexpr automation::DispId kFlush = 19;
inline constexpr automation::DispId kEnabled = -514;
}  // namespace vocto_ids

class VoctoClass {
 public:
  explicit VoctoClass(std::shared_ptr<automation::Dispatch> control)
      : control_(std::move(control)) {}

  automation::Variant GetEnabled();
  void SetEnabled(const automation::Variant& value);
  int16_t GetBusBase() const { return 528; }
  void SetBusBase(int16_t) {}
  automation::Variant GetTimeout() const { return automation::Variant(int16_t{20000}); }
  void SetTimeout(const automation::Variant&) {}
  automation::Variant GetCommMethod() const { return {}; }
  void SetCommMethod(const automation::Variant&) {}

  void LoadSettings();
  void SaveSettings();
  // The card's reply into `response`; the control's result.
  bool GetResponse(std::string& response, std::string& command);
  // `command` is the decimal code of the character ("24" is control-X).
  bool SendChar(std::string& command);
  bool SendLine(std::string& command);
  // True when the line read into `response` is not empty, whatever the
  // control reported.
  bool GetLineCR(std::string& response);
  // The control's device dialog; the control is enabled again afterwards.
  void SelectDevice();
  void Flush();

 private:
  automation::Variant Call(automation::DispId id, std::initializer_list<automation::Variant> args);

  std::shared_ptr<automation::Dispatch> control_;
};

}  // namespace zimo::labprog
