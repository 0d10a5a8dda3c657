// What a bus driver answers for the physical devices it creates for its
// children, shared by the plain bus and the USB bus: the plug-and-play
// requests the bus finishes itself, power requests, and everything else
// (create and close on the raw child succeed; the rest is refused).
#pragma once

#include "kernel/irp.h"
#include "kernel/kernel.h"

namespace zimo::kernel {

// The status of a child's plug-and-play request: its capabilities for the
// query, success for the life-cycle requests, and `status` unchanged for
// requests that are not the bus's to answer.
NTSTATUS ChildPnpStatus(IoStackLocation& location, const DeviceCapabilities& capabilities,
                        NTSTATUS status);

// Complete a child's plug-and-play request with `status`.
NTSTATUS CompleteChildRequest(DeviceObject* device, Irp& irp, NTSTATUS status);

// Dispatch routines for a child's power requests and for every other major
// function the bus does not serve itself.
NTSTATUS DispatchChildPower(DeviceObject* device, Irp& irp);
NTSTATUS DispatchChildOther(DeviceObject* device, Irp& irp);

}  // namespace zimo::kernel
