// The download and upload dialogs as logic: what they do and what they show
// through a view (the Qt dialogs, or recorders in tests).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "jux/jux170.h"
#include "preprocessor.h"

namespace zimo::vocto {

// The download dialog (template 201): status 210, "MAIN FILE:" 208,
// "PREPROCESSING:" 209, counts 202-204 (total) and 205-207 (file), the
// progress bar 215 and its frame 216, and Cancel.
class DownloadView {
 public:
  virtual ~DownloadView() = default;
  virtual void SetText(int control_id, const std::string& text) = 0;
  // Shows the progress bar and its frame (hidden until the download).
  virtual void ShowProgress() = 0;
  virtual void SetProgress(int percent) = 0;
  virtual bool cancel_pressed() const = 0;
};

// The upload dialog (template 222): text 218, progress bar 217, Cancel.
class UploadView {
 public:
  virtual ~UploadView() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual void ShowProgress(int32_t maximum) = 0;
  virtual void SetPosition(int32_t position) = 0;
  virtual bool cancel_pressed() const = 0;
};

// One DownloadFile run: preprocess, then send the expanded program through
// the card record. `view` is null without a window.
class VoctoDownloadDialog {
 public:
  VoctoDownloadDialog(int32_t options, DownloadView* view, tagMCardInfo* record);
  bool Run(const std::string& input);
  const Counts& total() const { return total_; }
  bool aborted() const { return abort_; }

 private:
  void ShowCounts(const Preprocessor& pre);
  void Pump();
  bool Download(Preprocessor& pre, const std::string& input);

  int32_t options_;
  DownloadView* view_;
  tagMCardInfo* record_;
  bool abort_ = false;
  Counts total_;
  long download_errors_ = 0;
};

// One UploadData run.
class VoctoUploadDialog {
 public:
  VoctoUploadDialog(int32_t options, UploadView* view, tagMCardInfo* record);
  bool Run(const std::string& output_file, const std::string& command, int32_t num_lines);

 private:
  int32_t options_;
  UploadView* view_;
  tagMCardInfo* record_;
};

}  // namespace zimo::vocto
