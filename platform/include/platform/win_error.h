// The one place where an errno becomes a Win32 error number (what
// GetLastError would give) or a Windows Sockets error number (what
// WSAGetLastError would give). The library's texts and prompts test these
// numbers, so the choice for each errno is made here once.
#pragma once

#include <cstdint>

#include "platform/status.h"

namespace zimo::platform {

// Win32 error numbers (what GetLastError gives and what the registry and
// service calls return); the only Windows error namespace besides wsa.
namespace win32 {
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidFunction = 1;  // the device has no such operation
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBrokenPipe = 109;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorDirNotEmpty = 145;
inline constexpr uint32_t kErrorBadPathname = 161;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorFileTooLarge = 223;
inline constexpr uint32_t kErrorMoreData = 234;
// WAIT_TIMEOUT: what the wait functions return when their time-out passes.
// It is a wait result, not what a failed call leaves behind: a call that
// failed with ETIMEDOUT reports kErrorTimeout.
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorAbandonedWait0 = 735;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorNoAccess = 998;     // bad memory address
inline constexpr uint32_t kErrorBadDb = 1009;       // the registry file is corrupt
inline constexpr uint32_t kErrorCantRead = 1012;    // the registry file could not be read
inline constexpr uint32_t kErrorCantWrite = 1013;   // the registry file could not be written
inline constexpr uint32_t kErrorKeyDeleted = 1018;  // the handle's key was deleted
inline constexpr uint32_t kErrorInvalidServiceControl = 1052;
inline constexpr uint32_t kErrorServiceRequestTimeout = 1053;
inline constexpr uint32_t kErrorServiceDatabaseLocked = 1055;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorInvalidServiceAccount = 1057;
inline constexpr uint32_t kErrorServiceDisabled = 1058;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceCannotAcceptControl = 1061;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorInvalidServiceLock = 1071;
inline constexpr uint32_t kErrorServiceMarkedForDelete = 1072;
inline constexpr uint32_t kErrorServiceExists = 1073;
inline constexpr uint32_t kErrorIoDevice = 1117;
inline constexpr uint32_t kErrorNoSystemResources = 1450;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kErrorCantResolveFilename = 1921;
}  // namespace win32

// Windows Sockets error numbers.
namespace wsa {
inline constexpr int kEIntr = 10004;
inline constexpr int kEBadF = 10009;
inline constexpr int kEAcces = 10013;
inline constexpr int kEFault = 10014;
inline constexpr int kEInval = 10022;
inline constexpr int kEMFile = 10024;
inline constexpr int kEWouldBlock = 10035;
inline constexpr int kEInProgress = 10036;
inline constexpr int kEAlready = 10037;
inline constexpr int kENotSock = 10038;
inline constexpr int kEDestAddrReq = 10039;
inline constexpr int kEMsgSize = 10040;
inline constexpr int kEPrototype = 10041;
inline constexpr int kENoProtoOpt = 10042;
inline constexpr int kEProtoNoSupport = 10043;
inline constexpr int kESocktNoSupport = 10044;
inline constexpr int kEOpNotSupp = 10045;
inline constexpr int kEPfNoSupport = 10046;
inline constexpr int kEAfNoSupport = 10047;
inline constexpr int kEAddrInUse = 10048;
inline constexpr int kEAddrNotAvail = 10049;
inline constexpr int kENetDown = 10050;
inline constexpr int kENetUnreach = 10051;
inline constexpr int kENetReset = 10052;
inline constexpr int kEConnAborted = 10053;
inline constexpr int kEConnReset = 10054;
inline constexpr int kENoBufs = 10055;
inline constexpr int kEIsConn = 10056;
inline constexpr int kENotConn = 10057;
inline constexpr int kEShutdown = 10058;
inline constexpr int kETimedOut = 10060;
inline constexpr int kEConnRefused = 10061;
inline constexpr int kEHostDown = 10064;
inline constexpr int kEHostUnreach = 10065;
inline constexpr int kNotInitialised = 10093;
// An errno without a Windows Sockets counterpart.
inline constexpr int kSysCallFailure = 10107;
}  // namespace wsa

// errno -> Win32 error number. 0 stays 0; an errno without a counterpart
// gives kErrorGenFailure. Network errnos give the Windows Sockets number, as
// GetLastError does after a failed socket call on Windows.
uint32_t Win32ErrorFromErrno(int err);

// The Win32 number of a failed platform call: from its errno when it has one,
// else from its code (kTimeout -> kErrorTimeout, kNotFound ->
// kErrorFileNotFound, ...). Ok gives kErrorSuccess.
uint32_t Win32ErrorFromStatus(const Status& status);

// Which socket call failed: the same errno means different things.
enum class SocketCall {
  kOther,
  // recv/recvfrom on a blocking socket: EAGAIN/EWOULDBLOCK can only mean that
  // the receive time-out passed, which Windows reports as WSAETIMEDOUT.
  kReceive,
};

// errno -> Windows Sockets error number. Chosen as the library sees them on
// Windows: a refused or reset peer is WSAECONNRESET (that is what a datagram
// socket reports after the card's port was unreachable, and what the
// library's teardown tests for), a receive time-out is WSAETIMEDOUT. 0 stays
// 0; an errno without a counterpart gives kSysCallFailure.
int WsaErrorFromErrno(int err, SocketCall call = SocketCall::kOther);

// The Windows Sockets number of a failed socket call (0 when ok).
int WsaErrorFromStatus(const Status& status, SocketCall call = SocketCall::kOther);

// "WSAETIMEDOUT" for 10060 and so on; "WSA error" for a number not listed.
const char* WsaErrorName(int wsa_error);

}  // namespace zimo::platform
