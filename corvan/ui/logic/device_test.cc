#include "logic/device_test.h"

#include <cstring>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/internal/shared_table.h"
#include "link/device_open.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "logic/dialog_messages.h"
#include "platform/debug.h"

namespace zimo::corvan::dialogs {
namespace {

constexpr std::uint32_t kReplySize = 255;
constexpr std::uint32_t kStatusReplyMin = 12;
constexpr std::uint32_t kStatusReplyMax = 15;

enum class CardAnswer { kStatus, kLoader, kNothing };

// Asks the card for its status, as the open handshake does: a reply of 12
// to 15 characters (and not the 0xFF a card that is not there reads as) is
// the status of a running card. A reply naming the firmware loader is not,
// whatever its length: the card is still in bootstrap mode.
CardAnswer AskStatus(int device) {
  char reply[kReplySize + 1] = {};
  const std::uint32_t count =
      ZimoGetResponseA(static_cast<std::uint32_t>(device), reply, kReplySize, "?");
  if (std::strstr(reply, "BOOTSTRAP") != nullptr) return CardAnswer::kLoader;
  const bool status = static_cast<unsigned char>(reply[0]) != 0xFF && count >= kStatusReplyMin &&
                      count <= kStatusReplyMax;
  return status ? CardAnswer::kStatus : CardAnswer::kNothing;
}

// After a way out of bootstrap mode: whether the card now runs its
// firmware. The shared bootstrap flag follows what the card said.
bool CardRunsFirmware(int device) {
  const CardAnswer answer = AskStatus(device);
  if (answer == CardAnswer::kLoader) {
    if (SharedDeviceBlock* block = App().Block(device)) block->BootstrapFlag = 1;
  }
  return answer == CardAnswer::kStatus;
}

bool InBootstrap(int device) {
  const SharedDeviceBlock* block = App().Block(device);
  return block != nullptr && block->BootstrapFlag != 0;
}

void Store(std::int32_t* result, std::int32_t code) {
  if (result != nullptr) *result = code;
}

}  // namespace

int DeviceTest::TestDevice(int device, std::int32_t* result) {
  std::uint32_t location = kLocationUnknown;
  std::uint32_t enumeration = 0;
  if (IsRealDevice(device)) {
    if (const SharedDeviceBlock* block = App().Block(device)) {
      location = block->Location;
      enumeration = block->Enumeration;
    } else {
      GetDeviceRegDword(device, kLocationValue, &location, 0);
      GetDeviceRegDword(device, kEnumerationValue, &enumeration, 0);
    }
  }
  if (location == kLocationUnknown || location >= kLocationInvalid) {
    ShowLibraryText(kTextUnknownLocation);
    return 0;
  }

  // The open this test made, and whether it is to be released at the next
  // pass. A caller's own open is never released here.
  bool own_open = false;
  bool release_due = false;
  std::int32_t code = kTestNotDetected;
  if (App().User(device)->Transport == nullptr) {
    if (OpenZimoDevice(static_cast<std::uint32_t>(device)) != 0) {
      own_open = true;
      code = InBootstrap(device) ? kTestBootstrap : kTestDetected;
      // In bootstrap mode the open is still needed for the way out.
      release_due = code != kTestBootstrap;
    }
  } else if (!InitAsciiHandshake(device)) {
    code = location == kLocationSerial ? kTestSerialHandshakeFailed : kTestNotDetected;
  } else {
    code = InBootstrap(device) ? kTestBootstrap : kTestDetected;
  }

  for (;;) {
    if (own_open && release_due) {
      CloseZimoDevice(static_cast<std::uint32_t>(device));
      own_open = false;
    }
    switch (code) {
      case kTestDetected:
        ShowLibraryText(kTextDetected);
        Store(result, code);
        return 1;
      case kTestSerialHandshakeFailed:
      case kTestNotDetected:
        ShowLibraryText(kTextNotDetected);
        Store(result, code);
        return 0;
      case kTestFirmwareFailed:
        ShowLibraryText(kTextFirmwareFailed);
        Store(result, code);
        return 0;
      default:  // kTestBootstrap
        if (ShowLibraryText(kTextBootstrap, platform::kMbOkCancel) == platform::kIdOk) {
          const bool downloaded = ChooseFirmwareFile(location, enumeration) == 1;
          code = downloaded && CardRunsFirmware(device) ? kTestDetected : kTestFirmwareFailed;
        } else {
          ShowMessage(kLeavingBootstrapText);
          char reply[kReplySize + 1] = {};
          ZimoGetControlResponseExA(static_cast<std::uint32_t>(device), reply, kReplySize, kCtrlR);
          if (SharedDeviceBlock* block = App().Block(device)) block->BootstrapFlag = 0;
          code = CardRunsFirmware(device) ? kTestDetected : kTestNotDetected;
        }
        release_due = true;
        break;
    }
  }
}

int DeviceTest::TestDeviceAtLocation(std::uint32_t location, std::uint32_t enumeration,
                                     std::int32_t* result) {
  int device = 0;
  if (FindDeviceByLocation(location, enumeration, &device) == 0) return 0;
  return TestDevice(device, result);
}

int DeviceTest::ChooseFirmwareFile(std::uint32_t location, std::uint32_t enumeration) {
  FileChoiceRequest request;
  request.default_extension = kFirmwareExtension;
  request.initial_name = kFirmwareInitialName;
  request.filter = kFirmwareFilter;
  request.file_must_exist = true;
  const std::optional<std::string> file = ui_.ChooseFile(request);
  if (!file) return 0;
  if (!ui_.RunFirmwareDownload(location, enumeration, *file)) {
    platform::DebugPrintf("No firmware download dialog to load %s\n", file->c_str());
    return 0;
  }
  return 1;
}

}  // namespace zimo::corvan::dialogs
