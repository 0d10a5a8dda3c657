// One socket between two processes that both may call: a client calls the
// server's objects, the server calls the client's sinks. Each side keeps a
// table of the objects it handed out (by id, with the number of references
// the other side holds) and proxies for the objects it was given.
//
// Nobody reads the socket on a thread of its own. The apartment's thread
// reads it when it has nothing to run; a thread waiting for a reply reads
// it itself (one waiter at a time; the others are woken when their replies
// come or when the reader leaves). Whoever reads hands calls to the
// apartment in the order they came and completes replies. A frame that
// does not parse closes this connection only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "apartment.h"
#include "automation/dispatch.h"
#include "platform/unix_socket.h"
#include "wire.h"

namespace zimo::automation::internal {

class RemoteObject;

// What a server offers to activation requests. Called on the apartment.
class ClassTable {
 public:
  virtual ~ClassTable() = default;
  virtual HRESULT CreateInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out) = 0;
};

class Connection : public wire::ObjectCodec, public std::enable_shared_from_this<Connection> {
 public:
  // Takes the socket and hands it to the apartment's reading. `classes` is
  // null on a client's side. `on_closed` runs once when the connection has
  // ended.
  static std::shared_ptr<Connection> Start(platform::UnixConnection socket,
                                           std::shared_ptr<Apartment> apartment,
                                           ClassTable* classes,
                                           std::function<void(Connection*)> on_closed = {});
  ~Connection() override;

  // Sends a request and waits for its reply body. RPC_E_DISCONNECTED when
  // the connection is or goes down before the reply.
  HRESULT Request(wire::Writer& w, wire::Kind kind, std::vector<uint8_t>* reply);
  // Sends a frame that has no reply.
  HRESULT Post(wire::Writer& w, wire::Kind kind);

  HRESULT CreateInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out);

  // Ends the connection now: the peer sees end of stream, calls in flight
  // fail, the objects the peer held are released.
  void Close();
  // Waits until the clean-up after the end has run.
  void WaitClosed();
  bool closed() const { return closed_.load(std::memory_order_acquire); }

  // The apartment found the socket readable.
  void ReadFromApartment();

  // ObjectCodec.
  void WriteObject(wire::Writer& w, const std::shared_ptr<Dispatch>& object) override;
  bool ReadObject(wire::Reader& r, std::shared_ptr<Dispatch>* object) override;

  // A proxy of this connection went away holding `count` references.
  void ProxyGone(uint32_t id, uint32_t count);

 private:
  Connection(platform::UnixConnection socket, std::shared_ptr<Apartment> apartment,
             ClassTable* classes, std::function<void(Connection*)> on_closed);

  void WaitForReply(PendingCall& call);
  // With read_mu_ held: takes what the socket has and handles every whole
  // frame. False once the connection has ended.
  bool ReadAvailable();
  // With read_mu_ released: lets a caller that left the reading to someone
  // else take it up again.
  void WakeWaiters();
  // Whether the apartment watches the socket: while no caller reads it, on
  // a server's side always, on a client's side while the server holds
  // objects of the client (sinks it may call).
  void UpdateWatch();
  // False when the frame is malformed. `body` is the reader's buffer: what
  // must outlive the call (a reply's body) is copied out of it.
  bool Dispatch(const wire::Header& h, const uint8_t* body);
  bool HandleRequest(const wire::Header& h, const uint8_t* body);
  void Hand(Apartment::Task&& task);
  HRESULT SendFrame(std::vector<uint8_t>& frame);
  void Reply(wire::Writer& w, uint32_t call_id);
  std::shared_ptr<automation::Dispatch> FindExport(uint32_t id);
  void ReleaseExport(uint32_t id, uint32_t count);
  void DropExport(uint32_t id, uint32_t count);
  void End(const char* why);

  platform::UnixConnection socket_;
  std::shared_ptr<Apartment> apartment_;
  ClassTable* classes_;
  std::function<void(Connection*)> on_closed_;
  uint64_t watch_id_ = 0;

  std::mutex send_mu_;
  std::atomic<bool> closed_{false};

  std::mutex watch_mu_;
  bool caller_reads_ = false;
  bool watched_ = false;
  std::atomic<size_t> export_count_{0};

  // The reader's: the socket's read side and the bytes not yet handled.
  std::mutex read_mu_;
  std::vector<uint8_t> buf_;
  size_t begin_ = 0;
  size_t end_ = 0;

  std::mutex calls_mu_;
  std::unordered_map<uint32_t, std::shared_ptr<PendingCall>> calls_;
  uint32_t next_call_ = 1;

  struct Export {
    std::shared_ptr<automation::Dispatch> object;
    uint32_t refs = 0;
  };
  std::mutex objects_mu_;
  std::unordered_map<uint32_t, Export> exports_;
  std::unordered_map<const automation::Dispatch*, uint32_t> export_ids_;
  uint32_t next_export_ = 1;
  std::unordered_map<uint32_t, std::weak_ptr<RemoteObject>> imports_;

  std::atomic<bool> ending_{false};
  std::mutex done_mu_;
  std::condition_variable done_cv_;
  bool ended_ = false;
};

}  // namespace zimo::automation::internal
