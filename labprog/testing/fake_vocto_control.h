// A stand-in for the hosted communication control: answers the wrapper's
// late-bound calls from a table of replies and logs what reached it, in
// the card's terms ("^X" for control-X, the command texts, "flush").
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "automation/bstr.h"
#include "automation/dispatch.h"
#include "automation/interface_info.h"
#include "automation/variant.h"

namespace zimo::labprog::testing {

class FakeVoctoControl : public automation::Dispatch {
 public:
  std::vector<std::string> log;          // what reached the card
  std::vector<automation::DispId> ids;   // every call, in order
  std::map<std::string, std::string> replies;
  std::set<std::string> muted;           // commands that time out
  std::vector<std::string> lines;        // for GetLineCR
  bool enabled = false;
  bool get_line_result = true;

  automation::HRESULT Invoke(automation::DispId id, uint16_t flags,
                             std::span<automation::Variant> args, automation::Variant* result,
                             automation::ExcepInfo*) override {
    using automation::Bstr;
    using automation::Variant;
    ids.push_back(id);
    Variant ok(true);
    switch (id) {
      case -514:
        if ((flags & automation::kPropertyPut) != 0) {
          bool value = false;
          (void)args[0].Deref().To(&value);
          enabled = value;
          log.push_back(value ? "enable" : "disable");
        } else if (result != nullptr) {
          *result = Variant(enabled);
        }
        return automation::S_OK;
      case 17: {
        Bstr command;
        (void)args[1].Deref().To(&command);
        const std::string text = command.ToAnsi();
        log.push_back(text);
        if (muted.count(text) != 0) {
          args[0].Deref() = Variant(Bstr());
          ok = Variant(false);
        } else {
          auto it = replies.find(text);
          args[0].Deref() = Variant(Bstr::FromAnsi(it != replies.end() ? it->second : ""));
        }
        break;
      }
      case 20:
        if (lines.empty()) {
          args[0].Deref() = Variant(Bstr());
        } else {
          args[0].Deref() = Variant(Bstr::FromAnsi(lines.front()));
          lines.erase(lines.begin());
        }
        ok = Variant(get_line_result);
        break;
      case 22: {
        int32_t code = 0;
        (void)args[0].Deref().To(&code);
        log.push_back(code == 24 ? "^X" : "char " + std::to_string(code));
        break;
      }
      case 49: {
        Bstr command;
        (void)args[0].Deref().To(&command);
        log.push_back("line " + command.ToAnsi());
        break;
      }
      case 19: log.push_back("flush"); break;
      case 40: log.push_back("save settings"); break;
      case 41: log.push_back("load settings"); break;
      case 54:
        log.push_back("select device");
        enabled = false;
        break;
      default: return automation::DISP_E_MEMBERNOTFOUND;
    }
    if (result != nullptr) *result = ok;
    return automation::S_OK;
  }
};

}  // namespace zimo::labprog::testing
