// Library functions that are not exported: the hook through which a program
// carries window messages. Programs built with the library and the tests use
// it; a client of libcorvan32.so never sees it.
#pragma once

#include <cstdint>
#include <functional>

namespace zimo::corvan {

// This system has no windows of its own: the program, or its user-interface
// layer, installs the function that delivers a message to the window a
// handle names. With none installed, window-message notifications are
// dropped.
using WindowMessageSender = std::function<void(std::uintptr_t window, std::uint32_t message,
                                               std::uintptr_t first, std::intptr_t second)>;
void SetWindowMessageSender(WindowMessageSender sender);

}  // namespace zimo::corvan
