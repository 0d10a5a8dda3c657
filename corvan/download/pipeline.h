// The download pipeline: the stages of one program download in their
// order (macro pass, PLC compilation, sending, MAP and dictionary files,
// log) and the entries that run it in the caller's thread or on a worker.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "download/download_state.h"

namespace zimo::corvan {

inline constexpr char kAlreadyRunning[] = "Download thread already running!";

// Validates the request and starts it: stores callbacks and switches and
// resets the run's counts. False (after the refusal or the report of a
// missing source) when the run cannot go on; `full_path` receives the
// source's full path.
bool BeginDownloadRequest(std::uint32_t device, const DownloadCallbacks& callbacks,
                          const DownloadOptions& options, const char* source,
                          std::string* full_path);

// Runs every stage for the request begun; clears busy at its end. The
// run's error count.
std::uint32_t RunDownloadPipeline(const std::string& full_path);

// The entries behind ZimoDownloadA and ZimoThreadDownloadA, for callers
// whose reports go to a sink of their own (DownloadCallbacks::sink).
std::int32_t RunDownload(std::uint32_t device, const DownloadCallbacks& callbacks,
                         const DownloadOptions& options, const char* source);
std::int32_t StartThreadDownload(std::uint32_t device, const DownloadCallbacks& callbacks,
                                 const DownloadOptions& options, const char* source);
// Asks a running threaded download to stop (the abort of ZimoAbortDownload)
// and waits up to `limit` for its worker to end, with the work kept for
// after it. True when no worker runs any more; false when it still does
// (and then still uses its card and the device table).
bool StopThreadDownload(std::chrono::milliseconds limit);
// While a threaded download to `device` runs: keeps `task` to run on its
// worker once the download has ended (true). Otherwise false, and nothing
// is kept.
bool RunAfterThreadDownload(std::uint32_t device, std::function<void()> task);
// ZimoDownloadFile as a request of its own, its reports going to
// `callbacks`: refused (with "Download thread already running!") while a
// download runs; false then.
bool SendFileAsRequest(std::uint32_t device, const DownloadCallbacks& callbacks, const char* path);

}  // namespace zimo::corvan
