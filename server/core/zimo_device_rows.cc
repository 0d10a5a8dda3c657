// The device object's interface, written once: every member's DISPID, name,
// kind and parameters beside the method that serves it.
#include "core/server_ids.h"
#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/command_api.h"
#include "corvan/device_level_api.h"
#include "corvan/download_api.h"
#include "corvan/dpr_api.h"
#include "corvan/dpr_channel_api.h"
#include "corvan/gather_api.h"
#include "corvan/identify_api.h"
#include "corvan/program_info_api.h"
#include "corvan/rings_api.h"
#include "corvan/status_query_api.h"
#include "corvan/tuning_api.h"
#include "corvan/varbuf_api.h"
#include "corvan/variables_api.h"
#include "corvan/word_formats_api.h"

namespace zimo::server {
namespace {

using automation::kMethod;
using automation::kPropertyGet;
using automation::kPropertyPut;
using automation::ParamDir;
using automation::ParamInfo;
using automation::VT_BSTR;
using automation::VT_I2;
using automation::VT_I4;
using automation::VT_I8;
using automation::VT_R4;
using automation::VT_R8;
using automation::VT_UI1;
using automation::VT_VARIANT;
using device_detail::kRomTextSize;
using device_detail::kTextSize;

constexpr ParamInfo kDevice[] = {{"dwDevice", VT_I4}};
constexpr ParamInfo kDeviceGet[] = {{"dwDevice", VT_I4}, {"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kDeviceLine[] = {{"dwDevice", VT_I4}, {"line", VT_BSTR}};
constexpr ParamInfo kDeviceChar[] = {{"dwDevice", VT_I4}, {"ch", VT_UI1}};
constexpr ParamInfo kDeviceTextOut[] = {{"dwDevice", VT_I4}, {"pVal", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetResponse[] = {
    {"dwDevice", VT_I4}, {"question", VT_BSTR}, {"pAnswer", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetControlResponse[] = {
    {"dwDevice", VT_I4}, {"question", VT_UI1}, {"pAnswer", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetLocAndEnum[] = {
    {"dwDevice", VT_I4}, {"pLoc", VT_I4, ParamDir::kOut}, {"pEnum", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDeviceFile[] = {{"dwDevice", VT_I4}, {"filePath", VT_BSTR}};
constexpr ParamInfo kDownload[] = {{"dwDevice", VT_I4}, {"filePath", VT_BSTR}, {"bMacro", VT_I4},
                                   {"bMap", VT_I4},     {"bLog", VT_I4},       {"bDnld", VT_I4}};
constexpr ParamInfo kValueGet[] = {{"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kValuePut[] = {{"value", VT_I4}};
constexpr ParamInfo kSendCommand[] = {{"dwDevice", VT_I4}, {"cmd", VT_BSTR}};
constexpr ParamInfo kGetBuffer[] = {
    {"dwDevice", VT_I4}, {"bAddLF", VT_I4}, {"pBuf", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetControlValues[] = {{"dwDevice", VT_I4},
                                           {"ctrlCh", VT_I2},
                                           {"pVariant", VT_VARIANT, ParamDir::kOut},
                                           {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kValueOut[] = {{"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDeviceValueOut[] = {{"dwDevice", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetResponseBuffered[] = {{"dwDevice", VT_I4},
                                              {"question", VT_BSTR},
                                              {"bAddLF", VT_I4},
                                              {"pAnswer", VT_BSTR, ParamDir::kOut}};

constexpr ParamInfo kGetIVariableLong[] = {
    {"dwDevice", VT_I4}, {"num", VT_I4}, {"def", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetIVariableDouble[] = {
    {"dwDevice", VT_I4}, {"num", VT_I4}, {"def", VT_R8}, {"pVal", VT_R8, ParamDir::kOut}};
constexpr ParamInfo kSetIVariableLong[] = {{"dwDevice", VT_I4}, {"num", VT_I4}, {"newVal", VT_I4}};
constexpr ParamInfo kSetIVariableDouble[] = {
    {"dwDevice", VT_I4}, {"num", VT_I4}, {"newVal", VT_R8}};
constexpr ParamInfo kGetVariableLong[] = {{"dwDevice", VT_I4},
                                          {"ch", VT_I2},
                                          {"num", VT_I4},
                                          {"def", VT_I4},
                                          {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetVariableDouble[] = {{"dwDevice", VT_I4},
                                            {"ch", VT_I2},
                                            {"num", VT_I4},
                                            {"def", VT_R8},
                                            {"pVal", VT_R8, ParamDir::kOut}};
constexpr ParamInfo kSetVariableLong[] = {
    {"dwDevice", VT_I4}, {"ch", VT_I2}, {"num", VT_I4}, {"newVal", VT_I4}};
constexpr ParamInfo kSetVariableDouble[] = {
    {"dwDevice", VT_I4}, {"ch", VT_I2}, {"num", VT_I4}, {"newVal", VT_R8}};
constexpr ParamInfo kDprGetFloat[] = {
    {"dwDevice", VT_I4}, {"offset", VT_I4}, {"pVal", VT_R4, ParamDir::kOut}};
constexpr ParamInfo kDprGetLong[] = {
    {"dwDevice", VT_I4}, {"offset", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDprSetFloat[] = {{"dwDevice", VT_I4}, {"offset", VT_I4}, {"newVal", VT_R4}};
constexpr ParamInfo kDprSetLong[] = {{"dwDevice", VT_I4}, {"offset", VT_I4}, {"newVal", VT_I4}};
constexpr ParamInfo kDprGetShort[] = {
    {"dwDevice", VT_I4}, {"address", VT_I4}, {"pVal", VT_I2, ParamDir::kOut}};
constexpr ParamInfo kDprSetShort[] = {{"dwDevice", VT_I4}, {"address", VT_I4}, {"newVal", VT_I2}};
constexpr ParamInfo kDprBitGet[] = {
    {"dwDevice", VT_I4}, {"offset", VT_I4}, {"bit", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDprBit[] = {{"dwDevice", VT_I4}, {"offset", VT_I4}, {"bit", VT_I4}};

constexpr ParamInfo kDprGetDouble[] = {
    {"dwDevice", VT_I4}, {"address", VT_I4}, {"pVal", VT_R8, ParamDir::kOut}};
constexpr ParamInfo kDprFloat[] = {
    {"d", VT_I4, ParamDir::kInOut}, {"scale", VT_R8}, {"pVal", VT_R8, ParamDir::kOut}};
constexpr ParamInfo kWordText[] = {{"str", VT_BSTR}, {"pVal", VT_R8, ParamDir::kOut}};
constexpr ParamInfo kGetBitValue[] = {
    {"hexStr", VT_BSTR}, {"bit", VT_I2}, {"pVal", VT_I4, ParamDir::kOut}};

constexpr ParamInfo kDprAddressRange[] = {
    {"dwDevice", VT_I4}, {"bUpper", VT_I4}, {"bPC", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kSelectDevice[] = {{"hWindow", VT_I4},
                                       {"pDeviceNumber", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDeviceValuePut[] = {{"dwDevice", VT_I4}, {"value", VT_I4}};
constexpr ParamInfo kSetChecksums[] = {{"dwDevice", VT_I4}, {"bActive", VT_I4}};
constexpr ParamInfo kSetAsciiComm[] = {{"dwDevice", VT_I4}, {"newVal", VT_I4}};
constexpr ParamInfo kGetCommandLogging[] = {{"dwDevice", VT_I4}, {"pbON", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kSetCommandLogging[] = {{"dwDevice", VT_I4},
                                            {"bOn", VT_I4},
                                            {"bsFilePath", VT_BSTR},
                                            {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetVariableStr[] = {{"dwDevice", VT_I4},
                                         {"ch", VT_I2},
                                         {"num", VT_I4},
                                         {"pVal", VT_BSTR, ParamDir::kOut},
                                         {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kRestoreLinkList[] = {{"firmwareVersion", VT_BSTR}};
constexpr ParamInfo kChangeStore[] = {{"dwDevice", VT_I4}, {"buf", VT_BSTR}};

constexpr ParamInfo kCompilePlcc[] = {
    {"dwDevice", VT_I4}, {"inFilePath", VT_BSTR}, {"outFilePath", VT_BSTR}};
constexpr ParamInfo kMultiDownload[] = {
    {"dwDevice", VT_I4}, {"outFile", VT_BSTR}, {"iniFile", VT_BSTR},
    {"userID", VT_BSTR}, {"bMacro", VT_I4},    {"bMap", VT_I4},
    {"bLog", VT_I4},     {"bDnld", VT_I4},     {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDownloadListFile[] = {{"dwDevice", VT_I4},
                                           {"iniFile", VT_BSTR},
                                           {"userID", VT_BSTR},
                                           {"dlFile", VT_BSTR},
                                           {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kRenumberFiles[] = {
    {"dwDevice", VT_I4}, {"fileNumber", VT_I4}, {"iniFile", VT_BSTR}};
constexpr ParamInfo kVelLimitPlc[] = {
    {"dwDevice", VT_I4}, {"motor", VT_I2}, {"maxspd", VT_I4}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kMotorSuccess[] = {
    {"dwDevice", VT_I4}, {"motor", VT_I2}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kFinePhasePlc[] = {{"dwDevice", VT_I4},
                                       {"filePath", VT_BSTR},
                                       {"PLCNumber", VT_I2},
                                       {"motor", VT_I2},
                                       {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGantryParabolic[] = {
    {"dwDevice", VT_I4}, {"motor", VT_I2}, {"motor2", VT_I2}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kWordToStringFloat[] = {{"word", VT_BSTR}, {"pVal", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kWordToShort[] = {
    {"word", VT_BSTR}, {"offset", VT_I2}, {"pVal", VT_I2, ParamDir::kOut}};
constexpr ParamInfo kWordToLong[] = {{"word", VT_BSTR}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr automation::VarType kLongArray = automation::VT_ARRAY | VT_I4;
constexpr ParamInfo kStepStatistics[] = {{"psaData", kLongArray, ParamDir::kInOut},
                                         {"stepSize", VT_I4},
                                         {"I10", VT_I4},
                                         {"I19", VT_I4},
                                         {"pbsRiseTime", VT_BSTR, ParamDir::kOut},
                                         {"pbsPeakTime", VT_BSTR, ParamDir::kOut},
                                         {"pbsNatFreq", VT_BSTR, ParamDir::kOut},
                                         {"pbsOvershoot", VT_BSTR, ParamDir::kOut},
                                         {"pbsDamping", VT_BSTR, ParamDir::kOut},
                                         {"pbsSettleTime", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kLowPassFilter[] = {{"psaData", kLongArray, ParamDir::kInOut},
                                        {"bsCurrent", VT_BSTR}};
constexpr ParamInfo kDifferentiate[] = {{"psaData", kLongArray, ParamDir::kInOut},
                                        {"I10", VT_I4},
                                        {"I19", VT_I4},
                                        {"pMinVal", VT_I4, ParamDir::kOut},
                                        {"pMaxVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kCurrentFeedbackTest[] = {{"dwDevice", VT_I4},
                                              {"mtr", VT_I2},
                                              {"pwmDutyCycle", VT_R8},
                                              {"pwmFreq", VT_I2},
                                              {"bVarlo", VT_I4},
                                              {"bAerivo", VT_I4},
                                              {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kCurrentFeedbackResults[] = {
    {"dwDevice", VT_I4}, {"mtr", VT_I2}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kSixStepTest[] = {
    {"dwDevice", VT_I4}, {"mtr", VT_I2},     {"pwmDutyCycle", VT_R8},
    {"bVarlo", VT_I4},   {"bAerivo", VT_I4}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kCurrentSixStepTest[] = {
    {"dwDevice", VT_I4}, {"motor", VT_I2},   {"pwmDutyCycle", VT_R8},
    {"bVarlo", VT_I4},   {"bAerivo", VT_I4}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kSixStepResults[] = {{"dwDevice", VT_I4},
                                         {"bSipFirstStep", VT_I4},
                                         {"pvStepArray", VT_VARIANT, ParamDir::kOut},
                                         {"pResult", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kOpenLoopTest[] = {{"dwDevice", VT_I4},  {"motor", VT_I2},
                                       {"magnitude", VT_I2}, {"time", VT_I2},
                                       {"reps", VT_I2},      {"bGatherCurrents", VT_I4},
                                       {"bVarlo", VT_I4},    {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kUvwSixStepTest[] = {{"dwDevice", VT_I4},
                                         {"motor", VT_I2},
                                         {"pwmDutyCycle", VT_R8},
                                         {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kUvwSixStepResults[] = {{"dwDevice", VT_I4},
                                            {"pvArray", VT_VARIANT, ParamDir::kOut},
                                            {"pResult", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kIVarForFeedback[] = {{"dwDevice", VT_I4},
                                          {"IVar", VT_I2},
                                          {"address", VT_I4},
                                          {"fbType", VT_I4},
                                          {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kCurrentLoopStep[] = {
    {"dwDevice", VT_I4},     {"motor", VT_I2},     {"dwellTime", VT_I2},
    {"magnitude", VT_I4},    {"bAutoTune", VT_I4}, {"pbsCTSCurrent", VT_BSTR, ParamDir::kOut},
    {"pwmDutyCycle", VT_R8}, {"divisor", VT_I2},   {"bAerivo", VT_I4}};
constexpr ParamInfo kMotorOnly[] = {{"dwDevice", VT_I4}, {"motor", VT_I2}};
constexpr ParamInfo kPositionStep[] = {
    {"dwDevice", VT_I4}, {"motor", VT_I2},          {"stepSize", VT_I2},
    {"stepTime", VT_I2}, {"bBiDirectional", VT_I4}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGantryStep[] = {{"dwDevice", VT_I4},
                                     {"motor", VT_I2},
                                     {"motor2", VT_I2},
                                     {"stepSize", VT_I2},
                                     {"stepTime", VT_I2},
                                     {"bBiDirectional", VT_I4},
                                     {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kAutoTuningPlc[] = {{"dwDevice", VT_I4},
                                        {"motor", VT_I2},
                                        {"bCurrentLoop", VT_I4},
                                        {"bBypassJog", VT_I4},
                                        {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGantryAutoTuningPlcP1[] = {
    {"dwDevice", VT_I4},     {"motor", VT_I2},      {"motor2", VT_I2},
    {"bCurrentLoop", VT_I4}, {"bBypassJog", VT_I4}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGantryAutoTuningPlc[] = {
    {"dwDevice", VT_I4},   {"motor", VT_I2},
    {"motor2", VT_I2},     {"bCurrentLoop", VT_I4},
    {"bBypassJog", VT_I4}, {"MaxTravel", VT_R8},
    {"time", VT_I4},       {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kCoordGet[] = {
    {"dwDevice", VT_I4}, {"dwCoord", VT_I4}, {"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kMotorGet[] = {
    {"dwDevice", VT_I4}, {"mtr", VT_I4}, {"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kCoordValueOut[] = {
    {"dwDevice", VT_I4}, {"dwCoord", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kCoordStatus[] = {
    {"dwDevice", VT_I4}, {"dwCoord", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kMotorStatus[] = {
    {"dwDevice", VT_I4}, {"lMotor", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kMotorScaled[] = {
    {"dwDevice", VT_I4}, {"mtr", VT_I4}, {"scale", VT_R8}, {"pVal", VT_R8, ParamDir::kOut}};
constexpr ParamInfo kMotor[] = {{"dwDevice", VT_I4}, {"mtr", VT_I4}};
constexpr ParamInfo kEstimation[] = {
    {"dwDevice", VT_I4}, {"filePath", VT_BSTR}, {"pbSuccess", VT_I4, ParamDir::kOut}};

constexpr ParamInfo kDeviceOn[] = {{"dwDevice", VT_I4}, {"bOn", VT_I4}};
constexpr ParamInfo kVarBufRemove[] = {{"dwDevice", VT_I4}, {"index", VT_I4}};
constexpr ParamInfo kVarBufRead[] = {
    {"dwDevice", VT_I4}, {"h", VT_I4}, {"entryNum", VT_I4}, {"pVal", VT_I8, ParamDir::kOut}};
constexpr ParamInfo kVarBufInit[] = {{"dwDevice", VT_I4},
                                     {"vAddressArray", VT_VARIANT},
                                     {"vTypeArray", VT_VARIANT},
                                     {"pHandle", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kVarBufWrite[] = {{"dwDevice", VT_I4},
                                      {"vData", VT_VARIANT},
                                      {"vAddresses", VT_VARIANT},
                                      {"vTypes", VT_VARIANT},
                                      {"pWritten", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kVarBufReadAll[] = {
    {"dwDevice", VT_I4}, {"h", VT_I4}, {"ppVal", VT_VARIANT, ParamDir::kOut}};
constexpr ParamInfo kVarBufWriteEx[] = {
    {"dwDevice", VT_I4}, {"vData", VT_VARIANT}, {"pWritten", VT_I4, ParamDir::kOut}};

constexpr ParamInfo kGetProgramInfo[] = {{"dwDevice", VT_I4},
                                         {"bPlc", VT_I4},
                                         {"num", VT_I4},
                                         {"pSAdr", VT_I4, ParamDir::kOut},
                                         {"pFAdr", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetPlcStatus[] = {{"dwDevice", VT_I4},
                                       {"pNumPlc", VT_I4, ParamDir::kOut},
                                       {"pNumPlcc", VT_I4, ParamDir::kOut},
                                       {"pI5", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kPlccEntry[] = {{"dwDevice", VT_I4},
                                    {"pbLoaded", VT_I4, ParamDir::kOut},
                                    {"pbEnabled", VT_I4, ParamDir::kOut},
                                    {"pStartAdr", VT_I4, ParamDir::kOut},
                                    {"pLastAdr", VT_I4, ParamDir::kOut},
                                    {"pSize", VT_I4, ParamDir::kOut},
                                    {"pbMore", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kPlcEntry[] = {{"dwDevice", VT_I4},
                                   {"pbEnabled", VT_I4, ParamDir::kOut},
                                   {"pStartAdr", VT_I4, ParamDir::kOut},
                                   {"pLastAdr", VT_I4, ParamDir::kOut},
                                   {"pSize", VT_I4, ParamDir::kOut},
                                   {"pbMore", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kPlcStatusStructure[] = {{"dwDevice", VT_I4},
                                             {"pStruct", VT_VARIANT, ParamDir::kOut},
                                             {"pPrograms", VT_I4, ParamDir::kOut}};

constexpr ParamInfo kGatherEnabledGet[] = {
    {"dwDevice", VT_I4}, {"num", VT_I4}, {"pVal", VT_I4, ParamDir::kRetval}};
constexpr ParamInfo kGatherEnabledPut[] = {{"dwDevice", VT_I4}, {"num", VT_I4}, {"value", VT_I4}};
constexpr ParamInfo kSampleTimeGet[] = {{"dwDevice", VT_I4}, {"pVal", VT_R8, ParamDir::kRetval}};
constexpr ParamInfo kSampleTimePut[] = {{"dwDevice", VT_I4}, {"value", VT_R8}};
constexpr ParamInfo kSetGather[] = {{"dwDevice", VT_I4},
                                    {"num", VT_I4},
                                    {"str", VT_BSTR},
                                    {"bEnable", VT_I4},
                                    {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kQuickGather[] = {
    {"dwDevice", VT_I4}, {"mask", VT_I4}, {"bEnable", VT_I4}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetGather[] = {{"dwDevice", VT_I4},
                                    {"num", VT_I4},
                                    {"pStr", VT_BSTR, ParamDir::kOut},
                                    {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kInitGather[] = {
    {"dwDevice", VT_I4}, {"size", VT_I4}, {"msec", VT_R8}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kCollectGatherData[] = {{"dwDevice", VT_I4},
                                            {"pSources", VT_I4, ParamDir::kOut},
                                            {"pSamples", VT_I4, ParamDir::kOut},
                                            {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetGatherSamples[] = {{"dwDevice", VT_I4},
                                           {"sourceNum", VT_I4},
                                           {"pVariant", VT_VARIANT, ParamDir::kOut},
                                           {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetGatherPoint[] = {{"dwDevice", VT_I4},
                                         {"sourceNum", VT_I4},
                                         {"sampleNum", VT_I4},
                                         {"pVal", VT_R8, ParamDir::kOut},
                                         {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDeviceSuccess[] = {{"dwDevice", VT_I4}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kInitPlotGather[] = {
    {"dwDevice", VT_I4}, {"size", VT_I4}, {"period", VT_I4}, {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kDeviceFileSuccess[] = {
    {"dwDevice", VT_I4}, {"bsFilePath", VT_BSTR}, {"pbSuccess", VT_I4, ParamDir::kOut}};

constexpr ParamInfo kWhyMotor[] = {
    {"dwDevice", VT_I4}, {"motor", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kWhyCs[] = {
    {"dwDevice", VT_I4}, {"cs", VT_I4}, {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kWhyText[] = {{"err", VT_I4}, {"pVal", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetVarloIVariableLong[] = {{"dwDevice", VT_I4},
                                                {"node", VT_I4},
                                                {"num", VT_I4},
                                                {"def", VT_I4},
                                                {"pVal", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kSetVarloIVariableString[] = {{"dwDevice", VT_I4},
                                                  {"node", VT_I4},
                                                  {"num", VT_I4},
                                                  {"bsMIVarValue", VT_BSTR},
                                                  {"pbSuccess", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetVarloIVariableString[] = {{"dwDevice", VT_I4},
                                                  {"node", VT_I4},
                                                  {"num", VT_I4},
                                                  {"bsDefault", VT_BSTR},
                                                  {"pbsVal", VT_BSTR, ParamDir::kOut}};
constexpr ParamInfo kGetVarloNodes[] = {{"dwDevice", VT_I4},
                                        {"pNumVarloStations", VT_I4, ParamDir::kOut},
                                        {"pNumActiveNodes", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kGetVarloNodeInfo[] = {{"dwDevice", VT_I4},
                                           {"modeNum", VT_I4},
                                           {"pbEnabled", VT_I4, ParamDir::kOut},
                                           {"pbIsIONode", VT_I4, ParamDir::kOut},
                                           {"pID", VT_I4, ParamDir::kOut}};
constexpr ParamInfo kAerivoAnalyze[] = {{"dwDevice", VT_I4},
                                        {"pInfo", VT_VARIANT, ParamDir::kOut},
                                        {"pActiveNodes", VT_I4, ParamDir::kOut}};

}  // namespace

const automation::DispatchTable<ZimoDevice>& ZimoDevice::Table() { return Rows().table(); }

// One row per member, in slot order: the interface description and the
// dispatch table are both made from these. A row that only forwards to one
// library operation names it in the template that serves the row (see the
// forwarding templates in zimo_device.h); any other row has a method of
// its own.
const automation::DispatchRows<ZimoDevice>& ZimoDevice::Rows() {
  using R = automation::DispatchRows<ZimoDevice>;
  using D = ZimoDevice;
  static const R rows(
      "IZimoDevice", kIidIZimoDevice,
      {
          R::Row<&D::Open>(0x1, "Open", kMethod, kDevice),
          R::Row<&D::Close>(0x2, "Close", kMethod, kDevice),
          R::Row<&D::ValueOf<&ZimoReadReady, int32_t>>(0x4, "ReadReady", kPropertyGet, kDeviceGet),
          R::Row<&D::SendLine>(0x5, "SendLine", kMethod, kDeviceLine),
          R::Row<&D::Succeeds<&ZimoSendCharA, uint8_t>>(0x6, "SendChar", kMethod, kDeviceChar),
          R::Row<&D::GetLine>(0x7, "GetLine", kMethod, kDeviceTextOut),
          R::Row<&D::Action<&ZimoDPRBackGroundVar, int32_t>>(0x8, "DPRBackGroundVar", kMethod,
                                                             kDeviceOn),
          R::Row<&D::ValueOf<&ZimoDPRAddressRange, int32_t, int32_t, int32_t>>(
              0x9, "DPRAddressRange", kMethod, kDprAddressRange),
          R::Row<&D::ValueOf<&ZimoGetZimoType, int32_t>>(0xa, "GetZimoType", kMethod,
                                                         kDeviceValueOut),
          R::Row<&D::Succeeds<&ZimoDPRVarBufRemove, int32_t>>(0xb, "DPRVarBufRemove", kMethod,
                                                              kVarBufRemove),
          R::Row<&D::Succeeds<&ZimoDPRVarBufRead, int32_t, int32_t, int64_t*>>(
              0xc, "DPRVarBufRead", kMethod, kVarBufRead),
          R::Row<&D::ValueOf<&ZimoDPRGetFloat, float, int32_t>>(0xd, "DPRGetFloat", kMethod,
                                                                kDprGetFloat),
          R::Row<&D::ValueOf<&ZimoDPRGetDWord, int32_t, int32_t>>(0xe, "DPRGetLong", kMethod,
                                                                  kDprGetLong),
          R::Row<&D::DPRVarBufInit>(0xf, "DPRVarBufInit", kMethod, kVarBufInit),
          R::Row<&D::Action<&ZimoDPRSetFloat, int32_t, float>>(0x10, "DPRSetFloat", kMethod,
                                                               kDprSetFloat),
          R::Row<&D::Action<&ZimoDPRSetDWord, int32_t, int32_t>>(0x11, "DPRSetLong", kMethod,
                                                                 kDprSetLong),
          R::Row<&D::DPRVarBufWrite>(0x12, "DPRVarBufWrite", kMethod, kVarBufWrite),
          R::Row<&D::DPRFloat>(0x13, "DPRFloat", kMethod, kDprFloat),
          R::Row<&D::TextOut<&ZimoGetRomVersionA, kRomTextSize>>(0x14, "GetRomVersion", kMethod,
                                                                 kDeviceTextOut),
          R::Row<&D::TextOut<&ZimoGetRomDateA, kRomTextSize>>(0x15, "GetRomDate", kMethod,
                                                              kDeviceTextOut),
          R::Row<&D::ValueOf<&ZimoGetLocation, int32_t>>(0x16, "GetZimoLocation", kMethod,
                                                         kDeviceValueOut),
          R::Row<&D::GetResponse>(0x17, "GetResponse", kMethod, kGetResponse),
          R::Row<&D::LockDevice>(0x18, "LockDevice", kMethod, kDevice),
          R::Row<&D::UnlockDevice>(0x19, "UnlockDevice", kMethod, kDevice),
          R::Row<&D::SelectDevice>(0x1a, "SelectDevice", kMethod, kSelectDevice),
          R::Row<&D::Action<&ZimoFlush>>(0x1b, "Flush", kMethod, kDevice),
          R::Row<&D::ValueOf<&ZimoDPRAvailable, int32_t>>(0x1c, "DPRAvailable", kPropertyGet,
                                                          kDeviceGet),
          R::Row<&D::Action<&ZimoDoChecksums, int32_t>>(0x1d, "SetChecksums", kMethod,
                                                        kSetChecksums),
          R::Row<&D::GetControlResponse>(0x1e, "GetControlResponse", kMethod, kGetControlResponse),
          R::Row<&D::get_LastCommError>(0x1f, "LastCommError", kPropertyGet, kDeviceGet),
          R::Row<&D::TextOut<&ZimoGetErrorStrA, kTextSize>>(0x20, "GetLastCommErrorStr", kMethod,
                                                            kDeviceTextOut),
          R::Row<&D::GetVarloIVariableLong>(0x21, "GetVarloIVariableLong", kMethod,
                                            kGetVarloIVariableLong),
          R::Row<&D::ChangeStore>(0x22, "ChangeStore", kMethod, kChangeStore),
          R::Row<&D::Action<&::ChangeReadReady>>(0x23, "ChangeReadReady", kMethod, kDevice),
          R::Row<&D::TextOut<&::ChangeGet, kTextSize>>(0x24, "ChangeGet", kMethod, kDeviceTextOut),
          R::Row<&D::get_DoChecksums>(0x25, "DoChecksums", kPropertyGet, kDeviceGet),
          R::Row<&D::Action<&ZimoDoChecksums, int32_t>>(0x25, "DoChecksums", kPropertyPut,
                                                        kDeviceValuePut),
          R::Row<&D::ValueOf<&ZimoGetIVariableLong, int32_t, int32_t, int32_t>>(
              0x26, "GetIVariableLong", kMethod, kGetIVariableLong),
          R::Row<&D::ValueOf<&ZimoGetIVariableDouble, double, int32_t, double>>(
              0x27, "GetIVariableDouble", kMethod, kGetIVariableDouble),
          R::Row<&D::Action<&ZimoSetIVariableLong, int32_t, int32_t>>(0x28, "SetIVariableLong",
                                                                      kMethod, kSetIVariableLong),
          R::Row<&D::Action<&ZimoSetIVariableDouble, int32_t, double>>(
              0x29, "SetIVariableDouble", kMethod, kSetIVariableDouble),
          R::Row<&D::ValueOf<&ZimoGetAsciiComm, int32_t>>(0x2a, "GetAsciiComm", kMethod,
                                                          kDeviceValueOut),
          R::Row<&D::Action<&ZimoSetAsciiComm, int32_t>>(0x2b, "SetAsciiComm", kMethod,
                                                         kSetAsciiComm),
          R::Row<&D::ValueOf<&ZimoGetVariableLong, int32_t, int16_t, int32_t, int32_t>>(
              0x2c, "GetVariableLong", kMethod, kGetVariableLong),
          R::Row<&D::ValueOf<&ZimoGetVariableDouble, double, int16_t, int32_t, double>>(
              0x2d, "GetVariableDouble", kMethod, kGetVariableDouble),
          R::Row<&D::Action<&ZimoSetVariableLong, int16_t, int32_t, int32_t>>(
              0x2e, "SetVariableLong", kMethod, kSetVariableLong),
          R::Row<&D::Action<&ZimoSetVariableDouble, int16_t, int32_t, double>>(
              0x2f, "SetVariableDouble", kMethod, kSetVariableDouble),
          R::Row<&D::ValueOf<&ZimoInBootStrapMode, int32_t>>(0x30, "InBootStrapMode", kPropertyGet,
                                                             kDeviceGet),
          R::Row<&D::ValueOf<&ZimoMotionBufOpen, int32_t>>(0x31, "MotionBufferOpen", kPropertyGet,
                                                           kDeviceGet),
          R::Row<&D::ValueOf<&ZimoRotBufOpen, int32_t>>(0x32, "RotaryBufferOpen", kPropertyGet,
                                                        kDeviceGet),
          R::Row<&D::ValueOf<&bZIMOIsSpran, int32_t>>(0x33, "IsSpran", kPropertyGet, kDeviceGet),
          R::Row<&D::RestoreLinkList>(0x34, "RestoreLinkList", kMethod, kRestoreLinkList),
          R::Row<&D::Succeeds<&::BackupLinkList>>(0x35, "BackupLinkList", kMethod, kDevice),
          R::Row<&D::Succeeds<&ZimoSetCriticalIVars>>(0x36, "SetCriticalIVars", kMethod, kDevice),
          R::Row<&D::ValueOf<&::USReadReady, int32_t>>(0x37, "USReadReady", kPropertyGet,
                                                       kDeviceGet),
          R::Row<&D::TextOut<&::GetUSResponse, kTextSize>>(0x38, "GetUSResponse", kMethod,
                                                           kDeviceTextOut),
          R::Row<&D::GetLocAndEnum>(0x39, "GetLocAndEnum", kMethod, kGetLocAndEnum),
          R::Row<&D::Action<&ZimoGetProgramInfo, int32_t, int32_t, int32_t*, int32_t*>>(
              0x3a, "GetProgramInfo", kMethod, kGetProgramInfo),
          R::Row<&D::DownloadFile>(0x3b, "DownloadFile", kMethod, kDeviceFile),
          R::Row<&D::Action<&ZimoAbortDownload>>(0x3c, "AbortDownload", kMethod, kDevice),
          R::Row<&D::DownloadFirmwareFile>(0x3d, "DownloadFirmwareFile", kMethod, kDeviceFile),
          R::Row<&D::Download>(0x3e, "Download", kMethod, kDownload),
          R::Row<&D::DownloadAsynch>(0x3f, "DownloadAsynch", kMethod, kDownload),
          R::Row<&D::get_MaxDownloadErrors>(0x40, "MaxDownloadErrors", kPropertyGet, kValueGet),
          R::Row<&D::put_MaxDownloadErrors>(0x40, "MaxDownloadErrors", kPropertyPut, kValuePut),
          R::Row<&D::CompilePLCC>(0x41, "CompilePLCC", kMethod, kCompilePlcc),
          R::Row<&D::SendCommand>(0x42, "SendCommand", kMethod, kSendCommand),
          R::Row<&D::GetBuffer>(0x43, "GetBuffer", kMethod, kGetBuffer),
          R::Row<&D::GetPlcStatus>(0x44, "GetPlcStatus", kMethod, kGetPlcStatus),
          R::Row<&D::GetFirstPlcc>(0x45, "GetFirstPlcc", kMethod, kPlccEntry),
          R::Row<&D::GetNextPlcc>(0x46, "GetNextPlcc", kMethod, kPlccEntry),
          R::Row<&D::GetFirstPlc>(0x47, "GetFirstPlc", kMethod, kPlcEntry),
          R::Row<&D::GetNextPlc>(0x48, "GetNextPlc", kMethod, kPlcEntry),
          R::Row<&D::ValueOf<&ZimoIsAnyPLCRunning, int32_t>>(0x49, "IsAnyPlcRunning", kPropertyGet,
                                                             kDeviceGet),
          R::Row<&D::StatusWord<&ZimoGetGlobalStatus>>(0x4a, "GetGlobalStatus", kMethod,
                                                       kDeviceValueOut),
          R::Row<&D::StatusWord<&ZimoGetCoordStatus, int32_t>>(0x4b, "GetCoordStatus", kMethod,
                                                               kCoordStatus),
          R::Row<&D::StatusWord<&ZimoGetMotorStatus, int32_t>>(0x4c, "GetMotorStatus", kMethod,
                                                               kMotorStatus),
          R::Row<&D::ValueOf<&ZimoSysServoError, int32_t>>(0x4d, "SysServoError", kPropertyGet,
                                                           kDeviceGet),
          R::Row<&D::ValueOf<&ZimoSysReEntryError, int32_t>>(0x4e, "SysReEntryError", kPropertyGet,
                                                             kDeviceGet),
          R::Row<&D::ValueOf<&ZimoSysMemChecksumError, int32_t>>(0x4f, "SysMemChecksumError",
                                                                 kPropertyGet, kDeviceGet),
          R::Row<&D::ValueOf<&ZimoSysPromChecksumError, int32_t>>(0x50, "SysPromChecksumError",
                                                                  kPropertyGet, kDeviceGet),
          R::Row<&D::ValueOf<&ZimoSysInposition, int32_t, int32_t>>(0x51, "SysInposition",
                                                                    kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoSysWarnFError, int32_t, int32_t>>(0x52, "SysWarnFError",
                                                                    kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoSysFatalFError, int32_t, int32_t>>(0x53, "SysFatalFError",
                                                                     kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoSysRunTimeError, int32_t, int32_t>>(0x54, "SysRuntimeError",
                                                                      kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoSysCircleRadError, int32_t, int32_t>>(0x55, "SysCircleRadError",
                                                                        kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoSysAmpFaultError, int32_t, int32_t>>(0x56, "SysAmpFaultError",
                                                                       kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoGetCommandedPos, double, int32_t, double>>(
              0x57, "GetCommandedPos", kMethod, kMotorScaled),
          R::Row<&D::ValueOf<&ZimoPosition, double, int32_t, double>>(0x58, "GetPosition", kMethod,
                                                                      kMotorScaled),
          R::Row<&D::ValueOf<&ZimoNetActualPosition, double, int32_t, double>>(
              0x59, "GetNetActualPosition", kMethod, kMotorScaled),
          R::Row<&D::ValueOf<&ZimoFollowError, double, int32_t, double>>(0x5a, "GetFollowError",
                                                                         kMethod, kMotorScaled),
          R::Row<&D::ValueOf<&ZimoGetVel, double, int32_t, double>>(0x5b, "GetVelocity", kMethod,
                                                                    kMotorScaled),
          R::Row<&D::Action<&ZimoGetMasterPos, int32_t, double, double*>>(0x5c, "GetMasterPos",
                                                                          kMethod, kMotorScaled),
          R::Row<&D::Action<&ZimoGetCompensationPos, int32_t, double, double*>>(
              0x5d, "GetCompensationPos", kMethod, kMotorScaled),
          R::Row<&D::ValueOf<&ZimoGetTargetPos, double, int32_t, double>>(0x5e, "GetTargetPos",
                                                                          kMethod, kMotorScaled),
          R::Row<&D::ValueOf<&ZimoGetBiasPos, double, int32_t, double>>(0x5f, "GetBiasPos", kMethod,
                                                                        kMotorScaled),
          R::Row<&D::ValueOf<&ZimoPe, int32_t, int32_t>>(0x60, "GetProgExecPoint", kMethod,
                                                         kCoordValueOut),
          R::Row<&D::ValueOf<&ZimoRotBufFull, int32_t, int32_t>>(0x61, "GetRotBufFull", kMethod,
                                                                 kCoordValueOut),
          R::Row<&D::ValueOf<&ZimoProgRunning, int32_t, int32_t>>(0x62, "ProgramRunning",
                                                                  kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoProgStepping, int32_t, int32_t>>(0x63, "ProgramStepping",
                                                                   kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoProgContMotion, int32_t, int32_t>>(0x64, "ProgramContMotion",
                                                                     kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoProgContRequest, int32_t, int32_t>>(0x65, "ProgramContRequest",
                                                                      kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoProgRemaining, int32_t, int32_t>>(0x66, "ProgramRemaining",
                                                                    kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoMotionBufOpen, int32_t>>(0x67, "MotionBufOpen", kPropertyGet,
                                                           kDeviceGet),
          R::Row<&D::ValueOf<&ZimoRotBufOpen, int32_t>>(0x68, "RotBufOpen", kPropertyGet,
                                                        kDeviceGet),
          R::Row<&D::get_ProgramFeedMode>(0x69, "ProgramFeedMode", kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoAmpEnabled, int32_t, int32_t>>(0x6a, "MotorAmpEnabled",
                                                                 kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoWarnFError, int32_t, int32_t>>(0x6b, "MotorWarnFError",
                                                                 kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoFatalFError, int32_t, int32_t>>(0x6c, "MotorFatalFError",
                                                                  kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoAmpFault, int32_t, int32_t>>(0x6d, "MotorAmpFault", kPropertyGet,
                                                               kMotorGet),
          R::Row<&D::ValueOf<&ZimoOnPositionLimit, int32_t, int32_t>>(0x6e, "MotorOnPositionLimit",
                                                                      kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoHomeComplete, int32_t, int32_t>>(0x6f, "MotorHomeComplete",
                                                                   kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoInposition, int32_t, int32_t>>(0x70, "MotorInPosition",
                                                                 kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoTimeRemInMove, int32_t, int32_t>>(0x71, "TimRemInMove",
                                                                    kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoTimeRemInTATS, int32_t, int32_t>>(0x72, "TimeRemInTATS",
                                                                    kPropertyGet, kCoordGet),
          R::Row<&D::ValueOf<&ZimoDataBlock, int32_t, int32_t>>(0x73, "MotorDataBlockError",
                                                                kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoPhasedMotor, int32_t, int32_t>>(0x74, "MotorPhased", kPropertyGet,
                                                                  kMotorGet),
          R::Row<&D::ValueOf<&ZimoMotorEnabled, int32_t, int32_t>>(0x75, "MotorEnabled",
                                                                   kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoHandwheelEnabled, int32_t, int32_t>>(
              0x76, "MotorHandwheelEnabled", kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoOpenLoop, int32_t, int32_t>>(0x77, "MotorOpenLoop", kPropertyGet,
                                                               kMotorGet),
          R::Row<&D::ValueOf<&ZimoOnNegativeLimit, int32_t, int32_t>>(0x78, "MotorOnNegLimit",
                                                                      kPropertyGet, kMotorGet),
          R::Row<&D::ValueOf<&ZimoOnPositiveLimit, int32_t, int32_t>>(0x79, "MotorOnPosLimit",
                                                                      kPropertyGet, kMotorGet),
          R::Row<&D::Action<&ZimoSetJogReturn, int32_t>>(0x7a, "SetJogReturn", kMethod, kMotor),
          R::Row<&D::ValueOf<&whyMotorNotMoving, int32_t, int32_t>>(0x7b, "GetWhyMotorNotMoving",
                                                                    kMethod, kWhyMotor),
          R::Row<&D::GetWhyMotorNotMovingStr>(0x7c, "GetWhyMotorNotMovingStr", kMethod, kWhyText),
          R::Row<&D::ValueOf<&whyCSNotMoving, int32_t, int32_t>>(0x7d, "GetWhyCSNotMoving", kMethod,
                                                                 kWhyCs),
          R::Row<&D::GetWhyCSNotMovingStr>(0x7e, "GetWhyCSNotMovingStr", kMethod, kWhyText),
          R::Row<&D::get_BufferOpen>(0x7f, "BufferOpen", kPropertyGet, kDeviceGet),
          R::Row<&D::ValueOf<&ZimoGetGatherPeriod, int32_t>>(0x80, "GatherPeriod", kPropertyGet,
                                                             kDeviceGet),
          R::Row<&D::Action<&ZimoSetGatherPeriod, int32_t>>(0x80, "GatherPeriod", kPropertyPut,
                                                            kDeviceValuePut),
          R::Row<&D::ValueOf<&ZimoGetGatherEnable, int32_t, int32_t>>(
              0x81, "GatherEnabled", kPropertyGet, kGatherEnabledGet),
          R::Row<&D::Action<&ZimoSetGatherEnable, int32_t, int32_t>>(
              0x81, "GatherEnabled", kPropertyPut, kGatherEnabledPut),
          R::Row<&D::ValueOf<&ZimoGetGatherMode, int32_t>>(0x82, "GatherMode", kPropertyGet,
                                                           kDeviceGet),
          R::Row<&D::Action<&ZimoSetGatherMode, int32_t>>(0x82, "GatherMode", kPropertyPut,
                                                          kDeviceValuePut),
          R::Row<&D::ValueOf<&ZimoGetGatherSampleTime, double>>(0x83, "GatherSampleTime",
                                                                kPropertyGet, kSampleTimeGet),
          R::Row<&D::Action<&ZimoSetGatherSampleTime, double>>(0x83, "GatherSampleTime",
                                                               kPropertyPut, kSampleTimePut),
          R::Row<&D::ValueOf<&ZimoGetNumGatherSources, int32_t>>(0x84, "GetNumGatherSources",
                                                                 kMethod, kDeviceValueOut),
          R::Row<&D::ValueOf<&ZimoGetNumGatherSamples, int32_t>>(0x85, "GetNumGatherSamples",
                                                                 kMethod, kDeviceValueOut),
          R::Row<&D::ValueOf<&ZimoSetGather, int32_t, int32_t, const Bstr&, int32_t>>(
              0x86, "SetGather", kMethod, kSetGather),
          R::Row<&D::ValueOf<&ZimoSetQuickGather, int32_t, int32_t, int32_t>>(
              0x87, "SetQuickGather", kMethod, kQuickGather),
          R::Row<&D::ValueOf<&ZimoSetQuickGatherWithDirectCurrent, int32_t, int32_t, int32_t>>(
              0x88, "SetQuickGatherWithDirectCurrent", kMethod, kQuickGather),
          R::Row<&D::GetGather>(0x89, "GetGather", kMethod, kGetGather),
          R::Row<&D::Action<&ZimoClearGather>>(0x8a, "ClearGather", kMethod, kDevice),
          R::Row<&D::ValueOf<&ZimoInitGather, int32_t, int32_t, double>>(0x8b, "InitGather",
                                                                         kMethod, kInitGather),
          R::Row<&D::Action<&ZimoClearGatherData>>(0x8c, "ClearGatherData", kMethod, kDevice),
          R::Row<&D::ValueOf<&ZimoCollectGatherData, int32_t, int32_t*, int32_t*>>(
              0x8d, "CollectGatherData", kMethod, kCollectGatherData),
          R::Row<&D::GetGatherSamples>(0x8e, "GetGatherSamples", kMethod, kGetGatherSamples),
          R::Row<&D::ValueOf<&ZimoGetGatherPoint, int32_t, int32_t, int32_t, double*>>(
              0x8f, "GetGatherPoint", kMethod, kGetGatherPoint),
          R::Row<&D::ValueOf<&ZimoStartGather, int32_t>>(0x90, "StartGather", kMethod,
                                                         kDeviceSuccess),
          R::Row<&D::Action<&ZimoStopGather>>(0x91, "StopGather", kMethod, kDevice),
          R::Row<&D::ValueOf<&ZimoInitPlotGather, int32_t, int32_t, int32_t>>(
              0x92, "InitPlotGather", kMethod, kInitPlotGather),
          R::Row<&D::ValueOf<&ZimoReadGatherFile, int32_t, const Bstr&>>(
              0x93, "ReadGatherFile", kMethod, kDeviceFileSuccess),
          R::Row<&D::ValueOf<&ZimoWriteGatherFile, int32_t, const Bstr&>>(
              0x94, "WriteGatherFile", kMethod, kDeviceFileSuccess),
          R::Row<&D::strtod48f>(0x95, "strtod48f", kMethod, kWordText),
          R::Row<&D::strtod48l>(0x96, "strtod48l", kMethod, kWordText),
          R::Row<&D::strtod24>(0x97, "strtod24", kMethod, kWordText),
          R::Row<&D::strtod32dp>(0x98, "strtod32dp", kMethod, kWordText),
          R::Row<&D::strto32f>(0x99, "strto32f", kMethod, kWordText),
          R::Row<&D::UploadVarloConfig>(0x9a, "UploadVarloConfig", kMethod, kDeviceFileSuccess),
          R::Row<&D::DownloadCurrentFeedbackTest>(0x9b, "DownloadCurrentFeedbackTest", kMethod,
                                                  kCurrentFeedbackTest),
          R::Row<&D::ReadResultsFromCurrentFeedbackTest>(0x9c, "ReadResultsFromCurrentFeedbackTest",
                                                         kMethod, kCurrentFeedbackResults),
          R::Row<&D::DownloadVoltageSixStepTest>(0x9d, "DownloadVoltageSixStepTest", kMethod,
                                                 kSixStepTest),
          R::Row<&D::ReadResultsFromSixStepTest>(0x9e, "ReadResultsFromSixStepTest", kMethod,
                                                 kSixStepResults),
          R::Row<&D::DownloadCurrentSixStepTest>(0x9f, "DownloadCurrentSixStepTest", kMethod,
                                                 kCurrentSixStepTest),
          R::Row<&D::DownloadOpenLoopTest>(0xa0, "DownloadOpenLoopTest", kMethod, kOpenLoopTest),
          R::Row<&D::DownloadOpenLoopTest1>(0xa1, "DownloadOpenLoopTest1", kMethod, kOpenLoopTest),
          R::Row<&D::DownloadVelLimitPLC>(0xa2, "DownloadVelLimitPLC", kMethod, kVelLimitPlc),
          R::Row<&D::DownloadPosLimitPLC>(0xa3, "DownloadPosLimitPLC", kMethod, kMotorSuccess),
          R::Row<&D::DownloadUVWSixStepTest>(0xa4, "DownloadUVWSixStepTest", kMethod,
                                             kUvwSixStepTest),
          R::Row<&D::ReadResultsFromUVWSixStepTest>(0xa5, "ReadResultsFromUVWSixStepTest", kMethod,
                                                    kUvwSixStepResults),
          R::Row<&D::SetIVarForFeedback>(0xa6, "SetIVarForFeedback", kMethod, kIVarForFeedback),
          R::Row<&D::DownloadAndRunRoughPhasePLC>(0xa7, "DownloadAndRunRoughPhasePLC", kMethod,
                                                  kMotorSuccess),
          R::Row<&D::CreateIncrementalFinePhasePLC>(0xa8, "CreateIncrementalFinePhasePLC", kMethod,
                                                    kFinePhasePlc),
          R::Row<&D::DoACurrentLoopStep>(0xa9, "DoACurrentLoopStep", kMethod, kCurrentLoopStep),
          R::Row<&D::DoACurrentLoopStepBrush>(0xaa, "DoACurrentLoopStepBrush", kMethod,
                                              kCurrentLoopStep),
          R::Row<&D::DoAPositionLoopStep>(0xab, "DoAPositionLoopStep", kMethod, kPositionStep),
          R::Row<&D::DoAParabolicMove>(0xac, "DoAParabolicMove", kMethod, kPositionStep),
          R::Row<&D::DoAGantryPositionLoopStep>(0xad, "DoAGantryPositionLoopStep", kMethod,
                                                kGantryStep),
          R::Row<&D::DoAGantryParabolicMove>(0xae, "DoAGantryParabolicMove", kMethod, kGantryStep),
          R::Row<&D::DoAGantryParabolic>(0xaf, "DoAGantryParabolic", kMethod, kGantryParabolic),
          R::Row<&D::ConvertWordToStringFloat>(0xb0, "ConvertWordToStringFloat", kMethod,
                                               kWordToStringFloat),
          R::Row<&D::ConvertWordToShort>(0xb1, "ConvertWordToShort", kMethod, kWordToShort),
          R::Row<&D::ConvertWordToLong>(0xb2, "ConvertWordToLong", kMethod, kWordToLong),
          R::Row<&D::RestoreModifiedIVars>(0xb3, "RestoreModifiedIVars", kMethod, kMotorOnly),
          R::Row<&D::CalculateStepStatistics>(0xb4, "CalculateStepStatistics", kMethod,
                                              kStepStatistics),
          R::Row<&D::LowPassFilterTheData>(0xb5, "LowPassFilterTheData", kMethod, kLowPassFilter),
          R::Row<&D::DifferentiateTheData>(0xb6, "DifferentiateTheData", kMethod, kDifferentiate),
          R::Row<&D::DownloadAutoTuningPLC>(0xb7, "DownloadAutoTuningPLC", kMethod, kAutoTuningPlc),
          R::Row<&D::DownloadGantryAutoTuningPLCP1>(0xb8, "DownloadGantryAutoTuningPLCP1", kMethod,
                                                    kGantryAutoTuningPlcP1),
          R::Row<&D::DownloadGantryAutoTuningPLC>(0xb9, "DownloadGantryAutoTuningPLC", kMethod,
                                                  kGantryAutoTuningPlc),
          R::Row<&D::MagEstimation>(0xba, "MagEstimation", kMethod, kEstimation),
          R::Row<&D::SlopeEstimation>(0xbb, "SlopeEstimation", kMethod, kEstimation),
          R::Row<&D::SetCurrentGather>(0xbc, "SetCurrentGather", kMethod, kQuickGather),
          R::Row<&D::DownloadOpenLoopTestForZIMO1>(0xbd, "DownloadOpenLoopTestForZIMO1", kMethod,
                                                   kOpenLoopTest),
          R::Row<&D::GetVarloNodes>(0xbe, "GetVarloNodes", kMethod, kGetVarloNodes),
          R::Row<&D::GetVarloNodeInfo>(0xbf, "GetVarloNodeInfo", kMethod, kGetVarloNodeInfo),
          R::Row<&D::SetVarloIVariableString>(0xc0, "SetVarloIVariableString", kMethod,
                                              kSetVarloIVariableString),
          R::Row<&D::GetVarloIVariableString>(0xc1, "GetVarloIVariableString", kMethod,
                                              kGetVarloIVariableString),
          R::Row<&D::ValueOf<&ZimoGetCommandLogging, int32_t>>(0xc2, "GetCommandLogging", kMethod,
                                                               kGetCommandLogging),
          R::Row<&D::SetCommandLogging>(0xc3, "SetCommandLogging", kMethod, kSetCommandLogging),
          R::Row<&D::ValueOf<&ZimoGetEnumeration, int32_t>>(0xc4, "GetEnumeration", kMethod,
                                                            kDeviceValueOut),
          R::Row<&D::GetControlValues>(0xc5, "GetControlValues", kMethod, kGetControlValues),
          R::Row<&D::MultiDownload>(0xc6, "MultiDownload", kMethod, kMultiDownload),
          R::Row<&D::AddDownloadFile>(0xc7, "AddDownloadFile", kMethod, kDownloadListFile),
          R::Row<&D::RemoveDownloadFile>(0xc8, "RemoveDownloadFile", kMethod, kDownloadListFile),
          R::Row<&D::RenumberFiles>(0xc9, "RenumberFiles", kMethod, kRenumberFiles),
          R::Row<&D::GetVariableStr>(0xca, "GetVariableStr", kMethod, kGetVariableStr),
          R::Row<&D::DPRVarBufReadAll>(0xcb, "DPRVarBufReadAll", kMethod, kVarBufReadAll),
          R::Row<&D::AerivoAnalyze>(0xcc, "AerivoAnalyze", kMethod, kAerivoAnalyze),
          R::Row<&D::GetPlcStatusStructure>(0xcd, "GetPlcStatusStructure", kMethod,
                                            kPlcStatusStructure),
          R::Row<&D::GetBitValue>(0xce, "GetBitValue", kMethod, kGetBitValue),
          R::Row<&D::GetNumDeviceKeys>(0xcf, "GetNumDeviceKeys", kMethod, kValueOut),
          R::Row<&D::DprWord<&ZimoDPRFloat>>(0xd0, "DPRGetLongDouble", kMethod, kDprGetDouble),
          R::Row<&D::DprWord<&ZimoDPRLFixed>>(0xd1, "DPRGetFixedDouble", kMethod, kDprGetDouble),
          R::Row<&D::ValueOf<&ZimoDPRGetWord, int16_t, int32_t>>(0xd2, "DPRGetShort", kMethod,
                                                                 kDprGetShort),
          R::Row<&D::Action<&ZimoDPRSetWord, int32_t, int16_t>>(0xd3, "DPRSetShort", kMethod,
                                                                kDprSetShort),
          R::Row<&D::ValueOf<&ZimoDPRDWordBitSet, int32_t, int32_t, int32_t>>(
              0xd4, "DPRDWordBitSet", kMethod, kDprBitGet),
          R::Row<&D::Action<&ZimoDPRResetDWordBit, int32_t, int32_t>>(0xd5, "DPRResetDWordBit",
                                                                      kMethod, kDprBit),
          R::Row<&D::Action<&ZimoDPRSetDWordBit, int32_t, int32_t>>(0xd6, "DPRSetDWordBit", kMethod,
                                                                    kDprBit),
          R::Row<&D::GetFirmwareType>(0xd7, "GetFirmwareType", kMethod, kDeviceValueOut),
          R::Row<&D::GetResponseBuffered>(0xd8, "GetResponseBuffered", kMethod,
                                          kGetResponseBuffered),
          R::Row<&D::DPRVarBufWriteEx>(0xd9, "DPRVarBufWriteEx", kMethod, kVarBufWriteEx),
      });
  return rows;
}

}  // namespace zimo::server
