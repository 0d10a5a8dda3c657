// Library functions that are not exported: the server's own command call and
// the hook through which a program carries window messages. The server and
// the tests use them; a client of libcorvan32.so never sees them.
#pragma once

#include <cstdint>
#include <functional>

namespace zimo::corvan {

// ZimoGetResponseA as the server calls it: the command is formatted
// printf-style into at most 255 characters (a longer one is cut) and the
// whole status word of ZimoGetResponseExA comes back.
std::uint32_t ServerGetResponse(std::uint32_t device, char* buffer, std::uint32_t size,
                                const char* format, ...) __attribute__((format(printf, 4, 5)));

// This system has no windows of its own: the program, or its user-interface
// layer, installs the function that delivers a message to the window a
// handle names. With none installed, window-message notifications are
// dropped.
using WindowMessageSender = std::function<void(std::uintptr_t window, std::uint32_t message,
                                               std::uintptr_t first, std::intptr_t second)>;
void SetWindowMessageSender(WindowMessageSender sender);

}  // namespace zimo::corvan
