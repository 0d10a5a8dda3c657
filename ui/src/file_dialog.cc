#include "ui/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <system_error>
#include <utility>

#include "platform/debug.h"

namespace zimo::ui {
namespace {

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> SplitAt(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.emplace_back(text.substr(start));
      break;
    }
    parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

QString FromText(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

std::vector<std::string> QtNameFilters(std::string_view windows_filter) {
  std::vector<std::string> fields = SplitAt(windows_filter, '|');
  std::vector<std::string> filters;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    const std::string description = fields[i];
    std::string patterns;
    for (const std::string& pattern : SplitAt(fields[i + 1], ';')) {
      std::string trimmed = Trim(pattern);
      if (trimmed.empty()) continue;
      // "*.*" means every file to the callers; here it would skip names
      // without a dot ("CARD", "firmware").
      if (trimmed == "*.*") trimmed = "*";
      if (!patterns.empty()) patterns += ' ';
      patterns += trimmed;
    }
    if (description.empty() && patterns.empty()) continue;
    if (patterns.empty()) patterns.push_back('*');  // no pattern: every file
    std::string filter = description;
    filter.append(" (").append(patterns).append(")");
    filters.push_back(std::move(filter));
  }
  if (filters.empty()) filters.push_back("All Files (*)");
  return filters;
}

std::optional<ChosenFile> GetOpenFileName(const OpenFileRequest& request, QWidget* parent) {
  QFileDialog dialog(parent, FromText(request.title.empty() ? "Open" : request.title));
  dialog.setObjectName(kOpenFileDialogName);
  // The same dialog everywhere: a desktop's own dialog may live in another
  // process and cannot be driven or checked the same way.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.file_must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  QStringList filters;
  for (const std::string& filter : QtNameFilters(request.filter)) filters << FromText(filter);
  dialog.setNameFilters(filters);
  if (!request.default_extension.empty()) {
    dialog.setDefaultSuffix(FromText(request.default_extension));
  }
  dialog.setDirectory(request.initial_folder.empty()
                          ? QDir::current()
                          : QDir(QString::fromStdString(request.initial_folder.string())));
  const bool wildcard = request.initial_name.find_first_of("*?") != std::string::npos;
  if (!request.initial_name.empty() && !wildcard) dialog.selectFile(FromText(request.initial_name));

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList selected = dialog.selectedFiles();
  if (selected.isEmpty()) return std::nullopt;
  const QFileInfo info(selected.front());
  ChosenFile chosen;
  chosen.path = std::filesystem::path(info.absoluteFilePath().toStdString());
  chosen.file_title = info.fileName().toStdString();
  if (request.change_directory) {
    std::error_code error;
    std::filesystem::current_path(chosen.path.parent_path(), error);
    if (error) {
      platform::DebugPrintf("Open-file dialog: cannot change to %s: %s\n",
                            chosen.path.parent_path().c_str(), error.message().c_str());
    }
  }
  return chosen;
}

}  // namespace zimo::ui
