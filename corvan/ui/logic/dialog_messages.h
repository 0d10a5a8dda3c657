// The message boxes of the configuration dialogs: every outcome is told in a
// box without owner window, titled with the library's caption, its text one
// of the library's numbered texts or a fixed text of the dialog.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/message.h"

namespace zimo::corvan::dialogs {

// The library's caption (its text 101).
inline constexpr char kMessageCaption[] = "ZIMO Communications";

// Library texts the dialogs show, by number.
inline constexpr std::uint32_t kTextDetected = 0;
inline constexpr std::uint32_t kTextRemoveDevice = 84;
inline constexpr std::uint32_t kTextRemoveCurrentFirst = 85;
inline constexpr std::uint32_t kTextOutOfResources = 86;
inline constexpr std::uint32_t kTextBadExe = 87;
inline constexpr std::uint32_t kTextFileNotFound = 88;
inline constexpr std::uint32_t kTextPathNotFound = 89;
inline constexpr std::uint32_t kTextUnknownLocation = 92;
inline constexpr std::uint32_t kTextCannotRemove = 93;
inline constexpr std::uint32_t kTextMultipleApplications = 94;
inline constexpr std::uint32_t kTextDeviceOpen = 95;
inline constexpr std::uint32_t kTextFirmwareFailed = 205;
inline constexpr std::uint32_t kTextNotDetected = 1003;
inline constexpr std::uint32_t kTextBootstrap = 1009;

// Shows `text`; returns the answer (platform::kId...).
int ShowMessage(std::string_view text, std::uint32_t flags = platform::kMbOk);
// Shows the library's text `number`.
int ShowLibraryText(std::uint32_t number, std::uint32_t flags = platform::kMbOk);
// The library's text `number` with "%1" replaced by `insert`.
std::string LibraryTextWith(std::uint32_t number, std::string_view insert);

// "ZIMO Device number %d": the device line of the settings dialogs.
std::string DeviceCaption(int device);

// The text a number edit holds as an unsigned 32-bit value; false for an
// empty text, anything but decimal digits (blanks around them are allowed)
// or a value above 4294967295.
bool ParseUnsigned(std::string_view text, std::uint32_t* value);
inline constexpr char kNotAnUnsigned[] = "Please enter an unsigned integer.";

}  // namespace zimo::corvan::dialogs
