// DownloadFile and UploadData: long card operations on the caller's thread
// behind small modeless dialogs, handling window messages between steps.
#include "transfer.h"

#include <cstdio>
#include <filesystem>

#include "platform/message.h"
#include "platform/text_file.h"
#include "vocto_ctrl.h"

namespace zimo::vocto {
namespace {

void ProcessMessages() {
  if (Services().process_messages) Services().process_messages();
}
void Beep() {
  if (Services().beep) Services().beep();
}
std::string Number(long n) {
  char text[24];
  std::snprintf(text, sizeof text, "%ld", n);
  return text;
}
void Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

}  // namespace

// --- download ---------------------------------------------------------------

VoctoDownloadDialog::VoctoDownloadDialog(int32_t options, DownloadView* view, tagMCardInfo* record)
    : options_(options), view_(view), record_(record) {}

void VoctoDownloadDialog::Pump() {
  ProcessMessages();
  if (view_ != nullptr && view_->cancel_pressed()) abort_ = true;
}

void VoctoDownloadDialog::ShowCounts(const Preprocessor& pre) {
  if (view_ == nullptr) return;
  view_->SetText(202, Number(pre.total().lines));
  view_->SetText(203, Number(pre.total().warnings));
  view_->SetText(204, Number(pre.total().errors));
  view_->SetText(205, Number(pre.file().lines));
  view_->SetText(206, Number(pre.file().warnings));
  view_->SetText(207, Number(pre.file().errors));
}

bool VoctoDownloadDialog::Run(const std::string& input) {
  abort_ = false;
  if (view_ != nullptr) {
    view_->SetText(210, "preprocessing files . . .");
    view_->SetText(208, input);
    view_->SetText(209, input);
    for (int id = 202; id <= 207; ++id) view_->SetText(id, "0");
  }
  Preprocessor::Hooks hooks;
  hooks.beep = &Beep;
  hooks.process_messages = [this] { Pump(); };
  Preprocessor* current = nullptr;
  hooks.show_file = [this](const std::string& path) {
    if (view_ != nullptr) view_->SetText(209, path);
  };
  hooks.counts_changed = [this, &current] {
    if (current != nullptr) ShowCounts(*current);
  };
  Preprocessor pre(options_, &abort_, hooks);
  current = &pre;

  bool result = true;
  switch (pre.Open(input)) {
    case Preprocessor::OpenResult::kOk:
      break;
    case Preprocessor::OpenResult::kOutputFailed:
      Beep();
      platform::ShowMessageBox("Unable to create output file!\r\nDownload will be aborted.",
                               "File Creation Error", platform::kMbOk);
      return false;
    case Preprocessor::OpenResult::kErrorFileFailed:
      Beep();
      platform::ShowMessageBox("Unable to create error file!\r\nDownload will be aborted.",
                               "File Creation Error", platform::kMbOk);
      pre.Finish();
      return false;
  }
  pre.Run();
  if (!pre.WriteMap()) {
    Beep();
    platform::ShowMessageBox("Unable to create MAP file!\r\nDownload will be aborted.",
                             "File Creation Error", platform::kMbOk);
    pre.Finish();
    return false;
  }
  if (!abort_ && record_ != nullptr && (options_ & kDownloadPreprocessOnly) == 0) {
    result = Download(pre, input);
  }
  total_ = pre.total();
  const bool reported = total_.warnings > 0 || total_.errors > 0;
  pre.Finish();

  if (abort_) {
    platform::ShowMessageBox("Download aborted.", "Notice",
                             platform::kMbOk | platform::kMbIconInformation);
    result = false;
  } else if (reported && (options_ & kDownloadOfferErrors) != 0) {
    Beep();
    int answer = platform::ShowMessageBox("There are error(s) in the download.  View them now?",
                                          "Download Error(s)",
                                          platform::kMbYesNo | platform::kMbIconQuestion);
    if (answer == platform::kIdYes && Services().start_viewer) {
      Services().start_viewer(Preprocessor::kErrorFile);
    }
    result = false;
  } else if ((options_ & kDownloadDeleteClean) != 0 && (options_ & kDownloadOfferErrors) == 0 &&
             !reported) {
    // With errors offered for viewing the files of a clean run stay too.
    Remove(Preprocessor::kErrorFile);
    Remove(pre.output_path());
    Remove(pre.map_path());
  }
  // Errors of the preprocessor or the card make the run fail; warnings
  // alone do not.
  if (total_.errors > 0) result = false;
  return result;
}

bool VoctoDownloadDialog::Download(Preprocessor& pre, const std::string& input) {
  if (view_ != nullptr) {
    view_->SetText(210, "now downloading to ZIMO . . .");
    view_->SetText(208, input);
    view_->SetText(209, input);
    view_->ShowProgress();
  }
  pre.CloseOutput();
  auto bytes = platform::ReadFileBytes(pre.output_path());
  if (!bytes.ok()) {
    Beep();
    platform::ShowMessageBox("Unable to read output file!\r\nDownload will be aborted.",
                             "File Read Error", platform::kMbOk);
    return false;
  }
  const std::string& text = *bytes;
  const size_t length = text.size();
  char reply[256] = {};
  (void)Replies().get_response(record_, reply, 255, "cls");

  size_t pos = 0;
  while (!abort_ && pos < length) {
    // A whole line; only a real line end is taken off.
    size_t end = text.find('\n', pos);
    size_t next = end == std::string::npos ? length : end + 1;
    std::string line = text.substr(pos, (end == std::string::npos ? length : end) - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = next;
    size_t semi = line.find(';');
    std::string command = line.substr(0, semi);
    std::string reference = semi == std::string::npos ? std::string() : line.substr(semi + 1);
    if (view_ != nullptr && length > 0) {
      view_->SetProgress(static_cast<int>(pos * 100 / length));
    }
    if (!command.empty()) {
      reply[0] = '\0';
      if (Replies().get_response(record_, reply, 255, command.c_str()) == 0) {
        char description[201] = {};
        PGetLastErrorString(record_, description, 200);
        description[200] = '\0';
        pre.CardError(reference, command, description);
        ++download_errors_;
        if ((options_ & kDownloadAbortOnError) != 0) abort_ = true;
      }
    }
    Pump();
  }
  return true;
}

// --- upload -----------------------------------------------------------------

VoctoUploadDialog::VoctoUploadDialog(int32_t options, UploadView* view, tagMCardInfo* record)
    : options_(options), view_(view), record_(record) {}

bool VoctoUploadDialog::Run(const std::string& output_file, const std::string& command,
                            int32_t num_lines) {
  const bool progress = view_ != nullptr && (options_ & 0x08) != 0 && num_lines > 1;
  if (view_ != nullptr) {
    char text[600];
    std::snprintf(text, sizeof text, "Executing and uploading data from: %s", command.c_str());
    view_->SetText(text);
    if (progress) view_->ShowProgress(num_lines);
  }
  auto file = platform::TextFileWriter::Open(
      output_file, (options_ & 0x04) != 0 ? platform::TextFileWriter::Mode::kAppend
                                          : platform::TextFileWriter::Mode::kTruncate);
  if (!file.ok()) {
    platform::ShowMessageBox("Unable to create output file!", "Error", platform::kMbOk);
    return false;
  }
  const bool comments = (options_ & 0x01) == 0;
  if (comments) {
    (void)file->Write(";This file was generated by the UploadData function.\n");
    (void)file->Printf(";The command sent to ZIMO was %c%s%c.\n", '"', command.c_str(), '"');
    (void)file->Write(";Here are ZIMO's responses:\n\n");
    if (record_->simulated != 0) {
      (void)file->Write(";NOTE- This upload was performed with SIMULATED communications.\n\n");
    }
  }
  bool result = true;
  PFlush(record_);
  PSendLine(record_, command.c_str());
  int32_t count = 0;
  char line[256];
  line[0] = '\0';
  while (Replies().get_line_cr(record_, line, 255) != 0 && record_->simulated == 0) {
    line[255] = '\0';
    ProcessMessages();
    (void)file->Printf("%s\n", line);
    ++count;
    if (progress) view_->SetPosition(count);
    if (view_ != nullptr && view_->cancel_pressed()) {
      result = false;
      break;
    }
    line[0] = '\0';
  }
  if (comments) (void)file->Write("; *** End of Upload ***\n");
  if (!file->Close().ok()) result = false;
  return result;
}

// --- the control's methods ----------------------------------------------------

namespace {
class NoDownloadWindow : public DownloadView {
 public:
  void SetText(int, const std::string&) override {}
  void ShowProgress() override {}
  void SetProgress(int) override {}
  bool cancel_pressed() const override { return false; }
};
class NoUploadWindow : public UploadView {
 public:
  void SetText(const std::string&) override {}
  void ShowProgress(int32_t) override {}
  void SetPosition(int32_t) override {}
  bool cancel_pressed() const override { return false; }
};
}  // namespace

bool CVoctoCtrl::DownloadFile(const Bstr& input_file, int32_t options) {
  const std::string input = input_file.ToAnsi();
  bool ok = false;
  if (!input.empty()) {
    const bool window = (options & kDownloadNoWindow) == 0;
    std::unique_ptr<DownloadView> view;
    if (Services().make_download_view) {
      view = Services().make_download_view(*this, window);
    } else {
      view = std::make_unique<NoDownloadWindow>();
    }
    if (view) {
      VoctoDownloadDialog dialog(options, window ? view.get() : nullptr, record_);
      ok = dialog.Run(input);
    }
  }
  if (!ok) RaiseError(5003, "Download failed.");
  return ok;
}

bool CVoctoCtrl::UploadData(const Bstr& output_file, const Bstr& command, int32_t options,
                            int32_t num_lines) {
  const std::string path = output_file.ToAnsi();
  bool ok = false;
  if (!path.empty() && record_ != nullptr) {
    const bool window = (options & 0x02) == 0;
    std::unique_ptr<UploadView> view;
    if (Services().make_upload_view) {
      view = Services().make_upload_view(*this, window);
    } else {
      view = std::make_unique<NoUploadWindow>();
    }
    if (view) {
      VoctoUploadDialog dialog(options, window ? view.get() : nullptr, record_);
      ok = dialog.Run(path, command.ToAnsi(), num_lines);
    }
  }
  if (!ok) RaiseError(5002, "Upload failed.");
  return ok;
}

}  // namespace zimo::vocto
