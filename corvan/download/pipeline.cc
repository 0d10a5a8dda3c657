#include "download/pipeline.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/download_api.h"
#include "corvan/internal/shared_table.h"
#include "corvan/plcc_api.h"
#include "download/dictionary.h"
#include "download/download_files.h"
#include "download/preprocessor.h"
#include "link/error_texts.h"
#include "link/library_app.h"
#include "link/serial_checksum.h"
#include "platform/codepage.h"

namespace zimo::corvan {

namespace {

bool SerialDevice(int device) {
  App().MapTable();
  const SharedDeviceBlock* block = App().Block(device);
  return block != nullptr && block->Location == kLocationSerial;
}

bool PlccEnabled(int device) {
  App().MapTable();
  const SharedDeviceBlock* block = App().Block(device);
  return block != nullptr && block->PlccEnabled != 0;
}

void Report(const char* format, const char* a, const char* b = "") {
  char text[kReportTextSize];
  std::snprintf(text, sizeof text, format, a, b);
  DownloadState::Instance().ReportDownloadMessage(text);
}

// The worker of the threaded form. A new run does not wait for the worker
// before it: that worker may still be in its last report (a caller's
// handler, which may be the one starting the new run, or a call of another
// thread that waits for this one) or in the work kept for after its run
// (a close waiting for a card lock this thread holds). Such a worker is
// kept aside and joined once it has ended (at a later start, a stop or
// exit); one that starts its successor from its own callback lets go of
// itself instead. Each run keeps the work to be done once it has ended
// (closes of its card that waited for it).
class DownloadWorker {
 public:
  ~DownloadWorker() {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [this] { return AllEnded(); });
    JoinEnded();
  }
  bool Start(std::string full_path, std::uint32_t device) {
    std::unique_lock<std::mutex> lock(mutex_);
    JoinEnded();
    auto run = std::make_shared<Run>();
    run->device = device;
    std::thread thread;
    try {
      thread = std::thread([this, run, path = std::move(full_path)] {
        (void)RunDownloadPipeline(path);
        Finish(*run);
      });
    } catch (...) {
      return false;
    }
    workers_.push_back(Entry{std::move(thread), run});
    run_ = std::move(run);
    return true;
  }
  bool After(std::uint32_t device, std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (run_ == nullptr || !run_->running || run_->device != device) return false;
    run_->after.push_back(std::move(task));
    return true;
  }
  bool Stop(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (run_ != nullptr && run_->running) {
      // The abort reports to the request's callbacks: not under the lock.
      lock.unlock();
      DownloadState::Instance().Abort();
      lock.lock();
    }
    if (!ended_.wait_for(lock, limit, [this] { return AllEnded(); })) return false;
    JoinEnded();
    return true;
  }

 private:
  struct Run {
    std::uint32_t device = 0;
    bool running = true;
    bool ended = false;
    std::vector<std::function<void()>> after;
  };
  struct Entry {
    std::thread thread;
    std::shared_ptr<Run> run;
  };

  void Finish(Run& run) {
    std::vector<std::function<void()>> after;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      run.running = false;
      after.swap(run.after);
    }
    for (auto& task : after) task();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      run.ended = true;
    }
    ended_.notify_all();
  }
  // With the lock held.
  bool AllEnded() const {
    for (const Entry& e : workers_) {
      if (!e.run->ended && e.thread.get_id() != std::this_thread::get_id()) return false;
    }
    return true;
  }
  // With the lock held: the workers whose runs have ended are gone (a
  // worker that has set its end only notifies and returns); the calling
  // worker lets go of itself.
  void JoinEnded() {
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (it->thread.get_id() == std::this_thread::get_id()) {
        it->thread.detach();
      } else if (it->run->ended) {
        it->thread.join();
      } else {
        ++it;
        continue;
      }
      if (run_ == it->run) run_.reset();
      it = workers_.erase(it);
    }
  }

  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<Entry> workers_;
  std::shared_ptr<Run> run_;  // the latest run
};

DownloadWorker& Worker() {
  static DownloadWorker worker;
  return worker;
}

bool NarrowPath(const char16_t* path, std::string* out) {
  if (path == nullptr) return false;
  out->clear();
  for (const char16_t* p = path; *p != u'\0'; ++p) {
    const char ch = platform::Utf16ToCp1252Char(*p);
    if (ch == '?' && *p != u'?') return false;
    out->push_back(ch);
  }
  return out->size() <= 255;
}

// The output of this request's stages that would be written over the
// source itself, or null: each of the five names counts when its stage
// runs (EXM and TBL with macro, MAP with map and macro, LOG with log, 56K
// when the card's programs are compiled).
const char* OutputOverSource(std::uint32_t device, const DownloadOptions& options,
                             const std::string& full_path) {
  struct Output {
    const char* ext;
    bool written;
  };
  const Output outputs[] = {
      {"EXM", options.macro != 0},
      {"TBL", options.macro != 0},
      {"MAP", options.macro != 0 && options.map != 0},
      {"LOG", options.log == 1},
      {"56K", PlccEnabled(IndexFromDeviceNumber(device))},
  };
  const std::string source = HostFilePath(full_path.c_str());
  for (const Output& o : outputs) {
    if (!o.written) continue;
    const std::string output = HostFilePath(SiblingPath(full_path, o.ext).c_str());
    std::error_code error;
    if (output == source || (std::filesystem::equivalent(output, source, error) && !error)) {
      return o.ext;
    }
  }
  return nullptr;
}

}  // namespace

bool BeginDownloadRequest(std::uint32_t device, const DownloadCallbacks& callbacks,
                          const DownloadOptions& options, const char* source,
                          std::string* full_path) {
  DownloadState& state = DownloadState::Instance();
  // Busy is taken here, before anything else, so that two requests cannot
  // both start.
  if (!state.TryMarkBusy()) {
    callbacks.ReportMessage(kAlreadyRunning);
    return false;
  }
  state.BeginRequest(static_cast<int>(device), callbacks, options);
  state.BeginRun();
  SourceProblem problem = SourceProblem::kNotFound;
  *full_path = FullDownloadPath(source, &problem);
  char text[kReportTextSize];
  if (problem == SourceProblem::kNone) {
    // A source named like one of its own outputs would be overwritten
    // before it is read or sent: refuse it before anything is written.
    const char* ext = OutputOverSource(device, options, *full_path);
    if (ext == nullptr) return true;
    std::snprintf(text, sizeof text, "Source file is also the %s output file: %s", ext,
                  source != nullptr ? source : "");
    state.ReportDownloadError(text, 1);
    state.WriteLog(kDownloadFallbackLog, source != nullptr ? source : "");
    state.EndRun();
    return false;
  }
  const char* format = problem == SourceProblem::kNotFound       ? "File not found: %s"
                       : problem == SourceProblem::kAccessDenied ? "Access permission denied to: %s"
                                                                 : "Unable to locate file: %s";
  std::snprintf(text, sizeof text, format, source != nullptr ? source : "");
  state.ReportDownloadError(text, 1);
  state.WriteLog(kDownloadFallbackLog, source != nullptr ? source : "");
  state.EndRun();
  return false;
}

std::uint32_t RunDownloadPipeline(const std::string& full_path) {
  // The request has reset the run already; resetting here again would lose
  // an abort made between the request and the worker's start.
  DownloadState& state = DownloadState::Instance();
  const int device = state.device();
  const DownloadOptions options = state.options();
  const bool checksums = state.checksum_mode() == 1 && SerialDevice(device);
  if (checksums) ZimoSERDoChecksums(static_cast<std::uint32_t>(device), 1);

  const std::string exm = SiblingPath(full_path, "EXM");
  const std::string log = SiblingPath(full_path, "LOG");
  const std::string map = SiblingPath(full_path, "MAP");
  const std::string tbl = SiblingPath(full_path, "TBL");
  const std::string k56 = SiblingPath(full_path, "56K");
  state.source_path() = full_path;
  state.output_paths() = {exm, log, map, tbl, k56};

  MacroPreprocessor& preprocessor = DownloadPreprocessor();
  preprocessor.ClearDictionary();
  if (state.errors() == 0 && options.macro != 0) {
    Report("Processing Macro File: %s", full_path.c_str());
    preprocessor.Run(device, full_path, exm);
  }
  const bool plcc = PlccEnabled(device);
  if (state.errors() == 0 && plcc) {
    Report("Compiling for PLCC: %s = %s", exm.c_str(), k56.c_str());
    ZimoCompilePLCC(static_cast<std::uint32_t>(device), k56.c_str(),
                    options.macro != 0 ? exm.c_str() : full_path.c_str());
  }
  if (state.errors() == 0 && options.download != 0) {
    const std::string& file = plcc ? k56 : options.macro != 0 ? exm : full_path;
    ZimoDownloadFile(static_cast<std::uint32_t>(device), file.c_str());
  }
  if (state.errors() == 0 && options.map != 0 && options.macro != 0) {
    Report("Writing MAP file: %s", map.c_str());
    WriteMapFile(preprocessor.dictionary(), map.c_str(), full_path.c_str());
  }
  if (!state.aborted() && options.macro != 0) {
    Report("Writing macro dictionary table: %s", tbl.c_str());
    if (!WriteDictionaryFile(preprocessor.dictionary(), tbl.c_str())) {
      state.ReportDownloadError("Unable to write dictionary file.", 0);
    }
  }
  char text[kReportTextSize];
  std::snprintf(text, sizeof text, "Total Warnings: %u", static_cast<unsigned>(state.warnings()));
  state.ReportDownloadMessage(text);
  std::snprintf(text, sizeof text, "Total Errors: %u", static_cast<unsigned>(state.errors()));
  state.ReportDownloadMessage(text);
  if (options.log == 1) state.WriteLog(HostFilePath(log.c_str()).c_str(), full_path.c_str());
  state.ReportDownloadMessage("END.");
  preprocessor.ClearDictionary();
  const DownloadCallbacks callbacks = state.callbacks();
  const std::uint32_t errors = state.errors();
  // Before the run ends: a run started from the last report (or by another
  // thread once this one has ended) sets its own.
  if (checksums) ZimoSERDoChecksums(static_cast<std::uint32_t>(device), 0);
  state.EndRun();
  callbacks.ReportProgress(100);
  return errors;
}

std::int32_t RunDownload(std::uint32_t device, const DownloadCallbacks& callbacks,
                         const DownloadOptions& options, const char* source) {
  std::string full;
  if (!BeginDownloadRequest(device, callbacks, options, source, &full)) return 0;
  // The count of this run, taken before another request may begin.
  const std::uint32_t errors = RunDownloadPipeline(full);
  DownloadState::Instance().set_active(false);
  return errors == 0 ? 1 : 0;
}

std::int32_t StartThreadDownload(std::uint32_t device, const DownloadCallbacks& callbacks,
                                 const DownloadOptions& options, const char* source) {
  std::string full;
  if (!BeginDownloadRequest(device, callbacks, options, source, &full)) return 0;
  if (!Worker().Start(full, device)) {
    DownloadState::Instance().EndRun();
    return 0;
  }
  return 1;
}

bool StopThreadDownload(std::chrono::milliseconds limit) { return Worker().Stop(limit); }

bool RunAfterThreadDownload(std::uint32_t device, std::function<void()> task) {
  return Worker().After(device, std::move(task));
}

bool SendFileAsRequest(std::uint32_t device, const DownloadCallbacks& callbacks, const char* path) {
  DownloadState& state = DownloadState::Instance();
  if (!state.TryMarkBusy()) {
    callbacks.ReportMessage(kAlreadyRunning);
    return false;
  }
  DownloadOptions options;
  options.download = 1;
  state.BeginRequest(static_cast<int>(device), callbacks, options);
  state.BeginRun();
  ZimoDownloadFile(device, path);
  state.EndRun();
  state.set_active(false);
  return true;
}

}  // namespace zimo::corvan

using namespace zimo::corvan;

extern "C" std::int32_t ZimoDownloadA(std::uint32_t device, DownloadMessageCallback message,
                                      DownloadLineSourceCallback line_source,
                                      DownloadProgressCallback progress, const char* source,
                                      std::int32_t macro, std::int32_t map, std::int32_t log,
                                      std::int32_t download) {
  return RunDownload(device, DownloadCallbacks{message, line_source, progress, nullptr, nullptr},
                     DownloadOptions{macro, map, log, download}, source);
}

extern "C" std::int32_t ZimoDownloadW(std::uint32_t device, DownloadMessageCallback message,
                                      DownloadLineSourceCallback line_source,
                                      DownloadProgressCallback progress, const char16_t* source,
                                      std::int32_t macro, std::int32_t map, std::int32_t log,
                                      std::int32_t download) {
  std::string narrow;
  if (!NarrowPath(source, &narrow)) return 0;
  return ZimoDownloadA(device, message, line_source, progress, narrow.c_str(), macro, map, log,
                       download);
}

extern "C" std::int32_t ZimoThreadDownloadA(std::uint32_t device, DownloadMessageCallback message,
                                            DownloadLineSourceCallback line_source,
                                            DownloadProgressCallback progress, const char* source,
                                            std::int32_t macro, std::int32_t map, std::int32_t log,
                                            std::int32_t download) {
  return StartThreadDownload(device,
                             DownloadCallbacks{message, line_source, progress, nullptr, nullptr},
                             DownloadOptions{macro, map, log, download}, source);
}

extern "C" std::int32_t ZimoThreadDownloadW(std::uint32_t device, DownloadMessageCallback message,
                                            DownloadLineSourceCallback line_source,
                                            DownloadProgressCallback progress,
                                            const char16_t* source, std::int32_t macro,
                                            std::int32_t map, std::int32_t log,
                                            std::int32_t download) {
  std::string narrow;
  if (!NarrowPath(source, &narrow)) return 0;
  return ZimoThreadDownloadA(device, message, line_source, progress, narrow.c_str(), macro, map,
                             log, download);
}

extern "C" std::int32_t ZimoCompilePLCC(std::uint32_t device, const char* output,
                                        const char* input) {
  DownloadState& state = DownloadState::Instance();
  if (state.options().download != 0) ZimoSendCommandA(device, "closeI6=1");
  App().MapTable();
  const SharedDeviceBlock* block = App().Block(IndexFromDeviceNumber(device));
  if (block == nullptr || block->LinkListValid != 1) {
    // Without the card's link list nothing can be compiled; an error here
    // keeps the send stage from sending a missing or stale file.
    state.ReportDownloadError("PLCC Err: The card's link list is not known.", 0);
    return 0;
  }
  Report("PLCC Compiling ZIMO file: %s", input != nullptr ? input : "");
  std::uint32_t count = 0;
  const std::int32_t r = ZimoPlccCompilerA(device, &count, input, output);
  char text[kReportTextSize];
  if (r != 0) {
    std::snprintf(text, sizeof text, "PLCC Err: %s",
                  LoadLibraryString(static_cast<std::uint32_t>(r)));
    state.ReportDownloadError(text, count);
    return 0;
  }
  Report("Success in Compiling to output file: %s", output != nullptr ? output : "");
  if (count != 0) {
    std::snprintf(text, sizeof text, "PLCC(s) used %u program memory locations",
                  static_cast<unsigned>(count));
    state.ReportDownloadMessage(text);
  } else {
    state.ReportDownloadMessage("No PLCC(s) were compiled");
  }
  return 1;
}
