// The device object's interface, written once: every member's DISPID, name,
// kind and parameters beside the method that serves it.
#include "core/server_ids.h"
#include "core/zimo_device.h"
#include "core/zimo_device_internal.h"
#include "corvan/program_info_api.h"
#include "corvan/status_query_api.h"

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
// dispatch table are both made from these. Members not built yet are
// absent and answer DISP_E_MEMBERNOTFOUND.
const automation::DispatchRows<ZimoDevice>& ZimoDevice::Rows() {
  using R = automation::DispatchRows<ZimoDevice>;
  static const R rows(
      "IZimoDevice", kIidIZimoDevice,
      {
          R::Row<&ZimoDevice::Open>(0x1, "Open", kMethod, kDevice),
          R::Row<&ZimoDevice::Close>(0x2, "Close", kMethod, kDevice),
          R::Row<&ZimoDevice::get_ReadReady>(0x4, "ReadReady", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::SendLine>(0x5, "SendLine", kMethod, kDeviceLine),
          R::Row<&ZimoDevice::SendChar>(0x6, "SendChar", kMethod, kDeviceChar),
          R::Row<&ZimoDevice::GetLine>(0x7, "GetLine", kMethod, kDeviceTextOut),
          R::Row<&ZimoDevice::DPRBackGroundVar>(0x8, "DPRBackGroundVar", kMethod, kDeviceOn),
          R::Row<&ZimoDevice::DPRAddressRange>(0x9, "DPRAddressRange", kMethod, kDprAddressRange),
          R::Row<&ZimoDevice::GetZimoType>(0xa, "GetZimoType", kMethod, kDeviceValueOut),
          R::Row<&ZimoDevice::DPRVarBufRemove>(0xb, "DPRVarBufRemove", kMethod, kVarBufRemove),
          R::Row<&ZimoDevice::DPRVarBufRead>(0xc, "DPRVarBufRead", kMethod, kVarBufRead),
          R::Row<&ZimoDevice::DPRGetFloat>(0xd, "DPRGetFloat", kMethod, kDprGetFloat),
          R::Row<&ZimoDevice::DPRGetLong>(0xe, "DPRGetLong", kMethod, kDprGetLong),
          R::Row<&ZimoDevice::DPRVarBufInit>(0xf, "DPRVarBufInit", kMethod, kVarBufInit),
          R::Row<&ZimoDevice::DPRSetFloat>(0x10, "DPRSetFloat", kMethod, kDprSetFloat),
          R::Row<&ZimoDevice::DPRSetLong>(0x11, "DPRSetLong", kMethod, kDprSetLong),
          R::Row<&ZimoDevice::DPRVarBufWrite>(0x12, "DPRVarBufWrite", kMethod, kVarBufWrite),
          R::Row<&ZimoDevice::DPRFloat>(0x13, "DPRFloat", kMethod, kDprFloat),
          R::Row<&ZimoDevice::GetRomVersion>(0x14, "GetRomVersion", kMethod, kDeviceTextOut),
          R::Row<&ZimoDevice::GetRomDate>(0x15, "GetRomDate", kMethod, kDeviceTextOut),
          R::Row<&ZimoDevice::GetZimoLocation>(0x16, "GetZimoLocation", kMethod, kDeviceValueOut),
          R::Row<&ZimoDevice::GetResponse>(0x17, "GetResponse", kMethod, kGetResponse),
          R::Row<&ZimoDevice::LockDevice>(0x18, "LockDevice", kMethod, kDevice),
          R::Row<&ZimoDevice::UnlockDevice>(0x19, "UnlockDevice", kMethod, kDevice),
          R::Row<&ZimoDevice::SelectDevice>(0x1a, "SelectDevice", kMethod, kSelectDevice),
          R::Row<&ZimoDevice::Flush>(0x1b, "Flush", kMethod, kDevice),
          R::Row<&ZimoDevice::get_DPRAvailable>(0x1c, "DPRAvailable", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::SetChecksums>(0x1d, "SetChecksums", kMethod, kSetChecksums),
          R::Row<&ZimoDevice::GetControlResponse>(0x1e, "GetControlResponse", kMethod,
                                                  kGetControlResponse),
          R::Row<&ZimoDevice::get_LastCommError>(0x1f, "LastCommError", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::GetLastCommErrorStr>(0x20, "GetLastCommErrorStr", kMethod,
                                                   kDeviceTextOut),
          R::Row<&ZimoDevice::GetVarloIVariableLong>(0x21, "GetVarloIVariableLong", kMethod,
                                                     kGetVarloIVariableLong),
          R::Row<&ZimoDevice::ChangeStore>(0x22, "ChangeStore", kMethod, kChangeStore),
          R::Row<&ZimoDevice::ChangeReadReady>(0x23, "ChangeReadReady", kMethod, kDevice),
          R::Row<&ZimoDevice::ChangeGet>(0x24, "ChangeGet", kMethod, kDeviceTextOut),
          R::Row<&ZimoDevice::get_DoChecksums>(0x25, "DoChecksums", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::put_DoChecksums>(0x25, "DoChecksums", kPropertyPut, kDeviceValuePut),
          R::Row<&ZimoDevice::GetIVariableLong>(0x26, "GetIVariableLong", kMethod,
                                                kGetIVariableLong),
          R::Row<&ZimoDevice::GetIVariableDouble>(0x27, "GetIVariableDouble", kMethod,
                                                  kGetIVariableDouble),
          R::Row<&ZimoDevice::SetIVariableLong>(0x28, "SetIVariableLong", kMethod,
                                                kSetIVariableLong),
          R::Row<&ZimoDevice::SetIVariableDouble>(0x29, "SetIVariableDouble", kMethod,
                                                  kSetIVariableDouble),
          R::Row<&ZimoDevice::GetAsciiComm>(0x2a, "GetAsciiComm", kMethod, kDeviceValueOut),
          R::Row<&ZimoDevice::SetAsciiComm>(0x2b, "SetAsciiComm", kMethod, kSetAsciiComm),
          R::Row<&ZimoDevice::GetVariableLong>(0x2c, "GetVariableLong", kMethod, kGetVariableLong),
          R::Row<&ZimoDevice::GetVariableDouble>(0x2d, "GetVariableDouble", kMethod,
                                                 kGetVariableDouble),
          R::Row<&ZimoDevice::SetVariableLong>(0x2e, "SetVariableLong", kMethod, kSetVariableLong),
          R::Row<&ZimoDevice::SetVariableDouble>(0x2f, "SetVariableDouble", kMethod,
                                                 kSetVariableDouble),
          R::Row<&ZimoDevice::get_InBootStrapMode>(0x30, "InBootStrapMode", kPropertyGet,
                                                   kDeviceGet),
          R::Row<&ZimoDevice::get_MotionBufferOpen>(0x31, "MotionBufferOpen", kPropertyGet,
                                                    kDeviceGet),
          R::Row<&ZimoDevice::get_RotaryBufferOpen>(0x32, "RotaryBufferOpen", kPropertyGet,
                                                    kDeviceGet),
          R::Row<&ZimoDevice::get_IsSpran>(0x33, "IsSpran", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::RestoreLinkList>(0x34, "RestoreLinkList", kMethod, kRestoreLinkList),
          R::Row<&ZimoDevice::BackupLinkList>(0x35, "BackupLinkList", kMethod, kDevice),
          R::Row<&ZimoDevice::SetCriticalIVars>(0x36, "SetCriticalIVars", kMethod, kDevice),
          R::Row<&ZimoDevice::get_USReadReady>(0x37, "USReadReady", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::GetUSResponse>(0x38, "GetUSResponse", kMethod, kDeviceTextOut),
          R::Row<&ZimoDevice::GetLocAndEnum>(0x39, "GetLocAndEnum", kMethod, kGetLocAndEnum),
          R::Row<&ZimoDevice::GetProgramInfo>(0x3a, "GetProgramInfo", kMethod, kGetProgramInfo),
          R::Row<&ZimoDevice::DownloadFile>(0x3b, "DownloadFile", kMethod, kDeviceFile),
          R::Row<&ZimoDevice::AbortDownload>(0x3c, "AbortDownload", kMethod, kDevice),
          R::Row<&ZimoDevice::DownloadFirmwareFile>(0x3d, "DownloadFirmwareFile", kMethod,
                                                    kDeviceFile),
          R::Row<&ZimoDevice::Download>(0x3e, "Download", kMethod, kDownload),
          R::Row<&ZimoDevice::DownloadAsynch>(0x3f, "DownloadAsynch", kMethod, kDownload),
          R::Row<&ZimoDevice::get_MaxDownloadErrors>(0x40, "MaxDownloadErrors", kPropertyGet,
                                                     kValueGet),
          R::Row<&ZimoDevice::put_MaxDownloadErrors>(0x40, "MaxDownloadErrors", kPropertyPut,
                                                     kValuePut),
          R::Row<&ZimoDevice::CompilePLCC>(0x41, "CompilePLCC", kMethod, kCompilePlcc),
          R::Row<&ZimoDevice::SendCommand>(0x42, "SendCommand", kMethod, kSendCommand),
          R::Row<&ZimoDevice::GetBuffer>(0x43, "GetBuffer", kMethod, kGetBuffer),
          R::Row<&ZimoDevice::GetPlcStatus>(0x44, "GetPlcStatus", kMethod, kGetPlcStatus),
          R::Row<&ZimoDevice::GetFirstPlcc>(0x45, "GetFirstPlcc", kMethod, kPlccEntry),
          R::Row<&ZimoDevice::GetNextPlcc>(0x46, "GetNextPlcc", kMethod, kPlccEntry),
          R::Row<&ZimoDevice::GetFirstPlc>(0x47, "GetFirstPlc", kMethod, kPlcEntry),
          R::Row<&ZimoDevice::GetNextPlc>(0x48, "GetNextPlc", kMethod, kPlcEntry),
          R::Row<&ZimoDevice::CardValue<&ZimoIsAnyPLCRunning>>(0x49, "IsAnyPlcRunning",
                                                               kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::GetGlobalStatus>(0x4a, "GetGlobalStatus", kMethod, kDeviceValueOut),
          R::Row<&ZimoDevice::StatusWord<&ZimoGetCoordStatus>>(0x4b, "GetCoordStatus", kMethod,
                                                               kCoordStatus),
          R::Row<&ZimoDevice::StatusWord<&ZimoGetMotorStatus>>(0x4c, "GetMotorStatus", kMethod,
                                                               kMotorStatus),
          R::Row<&ZimoDevice::CardValue<&ZimoSysServoError>>(0x4d, "SysServoError", kPropertyGet,
                                                             kDeviceGet),
          R::Row<&ZimoDevice::CardValue<&ZimoSysReEntryError>>(0x4e, "SysReEntryError",
                                                               kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::CardValue<&ZimoSysMemChecksumError>>(0x4f, "SysMemChecksumError",
                                                                   kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::CardValue<&ZimoSysPromChecksumError>>(0x50, "SysPromChecksumError",
                                                                    kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoSysInposition>>(0x51, "SysInposition", kPropertyGet,
                                                             kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoSysWarnFError>>(0x52, "SysWarnFError", kPropertyGet,
                                                             kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoSysFatalFError>>(0x53, "SysFatalFError", kPropertyGet,
                                                              kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoSysRunTimeError>>(0x54, "SysRuntimeError",
                                                               kPropertyGet, kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoSysCircleRadError>>(0x55, "SysCircleRadError",
                                                                 kPropertyGet, kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoSysAmpFaultError>>(0x56, "SysAmpFaultError",
                                                                kPropertyGet, kCoordGet),
          R::Row<&ZimoDevice::Scaled<&ZimoGetCommandedPos>>(0x57, "GetCommandedPos", kMethod,
                                                            kMotorScaled),
          R::Row<&ZimoDevice::Scaled<&ZimoPosition>>(0x58, "GetPosition", kMethod, kMotorScaled),
          R::Row<&ZimoDevice::Scaled<&ZimoNetActualPosition>>(0x59, "GetNetActualPosition", kMethod,
                                                              kMotorScaled),
          R::Row<&ZimoDevice::Scaled<&ZimoFollowError>>(0x5a, "GetFollowError", kMethod,
                                                        kMotorScaled),
          R::Row<&ZimoDevice::Scaled<&ZimoGetVel>>(0x5b, "GetVelocity", kMethod, kMotorScaled),
          R::Row<&ZimoDevice::ScaledInto<&ZimoGetMasterPos>>(0x5c, "GetMasterPos", kMethod,
                                                             kMotorScaled),
          R::Row<&ZimoDevice::ScaledInto<&ZimoGetCompensationPos>>(0x5d, "GetCompensationPos",
                                                                   kMethod, kMotorScaled),
          R::Row<&ZimoDevice::Scaled<&ZimoGetTargetPos>>(0x5e, "GetTargetPos", kMethod,
                                                         kMotorScaled),
          R::Row<&ZimoDevice::Scaled<&ZimoGetBiasPos>>(0x5f, "GetBiasPos", kMethod, kMotorScaled),
          R::Row<&ZimoDevice::UnitValue<&ZimoPe>>(0x60, "GetProgExecPoint", kMethod,
                                                  kCoordValueOut),
          R::Row<&ZimoDevice::UnitValue<&ZimoRotBufFull>>(0x61, "GetRotBufFull", kMethod,
                                                          kCoordValueOut),
          R::Row<&ZimoDevice::UnitValue<&ZimoProgRunning>>(0x62, "ProgramRunning", kPropertyGet,
                                                           kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoProgStepping>>(0x63, "ProgramStepping", kPropertyGet,
                                                            kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoProgContMotion>>(0x64, "ProgramContMotion",
                                                              kPropertyGet, kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoProgContRequest>>(0x65, "ProgramContRequest",
                                                               kPropertyGet, kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoProgRemaining>>(0x66, "ProgramRemaining", kPropertyGet,
                                                             kCoordGet),
          R::Row<&ZimoDevice::get_MotionBufferOpen>(0x67, "MotionBufOpen", kPropertyGet,
                                                    kDeviceGet),
          R::Row<&ZimoDevice::get_RotaryBufferOpen>(0x68, "RotBufOpen", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::get_ProgramFeedMode>(0x69, "ProgramFeedMode", kPropertyGet,
                                                   kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoAmpEnabled>>(0x6a, "MotorAmpEnabled", kPropertyGet,
                                                          kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoWarnFError>>(0x6b, "MotorWarnFError", kPropertyGet,
                                                          kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoFatalFError>>(0x6c, "MotorFatalFError", kPropertyGet,
                                                           kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoAmpFault>>(0x6d, "MotorAmpFault", kPropertyGet,
                                                        kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoOnPositionLimit>>(0x6e, "MotorOnPositionLimit",
                                                               kPropertyGet, kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoHomeComplete>>(0x6f, "MotorHomeComplete", kPropertyGet,
                                                            kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoInposition>>(0x70, "MotorInPosition", kPropertyGet,
                                                          kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoTimeRemInMove>>(0x71, "TimRemInMove", kPropertyGet,
                                                             kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoTimeRemInTATS>>(0x72, "TimeRemInTATS", kPropertyGet,
                                                             kCoordGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoDataBlock>>(0x73, "MotorDataBlockError", kPropertyGet,
                                                         kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoPhasedMotor>>(0x74, "MotorPhased", kPropertyGet,
                                                           kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoMotorEnabled>>(0x75, "MotorEnabled", kPropertyGet,
                                                            kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoHandwheelEnabled>>(0x76, "MotorHandwheelEnabled",
                                                                kPropertyGet, kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoOpenLoop>>(0x77, "MotorOpenLoop", kPropertyGet,
                                                        kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoOnNegativeLimit>>(0x78, "MotorOnNegLimit",
                                                               kPropertyGet, kMotorGet),
          R::Row<&ZimoDevice::UnitValue<&ZimoOnPositiveLimit>>(0x79, "MotorOnPosLimit",
                                                               kPropertyGet, kMotorGet),
          R::Row<&ZimoDevice::SetJogReturn>(0x7a, "SetJogReturn", kMethod, kMotor),
          R::Row<&ZimoDevice::GetWhyMotorNotMoving>(0x7b, "GetWhyMotorNotMoving", kMethod,
                                                    kWhyMotor),
          R::Row<&ZimoDevice::GetWhyMotorNotMovingStr>(0x7c, "GetWhyMotorNotMovingStr", kMethod,
                                                       kWhyText),
          R::Row<&ZimoDevice::GetWhyCSNotMoving>(0x7d, "GetWhyCSNotMoving", kMethod, kWhyCs),
          R::Row<&ZimoDevice::GetWhyCSNotMovingStr>(0x7e, "GetWhyCSNotMovingStr", kMethod,
                                                    kWhyText),
          R::Row<&ZimoDevice::get_BufferOpen>(0x7f, "BufferOpen", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::get_GatherPeriod>(0x80, "GatherPeriod", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::put_GatherPeriod>(0x80, "GatherPeriod", kPropertyPut,
                                                kDeviceValuePut),
          R::Row<&ZimoDevice::get_GatherEnabled>(0x81, "GatherEnabled", kPropertyGet,
                                                 kGatherEnabledGet),
          R::Row<&ZimoDevice::put_GatherEnabled>(0x81, "GatherEnabled", kPropertyPut,
                                                 kGatherEnabledPut),
          R::Row<&ZimoDevice::get_GatherMode>(0x82, "GatherMode", kPropertyGet, kDeviceGet),
          R::Row<&ZimoDevice::put_GatherMode>(0x82, "GatherMode", kPropertyPut, kDeviceValuePut),
          R::Row<&ZimoDevice::get_GatherSampleTime>(0x83, "GatherSampleTime", kPropertyGet,
                                                    kSampleTimeGet),
          R::Row<&ZimoDevice::put_GatherSampleTime>(0x83, "GatherSampleTime", kPropertyPut,
                                                    kSampleTimePut),
          R::Row<&ZimoDevice::GetNumGatherSources>(0x84, "GetNumGatherSources", kMethod,
                                                   kDeviceValueOut),
          R::Row<&ZimoDevice::GetNumGatherSamples>(0x85, "GetNumGatherSamples", kMethod,
                                                   kDeviceValueOut),
          R::Row<&ZimoDevice::SetGather>(0x86, "SetGather", kMethod, kSetGather),
          R::Row<&ZimoDevice::SetQuickGather>(0x87, "SetQuickGather", kMethod, kQuickGather),
          R::Row<&ZimoDevice::SetQuickGatherWithDirectCurrent>(
              0x88, "SetQuickGatherWithDirectCurrent", kMethod, kQuickGather),
          R::Row<&ZimoDevice::GetGather>(0x89, "GetGather", kMethod, kGetGather),
          R::Row<&ZimoDevice::ClearGather>(0x8a, "ClearGather", kMethod, kDevice),
          R::Row<&ZimoDevice::InitGather>(0x8b, "InitGather", kMethod, kInitGather),
          R::Row<&ZimoDevice::ClearGatherData>(0x8c, "ClearGatherData", kMethod, kDevice),
          R::Row<&ZimoDevice::CollectGatherData>(0x8d, "CollectGatherData", kMethod,
                                                 kCollectGatherData),
          R::Row<&ZimoDevice::GetGatherSamples>(0x8e, "GetGatherSamples", kMethod,
                                                kGetGatherSamples),
          R::Row<&ZimoDevice::GetGatherPoint>(0x8f, "GetGatherPoint", kMethod, kGetGatherPoint),
          R::Row<&ZimoDevice::StartGather>(0x90, "StartGather", kMethod, kDeviceSuccess),
          R::Row<&ZimoDevice::StopGather>(0x91, "StopGather", kMethod, kDevice),
          R::Row<&ZimoDevice::InitPlotGather>(0x92, "InitPlotGather", kMethod, kInitPlotGather),
          R::Row<&ZimoDevice::ReadGatherFile>(0x93, "ReadGatherFile", kMethod, kDeviceFileSuccess),
          R::Row<&ZimoDevice::WriteGatherFile>(0x94, "WriteGatherFile", kMethod,
                                               kDeviceFileSuccess),
          R::Row<&ZimoDevice::strtod48f>(0x95, "strtod48f", kMethod, kWordText),
          R::Row<&ZimoDevice::strtod48l>(0x96, "strtod48l", kMethod, kWordText),
          R::Row<&ZimoDevice::strtod24>(0x97, "strtod24", kMethod, kWordText),
          R::Row<&ZimoDevice::strtod32dp>(0x98, "strtod32dp", kMethod, kWordText),
          R::Row<&ZimoDevice::strto32f>(0x99, "strto32f", kMethod, kWordText),
          R::Row<&ZimoDevice::UploadVarloConfig>(0x9a, "UploadVarloConfig", kMethod,
                                                 kDeviceFileSuccess),
          R::Row<&ZimoDevice::DownloadCurrentFeedbackTest>(0x9b, "DownloadCurrentFeedbackTest",
                                                           kMethod, kCurrentFeedbackTest),
          R::Row<&ZimoDevice::ReadResultsFromCurrentFeedbackTest>(
              0x9c, "ReadResultsFromCurrentFeedbackTest", kMethod, kCurrentFeedbackResults),
          R::Row<&ZimoDevice::DownloadVoltageSixStepTest>(0x9d, "DownloadVoltageSixStepTest",
                                                          kMethod, kSixStepTest),
          R::Row<&ZimoDevice::ReadResultsFromSixStepTest>(0x9e, "ReadResultsFromSixStepTest",
                                                          kMethod, kSixStepResults),
          R::Row<&ZimoDevice::DownloadCurrentSixStepTest>(0x9f, "DownloadCurrentSixStepTest",
                                                          kMethod, kCurrentSixStepTest),
          R::Row<&ZimoDevice::DownloadOpenLoopTest>(0xa0, "DownloadOpenLoopTest", kMethod,
                                                    kOpenLoopTest),
          R::Row<&ZimoDevice::DownloadOpenLoopTest1>(0xa1, "DownloadOpenLoopTest1", kMethod,
                                                     kOpenLoopTest),
          R::Row<&ZimoDevice::DownloadVelLimitPLC>(0xa2, "DownloadVelLimitPLC", kMethod,
                                                   kVelLimitPlc),
          R::Row<&ZimoDevice::DownloadPosLimitPLC>(0xa3, "DownloadPosLimitPLC", kMethod,
                                                   kMotorSuccess),
          R::Row<&ZimoDevice::DownloadUVWSixStepTest>(0xa4, "DownloadUVWSixStepTest", kMethod,
                                                      kUvwSixStepTest),
          R::Row<&ZimoDevice::ReadResultsFromUVWSixStepTest>(0xa5, "ReadResultsFromUVWSixStepTest",
                                                             kMethod, kUvwSixStepResults),
          R::Row<&ZimoDevice::SetIVarForFeedback>(0xa6, "SetIVarForFeedback", kMethod,
                                                  kIVarForFeedback),
          R::Row<&ZimoDevice::DownloadAndRunRoughPhasePLC>(0xa7, "DownloadAndRunRoughPhasePLC",
                                                           kMethod, kMotorSuccess),
          R::Row<&ZimoDevice::CreateIncrementalFinePhasePLC>(0xa8, "CreateIncrementalFinePhasePLC",
                                                             kMethod, kFinePhasePlc),
          R::Row<&ZimoDevice::DoACurrentLoopStep>(0xa9, "DoACurrentLoopStep", kMethod,
                                                  kCurrentLoopStep),
          R::Row<&ZimoDevice::DoACurrentLoopStepBrush>(0xaa, "DoACurrentLoopStepBrush", kMethod,
                                                       kCurrentLoopStep),
          R::Row<&ZimoDevice::DoAPositionLoopStep>(0xab, "DoAPositionLoopStep", kMethod,
                                                   kPositionStep),
          R::Row<&ZimoDevice::DoAParabolicMove>(0xac, "DoAParabolicMove", kMethod, kPositionStep),
          R::Row<&ZimoDevice::DoAGantryPositionLoopStep>(0xad, "DoAGantryPositionLoopStep", kMethod,
                                                         kGantryStep),
          R::Row<&ZimoDevice::DoAGantryParabolicMove>(0xae, "DoAGantryParabolicMove", kMethod,
                                                      kGantryStep),
          R::Row<&ZimoDevice::DoAGantryParabolic>(0xaf, "DoAGantryParabolic", kMethod,
                                                  kGantryParabolic),
          R::Row<&ZimoDevice::ConvertWordToStringFloat>(0xb0, "ConvertWordToStringFloat", kMethod,
                                                        kWordToStringFloat),
          R::Row<&ZimoDevice::ConvertWordToShort>(0xb1, "ConvertWordToShort", kMethod,
                                                  kWordToShort),
          R::Row<&ZimoDevice::ConvertWordToLong>(0xb2, "ConvertWordToLong", kMethod, kWordToLong),
          R::Row<&ZimoDevice::RestoreModifiedIVars>(0xb3, "RestoreModifiedIVars", kMethod,
                                                    kMotorOnly),
          R::Row<&ZimoDevice::CalculateStepStatistics>(0xb4, "CalculateStepStatistics", kMethod,
                                                       kStepStatistics),
          R::Row<&ZimoDevice::LowPassFilterTheData>(0xb5, "LowPassFilterTheData", kMethod,
                                                    kLowPassFilter),
          R::Row<&ZimoDevice::DifferentiateTheData>(0xb6, "DifferentiateTheData", kMethod,
                                                    kDifferentiate),
          R::Row<&ZimoDevice::DownloadAutoTuningPLC>(0xb7, "DownloadAutoTuningPLC", kMethod,
                                                     kAutoTuningPlc),
          R::Row<&ZimoDevice::DownloadGantryAutoTuningPLCP1>(0xb8, "DownloadGantryAutoTuningPLCP1",
                                                             kMethod, kGantryAutoTuningPlcP1),
          R::Row<&ZimoDevice::DownloadGantryAutoTuningPLC>(0xb9, "DownloadGantryAutoTuningPLC",
                                                           kMethod, kGantryAutoTuningPlc),
          R::Row<&ZimoDevice::MagEstimation>(0xba, "MagEstimation", kMethod, kEstimation),
          R::Row<&ZimoDevice::SlopeEstimation>(0xbb, "SlopeEstimation", kMethod, kEstimation),
          R::Row<&ZimoDevice::SetCurrentGather>(0xbc, "SetCurrentGather", kMethod, kQuickGather),
          R::Row<&ZimoDevice::DownloadOpenLoopTestForZIMO1>(0xbd, "DownloadOpenLoopTestForZIMO1",
                                                            kMethod, kOpenLoopTest),
          R::Row<&ZimoDevice::GetVarloNodes>(0xbe, "GetVarloNodes", kMethod, kGetVarloNodes),
          R::Row<&ZimoDevice::GetVarloNodeInfo>(0xbf, "GetVarloNodeInfo", kMethod,
                                                kGetVarloNodeInfo),
          R::Row<&ZimoDevice::SetVarloIVariableString>(0xc0, "SetVarloIVariableString", kMethod,
                                                       kSetVarloIVariableString),
          R::Row<&ZimoDevice::GetVarloIVariableString>(0xc1, "GetVarloIVariableString", kMethod,
                                                       kGetVarloIVariableString),
          R::Row<&ZimoDevice::GetCommandLogging>(0xc2, "GetCommandLogging", kMethod,
                                                 kGetCommandLogging),
          R::Row<&ZimoDevice::SetCommandLogging>(0xc3, "SetCommandLogging", kMethod,
                                                 kSetCommandLogging),
          R::Row<&ZimoDevice::GetEnumeration>(0xc4, "GetEnumeration", kMethod, kDeviceValueOut),
          R::Row<&ZimoDevice::GetControlValues>(0xc5, "GetControlValues", kMethod,
                                                kGetControlValues),
          R::Row<&ZimoDevice::MultiDownload>(0xc6, "MultiDownload", kMethod, kMultiDownload),
          R::Row<&ZimoDevice::AddDownloadFile>(0xc7, "AddDownloadFile", kMethod, kDownloadListFile),
          R::Row<&ZimoDevice::RemoveDownloadFile>(0xc8, "RemoveDownloadFile", kMethod,
                                                  kDownloadListFile),
          R::Row<&ZimoDevice::RenumberFiles>(0xc9, "RenumberFiles", kMethod, kRenumberFiles),
          R::Row<&ZimoDevice::GetVariableStr>(0xca, "GetVariableStr", kMethod, kGetVariableStr),
          R::Row<&ZimoDevice::DPRVarBufReadAll>(0xcb, "DPRVarBufReadAll", kMethod, kVarBufReadAll),
          R::Row<&ZimoDevice::AerivoAnalyze>(0xcc, "AerivoAnalyze", kMethod, kAerivoAnalyze),
          R::Row<&ZimoDevice::GetPlcStatusStructure>(0xcd, "GetPlcStatusStructure", kMethod,
                                                     kPlcStatusStructure),
          R::Row<&ZimoDevice::GetBitValue>(0xce, "GetBitValue", kMethod, kGetBitValue),
          R::Row<&ZimoDevice::GetNumDeviceKeys>(0xcf, "GetNumDeviceKeys", kMethod, kValueOut),
          R::Row<&ZimoDevice::DPRGetLongDouble>(0xd0, "DPRGetLongDouble", kMethod, kDprGetDouble),
          R::Row<&ZimoDevice::DPRGetFixedDouble>(0xd1, "DPRGetFixedDouble", kMethod, kDprGetDouble),
          R::Row<&ZimoDevice::DPRGetShort>(0xd2, "DPRGetShort", kMethod, kDprGetShort),
          R::Row<&ZimoDevice::DPRSetShort>(0xd3, "DPRSetShort", kMethod, kDprSetShort),
          R::Row<&ZimoDevice::DPRDWordBitSet>(0xd4, "DPRDWordBitSet", kMethod, kDprBitGet),
          R::Row<&ZimoDevice::DPRResetDWordBit>(0xd5, "DPRResetDWordBit", kMethod, kDprBit),
          R::Row<&ZimoDevice::DPRSetDWordBit>(0xd6, "DPRSetDWordBit", kMethod, kDprBit),
          R::Row<&ZimoDevice::GetFirmwareType>(0xd7, "GetFirmwareType", kMethod, kDeviceValueOut),
          R::Row<&ZimoDevice::GetResponseBuffered>(0xd8, "GetResponseBuffered", kMethod,
                                                   kGetResponseBuffered),
          R::Row<&ZimoDevice::DPRVarBufWriteEx>(0xd9, "DPRVarBufWriteEx", kMethod, kVarBufWriteEx),
      });
  return rows;
}

}  // namespace zimo::server
