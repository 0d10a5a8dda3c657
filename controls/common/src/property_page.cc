#include "controls/property_page.h"

#include <charconv>
#include <cstdio>

#include "platform/message.h"

namespace zimo::controls {

using automation::Variant;

namespace {
bool ParseInt(std::string_view text, int32_t* out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return false;
  const char* b = text.data();
  if (*b == '+') ++b;
  auto [p, ec] = std::from_chars(b, text.data() + text.size(), *out);
  return ec == std::errc() && p == text.data() + text.size();
}
}  // namespace

PropertyPage::PropertyPage(const PageDescription& description,
                           std::shared_ptr<automation::Dispatch> object)
    : description_(description), object_(std::move(object)) {}

const PageField* PropertyPage::Field(int control_id) const {
  for (const PageField& f : description_.fields) {
    if (f.control_id == control_id) return &f;
  }
  return nullptr;
}

void PropertyPage::LoadFromObject() {
  for (const PageField& f : description_.fields) {
    Variant v;
    std::string text;
    if (automation::Succeeded(object_->CallByName(f.property, automation::kPropertyGet, {}, &v))) {
      if (f.kind == FieldKind::kCheck) {
        bool b = false;
        (void)v.To(&b);
        text = b ? "1" : "0";
      } else if (f.kind == FieldKind::kRadio) {
        int32_t n = 0;
        text = automation::Succeeded(v.To(&n)) && n == f.radio_value ? "1" : "0";
      } else {
        automation::Bstr s;
        if (automation::Succeeded(v.To(&s))) text = s.ToAnsi();
      }
    }
    values_[f.control_id] = text;
    dirty_[f.control_id] = false;
  }
  modified_ = false;
}

std::string PropertyPage::Text(int control_id) const {
  auto it = values_.find(control_id);
  return it != values_.end() ? it->second : std::string();
}

bool PropertyPage::Checked(int control_id) const { return Text(control_id) == "1"; }

void PropertyPage::SetText(int control_id, std::string_view text) {
  if (values_[control_id] == text) return;
  values_[control_id] = std::string(text);
  dirty_[control_id] = true;
  modified_ = true;
}

void PropertyPage::SetChecked(int control_id, bool checked) {
  const PageField* field = Field(control_id);
  if (checked && field != nullptr && field->kind == FieldKind::kRadio) {
    // Checking one button of a group clears the others.
    for (const PageField& f : description_.fields) {
      if (f.kind == FieldKind::kRadio && f.property == field->property &&
          f.control_id != control_id) {
        SetText(f.control_id, "0");
      }
    }
  }
  SetText(control_id, checked ? "1" : "0");
}

std::optional<std::string> PropertyPage::Validate() const {
  for (const PageField& f : description_.fields) {
    if (f.kind != FieldKind::kNumber) continue;
    int32_t v = 0;
    if (!ParseInt(Text(f.control_id), &v)) return std::string("Please enter an integer.");
    if (f.range_checked && (v < f.min || v > f.max)) {
      char text[96];
      std::snprintf(text, sizeof text, "Please enter an integer between %d and %d.", f.min, f.max);
      return std::string(text);
    }
  }
  return std::nullopt;
}

bool PropertyPage::Apply() {
  if (auto message = Validate()) {
    platform::ShowMessageBox(*message, "", platform::kMbOk | platform::kMbIconExclamation);
    return false;
  }
  OnSaveData();
  for (const PageField& f : description_.fields) {
    if (!dirty_[f.control_id]) continue;
    const std::string& text = values_[f.control_id];
    Variant value;
    if (f.kind == FieldKind::kRadio) {
      dirty_[f.control_id] = false;
      if (text != "1") continue;  // the checked button of the group writes it
      value = Variant(f.radio_value);
    } else if (f.kind == FieldKind::kCheck) {
      value = Variant(text == "1");
    } else if (f.kind == FieldKind::kNumber) {
      int32_t v = 0;
      ParseInt(text, &v);
      value = Variant(v);
    } else {
      value = Variant(automation::Bstr::FromAnsi(text));
    }
    (void)object_->CallByName(f.property, automation::kPropertyPut, {value});
    dirty_[f.control_id] = false;
  }
  modified_ = false;
  return true;
}

void PropertyFrame::AddPage(std::unique_ptr<PropertyPage> page) {
  pages_.push_back(std::move(page));
}

bool PropertyFrame::CanApply() const {
  for (const auto& p : pages_) {
    if (p->modified()) return true;
  }
  return false;
}

bool PropertyFrame::Apply() {
  for (auto& p : pages_) {
    if (p->modified() && !p->Apply()) return false;
  }
  return true;
}

bool PropertyFrame::Ok() {
  if (!Apply()) return false;
  for (auto& p : pages_) p->OnSaveData();
  closed_ = true;
  return true;
}

void PropertyFrame::Cancel() { closed_ = true; }

}  // namespace zimo::controls
