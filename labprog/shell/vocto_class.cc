#include "labprog/vocto_class.h"

#include <cstdlib>
#include <vector>

#include "automation/bstr.h"
#include "automation/interface_info.h"

namespace zimo::labprog {

using automation::Bstr;
using automation::Variant;

namespace {

bool AsBool(const Variant& v) {
  bool b = false;
  return automation::Succeeded(v.Deref().To(&b)) && b;
}

std::string AsText(const Variant& v) {
  Bstr text;
  return automation::Succeeded(v.Deref().To(&text)) ? text.ToAnsi() : std::string();
}

}  // namespace

Variant VoctoClass::Call(automation::DispId id, std::initializer_list<Variant> args) {
  Variant result;
  if (control_ != nullptr) (void)control_->Call(id, automation::kMethod, args, &result);
  return result;
}

Variant VoctoClass::GetEnabled() {
  Variant result;
  if (control_ != nullptr) {
    (void)control_->Call(vocto_ids::kEnabled, automation::kPropertyGet, {}, &result);
  }
  bool enabled = AsBool(result);
  return Variant(enabled);
}

void VoctoClass::SetEnabled(const Variant& value) {
  if (control_ == nullptr) return;
  (void)control_->Call(vocto_ids::kEnabled, automation::kPropertyPut, {Variant(AsBool(value))});
}

void VoctoClass::LoadSettings() { Call(vocto_ids::kLoadSettings, {}); }
void VoctoClass::SaveSettings() { Call(vocto_ids::kSaveSettings, {}); }

bool VoctoClass::GetResponse(std::string& response, std::string& command) {
  if (control_ == nullptr) return false;
  Variant reply(Bstr::FromAnsi(response));
  std::vector<Variant> args = {Variant::ByRef(&reply), Variant(Bstr::FromAnsi(command))};
  Variant result;
  (void)control_->Invoke(vocto_ids::kGetResponse, automation::kMethod, args, &result, nullptr);
  response = AsText(reply);
  return AsBool(result);
}

bool VoctoClass::SendChar(std::string& command) {
  const auto code = static_cast<int32_t>(std::strtol(command.c_str(), nullptr, 10));
  return AsBool(Call(vocto_ids::kSendChar, {Variant(code)}));
}

bool VoctoClass::SendLine(std::string& command) {
  if (control_ == nullptr) return false;
  std::vector<Variant> args = {Variant(Bstr::FromAnsi(command))};
  Variant result;
  (void)control_->Invoke(vocto_ids::kSendLine, automation::kMethod, args, &result, nullptr);
  return AsBool(result);
}

bool VoctoClass::GetLineCR(std::string& response) {
  if (control_ == nullptr) return false;
  Variant line(Bstr::FromAnsi(response));
  std::vector<Variant> args = {Variant::ByRef(&line)};
  (void)control_->Invoke(vocto_ids::kGetLineCR, automation::kMethod, args, nullptr, nullptr);
  response = AsText(line);
  return !response.empty();
}

void VoctoClass::SelectDevice() {
  Call(vocto_ids::kSelectDevice, {});
  SetEnabled(Variant(true));
}

void VoctoClass::Flush() { Call(vocto_ids::kFlush, {}); }

}  // namespace zimo::labprog
