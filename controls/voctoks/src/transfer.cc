// DownloadFile and UploadData: long card operations run on the caller's
// thread behind small modeless dialogs, handling window messages between
// steps so the user interface stays alive.
#include <cstdio>
#include <filesystem>

#include "corvan_binding.h"
#include "platform/message.h"
#include "platform/text_file.h"
#include "voctoks_ctrl.h"

namespace zimo::voctoks {
namespace {

// A view for a dialog nobody sees.
class HiddenDownloadView : public DownloadView {
 public:
  void AddMessage(const std::string&) override {}
  void SetProgress(int) override {}
};
class HiddenUploadView : public UploadView {
 public:
  void SetText(const std::string&) override {}
  void SetRange(int32_t) override {}
  void SetPosition(int32_t) override {}
  bool cancelled() const override { return false; }
};

// The library's download callbacks carry no context: the running download's
// dialog is reached through these, one download per process at a time.
DownloadView* g_download_view = nullptr;
int32_t g_last_percent = 0;

int32_t ProcessMessages() {
  return Services().process_messages ? Services().process_messages() : 0;
}

int32_t OnDownloadMessage(const char* text, int32_t /*new_line*/) {
  if (g_download_view != nullptr) g_download_view->AddMessage(text != nullptr ? text : "");
  ProcessMessages();
  return 0;
}

int32_t OnDownloadProgress(int32_t percent) {
  if (percent != g_last_percent && percent % 5 == 0) {
    g_last_percent = percent;
    if (g_download_view != nullptr) g_download_view->SetProgress(percent);
  }
  return ProcessMessages();
}

int32_t OnHiddenProgress(int32_t) { return ProcessMessages(); }

void DeleteIfExists(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) std::filesystem::remove(path, ec);
}

std::filesystem::path WithExtension(const std::filesystem::path& source, const char* extension) {
  std::filesystem::path p = source;
  p.replace_extension(extension);
  return p;
}

}  // namespace

bool CVoctoKSCtrl::DownloadFile(const Bstr& input_file) {
  if (enabled_ == 0) return false;
  if (device_open_ == 0) return true;
  // The dialog is process-wide: a download started from inside another
  // one's message handling is refused instead of taking it over.
  if (g_download_view != nullptr) return false;
  CorvanFunctions& lib = Corvan();
  lib.ZimoSetMaxDownloadErrors(static_cast<uint32_t>(download_max_errors_));
  if (input_file.empty()) return false;

  const bool hide = download_hide_ != 0;
  std::unique_ptr<DownloadView> view;
  if (Services().make_download_view) {
    view = Services().make_download_view(*this, !hide);
  } else {
    view = std::make_unique<HiddenDownloadView>();
  }
  if (!view) return false;

  const std::string source = input_file.ToAnsi();
  const std::filesystem::path log_path = WithExtension(source, ".LOG");
  DeleteIfExists(log_path);

  g_download_view = view.get();
  int32_t result = lib.ZimoDownloadA(device(), hide ? nullptr : &OnDownloadMessage, nullptr,
                                     hide ? &OnHiddenProgress : &OnDownloadProgress, source.c_str(),
                                     download_parse_, download_map_, download_log_, download_do_);

  if (download_delete_temp_ == 1) {
    for (const char* ext : {".EXM", ".TBL", ".56K"}) DeleteIfExists(WithExtension(source, ext));
  }
  if (result == 0 && download_show_errors_ != 0) {
    if (download_log_ != 0) {
      if (Services().beep) Services().beep();
      int answer = platform::ShowMessageBox("There are error(s) in the download.  View them now?",
                                            "Download Error(s)",
                                            platform::kMbYesNo | platform::kMbIconQuestion);
      if (answer == platform::kIdYes && Services().start_viewer) {
        Services().start_viewer(log_path.string());
      }
    } else {
      platform::ShowMessageBox("Cannot display error log if not created", "Download Error(s)",
                               platform::kMbOk);
    }
  }
  g_download_view = nullptr;
  view.reset();
  return result > 0;
}

bool CVoctoKSCtrl::UploadData(const Bstr& filename, const Bstr& command, int32_t number_of_lines) {
  if (filename.empty()) return false;
  const bool hide = upload_hide_ != 0;
  std::unique_ptr<UploadView> view;
  if (Services().make_upload_view) {
    view = Services().make_upload_view(*this, !hide);
  } else {
    view = std::make_unique<HiddenUploadView>();
  }
  if (!view) {
    RaiseErrorById(1001);
    return false;
  }
  const std::string command_text = command.ToAnsi();
  const bool progress = !hide && upload_show_progress_ != 0 && number_of_lines > 1;
  if (!hide) {
    char text[300];
    std::snprintf(text, sizeof text, "Executing and uploading data from: %s", command_text.c_str());
    view->SetText(text);
    view->SetRange(progress ? number_of_lines : 0);
  }

  auto file = platform::TextFileWriter::Open(
      filename.ToAnsi(), upload_append_ != 0 ? platform::TextFileWriter::Mode::kAppend
                                             : platform::TextFileWriter::Mode::kTruncate);
  bool result = false;
  if (!file.ok()) {
    platform::ShowMessageBox("Unable to create output file!", "Error", platform::kMbOk);
  } else {
    if (upload_no_comments_ == 0) {
      (void)file->Write(";This file was generated by the UploadData function.\n");
      (void)file->Printf(";The command sent to ZIMO was %c%s%c.\n", '"', command_text.c_str(), '"');
      (void)file->Write(";Here are ZIMO's responses:\n\n");
      if (simulate_ == 1) {
        (void)file->Write(";NOTE- This upload was performed with SIMULATED communications.\n\n");
      }
    }
    const bool talk = device_open_ != 0 && simulate_ == 0;
    if (!talk && simulate_ == 0) {
      // No device to read from: nothing would come but empty lines.
      (void)file->Close();
      view.reset();
      RaiseErrorById(5002);
      return false;
    }
    CorvanFunctions& lib = Corvan();
    if (talk) {
      lib.LockZimo(device());
      lib.ZimoFlush(device());
      lib.ZimoSendLineA(device(), command_text.c_str());
    }
    result = true;
    int32_t count = 0;
    for (;;) {
      if (view->cancelled()) {
        result = false;
        break;
      }
      char line[256];
      line[0] = '\0';
      uint32_t r = 1;
      if (talk) {
        r = lib.ZimoGetLineA(device(), line, 255);
        line[255] = '\0';
      }
      if (r == 0 || simulate_ != 0) break;
      ProcessMessages();
      ++count;
      (void)file->Printf("%s\n", line);
      if (progress) view->SetPosition(count);
      if (count >= 40000) {
        result = false;
        break;
      }
    }
    if (talk) lib.ReleaseZimo(device());
    if (upload_no_comments_ == 0) (void)file->Write("; *** End of Upload ***\n");
    if (!file->Close().ok()) result = false;
  }
  view.reset();
  if (!result) RaiseErrorById(5002);
  return result;
}

}  // namespace zimo::voctoks
