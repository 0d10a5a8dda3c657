// Controls named by their template ids, so the views and tests find them by
// id ("5089", "1", ...).
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QWidget>
#include <string>

namespace zimo::corvan::dialogs::view {

inline QString IdName(int id) { return QString::number(id); }
inline QString Text(const std::string& text) { return QString::fromStdString(text); }

template <typename T>
T* Named(T* widget, int id) {
  widget->setObjectName(IdName(id));
  return widget;
}

inline QPushButton* Button(QWidget* parent, int id, const char* text) {
  return Named(new QPushButton(QString::fromLatin1(text), parent), id);
}

}  // namespace zimo::corvan::dialogs::view
