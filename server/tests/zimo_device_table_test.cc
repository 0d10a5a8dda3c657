// The device object's interface against its published member list: every
// member it has matches its row (DISPID, name, kind, parameter kinds and
// directions, in slot order), every member it lacks answers
// DISP_E_MEMBERNOTFOUND, and every member it has refuses bad arguments
// before it reaches a card.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/zimo_device.h"
#include "temp_home.h"

namespace zimo::server {
namespace {

using automation::DispId;
using automation::HRESULT;
using automation::MemberInfo;
using automation::ParamDir;
using automation::SafeArray;
using automation::VarType;

// The members in slot order: DISPID, name, m(ethod) / get / put, then
// each parameter's kind (l long or an enumeration, s short, c unsigned
// char, d double, f float, q 64-bit, b text, v VARIANT, a SAFEARRAY(long));
// a '*' marks an out parameter.
constexpr const char* kPublished = R"(
0x1 Open m l
0x2 Close m l
0x4 ReadReady get l l*
0x5 SendLine m l b
0x6 SendChar m l c
0x7 GetLine m l b*
0x8 DPRBackGroundVar m l l
0x9 DPRAddressRange m l l l l*
0xa GetZimoType m l l*
0xb DPRVarBufRemove m l l
0xc DPRVarBufRead m l l l q*
0xd DPRGetFloat m l l f*
0xe DPRGetLong m l l l*
0xf DPRVarBufInit m l v v l*
0x10 DPRSetFloat m l l f
0x11 DPRSetLong m l l l
0x12 DPRVarBufWrite m l v v v l*
0x13 DPRFloat m l* d d*
0x14 GetRomVersion m l b*
0x15 GetRomDate m l b*
0x16 GetZimoLocation m l l*
0x17 GetResponse m l b b*
0x18 LockDevice m l
0x19 UnlockDevice m l
0x1a SelectDevice m l l*
0x1b Flush m l
0x1c DPRAvailable get l l*
0x1d SetChecksums m l l
0x1e GetControlResponse m l c b*
0x1f LastCommError get l l*
0x20 GetLastCommErrorStr m l b*
0x21 GetVarloIVariableLong m l l l l l*
0x22 ChangeStore m l b
0x23 ChangeReadReady m l
0x24 ChangeGet m l b*
0x25 DoChecksums get l l*
0x25 DoChecksums put l l
0x26 GetIVariableLong m l l l l*
0x27 GetIVariableDouble m l l d d*
0x28 SetIVariableLong m l l l
0x29 SetIVariableDouble m l l d
0x2a GetAsciiComm m l l*
0x2b SetAsciiComm m l l
0x2c GetVariableLong m l s l l l*
0x2d GetVariableDouble m l s l d d*
0x2e SetVariableLong m l s l l
0x2f SetVariableDouble m l s l d
0x30 InBootStrapMode get l l*
0x31 MotionBufferOpen get l l*
0x32 RotaryBufferOpen get l l*
0x33 IsSpran get l l*
0x34 RestoreLinkList m b
0x35 BackupLinkList m l
0x36 SetCriticalIVars m l
0x37 USReadReady get l l*
0x38 GetUSResponse m l b*
0x39 GetLocAndEnum m l l* l*
0x3a GetProgramInfo m l l l l* l*
0x3b DownloadFile m l b
0x3c AbortDownload m l
0x3d DownloadFirmwareFile m l b
0x3e Download m l b l l l l
0x3f DownloadAsynch m l b l l l l
0x40 MaxDownloadErrors get l*
0x40 MaxDownloadErrors put l
0x41 CompilePLCC m l b b
0x42 SendCommand m l b
0x43 GetBuffer m l l b*
0x44 GetPlcStatus m l l* l* l*
0x45 GetFirstPlcc m l l* l* l* l* l* l*
0x46 GetNextPlcc m l l* l* l* l* l* l*
0x47 GetFirstPlc m l l* l* l* l* l*
0x48 GetNextPlc m l l* l* l* l* l*
0x49 IsAnyPlcRunning get l l*
0x4a GetGlobalStatus m l l*
0x4b GetCoordStatus m l l l*
0x4c GetMotorStatus m l l l*
0x4d SysServoError get l l*
0x4e SysReEntryError get l l*
0x4f SysMemChecksumError get l l*
0x50 SysPromChecksumError get l l*
0x51 SysInposition get l l l*
0x52 SysWarnFError get l l l*
0x53 SysFatalFError get l l l*
0x54 SysRuntimeError get l l l*
0x55 SysCircleRadError get l l l*
0x56 SysAmpFaultError get l l l*
0x57 GetCommandedPos m l l d d*
0x58 GetPosition m l l d d*
0x59 GetNetActualPosition m l l d d*
0x5a GetFollowError m l l d d*
0x5b GetVelocity m l l d d*
0x5c GetMasterPos m l l d d*
0x5d GetCompensationPos m l l d d*
0x5e GetTargetPos m l l d d*
0x5f GetBiasPos m l l d d*
0x60 GetProgExecPoint m l l l*
0x61 GetRotBufFull m l l l*
0x62 ProgramRunning get l l l*
0x63 ProgramStepping get l l l*
0x64 ProgramContMotion get l l l*
0x65 ProgramContRequest get l l l*
0x66 ProgramRemaining get l l l*
0x67 MotionBufOpen get l l*
0x68 RotBufOpen get l l*
0x69 ProgramFeedMode get l l l*
0x6a MotorAmpEnabled get l l l*
0x6b MotorWarnFError get l l l*
0x6c MotorFatalFError get l l l*
0x6d MotorAmpFault get l l l*
0x6e MotorOnPositionLimit get l l l*
0x6f MotorHomeComplete get l l l*
0x70 MotorInPosition get l l l*
0x71 TimRemInMove get l l l*
0x72 TimeRemInTATS get l l l*
0x73 MotorDataBlockError get l l l*
0x74 MotorPhased get l l l*
0x75 MotorEnabled get l l l*
0x76 MotorHandwheelEnabled get l l l*
0x77 MotorOpenLoop get l l l*
0x78 MotorOnNegLimit get l l l*
0x79 MotorOnPosLimit get l l l*
0x7a SetJogReturn m l l
0x7b GetWhyMotorNotMoving m l l l*
0x7c GetWhyMotorNotMovingStr m l b*
0x7d GetWhyCSNotMoving m l l l*
0x7e GetWhyCSNotMovingStr m l b*
0x7f BufferOpen get l l*
0x80 GatherPeriod get l l*
0x80 GatherPeriod put l l
0x81 GatherEnabled get l l l*
0x81 GatherEnabled put l l l
0x82 GatherMode get l l*
0x82 GatherMode put l l
0x83 GatherSampleTime get l d*
0x83 GatherSampleTime put l d
0x84 GetNumGatherSources m l l*
0x85 GetNumGatherSamples m l l*
0x86 SetGather m l l b l l*
0x87 SetQuickGather m l l l l*
0x88 SetQuickGatherWithDirectCurrent m l l l l*
0x89 GetGather m l l b* l*
0x8a ClearGather m l
0x8b InitGather m l l d l*
0x8c ClearGatherData m l
0x8d CollectGatherData m l l* l* l*
0x8e GetGatherSamples m l l v* l*
0x8f GetGatherPoint m l l l d* l*
0x90 StartGather m l l*
0x91 StopGather m l
0x92 InitPlotGather m l l l l*
0x93 ReadGatherFile m l b l*
0x94 WriteGatherFile m l b l*
0x95 strtod48f m b d*
0x96 strtod48l m b d*
0x97 strtod24 m b d*
0x98 strtod32dp m b d*
0x99 strto32f m b d*
0x9a UploadVarloConfig m l b l*
0x9b DownloadCurrentFeedbackTest m l s d s l l l*
0x9c ReadResultsFromCurrentFeedbackTest m l s l*
0x9d DownloadVoltageSixStepTest m l s d l l l*
0x9e ReadResultsFromSixStepTest m l l v* l*
0x9f DownloadCurrentSixStepTest m l s d l l l*
0xa0 DownloadOpenLoopTest m l s s s s l l l*
0xa1 DownloadOpenLoopTest1 m l s s s s l l l*
0xa2 DownloadVelLimitPLC m l s l l*
0xa3 DownloadPosLimitPLC m l s l*
0xa4 DownloadUVWSixStepTest m l s d l*
0xa5 ReadResultsFromUVWSixStepTest m l v* l*
0xa6 SetIVarForFeedback m l s l l l*
0xa7 DownloadAndRunRoughPhasePLC m l s l*
0xa8 CreateIncrementalFinePhasePLC m l b s s l*
0xa9 DoACurrentLoopStep m l s s l l b* d s l
0xaa DoACurrentLoopStepBrush m l s s l l b* d s l
0xab DoAPositionLoopStep m l s s s l l*
0xac DoAParabolicMove m l s s s l l*
0xad DoAGantryPositionLoopStep m l s s s s l l*
0xae DoAGantryParabolicMove m l s s s s l l*
0xaf DoAGantryParabolic m l s s l*
0xb0 ConvertWordToStringFloat m b b*
0xb1 ConvertWordToShort m b s s*
0xb2 ConvertWordToLong m b l*
0xb3 RestoreModifiedIVars m l s
0xb4 CalculateStepStatistics m a* l l l b* b* b* b* b* b*
0xb5 LowPassFilterTheData m a* b
0xb6 DifferentiateTheData m a* l l l* l*
0xb7 DownloadAutoTuningPLC m l s l l l*
0xb8 DownloadGantryAutoTuningPLCP1 m l s s l l l*
0xb9 DownloadGantryAutoTuningPLC m l s s l l d l l*
0xba MagEstimation m l b l*
0xbb SlopeEstimation m l b l*
0xbc SetCurrentGather m l l l l*
0xbd DownloadOpenLoopTestForZIMO1 m l s s s s l l l*
0xbe GetVarloNodes m l l* l*
0xbf GetVarloNodeInfo m l l l* l* l*
0xc0 SetVarloIVariableString m l l l b l*
0xc1 GetVarloIVariableString m l l l b b*
0xc2 GetCommandLogging m l l*
0xc3 SetCommandLogging m l l b l*
0xc4 GetEnumeration m l l*
0xc5 GetControlValues m l s v* l*
0xc6 MultiDownload m l b b b l l l l l*
0xc7 AddDownloadFile m l b b b l*
0xc8 RemoveDownloadFile m l b b b l*
0xc9 RenumberFiles m l l b
0xca GetVariableStr m l s l b* l*
0xcb DPRVarBufReadAll m l l v*
0xcc AerivoAnalyze m l v* l*
0xcd GetPlcStatusStructure m l v* l*
0xce GetBitValue m b s l*
0xcf GetNumDeviceKeys m l*
0xd0 DPRGetLongDouble m l l d*
0xd1 DPRGetFixedDouble m l l d*
0xd2 DPRGetShort m l l s*
0xd3 DPRSetShort m l l s
0xd4 DPRDWordBitSet m l l l l*
0xd5 DPRResetDWordBit m l l l
0xd6 DPRSetDWordBit m l l l
0xd7 GetFirmwareType m l l*
0xd8 GetResponseBuffered m l b l b*
0xd9 DPRVarBufWriteEx m l v l*
)";

struct Row {
  DispId id = 0;
  std::string name;
  uint16_t kind = 0;
  std::vector<std::string> params;
};

std::vector<Row> Published() {
  std::vector<Row> rows;
  std::istringstream lines(kPublished);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    std::istringstream words(line);
    std::string id, kind, p;
    Row r;
    words >> id >> r.name >> kind;
    r.id = static_cast<DispId>(std::stol(id, nullptr, 16));
    r.kind = kind == "get"   ? automation::kPropertyGet
             : kind == "put" ? automation::kPropertyPut
                             : automation::kMethod;
    while (words >> p) r.params.push_back(p);
    rows.push_back(std::move(r));
  }
  return rows;
}

std::string Letter(VarType type) {
  switch (type) {
    case automation::VT_I4:
      return "l";
    case automation::VT_I2:
      return "s";
    case automation::VT_UI1:
      return "c";
    case automation::VT_R8:
      return "d";
    case automation::VT_R4:
      return "f";
    case automation::VT_I8:
      return "q";
    case automation::VT_BSTR:
      return "b";
    case automation::VT_VARIANT:
      return "v";
    case automation::VT_ARRAY | automation::VT_I4:
      return "a";
    default:
      return "?";
  }
}

std::vector<std::string> Described(const MemberInfo& m) {
  std::vector<std::string> params;
  for (const automation::ParamInfo& p : m.params) {
    params.push_back(Letter(p.type) + (p.dir == ParamDir::kIn ? "" : "*"));
  }
  return params;
}

TEST(ZimoDeviceTableTest, TheInterfaceIsThePublishedListInSlotOrder) {
  const std::vector<Row> rows = Published();
  ASSERT_EQ(rows.size(), 222u);
  const automation::InterfaceInfo& info = kIZimoDevice;
  EXPECT_EQ(info.name, "IZimoDevice");
  auto device = std::make_shared<ZimoDevice>(nullptr);
  size_t next = 0;  // the next member of the description to meet
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (next < info.members.size() && info.members[next].id == r.id &&
        info.members[next].kind == r.kind) {
      const MemberInfo& m = info.members[next++];
      EXPECT_EQ(m.name, r.name);
      EXPECT_EQ(Described(m), r.params);
      // A property get hands its value back as the call's result.
      if (r.kind == automation::kPropertyGet) {
        EXPECT_TRUE(m.HasRetval());
      }
      continue;
    }
    std::vector<automation::Variant> args(r.params.size());
    automation::Variant result;
    EXPECT_EQ(device->Invoke(r.id, r.kind, args, &result, nullptr),
              automation::DISP_E_MEMBERNOTFOUND);
  }
  // Every member described was met, in order.
  EXPECT_EQ(next, info.members.size());
}

// A value of the parameter's kind, or for an out parameter a reference
// to `target`.
automation::Variant Argument(const automation::ParamInfo& p, automation::Variant* target) {
  using automation::Variant;
  if (p.dir != ParamDir::kIn) return Variant::ByRef(target, p.type);
  switch (p.type) {
    case automation::VT_I4:
      return Variant(int32_t{0});
    case automation::VT_I2:
      return Variant(int16_t{0x10});
    case automation::VT_UI1:
      return Variant(uint8_t{2});
    case automation::VT_R8:
      return Variant(1.0);
    case automation::VT_R4:
      return Variant(1.0f);
    case automation::VT_I8:
      return Variant(int64_t{0});
    case automation::VT_BSTR:
      return Variant(u"I10");
    default:
      return Variant();
  }
}

// A value no conversion turns into the parameter's kind; empty when the
// parameter takes anything.
std::optional<automation::Variant> WrongKind(const automation::ParamInfo& p) {
  using automation::Variant;
  if (p.dir != ParamDir::kIn || p.type == automation::VT_VARIANT) return std::nullopt;
  if (p.type == automation::VT_BSTR) return Variant(SafeArray::Vector(automation::VT_I4, 2));
  return Variant(u"not a number");
}

class TableCheck : public ::testing::Test {
 protected:
  // The arguments a caller passes for `m` (the retval is not passed).
  std::vector<automation::Variant> Arguments(const MemberInfo& m) {
    std::vector<automation::Variant> args;
    for (size_t i = 0; i < m.ArgCount(); ++i) args.push_back(Argument(m.params[i], &outs_[i]));
    return args;
  }
  HRESULT Call(const MemberInfo& m, std::vector<automation::Variant> args,
               bool with_result = true) {
    automation::Variant result;
    return device_->Invoke(m.id, m.kind, args, with_result ? &result : nullptr, nullptr);
  }

  zimo::testing::TempHome home_;
  std::shared_ptr<ZimoDevice> device_ = std::make_shared<ZimoDevice>(nullptr);
  automation::Variant outs_[16];
};

// No card is configured here: a call that got past its argument checks
// would answer S_OK or S_FALSE, never the refusals below.
TEST_F(TableCheck, EveryMemberRefusesBadArgumentsBeforeAnyCall) {
  for (const MemberInfo& m : kIZimoDevice.members) {
    SCOPED_TRACE(std::string(m.name));
    const std::vector<automation::Variant> good = Arguments(m);
    if (!good.empty()) {
      std::vector<automation::Variant> missing(good.begin(), good.end() - 1);
      EXPECT_EQ(Call(m, missing), automation::DISP_E_BADPARAMCOUNT);
    }
    for (size_t i = 0; i < good.size(); ++i) {
      std::optional<automation::Variant> wrong = WrongKind(m.params[i]);
      if (!wrong) continue;
      std::vector<automation::Variant> args = good;
      args[i] = *wrong;
      EXPECT_EQ(Call(m, args), automation::DISP_E_TYPEMISMATCH) << "parameter " << i;
    }
    const bool has_device = !m.params.empty() && m.params[0].name == "dwDevice";
    if (has_device) {
      for (int32_t d : {8, -1}) {
        std::vector<automation::Variant> args = Arguments(m);
        args[0] = automation::Variant(d);
        EXPECT_EQ(Call(m, args), automation::E_INVALIDARG) << "device " << d;
      }
    }
    for (size_t i = 0; i < m.params.size(); ++i) {
      if (m.params[i].dir == ParamDir::kIn) continue;
      std::vector<automation::Variant> args = Arguments(m);
      if (m.params[i].dir == ParamDir::kRetval) {
        EXPECT_EQ(Call(m, args, false), automation::E_POINTER) << "retval";
      } else {
        args[i] = automation::Variant(int32_t{0});  // not a reference
        EXPECT_EQ(Call(m, args), automation::E_POINTER) << "parameter " << i;
      }
    }
  }
}

}  // namespace
}  // namespace zimo::server
