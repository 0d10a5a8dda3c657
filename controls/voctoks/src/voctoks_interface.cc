#include "voctoks_interface.h"

#include "voctoks/voctoks_guids.h"

namespace zimo::voctoks {
namespace {

using namespace automation;  // NOLINT: the table reads better with the bare names

constexpr ParamInfo kBoolGet[] = {{"pVal", VT_BOOL, ParamDir::kRetval}};
constexpr ParamInfo kBoolPut[] = {{"newValue", VT_BOOL}};
constexpr ParamInfo kLongGet[] = {{"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kLongPut[] = {{"newValue", VT_I4}};
constexpr ParamInfo kTextGet[] = {{"pVal", VT_BSTR, ParamDir::kRetval}};
constexpr ParamInfo kTextPut[] = {{"newValue", VT_BSTR}};

constexpr ParamInfo kGetResponse[] = {{"Response", VT_BSTR, ParamDir::kInOut},
                                      {"Command", VT_BSTR}};
constexpr ParamInfo kGetControlResponse[] = {{"Response", VT_BSTR, ParamDir::kInOut},
                                             {"CtrlChar", VT_I4}};
constexpr ParamInfo kResponseOnly[] = {{"Response", VT_BSTR, ParamDir::kInOut}};
constexpr ParamInfo kSendChar[] = {{"aChar", VT_I4}};
constexpr ParamInfo kBankOffset[] = {{"Bank", VT_I4}, {"Offset", VT_I4}};
constexpr ParamInfo kSetWord[] = {{"Bank", VT_I4}, {"Offset", VT_I4}, {"Value", VT_I2}};
constexpr ParamInfo kOffset[] = {{"Offset", VT_I4}};
constexpr ParamInfo kSetDWord[] = {{"Offset", VT_I4}, {"Value", VT_I4}};
constexpr ParamInfo kSetFloat[] = {{"Offset", VT_I4}, {"Value", VT_R4}};
constexpr ParamInfo kOffsetBit[] = {{"Offset", VT_I4}, {"Bit", VT_I4}};
constexpr ParamInfo kPair[] = {{"LeastSig", VT_I4}, {"MostSig", VT_I4}};
constexpr ParamInfo kDownloadFile[] = {{"InputFile", VT_BSTR}};
constexpr ParamInfo kUploadData[] = {
    {"Filename", VT_BSTR}, {"Command", VT_BSTR}, {"NumberOfLines", VT_I4}};
constexpr ParamInfo kStrToRot[] = {{"InputString", VT_BSTR}, {"BufferNumber", VT_I2}};
constexpr ParamInfo kRotBuf[] = {{"On", VT_BOOL}};
constexpr ParamInfo kRotBufChange[] = {{"BufferNumber", VT_I2}, {"NewSize", VT_I2}};
constexpr ParamInfo kBufferNumber[] = {{"BufferNumber", VT_I2}};
constexpr ParamInfo kSendLine[] = {{"Command", VT_BSTR}};

#define BOOL_PROPERTY(id, name) \
  {id, name, kPropertyGet, kBoolGet}, { id, name, kPropertyPut, kBoolPut }
#define LONG_PROPERTY(id, name) \
  {id, name, kPropertyGet, kLongGet}, { id, name, kPropertyPut, kLongPut }

constexpr MemberInfo kMembers[] = {
    BOOL_PROPERTY(1, "SimulateCommunication"),
    LONG_PROPERTY(2, "DeviceNumber"),
    {3, "LastErrorString", kPropertyGet, kTextGet},
    {3, "LastErrorString", kPropertyPut, kTextPut},
    LONG_PROPERTY(4, "LastError"),
    BOOL_PROPERTY(5, "DownloadDeleteTemp"),
    BOOL_PROPERTY(6, "DownloadDo"),
    BOOL_PROPERTY(7, "DownloadHide"),
    BOOL_PROPERTY(8, "DownloadLog"),
    BOOL_PROPERTY(9, "DownloadMap"),
    LONG_PROPERTY(10, "DownloadMaxErrors"),
    BOOL_PROPERTY(11, "DownloadParse"),
    BOOL_PROPERTY(12, "DownloadShowErrors"),
    BOOL_PROPERTY(13, "UploadAppend"),
    BOOL_PROPERTY(14, "UploadHide"),
    BOOL_PROPERTY(15, "UploadNoComments"),
    BOOL_PROPERTY(16, "UploadShowProgress"),
    BOOL_PROPERTY(-514, "Enabled"),
    {17, "GetResponse", kMethod, kGetResponse, VT_BOOL},
    {18, "GetControlResponse", kMethod, kGetControlResponse, VT_BOOL},
    {19, "Flush", kMethod, {}, VT_BOOL},
    {20, "GetLineCR", kMethod, kResponseOnly, VT_BOOL},
    {21, "GetLineACK", kMethod, kResponseOnly, VT_BOOL},
    {22, "SendChar", kMethod, kSendChar, VT_BOOL},
    {23, "DPRGetWord", kMethod, kBankOffset, VT_I2},
    {24, "DPRSetWord", kMethod, kSetWord, VT_BOOL},
    {25, "DPRGetDWord", kMethod, kOffset, VT_I4},
    {26, "DPRSetDWord", kMethod, kSetDWord, VT_BOOL},
    {27, "DPRGetFloat", kMethod, kOffset, VT_R4},
    {28, "DPRSetFloat", kMethod, kSetFloat, VT_BOOL},
    {29, "DPRDWordSetBit", kMethod, kOffsetBit, VT_BOOL},
    {30, "DPRDWordResetBit", kMethod, kOffsetBit, VT_BOOL},
    {31, "DPRDWordBitSet", kMethod, kOffsetBit, VT_BOOL},
    {32, "DPRDouble", kMethod, kPair, VT_R8},
    {33, "DPRFixed", kMethod, kPair, VT_R8},
    {34, "LockZIMO", kMethod, {}},
    {35, "ReleaseZIMO", kMethod, {}},
    {36, "DownloadFile", kMethod, kDownloadFile, VT_BOOL},
    {37, "DownloadAbort", kMethod, {}, VT_BOOL},
    {38, "UploadData", kMethod, kUploadData, VT_BOOL},
    {39, "DPRAvailable", kMethod, {}, VT_BOOL},
    {40, "SaveSettings", kMethod, {}, VT_BOOL},
    {41, "LoadSettings", kMethod, {}, VT_BOOL},
    {42, "xDPRAsciiStrToRot", kMethod, kStrToRot, VT_I2},
    {43, "xDPRRotBuf", kMethod, kRotBuf, VT_I2},
    {44, "xDPRRotBufChange", kMethod, kRotBufChange, VT_I2},
    {45, "xDPRRotBufClr", kMethod, kBufferNumber},
    {46, "xDPRRotBufInit", kMethod, kBufferNumber, VT_I2},
    {47, "xDPRBufLast", kMethod, {}, VT_I4},
    {48, "xDPRRotBufRemove", kMethod, kBufferNumber, VT_I2},
    {49, "SendLine", kMethod, kSendLine, VT_BOOL},
    {50, "IsLineWaiting", kMethod, {}, VT_BOOL},
    {51, "GetUnsolicitedResponse", kMethod, kResponseOnly, VT_BOOL},
    {52, "IsUnsolicitedLineWaiting", kMethod, {}, VT_BOOL},
    {53, "ShowPropertyPage", kMethod, {}, VT_BOOL},
    {54, "SelectDevice", kMethod, {}, VT_BOOL},
    {-552, "AboutBox", kMethod, {}},
};

constexpr ParamInfo kOnError[] = {{"ErrorNumber", VT_I4},
                                  {"ErrorString", VT_BSTR, ParamDir::kInOut}};
constexpr MemberInfo kEventMembers[] = {{1, "OnError", kMethod, kOnError}};

}  // namespace

const InterfaceInfo kDVoctoKS{"_DVoctoKS", kDispatchIid, kMembers};
const InterfaceInfo kDVoctoKSEvents{"_DVoctoKSEvents", kEventsIid, kEventMembers};

}  // namespace zimo::voctoks
