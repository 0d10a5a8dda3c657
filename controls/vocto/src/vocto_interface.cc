#include "vocto_interface.h"

#include "vocto/vocto_guids.h"

namespace zimo::vocto {
namespace {

using namespace automation;  // NOLINT: the table reads better with the bare names

constexpr ParamInfo kLongGet[] = {{"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kLongPut[] = {{"newValue", VT_I4}};
constexpr ParamInfo kShortGet[] = {{"pVal", VT_I2, ParamDir::kRetval}};
constexpr ParamInfo kShortPut[] = {{"newValue", VT_I2}};
constexpr ParamInfo kTextGet[] = {{"pVal", VT_BSTR, ParamDir::kRetval}};
constexpr ParamInfo kTextPut[] = {{"newValue", VT_BSTR}};
constexpr ParamInfo kBoolGet[] = {{"pVal", VT_BOOL, ParamDir::kRetval}};
constexpr ParamInfo kBoolPut[] = {{"newValue", VT_BOOL}};

constexpr ParamInfo kGetControlResponse[] = {{"szResponse", VT_BSTR, ParamDir::kInOut},
                                             {"cCtlChar", VT_I4}};
constexpr ParamInfo kResponseOnly[] = {{"Response", VT_BSTR, ParamDir::kInOut}};
constexpr ParamInfo kGetResponse[] = {{"Response", VT_BSTR, ParamDir::kInOut},
                                      {"Command", VT_BSTR}};
constexpr ParamInfo kCommand[] = {{"Command", VT_BSTR}};
constexpr ParamInfo kSendChar[] = {{"aChar", VT_I4}};
constexpr ParamInfo kDownloadFile[] = {{"InputFile", VT_BSTR}, {"Options", VT_I4}};
constexpr ParamInfo kUploadData[] = {
    {"OutputFile", VT_BSTR}, {"Command", VT_BSTR}, {"Options", VT_I4}, {"num_lines", VT_I4}};
constexpr ParamInfo kBankOffset[] = {{"bank", VT_I4}, {"Offset", VT_I4}};
constexpr ParamInfo kSetWord[] = {{"bank", VT_I4}, {"Offset", VT_I4}, {"value", VT_I2}};
constexpr ParamInfo kShortOffset[] = {{"Offset", VT_I2}};
constexpr ParamInfo kOffset[] = {{"Offset", VT_I4}};
constexpr ParamInfo kSetDWord[] = {{"Offset", VT_I4}, {"value", VT_I4}};
constexpr ParamInfo kSetFloat[] = {{"Offset", VT_I4}, {"value", VT_R4}};
constexpr ParamInfo kOffsetBit[] = {{"Offset", VT_I4}, {"bit", VT_I4}};
constexpr ParamInfo kPair[] = {{"d0", VT_I4}, {"d1", VT_I4}};

#define PROPERTY(id, name, get, put) \
  {id, name, kPropertyGet, get}, { id, name, kPropertyPut, put }

constexpr MemberInfo kMembers[] = {
    PROPERTY(1, "CommMethod", kLongGet, kLongPut),
    PROPERTY(2, "Interval", kShortGet, kShortPut),
    PROPERTY(3, "Timeout", kLongGet, kLongPut),
    PROPERTY(4, "LastError", kLongGet, kLongPut),
    PROPERTY(5, "LastErrorString", kTextGet, kTextPut),
    PROPERTY(6, "BusBase", kLongGet, kLongPut),
    PROPERTY(7, "SerialPortNum", kLongGet, kLongPut),
    PROPERTY(8, "ZIMOType", kLongGet, kLongPut),
    PROPERTY(9, "BusType", kLongGet, kLongPut),
    PROPERTY(10, "SerialBaudrate", kLongGet, kLongPut),
    PROPERTY(11, "DPRBaseAddress", kTextGet, kTextPut),
    {12, "GetControlResponse", kMethod, kGetControlResponse, VT_BOOL},
    {13, "Flush", kMethod, {}, VT_BOOL},
    {14, "GetLineCR", kMethod, kResponseOnly, VT_BOOL},
    {15, "GetLineACK", kMethod, kResponseOnly, VT_BOOL},
    {16, "Restart", kMethod, {}, VT_BOOL},
    {17, "ShowPropertyPage", kMethod, {}, VT_BOOL},
    {18, "GetResponse", kMethod, kGetResponse, VT_BOOL},
    {19, "SendLine", kMethod, kCommand, VT_BOOL},
    {20, "SaveSettings", kMethod, {}, VT_BOOL},
    {21, "LoadSettings", kMethod, {}, VT_BOOL},
    {22, "SendChar", kMethod, kSendChar, VT_BOOL},
    {23, "DownloadFile", kMethod, kDownloadFile, VT_BOOL},
    {24, "UploadData", kMethod, kUploadData, VT_BOOL},
    {25, "IsLineWaiting", kMethod, {}, VT_BOOL},
    {26, "DPRGetWord", kMethod, kBankOffset, VT_I2},
    {27, "DPRSetWord", kMethod, kSetWord, VT_BOOL},
    {28, "DPRGetDWord", kMethod, kShortOffset, VT_I4},
    {29, "DPRSetDWord", kMethod, kSetDWord, VT_BOOL},
    {30, "DPRGetFloat", kMethod, kOffset, VT_R4},
    {31, "DPRSetFloat", kMethod, kSetFloat, VT_BOOL},
    {32, "DPRDWordSetBit", kMethod, kOffsetBit, VT_BOOL},
    {33, "DPRDWordResetBit", kMethod, kOffsetBit, VT_BOOL},
    {34, "DPRDWordBitSet", kMethod, kOffsetBit, VT_BOOL},
    {35, "DPRFixed", kMethod, kPair, VT_R8},
    {36, "DPRDouble", kMethod, kPair, VT_R8},
    PROPERTY(-514, "Enabled", kBoolGet, kBoolPut),
    {-552, "AboutBox", kMethod, {}},
};
#undef PROPERTY

constexpr ParamInfo kOnError[] = {{"ErrorNumber", VT_I4},
                                  {"ErrorString", VT_BSTR, ParamDir::kInOut}};
constexpr MemberInfo kEventMembers[] = {{1, "OnError", kMethod, kOnError}};

constexpr EnumItem kCommMethods[] = {{"BUS", 0, "PC Bus"},
                                     {"DPR", 1, "Dual Ported Ram"},
                                     {"SER", 2, "Serial"},
                                     {"DRY", 3, "Simulated Mode"}};
constexpr EnumItem kZimoTypes[] = {{"ZIMO1", 1, ""}, {"ZIMO2", 2, ""}};
constexpr EnumItem kBusTypes[] = {{"ISA", 1, "ISA Bus"}, {"VME", 2, "VME Bus"}};
constexpr EnumItem kPortNumbers[] = {
    {"COM1", 1, ""},   {"COM2", 2, ""},   {"COM3", 3, ""},   {"COM4", 4, ""},
    {"COM5", 5, ""},   {"COM6", 6, ""},   {"COM7", 7, ""},   {"COM8", 8, ""},
    {"COM9", 9, ""},   {"COM10", 10, ""}, {"COM11", 11, ""}, {"COM12", 12, ""},
    {"COM13", 13, ""}, {"COM14", 14, ""}, {"COM15", 15, ""}, {"COM16", 16, ""}};
constexpr EnumInfo kEnums[] = {{"CommMethods", kCommMethods},
                               {"ZIMOTypes", kZimoTypes},
                               {"BUSTypes", kBusTypes},
                               {"PortNumbers", kPortNumbers}};

}  // namespace

const InterfaceInfo kDVocto{"_DVocto", kDispatchIid, kMembers};
const InterfaceInfo kDVoctoEvents{"_DVoctoEvents", kEventsIid, kEventMembers};

std::span<const EnumInfo> Enumerations() { return kEnums; }

}  // namespace zimo::vocto
