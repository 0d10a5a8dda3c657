// Property pages bound to a control's properties by name: each field of a
// page names a control id and a property; the page reads the properties
// when it opens, and Apply writes back the fields the user changed, through
// the properties' own setters, after the range checks passed. A frame holds
// the pages of one control and gives them OK, Cancel and Apply.
//
// The logic here needs no window system; controls/common/ui builds the
// Qt view of a page from its description (control ids become object names).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/dispatch.h"

namespace zimo::controls {

// kRadio: one button of a group bound to the same property; the checked
// button's radio_value goes to the property.
enum class FieldKind { kCheck, kNumber, kText, kRadio };

struct PageField {
  int control_id;
  std::string_view property;
  FieldKind kind;
  std::string_view label;
  bool range_checked = false;
  int32_t min = 0;
  int32_t max = 0;
  int32_t radio_value = 0;
};

// A push button of a page: its id and label; pressing it calls OnCommand.
struct PageButton {
  int control_id;
  std::string_view label;
};

struct PageDescription {
  automation::Guid clsid;
  int template_id;
  std::string_view caption;
  std::span<const std::string_view> texts;  // static texts, top to bottom
  std::span<const PageField> fields;
  std::span<const PageButton> buttons = {};
};

class PropertyPage {
 public:
  PropertyPage(const PageDescription& description, std::shared_ptr<automation::Dispatch> object);
  virtual ~PropertyPage() = default;

  const PageDescription& description() const { return description_; }

  // Reads every field's property; nothing is dirty afterwards.
  void LoadFromObject();

  std::string Text(int control_id) const;
  bool Checked(int control_id) const;
  // What the user does: a changed field is dirty and the page modified.
  void SetText(int control_id, std::string_view text);
  void SetChecked(int control_id, bool checked);
  bool modified() const { return modified_; }

  // The first failed check's message, or nothing when every field is good.
  std::optional<std::string> Validate() const;
  // Checks, then writes the dirty fields in the page's field order. A failed
  // check shows its message in a box and writes nothing. True when applied.
  bool Apply();

  // A button of the page was pressed.
  virtual void OnCommand(int control_id) {}
  // A page with a window timer: its interval (0 for none) and each tick.
  virtual int TimerInterval() const { return 0; }
  virtual void OnTimer() {}
  // The page's data are saved (it closes or applies): timers stop here.
  virtual void OnSaveData() {}
  // A static text a page changes while it shows (id -> text).
  virtual std::string DynamicText(int control_id) const { return {}; }

 protected:
  automation::Dispatch& object() { return *object_; }
  void SetModified() { modified_ = true; }

 private:
  const PageField* Field(int control_id) const;
  const PageDescription& description_;
  std::shared_ptr<automation::Dispatch> object_;
  std::map<int, std::string> values_;
  std::map<int, bool> dirty_;
  bool modified_ = false;
};

// The pages of one control behind OK, Cancel and Apply.
class PropertyFrame {
 public:
  void AddPage(std::unique_ptr<PropertyPage> page);
  size_t page_count() const { return pages_.size(); }
  PropertyPage& page(size_t i) { return *pages_[i]; }

  // Apply stays available while some page is modified.
  bool CanApply() const;
  // Applies every modified page; false (and the frame stays open) when a
  // page's check failed.
  bool Apply();
  // Apply, then close; false when a check failed.
  bool Ok();
  // Closes without writing anything.
  void Cancel();
  bool closed() const { return closed_; }

 private:
  std::vector<std::unique_ptr<PropertyPage>> pages_;
  bool closed_ = false;
};

}  // namespace zimo::controls
