// Handing a request to the next lower driver of a function device's stack:
// plug-and-play requests the function driver does not handle itself go down
// unchanged, and those it must act on after the bus did (start, cancel,
// capabilities) go down and come back before it completes them.
#pragma once

#include "kernel/irp.h"
#include "kernel/ntstatus.h"

namespace zimo::kernel {

class DeviceObject;
class Kernel;

// Gives the request to `lower` with this driver's stack location skipped;
// the request belongs to the lower drivers afterwards.
NTSTATUS PassDown(Kernel& kernel, DeviceObject* lower, Irp& irp);

// Gives the request to `lower` and blocks until the lower drivers completed
// it; the request is the caller's again afterwards, to complete. Returns the
// lower drivers' status.
NTSTATUS PassDownAndWait(Kernel& kernel, DeviceObject* lower, Irp& irp);

// Completes the request with `status` and returns it.
NTSTATUS CompleteWith(Kernel& kernel, Irp& irp, NTSTATUS status);

}  // namespace zimo::kernel
