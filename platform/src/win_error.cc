#include "platform/win_error.h"

#include <cerrno>

namespace zimo::platform {

namespace {

// errno values that name a socket condition; 0 when `err` is none of them.
int SocketOnlyError(int err) {
  // clang-format off
  switch (err) {
    case EINPROGRESS: return wsa::kEInProgress;
    case EALREADY: return wsa::kEAlready;
    case ENOTSOCK: return wsa::kENotSock;
    case EDESTADDRREQ: return wsa::kEDestAddrReq;
    case EMSGSIZE: return wsa::kEMsgSize;
    case EPROTOTYPE: return wsa::kEPrototype;
    case ENOPROTOOPT: return wsa::kENoProtoOpt;
    case EPROTONOSUPPORT: return wsa::kEProtoNoSupport;
    case ESOCKTNOSUPPORT: return wsa::kESocktNoSupport;
    case EPFNOSUPPORT: return wsa::kEPfNoSupport;
    case EAFNOSUPPORT: return wsa::kEAfNoSupport;
    case EADDRINUSE: return wsa::kEAddrInUse;
    case EADDRNOTAVAIL: return wsa::kEAddrNotAvail;
    case ENETDOWN: return wsa::kENetDown;
    case ENETUNREACH: return wsa::kENetUnreach;
    case ENETRESET: return wsa::kENetReset;
    case ECONNABORTED: return wsa::kEConnAborted;
    // A refused peer is reported as a reset: a datagram socket whose peer port
    // was unreachable reports WSAECONNRESET on Windows, and the library's
    // teardown of a lost card tests for that number.
    case ECONNREFUSED:
    case ECONNRESET: return wsa::kEConnReset;
    case EISCONN: return wsa::kEIsConn;
    case ENOTCONN: return wsa::kENotConn;
    case ESHUTDOWN: return wsa::kEShutdown;
    case EHOSTDOWN: return wsa::kEHostDown;
    case EHOSTUNREACH: return wsa::kEHostUnreach;
    default: return 0;
  }
  // clang-format on
}

}  // namespace

uint32_t Win32ErrorFromErrno(int err) {
  if (int socket_error = SocketOnlyError(err); socket_error != 0) {
    return static_cast<uint32_t>(socket_error);
  }
  // clang-format off
  switch (err) {
    case 0: return win32::kErrorSuccess;
    case ENOENT:
    case ENXIO:    // a device node whose device is not there
    case ENODEV: return win32::kErrorFileNotFound;
    case ENOTDIR: return win32::kErrorPathNotFound;
    case EMFILE:
    case ENFILE: return win32::kErrorTooManyOpenFiles;
    case EPERM:
    case EACCES:
    case EISDIR: return win32::kErrorAccessDenied;
    case EBADF: return win32::kErrorInvalidHandle;
    case ENOMEM: return win32::kErrorNotEnoughMemory;
    case ENOBUFS: return win32::kErrorNoSystemResources;
    case EROFS: return win32::kErrorWriteProtect;
    case ETXTBSY: return win32::kErrorSharingViolation;
    case ENOTTY: return win32::kErrorInvalidFunction;
    case ENOSYS:
    case EOPNOTSUPP: return win32::kErrorNotSupported;
    case EINVAL: return win32::kErrorInvalidParameter;
    case EPIPE: return win32::kErrorBrokenPipe;
    case ENOSPC:
    case EDQUOT: return win32::kErrorDiskFull;
    case ERANGE: return win32::kErrorInsufficientBuffer;
    case ENOTEMPTY: return win32::kErrorDirNotEmpty;
    case EBUSY: return win32::kErrorBusy;
    case EEXIST: return win32::kErrorAlreadyExists;
    case ENAMETOOLONG: return win32::kErrorFilenameExcedRange;
    case EFBIG: return win32::kErrorFileTooLarge;
    case EINTR:
    case ECANCELED: return win32::kErrorOperationAborted;
    case EFAULT: return win32::kErrorNoAccess;
    case EIO: return win32::kErrorIoDevice;
    case ETIMEDOUT: return win32::kErrorTimeout;
    case ELOOP: return win32::kErrorCantResolveFilename;
    default: return win32::kErrorGenFailure;
  }
  // clang-format on
}

uint32_t Win32ErrorFromStatus(const Status& status) {
  switch (status.code()) {
    case Code::kOk:
      return win32::kErrorSuccess;
    case Code::kTimeout:
      return win32::kErrorTimeout;
    default:
      break;
  }
  if (status.os_error() != 0) return Win32ErrorFromErrno(status.os_error());
  switch (status.code()) {
    case Code::kInvalidArgument:
      return win32::kErrorInvalidParameter;
    case Code::kNotFound:
      return win32::kErrorFileNotFound;
    case Code::kAlreadyExists:
      return win32::kErrorAlreadyExists;
    case Code::kAbandoned:
      return win32::kErrorAbandonedWait0;
    case Code::kBadData:
      return win32::kErrorInvalidData;
    case Code::kClosed:
      return win32::kErrorBrokenPipe;
    case Code::kUnsupported:
      return win32::kErrorNotSupported;
    default:
      return win32::kErrorGenFailure;
  }
}

int WsaErrorFromErrno(int err, SocketCall call) {
  if (int socket_error = SocketOnlyError(err); socket_error != 0) return socket_error;
  // clang-format off
  switch (err) {
    case 0: return 0;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      // Our sockets block; EAGAIN from a receive is the SO_RCVTIMEO expiry.
      return call == SocketCall::kReceive ? wsa::kETimedOut : wsa::kEWouldBlock;
    case ETIMEDOUT: return wsa::kETimedOut;
    case EINTR: return wsa::kEIntr;
    case EBADF: return wsa::kENotSock;  // what Windows says of a handle that is no socket
    case EPERM:
    case EACCES: return wsa::kEAcces;
    case EFAULT: return wsa::kEFault;
    case EINVAL: return wsa::kEInval;
    case EMFILE:
    case ENFILE: return wsa::kEMFile;
    case ENOBUFS:
    case ENOMEM: return wsa::kENoBufs;
    case EOPNOTSUPP: return wsa::kEOpNotSupp;
    case EPIPE: return wsa::kEConnReset;  // sending to a peer that has gone
    default: return wsa::kSysCallFailure;
  }
  // clang-format on
}

int WsaErrorFromStatus(const Status& status, SocketCall call) {
  switch (status.code()) {
    case Code::kOk:
      return 0;
    case Code::kTimeout:
      return wsa::kETimedOut;
    default:
      break;
  }
  if (status.os_error() != 0) return WsaErrorFromErrno(status.os_error(), call);
  switch (status.code()) {
    case Code::kInvalidArgument:
      return wsa::kEInval;
    case Code::kClosed:
      return wsa::kEConnReset;
    case Code::kUnsupported:
      return wsa::kEOpNotSupp;
    case Code::kBadData:
      return wsa::kEMsgSize;
    default:
      return wsa::kSysCallFailure;
  }
}

const char* WsaErrorName(int wsa_error) {
  // clang-format off
  switch (wsa_error) {
    case 0: return "no error";
    case wsa::kEIntr: return "WSAEINTR";
    case wsa::kEBadF: return "WSAEBADF";
    case wsa::kEAcces: return "WSAEACCES";
    case wsa::kEFault: return "WSAEFAULT";
    case wsa::kEInval: return "WSAEINVAL";
    case wsa::kEMFile: return "WSAEMFILE";
    case wsa::kEWouldBlock: return "WSAEWOULDBLOCK";
    case wsa::kEInProgress: return "WSAEINPROGRESS";
    case wsa::kEAlready: return "WSAEALREADY";
    case wsa::kENotSock: return "WSAENOTSOCK";
    case wsa::kEDestAddrReq: return "WSAEDESTADDRREQ";
    case wsa::kEMsgSize: return "WSAEMSGSIZE";
    case wsa::kEPrototype: return "WSAEPROTOTYPE";
    case wsa::kENoProtoOpt: return "WSAENOPROTOOPT";
    case wsa::kEProtoNoSupport: return "WSAEPROTONOSUPPORT";
    case wsa::kESocktNoSupport: return "WSAESOCKTNOSUPPORT";
    case wsa::kEOpNotSupp: return "WSAEOPNOTSUPP";
    case wsa::kEPfNoSupport: return "WSAEPFNOSUPPORT";
    case wsa::kEAfNoSupport: return "WSAEAFNOSUPPORT";
    case wsa::kEAddrInUse: return "WSAEADDRINUSE";
    case wsa::kEAddrNotAvail: return "WSAEADDRNOTAVAIL";
    case wsa::kENetDown: return "WSAENETDOWN";
    case wsa::kENetUnreach: return "WSAENETUNREACH";
    case wsa::kENetReset: return "WSAENETRESET";
    case wsa::kEConnAborted: return "WSAECONNABORTED";
    case wsa::kEConnReset: return "WSAECONNRESET";
    case wsa::kENoBufs: return "WSAENOBUFS";
    case wsa::kEIsConn: return "WSAEISCONN";
    case wsa::kENotConn: return "WSAENOTCONN";
    case wsa::kEShutdown: return "WSAESHUTDOWN";
    case wsa::kETimedOut: return "WSAETIMEDOUT";
    case wsa::kEConnRefused: return "WSAECONNREFUSED";
    case wsa::kEHostDown: return "WSAEHOSTDOWN";
    case wsa::kEHostUnreach: return "WSAEHOSTUNREACH";
    case wsa::kNotInitialised: return "WSANOTINITIALISED";
    case wsa::kSysCallFailure: return "WSASYSCALLFAILURE";
    default: return "WSA error";
  }
  // clang-format on
}

}  // namespace zimo::platform
