// Variable background users belong to the process that registered them.
// Only one process holds users at a time; the device's shared record names
// it (VbgOwnerProcessId) and keeps the area's top (VbgAreaTop), so that the
// users of a process that closed the device, or ended without closing it,
// do not keep every other process out.
#pragma once

#include "corvan/internal/shared_table.h"

namespace zimo::corvan {

// Before a registration adds a user: the calling process holds the users
// from now on, and the first user's registration records the area's top.
void HoldVbgUsers(SharedDeviceBlock& block);

// After a removal: no process holds users once the last one is gone.
void LetGoOfVbgUsersWhenNone(SharedDeviceBlock& block);

// When the process that holds users has ended, the card stops copying their
// lists and the area is free again (its lowest word back at its top). For
// the next registration, open or ring of any process.
void DropUsersOfEndedProcess(int device);

// This process's last close of the device: its users are given up (the
// card stops copying their lists, the area is free again).
void ReleaseOwnUsers(int device);

}  // namespace zimo::corvan
