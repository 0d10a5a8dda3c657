#include "kernel/pass_down.h"

#include <condition_variable>
#include <mutex>

#include "kernel/kernel.h"

namespace zimo::kernel {

NTSTATUS PassDown(Kernel& kernel, DeviceObject* lower, Irp& irp) {
  irp.SkipCurrentStackLocation();
  return kernel.CallDriver(lower, irp);
}

NTSTATUS PassDownAndWait(Kernel& kernel, DeviceObject* lower, Irp& irp) {
  struct Signal {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
  } signal;
  irp.CopyCurrentStackLocationToNext();
  irp.SetCompletionRoutine([&signal](DeviceObject*, Irp&) {
    std::lock_guard lock(signal.mu);
    signal.done = true;
    signal.cv.notify_all();
    return kStatusMoreProcessingRequired;
  });
  kernel.CallDriver(lower, irp);
  std::unique_lock lock(signal.mu);
  signal.cv.wait(lock, [&signal] { return signal.done; });
  return irp.io_status.status;
}

NTSTATUS CompleteWith(Kernel& kernel, Irp& irp, NTSTATUS status) {
  irp.io_status.status = status;
  kernel.CompleteRequest(irp);
  return status;
}

}  // namespace zimo::kernel
