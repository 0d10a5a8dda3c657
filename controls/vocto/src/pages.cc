#include "pages.h"

#include "vocto/vocto_guids.h"

namespace zimo::vocto {
namespace {

using controls::FieldKind;
using controls::PageField;

constexpr std::string_view kGeneralTexts[] = {
    "WELCOME!   This control allows you to easily interface with ZIMO.  Please select how you "
    "will be talking to ZIMO below, followed by choosing the corresponding tab above for "
    "detailed setup.",
    "How will you communicate with ZIMO?",
    "The timeout value determines how long the communication functions wait for a response "
    "from ZIMO after sending a command.  typical values are from 500 to 20000, depending on "
    "your PC speed."};
constexpr PageField kGeneralFields[] = {
    {203, "CommMethod", FieldKind::kRadio, "&Bus", false, 0, 0, 0},
    {204, "CommMethod", FieldKind::kRadio, "&Dual Ported Ram", false, 0, 0, 1},
    {205, "CommMethod", FieldKind::kRadio, "&Serial", false, 0, 0, 2},
    {214, "CommMethod", FieldKind::kRadio, "S&imulated communication", false, 0, 0, 3},
    {201, "Timeout", FieldKind::kNumber, "&Timeout:"},
};

constexpr std::string_view kBusTexts[] = {
    "This page is used to specify how to talk to ZIMO over the PC bus.  Type in the decimal "
    "base address that ZIMO is setup for (the factory default is 528).  Also, for ZIMO 1 "
    "users, make sure the jumper settings match your specified PC bus address."};
constexpr PageField kBusFields[] = {
    {202, "BusBase", FieldKind::kNumber, "Bus Base Address:"},
};

constexpr std::string_view kDprTexts[] = {
    "This page allows you to specify the base address of ZIMO's dual port RAM.  Type in the "
    "physical address of dual port RAM as it appears in the PC's address space.  To specify "
    "the address in hex, preceed it with '0x' or '$'.",
    "For example, to specify $D4000, type in '$D4000' or '0xD4000'"};
constexpr PageField kDprFields[] = {
    {202, "DPRBaseAddress", FieldKind::kText, "Dual Ported Ram Base Address:"},
};

constexpr std::string_view kSerialTexts[] = {
    "This page is used to specify how to talk to ZIMO over the serial port.  Type in the "
    "number of the desired COM port (1 through 16) and also type in the desired baudrate.  "
    "Note that the default baudrate for ZIMO1 is 9600 and 38400 for ZIMO2. ",
    " Also, be sure ZIMO's buadrate settings match your typed in value for baudrate.",
    "Note: A baudrate of 0 does a search for baudrate."};
constexpr PageField kSerialFields[] = {
    {213, "SerialPortNum", FieldKind::kNumber, "CO&M Port (1-16):"},
    {203, "SerialBaudrate", FieldKind::kNumber, "&Baudrate:"},
};

}  // namespace

const controls::PageDescription kGeneralPage{kGeneralPageClsid, 100, "General", kGeneralTexts,
                                             kGeneralFields};
const controls::PageDescription kBusPage{kBusPageClsid, 104, "Bus", kBusTexts, kBusFields};
const controls::PageDescription kDprPage{kDprPageClsid, 105, "DPR", kDprTexts, kDprFields};
const controls::PageDescription kSerialPage{kSerialPageClsid, 106, "Serial", kSerialTexts,
                                            kSerialFields};
const controls::PageDescription kAboutPage{kAboutPageClsid, 223, "About", {}, {}};

std::unique_ptr<controls::PropertyPage> MakePage(const automation::Guid& clsid,
                                                 std::shared_ptr<automation::Dispatch> control) {
  for (const controls::PageDescription* d :
       {&kGeneralPage, &kBusPage, &kDprPage, &kSerialPage, &kAboutPage}) {
    if (d->clsid == clsid) return std::make_unique<controls::PropertyPage>(*d, control);
  }
  return nullptr;
}

std::unique_ptr<controls::PropertyFrame> MakePropertyFrame(
    std::shared_ptr<automation::Dispatch> control) {
  auto frame = std::make_unique<controls::PropertyFrame>();
  for (const automation::Guid& clsid :
       {kGeneralPageClsid, kBusPageClsid, kDprPageClsid, kSerialPageClsid, kAboutPageClsid}) {
    auto page = MakePage(clsid, control);
    page->LoadFromObject();
    frame->AddPage(std::move(page));
  }
  return frame;
}

}  // namespace zimo::vocto
