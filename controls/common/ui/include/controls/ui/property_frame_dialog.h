// The Qt view of a PropertyFrame: one tab per page, the fields built from
// the page's description (object names "<control id>"), and the buttons
// "OK", "Cancel" and "Apply". A page with a timer gets a window timer while
// it shows; its dynamic texts are refreshed on each tick.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "controls/property_page.h"

class QPushButton;
class QTimer;

namespace zimo::controls::ui {

class PropertyFrameDialog : public QDialog {
 public:
  PropertyFrameDialog(PropertyFrame& frame, QWidget* parent = nullptr);

  // The widget of a page's control (by id), null when none.
  QWidget* Control(size_t page, int control_id) const;
  QPushButton* apply_button() const { return apply_; }
  QTimer* page_timer(size_t page) const;

  // Page fields back from the widgets (the view calls it on every change).
  void PullFromWidgets(size_t page);
  // Widgets from the page's values.
  void PushToWidgets(size_t page);

 private:
  PropertyFrame& frame_;
  std::vector<QWidget*> page_widgets_;
  std::vector<QTimer*> timers_;
  QPushButton* apply_ = nullptr;
  bool pushing_ = false;
};

}  // namespace zimo::controls::ui
