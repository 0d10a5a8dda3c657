// Layout of "ZimoSharedMemory", the 0x1E000-byte named section ZimoServer
// creates and each library instance maps. It is shared between processes and
// between two builds (library and server), so the offsets and field widths
// here are a binary contract and must not move.
//
// Field names follow the table's own names (UpperCamel), so code that reads a
// field reads the name the format gives it. Every field lies at its natural
// alignment, so the structs need no packing pragma; the static_asserts at the
// end of this file pin every offset and size, and any padding the compiler
// might add would fail them. Handle-sized fields are 32 bits and hold what the
// format says or 0: real handles live in each process's DeviceUserHandle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/status.h"

namespace zimo::corvan {

inline constexpr char kSharedTableName[] = "ZimoSharedMemory";
inline constexpr std::size_t kSharedTableSize = 0x1E000;

// Slots 0..7 belong to real devices. Slot 8 is an offline slot that only
// receives a link list loaded from a file: it gets a shared block, service
// record and ring space but no config block, and nobody ever opens it.
inline constexpr int kDeviceSlots = 9;
inline constexpr int kRealDevices = 8;
inline constexpr int kOfflineSlot = 8;

inline constexpr std::uint32_t kSharedDeviceBlockSize = 7952;  // 0x1F10
inline constexpr std::size_t kDriverServiceRecordSize = 296;
inline constexpr std::size_t kDeviceConfigWords = 390;
inline constexpr std::size_t kDeviceConfigBlockSize = kDeviceConfigWords * 4;  // 0x618
inline constexpr std::size_t kRingSize = 2000;

// Offsets of the table's regions from the start of the section.
inline constexpr std::size_t kTableSizeOffset = 0x00000;
inline constexpr std::size_t kUserCountOffset = 0x00004;
inline constexpr std::size_t kDriverServiceRecordsOffset = 0x00008;
inline constexpr std::size_t kDeviceConfigBlocksOffset = 0x00A70;
inline constexpr std::size_t kSharedDeviceBlocksOffset = 0x03B30;
inline constexpr std::size_t kLanguageModuleOffset = 0x152C0;
inline constexpr std::size_t kUsRingDataOffset = 0x152C4;
inline constexpr std::size_t kUsRingWriteOffset = 0x19914;
inline constexpr std::size_t kUsRingReadOffset = 0x19938;
inline constexpr std::size_t kChangeRingDataOffset = 0x1995C;
inline constexpr std::size_t kChangeRingWriteOffset = 0x1DFAC;
inline constexpr std::size_t kChangeRingReadOffset = 0x1DFD0;
inline constexpr std::size_t kServerProcessHandleOffset = 0x1DFF4;
inline constexpr std::size_t kServerProcessIdOffset = 0x1DFF8;

// Sizes of the arrays inside a SharedDeviceBlock.
inline constexpr std::size_t kFirmwareTextSize = 20;
inline constexpr std::size_t kLastErrorTextSize = 80;  // at most 79 characters
inline constexpr std::size_t kMaxMotors = 32;
inline constexpr std::size_t kRotBufSizeEntries = 16;  // entries 0 to 7 are used
inline constexpr std::size_t kRotaryBuffers = 8;
inline constexpr std::size_t kLinkListEntries = 68;
inline constexpr std::size_t kGatherSources = 48;
inline constexpr std::size_t kGatherSourceNameSize = 15;
inline constexpr std::size_t kRtGatherAddresses = 3;

// Start values a device slot gets when the server creates the table.
inline constexpr std::int32_t kInitialCardType = 1;
inline constexpr std::uint32_t kDefaultServoI10 = 3713707;  // when the card gives no I10
inline constexpr double kInitialScaleFactor = 3072.0;
inline constexpr double kInitialGatherSampleTimeMs = 20.0;
inline constexpr std::uint32_t kInitialGatherPeriod = 1;
inline constexpr std::uint32_t kNoOwner = 0xFFFFFFFF;  // -1: no socket, port or owner process

// Location codes of a device.
inline constexpr std::uint32_t kLocationUnknown = 0;
inline constexpr std::uint32_t kLocationIsa = 1;
inline constexpr std::uint32_t kLocationSerial = 2;
inline constexpr std::uint32_t kLocationEthernet = 3;
inline constexpr std::uint32_t kLocationPci = 4;
inline constexpr std::uint32_t kLocationUsb = 5;
inline constexpr std::uint32_t kLocationInvalid = 6;

// Serial line settings in the 28-byte layout of the Win32 DCB record.
struct SerialDcbRecord {
  std::uint32_t DCBlength;
  std::uint32_t BaudRate;
  std::uint32_t Flags;  // the bit fields below
  std::uint16_t Reserved;
  std::uint16_t XonLim;
  std::uint16_t XoffLim;
  std::uint8_t ByteSize;
  std::uint8_t Parity;
  std::uint8_t StopBits;  // 0 one, 1 one and a half, 2 two
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  std::uint16_t Reserved1;
};

// Bits of SerialDcbRecord::Flags.
inline constexpr std::uint32_t kDcbBinary = 1u << 0;
inline constexpr std::uint32_t kDcbParity = 1u << 1;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 1u << 2;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 1u << 3;
inline constexpr int kDcbDtrControlShift = 4;  // 2 bits
inline constexpr std::uint32_t kDcbDtrControlMask = 3u << kDcbDtrControlShift;
inline constexpr std::uint32_t kDcbDsrSensitivity = 1u << 6;
inline constexpr std::uint32_t kDcbTxContinueOnXoff = 1u << 7;
inline constexpr std::uint32_t kDcbOutX = 1u << 8;
inline constexpr std::uint32_t kDcbInX = 1u << 9;
inline constexpr std::uint32_t kDcbErrorChar = 1u << 10;
inline constexpr std::uint32_t kDcbNull = 1u << 11;
inline constexpr int kDcbRtsControlShift = 12;  // 2 bits
inline constexpr std::uint32_t kDcbRtsControlMask = 3u << kDcbRtsControlShift;
inline constexpr std::uint32_t kDcbAbortOnError = 1u << 14;

// Serial time-outs in the 20-byte layout of the Win32 COMMTIMEOUTS record.
struct SerialTimeoutsRecord {
  std::uint32_t ReadIntervalTimeout;
  std::uint32_t ReadTotalTimeoutMultiplier;
  std::uint32_t ReadTotalTimeoutConstant;
  std::uint32_t WriteTotalTimeoutMultiplier;
  std::uint32_t WriteTotalTimeoutConstant;
};

// Per-slot state owned by the driver-service code.
struct DriverServiceRecord {
  std::uint32_t ServiceManagerHandle;  // 0 when the service manager is closed
  char ServiceName[20];                // kernel-driver service name
  char FilePath[272];                  // deleted on closing the manager when not empty
};

// The settings of one device's location instance; each named field mirrors
// the registry value of the same name in the per-location key.
struct DeviceConfigBlock {
  std::uint32_t Reserved00;
  std::uint32_t Location;  // copy of the device's Location code
  std::uint32_t Reserved08;
  std::uint32_t DualPortRamRot[8];  // "DualPortRamRot1" .. "DualPortRamRot8"
  std::uint32_t Reserved2C[8];
  std::uint32_t DualPortRamVar;
  std::uint32_t DPRRTTimeout;
  std::uint32_t DPRBackTimeout;
  std::uint32_t DPRCharTimeout;
  std::uint32_t DPRFlushTimeout;
  std::uint32_t BUSFlushTimeout;
  std::uint32_t BUSCharTimeout;
  std::uint32_t SerialPortNumber;
  std::uint32_t SerialBaudrate;
  std::uint32_t SerialParity;
  std::uint32_t SerFlushTimeout;
  std::uint32_t SerCharTimeout;
  std::uint32_t Reserved7C[5];
  std::uint32_t DPRAutoActive;
  std::uint32_t DPRRealTimeActive;
  std::uint32_t DPRBackgroundActive;
  std::uint32_t DPRRealTimePeriod;
  std::uint32_t DPRBackgroundPeriod;
  std::uint32_t EnableInterrupts;
  std::uint32_t IPAddress;  // first octet in the most significant byte
  std::uint32_t ReservedAC[347];
};

// Transport users whose process ids the device record keeps.
inline constexpr int kTransportUserEntries = 32;
// Serial input read from the port but not yet taken by a reader.
inline constexpr int kSerialAheadSize = 192;

// The cross-process state of one device.
struct SharedDeviceBlock {
  std::uint32_t BlockSize;
  std::uint32_t FirstOpenDone;
  char FirmwareVersion[kFirmwareTextSize];
  char FirmwareDate[kFirmwareTextSize];
  char LastErrorText[kLastErrorTextSize];
  std::int32_t CardType;
  std::uint32_t BoardVariant;
  std::uint32_t CpuModel;
  std::uint32_t SpranFlag;
  std::uint32_t Location;
  std::uint32_t Enumeration;
  std::uint32_t CardMotorCount;
  std::uint32_t CardVariableCount;
  std::int16_t BusLastError;
  std::uint8_t Unused0A2[2];
  SerialDcbRecord SerialDcb;
  SerialTimeoutsRecord SerialTimeouts;
  std::uint32_t SerialLastError;
  std::uint32_t SerialPortNumber;
  std::uint32_t SerialBaudrate;
  std::uint32_t SerialParity;
  std::uint32_t SerialCTSOutput;
  std::uint32_t SerialRTSControl;
  std::uint32_t DprCardBase;
  std::uint32_t DprSetUpDone;
  std::uint16_t DprAsciiEnabled;
  std::uint8_t Unused0F6[2];
  std::uint32_t RealTimeActive;
  std::uint32_t RealTimePeriod;
  std::uint32_t FixedBufferMotorCount;
  std::uint32_t DprAutoActive;
  std::uint32_t BackgroundActive;
  std::uint32_t BackgroundPeriod;
  std::uint32_t InterruptsEnabled;
  std::uint16_t VbgInUse;
  std::uint16_t ControlPanelOn;
  std::uint16_t BinaryRotaryMode;
  std::uint8_t Unused11A[2];
  std::uint8_t RealTimeCopy[516];
  std::uint8_t SpranRealTimeCopy[1548];
  std::uint8_t BackgroundCopy[1028];
  std::uint8_t SpranBackgroundCopy[2088];
  std::int16_t DprLastError;
  std::uint8_t Unused155A[2];
  std::uint32_t ServoI10;
  double MotorPositionFactor[kMaxMotors];
  double MotorVelocityFactor[kMaxMotors];
  std::uint16_t RotBufSize[kRotBufSizeEntries];
  std::uint16_t VbgUserCount;
  std::uint16_t VbgEntryReadyMode;
  std::uint32_t VbgNextFree;
  std::uint32_t LinkListValid;
  std::uint32_t PlccEnabled;
  std::uint32_t DownloadBusy;
  std::uint32_t BootstrapFlag;
  std::uint32_t LinkList[kLinkListEntries];
  std::uint32_t PlcTableBase;
  std::uint32_t PlcChainEnd;
  std::uint32_t PlcCodeStart;
  std::uint32_t PlcSlotTable;
  // GatherSampleTime .. GatherSourceWords are the device's gather settings.
  double GatherSampleTime;  // milliseconds
  std::uint32_t GatherPeriod;
  std::uint32_t GatherEnableMask[2];
  std::uint32_t GatherSourceCount;
  std::uint32_t GatherSampleCount;
  std::uint32_t GatherWordsPerSample;
  std::uint32_t GatherSourceEnabled[kGatherSources];
  char GatherSourceName[kGatherSources][kGatherSourceNameSize];
  std::uint32_t GatherSourceWords[kGatherSources];
  std::uint32_t RtGatherHandle;
  std::uint32_t RtGatherCount;
  std::uint32_t Unused1D30;  // cleared by the server
  std::uint32_t RtGatherAddress[kRtGatherAddresses];
  std::uint32_t LoopsPer500ms;
  std::uint32_t RealTimePollLimit;
  std::uint32_t DprRtTimeoutMs;
  std::uint32_t BackgroundPollLimit;
  std::uint32_t DprBackTimeoutMs;
  std::uint32_t DprCharPollLimit;
  std::uint32_t DprCharTimeoutMs;
  std::uint32_t DprFlushPollLimit;
  std::uint32_t DprFlushTimeoutMs;
  std::uint8_t Unused1D64[8];
  std::uint32_t SerFlushTimeout;
  std::uint32_t SerFlushWaitCount;
  std::uint32_t SerCharTimeout;
  std::uint32_t SerCharWaitCount;
  std::uint32_t EthOwnerSocket;        // kNoOwner when none
  std::uint32_t EthOwnerProcessId;     // kNoOwner when none
  std::uint32_t SerialOwnerHandle;     // kNoOwner when none
  std::uint32_t SerialOwnerProcessId;  // kNoOwner when none
  // Host-side state kept in otherwise unused room:
  // 1 once an exchange over the card's link (serial line or Ethernet
  // socket) ended without its ACK (timed out, failed, or its holder ended
  // holding the device lock), so that a reply still on its way is cleared
  // from the link before the next command is sent. Kept in the block of
  // the link's home device (the lowest device number on the same Location
  // and Enumeration), whichever device number the exchange was for.
  std::uint32_t LinkUnsettled;
  // The process ids behind TransportUserCount (0: a free entry), so that
  // the shares of processes that ended without closing can be given back.
  std::uint32_t TransportUserPids[kTransportUserEntries];
  // Serial input taken from the port in one read but not yet handed to a
  // reader (SerialAhead[SerialAheadStart], SerialAheadCount bytes): every
  // reader in every process takes these before the port's own queue.
  std::uint32_t SerialAheadStart;
  std::uint32_t SerialAheadCount;
  char SerialAhead[kSerialAheadSize];
  // The process whose variable background users VbgUserCount counts (0:
  // none), so that the users of a process that ended without closing are
  // dropped; and the card address of the variable area's top while users
  // exist (where VbgNextFree stood before the first of them).
  std::uint32_t VbgOwnerProcessId;
  std::uint32_t VbgAreaTop;
  // 1 while the card on a serial line runs checksummed (its I4 is 1): the
  // mode of the card, one for every process, so that each frames its
  // exchanges alike. Kept in the link's home device's block, as
  // LinkUnsettled; set only by the switch, left alone by open and close.
  std::uint32_t SerialChecksumMode;
  std::uint8_t Unused1EE4[28];
  std::uint32_t TransportUserCount;
  // Only the server build uses these: how many background coordinate
  // systems and real-time motors its DPR mirror covers.
  std::uint32_t MirrorCoordSysCount;
  std::uint32_t MirrorMotorCount;
  std::uint32_t HostRotaryMode;
};

// The whole section. A view of it (or, in tests, any buffer of
// kSharedTableSize bytes aligned for SharedDeviceTable) is used in place.
struct SharedDeviceTable {
  std::uint32_t TableSize;  // kSharedTableSize once the server has created it
  std::uint32_t UserCount;  // processes that have the table mapped
  DriverServiceRecord DriverServices[kDeviceSlots];
  DeviceConfigBlock DeviceConfigs[kRealDevices];
  SharedDeviceBlock Devices[kDeviceSlots];
  std::uint32_t LanguageModule;  // module from which resource texts may be loaded
  char UsRingData[kDeviceSlots][kRingSize];
  std::uint32_t UsRingWrite[kDeviceSlots];
  std::uint32_t UsRingRead[kDeviceSlots];
  char ChangeRingData[kDeviceSlots][kRingSize];
  std::uint32_t ChangeRingWrite[kDeviceSlots];
  std::uint32_t ChangeRingRead[kDeviceSlots];
  std::uint32_t ServerProcessHandle;  // the server's own current-process handle value
  std::uint32_t ServerProcessId;
  std::uint32_t Unused;
};

// The table laid over a mapped view. Null when `view` is null or not aligned
// for the table (a page-aligned mapping always is).
SharedDeviceTable* SharedTableAt(void* view);

// Writes the table's header as the server does on creating it: the table
// size at offset 0, a user count of 0, and the language module value.
void InitializeTableHeader(SharedDeviceTable& table, std::uint32_t language_module);

// Initialises real slot 0..7: block size, card type 1, default servo time,
// 3072.0 scale factors, gather defaults, PLC compile on, no transport owners,
// Location and Enumeration as passed (taken from the registry), and zero for
// the remaining initialised fields. Fields with no initial value are not
// touched (a new section has them zeroed). Slot 8 and numbers outside 0 to 7 are
// refused with kInvalidArgument and nothing is written.
platform::Status InitializeDeviceSlot(SharedDeviceTable& table, int slot, std::uint32_t location,
                                      std::uint32_t enumeration);

// Writes the server's own process handle value and process id.
void WriteServerIdentity(SharedDeviceTable& table, std::uint32_t process_handle,
                         std::uint32_t process_id);

// ---------------------------------------------------------------------------
// The format, pinned.

static_assert(std::is_standard_layout_v<SharedDeviceTable>);
static_assert(std::is_trivially_copyable_v<SharedDeviceTable>);

static_assert(sizeof(SerialDcbRecord) == 28);
static_assert(offsetof(SerialDcbRecord, Flags) == 8);
static_assert(offsetof(SerialDcbRecord, XonLim) == 14);
static_assert(offsetof(SerialDcbRecord, ByteSize) == 18);
static_assert(offsetof(SerialDcbRecord, EvtChar) == 25);
static_assert(offsetof(SerialDcbRecord, Reserved1) == 26);
static_assert(sizeof(SerialTimeoutsRecord) == 20);

static_assert(sizeof(DriverServiceRecord) == kDriverServiceRecordSize);
static_assert(offsetof(DriverServiceRecord, ServiceManagerHandle) == 0);
static_assert(offsetof(DriverServiceRecord, ServiceName) == 4);
static_assert(offsetof(DriverServiceRecord, FilePath) == 24);

static_assert(sizeof(DeviceConfigBlock) == kDeviceConfigBlockSize);
static_assert(offsetof(DeviceConfigBlock, Location) == 0x04);
static_assert(offsetof(DeviceConfigBlock, DualPortRamRot) == 0x0C);
static_assert(offsetof(DeviceConfigBlock, Reserved2C) == 0x2C);
static_assert(offsetof(DeviceConfigBlock, DualPortRamVar) == 0x4C);
static_assert(offsetof(DeviceConfigBlock, DPRRTTimeout) == 0x50);
static_assert(offsetof(DeviceConfigBlock, DPRBackTimeout) == 0x54);
static_assert(offsetof(DeviceConfigBlock, DPRCharTimeout) == 0x58);
static_assert(offsetof(DeviceConfigBlock, DPRFlushTimeout) == 0x5C);
static_assert(offsetof(DeviceConfigBlock, BUSFlushTimeout) == 0x60);
static_assert(offsetof(DeviceConfigBlock, BUSCharTimeout) == 0x64);
static_assert(offsetof(DeviceConfigBlock, SerialPortNumber) == 0x68);
static_assert(offsetof(DeviceConfigBlock, SerialBaudrate) == 0x6C);
static_assert(offsetof(DeviceConfigBlock, SerialParity) == 0x70);
static_assert(offsetof(DeviceConfigBlock, SerFlushTimeout) == 0x74);
static_assert(offsetof(DeviceConfigBlock, SerCharTimeout) == 0x78);
static_assert(offsetof(DeviceConfigBlock, Reserved7C) == 0x7C);
static_assert(offsetof(DeviceConfigBlock, DPRAutoActive) == 0x90);
static_assert(offsetof(DeviceConfigBlock, DPRRealTimeActive) == 0x94);
static_assert(offsetof(DeviceConfigBlock, DPRBackgroundActive) == 0x98);
static_assert(offsetof(DeviceConfigBlock, DPRRealTimePeriod) == 0x9C);
static_assert(offsetof(DeviceConfigBlock, DPRBackgroundPeriod) == 0xA0);
static_assert(offsetof(DeviceConfigBlock, EnableInterrupts) == 0xA4);
static_assert(offsetof(DeviceConfigBlock, IPAddress) == 0xA8);
static_assert(offsetof(DeviceConfigBlock, ReservedAC) == 0xAC);

static_assert(sizeof(SharedDeviceBlock) == kSharedDeviceBlockSize);
static_assert(offsetof(SharedDeviceBlock, BlockSize) == 0x0000);
static_assert(offsetof(SharedDeviceBlock, FirstOpenDone) == 0x0004);
static_assert(offsetof(SharedDeviceBlock, FirmwareVersion) == 0x0008);
static_assert(offsetof(SharedDeviceBlock, FirmwareDate) == 0x001C);
static_assert(offsetof(SharedDeviceBlock, LastErrorText) == 0x0030);
static_assert(offsetof(SharedDeviceBlock, CardType) == 0x0080);
static_assert(offsetof(SharedDeviceBlock, BoardVariant) == 0x0084);
static_assert(offsetof(SharedDeviceBlock, CpuModel) == 0x0088);
static_assert(offsetof(SharedDeviceBlock, SpranFlag) == 0x008C);
static_assert(offsetof(SharedDeviceBlock, Location) == 0x0090);
static_assert(offsetof(SharedDeviceBlock, Enumeration) == 0x0094);
static_assert(offsetof(SharedDeviceBlock, CardMotorCount) == 0x0098);
static_assert(offsetof(SharedDeviceBlock, CardVariableCount) == 0x009C);
static_assert(offsetof(SharedDeviceBlock, BusLastError) == 0x00A0);
static_assert(offsetof(SharedDeviceBlock, SerialDcb) == 0x00A4);
static_assert(offsetof(SharedDeviceBlock, SerialTimeouts) == 0x00C0);
static_assert(offsetof(SharedDeviceBlock, SerialLastError) == 0x00D4);
static_assert(offsetof(SharedDeviceBlock, SerialPortNumber) == 0x00D8);
static_assert(offsetof(SharedDeviceBlock, SerialBaudrate) == 0x00DC);
static_assert(offsetof(SharedDeviceBlock, SerialParity) == 0x00E0);
static_assert(offsetof(SharedDeviceBlock, SerialCTSOutput) == 0x00E4);
static_assert(offsetof(SharedDeviceBlock, SerialRTSControl) == 0x00E8);
static_assert(offsetof(SharedDeviceBlock, DprCardBase) == 0x00EC);
static_assert(offsetof(SharedDeviceBlock, DprSetUpDone) == 0x00F0);
static_assert(offsetof(SharedDeviceBlock, DprAsciiEnabled) == 0x00F4);
static_assert(offsetof(SharedDeviceBlock, RealTimeActive) == 0x00F8);
static_assert(offsetof(SharedDeviceBlock, RealTimePeriod) == 0x00FC);
static_assert(offsetof(SharedDeviceBlock, FixedBufferMotorCount) == 0x0100);
static_assert(offsetof(SharedDeviceBlock, DprAutoActive) == 0x0104);
static_assert(offsetof(SharedDeviceBlock, BackgroundActive) == 0x0108);
static_assert(offsetof(SharedDeviceBlock, BackgroundPeriod) == 0x010C);
static_assert(offsetof(SharedDeviceBlock, InterruptsEnabled) == 0x0110);
static_assert(offsetof(SharedDeviceBlock, VbgInUse) == 0x0114);
static_assert(offsetof(SharedDeviceBlock, ControlPanelOn) == 0x0116);
static_assert(offsetof(SharedDeviceBlock, BinaryRotaryMode) == 0x0118);
static_assert(offsetof(SharedDeviceBlock, RealTimeCopy) == 0x011C);
static_assert(offsetof(SharedDeviceBlock, SpranRealTimeCopy) == 0x0320);
static_assert(offsetof(SharedDeviceBlock, BackgroundCopy) == 0x092C);
static_assert(offsetof(SharedDeviceBlock, SpranBackgroundCopy) == 0x0D30);
static_assert(offsetof(SharedDeviceBlock, DprLastError) == 0x1558);
static_assert(offsetof(SharedDeviceBlock, ServoI10) == 0x155C);
static_assert(offsetof(SharedDeviceBlock, MotorPositionFactor) == 0x1560);
static_assert(offsetof(SharedDeviceBlock, MotorVelocityFactor) == 0x1660);
static_assert(offsetof(SharedDeviceBlock, RotBufSize) == 0x1760);
static_assert(offsetof(SharedDeviceBlock, VbgUserCount) == 0x1780);
static_assert(offsetof(SharedDeviceBlock, VbgEntryReadyMode) == 0x1782);
static_assert(offsetof(SharedDeviceBlock, VbgNextFree) == 0x1784);
static_assert(offsetof(SharedDeviceBlock, LinkListValid) == 0x1788);
static_assert(offsetof(SharedDeviceBlock, PlccEnabled) == 0x178C);
static_assert(offsetof(SharedDeviceBlock, DownloadBusy) == 0x1790);
static_assert(offsetof(SharedDeviceBlock, BootstrapFlag) == 0x1794);
static_assert(offsetof(SharedDeviceBlock, LinkList) == 0x1798);
static_assert(offsetof(SharedDeviceBlock, PlcTableBase) == 0x18A8);
static_assert(offsetof(SharedDeviceBlock, PlcChainEnd) == 0x18AC);
static_assert(offsetof(SharedDeviceBlock, PlcCodeStart) == 0x18B0);
static_assert(offsetof(SharedDeviceBlock, PlcSlotTable) == 0x18B4);
static_assert(offsetof(SharedDeviceBlock, GatherSampleTime) == 0x18B8);
static_assert(offsetof(SharedDeviceBlock, GatherPeriod) == 0x18C0);
static_assert(offsetof(SharedDeviceBlock, GatherEnableMask) == 0x18C4);
static_assert(offsetof(SharedDeviceBlock, GatherSourceCount) == 0x18CC);
static_assert(offsetof(SharedDeviceBlock, GatherSampleCount) == 0x18D0);
static_assert(offsetof(SharedDeviceBlock, GatherWordsPerSample) == 0x18D4);
static_assert(offsetof(SharedDeviceBlock, GatherSourceEnabled) == 0x18D8);
static_assert(offsetof(SharedDeviceBlock, GatherSourceName) == 0x1998);
static_assert(offsetof(SharedDeviceBlock, GatherSourceWords) == 0x1C68);
static_assert(offsetof(SharedDeviceBlock, RtGatherHandle) == 0x1D28);
static_assert(offsetof(SharedDeviceBlock, RtGatherCount) == 0x1D2C);
static_assert(offsetof(SharedDeviceBlock, Unused1D30) == 0x1D30);
static_assert(offsetof(SharedDeviceBlock, RtGatherAddress) == 0x1D34);
static_assert(offsetof(SharedDeviceBlock, LoopsPer500ms) == 0x1D40);
static_assert(offsetof(SharedDeviceBlock, RealTimePollLimit) == 0x1D44);
static_assert(offsetof(SharedDeviceBlock, DprRtTimeoutMs) == 0x1D48);
static_assert(offsetof(SharedDeviceBlock, BackgroundPollLimit) == 0x1D4C);
static_assert(offsetof(SharedDeviceBlock, DprBackTimeoutMs) == 0x1D50);
static_assert(offsetof(SharedDeviceBlock, DprCharPollLimit) == 0x1D54);
static_assert(offsetof(SharedDeviceBlock, DprCharTimeoutMs) == 0x1D58);
static_assert(offsetof(SharedDeviceBlock, DprFlushPollLimit) == 0x1D5C);
static_assert(offsetof(SharedDeviceBlock, DprFlushTimeoutMs) == 0x1D60);
static_assert(offsetof(SharedDeviceBlock, SerFlushTimeout) == 0x1D6C);
static_assert(offsetof(SharedDeviceBlock, SerFlushWaitCount) == 0x1D70);
static_assert(offsetof(SharedDeviceBlock, SerCharTimeout) == 0x1D74);
static_assert(offsetof(SharedDeviceBlock, SerCharWaitCount) == 0x1D78);
static_assert(offsetof(SharedDeviceBlock, EthOwnerSocket) == 0x1D7C);
static_assert(offsetof(SharedDeviceBlock, EthOwnerProcessId) == 0x1D80);
static_assert(offsetof(SharedDeviceBlock, SerialOwnerHandle) == 0x1D84);
static_assert(offsetof(SharedDeviceBlock, SerialOwnerProcessId) == 0x1D88);
static_assert(offsetof(SharedDeviceBlock, LinkUnsettled) == 0x1D8C);
static_assert(offsetof(SharedDeviceBlock, TransportUserPids) == 0x1D90);
static_assert(offsetof(SharedDeviceBlock, SerialAheadStart) == 0x1E10);
static_assert(offsetof(SharedDeviceBlock, SerialAhead) == 0x1E18);
static_assert(offsetof(SharedDeviceBlock, VbgOwnerProcessId) == 0x1ED8);
static_assert(offsetof(SharedDeviceBlock, VbgAreaTop) == 0x1EDC);
static_assert(offsetof(SharedDeviceBlock, SerialChecksumMode) == 0x1EE0);
static_assert(offsetof(SharedDeviceBlock, Unused1EE4) == 0x1EE4);
static_assert(offsetof(SharedDeviceBlock, TransportUserCount) == 0x1F00);
static_assert(offsetof(SharedDeviceBlock, MirrorCoordSysCount) == 0x1F04);
static_assert(offsetof(SharedDeviceBlock, MirrorMotorCount) == 0x1F08);
static_assert(offsetof(SharedDeviceBlock, HostRotaryMode) == 0x1F0C);

static_assert(sizeof(SharedDeviceTable) == kSharedTableSize);
static_assert(offsetof(SharedDeviceTable, TableSize) == kTableSizeOffset);
static_assert(offsetof(SharedDeviceTable, UserCount) == kUserCountOffset);
static_assert(offsetof(SharedDeviceTable, DriverServices) == kDriverServiceRecordsOffset);
static_assert(offsetof(SharedDeviceTable, DeviceConfigs) == kDeviceConfigBlocksOffset);
static_assert(offsetof(SharedDeviceTable, Devices) == kSharedDeviceBlocksOffset);
static_assert(offsetof(SharedDeviceTable, LanguageModule) == kLanguageModuleOffset);
static_assert(offsetof(SharedDeviceTable, UsRingData) == kUsRingDataOffset);
static_assert(offsetof(SharedDeviceTable, UsRingWrite) == kUsRingWriteOffset);
static_assert(offsetof(SharedDeviceTable, UsRingRead) == kUsRingReadOffset);
static_assert(offsetof(SharedDeviceTable, ChangeRingData) == kChangeRingDataOffset);
static_assert(offsetof(SharedDeviceTable, ChangeRingWrite) == kChangeRingWriteOffset);
static_assert(offsetof(SharedDeviceTable, ChangeRingRead) == kChangeRingReadOffset);
static_assert(offsetof(SharedDeviceTable, ServerProcessHandle) == kServerProcessHandleOffset);
static_assert(offsetof(SharedDeviceTable, ServerProcessId) == kServerProcessIdOffset);
static_assert(offsetof(SharedDeviceTable, Unused) == 0x1DFFC);
// Record n of each region at the stride the format gives.
static_assert(kDriverServiceRecordsOffset + kDeviceSlots * kDriverServiceRecordSize ==
              kDeviceConfigBlocksOffset);
static_assert(kDeviceConfigBlocksOffset + kRealDevices * kDeviceConfigBlockSize ==
              kSharedDeviceBlocksOffset);
static_assert(kSharedDeviceBlocksOffset + kDeviceSlots * kSharedDeviceBlockSize ==
              kLanguageModuleOffset);
// A mapped view is page aligned; a heap buffer from operator new is aligned
// to at least this.
static_assert(alignof(SharedDeviceTable) <= alignof(std::max_align_t));

}  // namespace zimo::corvan
