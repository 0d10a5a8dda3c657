#include "connection.h"

#include <poll.h>

#include <cstring>

#include "platform/debug.h"
#include "remote_object.h"

namespace zimo::automation::internal {

using wire::Kind;

namespace {

// At most this many interfaces travel with an object reference.
constexpr uint16_t kMaxInterfaces = 64;
// The read buffer's usual size; it grows for a bigger frame while that lasts.
constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

std::shared_ptr<Connection> Connection::Start(platform::UnixConnection socket,
                                              std::shared_ptr<Apartment> apartment,
                                              ClassTable* classes,
                                              std::function<void(Connection*)> on_closed) {
  std::shared_ptr<Connection> c(
      new Connection(std::move(socket), std::move(apartment), classes, std::move(on_closed)));
  c->watch_id_ = c->apartment_->Add(c);
  if (!c->apartment_->Register(c->watch_id_, c->socket_.fd())) {
    c->End("cannot watch the socket");  // calls on it fail at once
  } else {
    c->UpdateWatch();
  }
  return c;
}

Connection::Connection(platform::UnixConnection socket, std::shared_ptr<Apartment> apartment,
                       ClassTable* classes, std::function<void(Connection*)> on_closed)
    : socket_(std::move(socket)),
      apartment_(std::move(apartment)),
      classes_(classes),
      on_closed_(std::move(on_closed)),
      buf_(kReadChunk) {}

Connection::~Connection() {
  if (!ending_.load()) apartment_->Remove(watch_id_, socket_.fd());
}

void Connection::Close() { End(nullptr); }

void Connection::WaitClosed() {
  std::unique_lock lock(done_mu_);
  done_cv_.wait(lock, [this] { return ended_; });
}

// Once, by whoever finds the end (or is told to end it).
void Connection::End(const char* why) {
  if (ending_.exchange(true)) return;
  auto self = shared_from_this();  // on_closed may drop the last other reference
  if (why != nullptr) platform::DebugPrintf("automation: %s; closing the connection\n", why);
  socket_.Shutdown();
  closed_.store(true, std::memory_order_release);
  apartment_->Remove(watch_id_, socket_.fd());

  // Nobody may wait for this connection any more.
  std::unordered_map<uint32_t, std::shared_ptr<PendingCall>> calls;
  {
    std::lock_guard lock(calls_mu_);
    calls.swap(calls_);
  }
  for (auto& [id, call] : calls) call->Complete({}, RPC_E_DISCONNECTED);

  // The objects the peer held are released, on the apartment's thread when
  // it still runs.
  auto dropped = std::make_shared<std::unordered_map<uint32_t, Export>>();
  {
    std::lock_guard lock(objects_mu_);
    dropped->swap(exports_);
    export_ids_.clear();
    export_count_ = 0;
  }
  Apartment::Task drop = [dropped](bool) { dropped->clear(); };
  if (!apartment_->Post(std::move(drop))) dropped->clear();

  if (on_closed_) on_closed_(this);
  {
    std::lock_guard lock(done_mu_);
    ended_ = true;
  }
  done_cv_.notify_all();
}

// ---------------------------------------------------------------------------
// Reading

void Connection::ReadFromApartment() {
  // A caller that has just taken the reading stops the watch at once.
  if (!read_mu_.try_lock()) return;
  ReadAvailable();
  read_mu_.unlock();
  WakeWaiters();
}

void Connection::WakeWaiters() {
  if (closed()) return;
  std::vector<std::shared_ptr<WakeFd>> waiting;
  {
    std::lock_guard lock(calls_mu_);
    for (auto& [id, call] : calls_) {
      if (call->waiter != std::this_thread::get_id()) waiting.push_back(call->wake);
    }
  }
  for (auto& w : waiting) w->Wake();
}

void Connection::UpdateWatch() {
  std::lock_guard lock(watch_mu_);
  const bool want = !closed() && !caller_reads_ && (classes_ != nullptr || export_count_ > 0);
  if (want == watched_) return;
  apartment_->SetWatched(watch_id_, socket_.fd(), want);
  watched_ = want;
}

bool Connection::ReadAvailable() {
  if (closed()) return false;
  if (end_ == buf_.size()) {  // full: make room
    if (begin_ > 0) {
      std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    } else {
      buf_.resize(buf_.size() * 2);
    }
  }
  auto got = socket_.RecvSome(buf_.data() + end_, buf_.size() - end_, platform::Timeout(0));
  if (!got.ok()) {
    if (got.status().code() == platform::Code::kTimeout) return true;  // nothing yet
    End(nullptr);  // the peer has gone
    return false;
  }
  end_ += *got;
  while (end_ - begin_ >= wire::kHeaderSize) {
    wire::Header h;
    if (!wire::DecodeHeader(buf_.data() + begin_, &h)) {
      End("malformed frame header");
      return false;
    }
    const size_t frame = wire::kHeaderSize + h.length;
    if (end_ - begin_ < frame) {
      if (buf_.size() - begin_ < frame) {  // room for the whole frame
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        if (buf_.size() < frame) buf_.resize(frame);
      }
      break;
    }
    const uint8_t* body = buf_.data() + begin_ + wire::kHeaderSize;
    begin_ += frame;
    if (!Dispatch(h, body)) {
      End("malformed frame");
      return false;
    }
  }
  if (begin_ == end_) {
    begin_ = end_ = 0;
    if (buf_.size() > kReadChunk) buf_.assign(kReadChunk, 0);  // let a big frame's room go
  }
  return true;
}

// Calls go to the apartment in the order they were read (the reader holds
// read_mu_ while it hands them over).
void Connection::Hand(Apartment::Task&& task) {
  if (!apartment_->Post(std::move(task))) task(false);
}

bool Connection::Dispatch(const wire::Header& h, const uint8_t* body) {
  switch (h.kind) {
    case Kind::kReply: {
      std::shared_ptr<PendingCall> call;
      {
        std::lock_guard lock(calls_mu_);
        auto it = calls_.find(h.call_id);
        if (it == calls_.end()) return false;  // a reply to nothing we asked
        call = std::move(it->second);
        calls_.erase(it);
      }
      call->Complete(std::vector<uint8_t>(body, body + h.length), S_OK);
      return true;
    }
    case Kind::kRelease: {
      wire::Reader r(body, h.length);
      uint32_t id = r.U32();
      uint32_t count = r.U32();
      if (!r.ok() || !r.at_end() || count == 0) return false;
      Hand([self = shared_from_this(), id, count](bool) { self->ReleaseExport(id, count); });
      return true;
    }
    default:
      return HandleRequest(h, body);
  }
}

std::shared_ptr<automation::Dispatch> Connection::FindExport(uint32_t id) {
  std::lock_guard lock(objects_mu_);
  auto it = exports_.find(id);
  return it == exports_.end() ? nullptr : it->second.object;
}

void Connection::ReleaseExport(uint32_t id, uint32_t count) {
  DropExport(id, count);
  UpdateWatch();
}

void Connection::DropExport(uint32_t id, uint32_t count) {
  std::shared_ptr<automation::Dispatch> released;  // destroyed outside the lock
  std::lock_guard lock(objects_mu_);
  auto it = exports_.find(id);
  if (it == exports_.end()) return;
  if (count < it->second.refs) {
    it->second.refs -= count;
    return;
  }
  released = std::move(it->second.object);
  export_ids_.erase(released.get());
  exports_.erase(it);
  export_count_ = exports_.size();
}

// Requests are decoded here, on the reader thread, so that a malformed one
// is refused before anything runs; they execute on the apartment.
bool Connection::HandleRequest(const wire::Header& h, const uint8_t* body) {
  wire::Reader r(body, h.length, this);
  const uint32_t call_id = h.call_id;
  auto self = shared_from_this();
  Apartment::Task task;
  // What the reply says when the apartment no longer runs.
  auto refusal = [self, call_id](HRESULT hr, auto&& tail) {
    wire::Writer w(self.get());
    w.I32(hr);
    tail(w);
    self->Reply(w, call_id);
  };

  switch (h.kind) {
    case Kind::kCreateInstance: {
      Guid clsid = r.ReadGuid();
      if (!r.ok() || !r.at_end()) return false;
      task = [self, call_id, clsid, refusal](bool run) {
        if (!run) return refusal(CO_E_SERVER_STOPPING, [](wire::Writer& w) { w.U8(wire::kObjectNull); });
        std::shared_ptr<automation::Dispatch> object;
        HRESULT hr = self->classes_ != nullptr ? self->classes_->CreateInstance(clsid, &object)
                                               : REGDB_E_CLASSNOTREG;
        if (Succeeded(hr) && object == nullptr) hr = E_UNEXPECTED;
        wire::Writer w(self.get());
        w.I32(hr);
        if (Succeeded(hr)) {
          self->WriteObject(w, object);
        } else {
          w.U8(wire::kObjectNull);
        }
        self->Reply(w, call_id);
      };
      break;
    }
    case Kind::kInvoke: {
      uint32_t object_id = r.U32();
      DispId dispid = r.I32();
      uint16_t flags = r.U16();
      uint16_t argc = r.U16();
      if (!r.ok() || argc > r.remaining() / 2) return false;
      auto object = FindExport(object_id);
      if (object == nullptr) return false;
      struct Args {
        std::vector<Variant> values;
        std::vector<VarType> byref;  // VT_BYREF | kind, or VT_EMPTY for a plain value
      };
      auto args = std::make_shared<Args>();
      args->values.resize(argc);
      args->byref.resize(argc);
      for (uint16_t i = 0; i < argc; ++i) args->values[i] = r.ReadVariant(&args->byref[i]);
      if (!r.ok() || !r.at_end()) return false;
      task = [self, call_id, object, dispid, flags, args, refusal](bool run) {
        if (!run) {
          return refusal(RPC_E_SERVERCALL_REJECTED, [](wire::Writer& w) {
            w.WriteVariant(Variant());
            w.U16(0);
            w.WriteExcep({});
          });
        }
        // By-reference arguments point at the values that came, which the
        // reply then carries back.
        std::vector<Variant> call_args(args->values.size());
        uint16_t outs = 0;
        for (size_t i = 0; i < call_args.size(); ++i) {
          if (args->byref[i] != VT_EMPTY) {
            call_args[i] = Variant::ByRef(&args->values[i], args->byref[i]);
            ++outs;
          } else {
            call_args[i] = std::move(args->values[i]);
          }
        }
        Variant result;
        ExcepInfo excep;
        HRESULT hr = object->Invoke(dispid, flags, call_args, &result, &excep);
        call_args.clear();
        wire::Writer w(self.get());
        w.I32(hr);
        bool encoded = w.WriteVariant(result);
        w.U16(outs);
        for (size_t i = 0; encoded && i < args->values.size(); ++i) {
          if (args->byref[i] == VT_EMPTY) continue;
          w.U16(static_cast<uint16_t>(i));
          encoded = w.WriteVariant(args->values[i]);
        }
        w.WriteExcep(excep);
        if (!encoded) {
          // A value that cannot travel: the call's results are refused whole.
          wire::Writer refused(self.get());
          refused.I32(DISP_E_BADVARTYPE);
          refused.WriteVariant(Variant());
          refused.U16(0);
          refused.WriteExcep({});
          return self->Reply(refused, call_id);
        }
        self->Reply(w, call_id);
      };
      break;
    }
    case Kind::kGetIdOfName: {
      uint32_t object_id = r.U32();
      std::string name = r.ReadText();
      if (!r.ok() || !r.at_end()) return false;
      auto object = FindExport(object_id);
      if (object == nullptr) return false;
      task = [self, call_id, object, name, refusal](bool run) {
        if (!run) return refusal(RPC_E_SERVERCALL_REJECTED, [](wire::Writer& w) { w.I32(0); });
        DispId id = 0;
        HRESULT hr = object->GetIdOfName(name, &id);
        wire::Writer w(self.get());
        w.I32(hr);
        w.I32(id);
        self->Reply(w, call_id);
      };
      break;
    }
    case Kind::kAdvise: {
      uint32_t object_id = r.U32();
      Guid iid = r.ReadGuid();
      std::shared_ptr<automation::Dispatch> sink;
      if (!r.ok() || !ReadObject(r, &sink) || !r.at_end()) return false;
      auto object = FindExport(object_id);
      if (object == nullptr) return false;
      task = [self, call_id, object, iid, sink, refusal](bool run) {
        if (!run) return refusal(RPC_E_SERVERCALL_REJECTED, [](wire::Writer& w) { w.U32(0); });
        uint32_t cookie = 0;
        HRESULT hr = object->Advise(iid, sink, &cookie);
        wire::Writer w(self.get());
        w.I32(hr);
        w.U32(Succeeded(hr) ? cookie : 0);
        self->Reply(w, call_id);
      };
      break;
    }
    case Kind::kUnadvise: {
      uint32_t object_id = r.U32();
      Guid iid = r.ReadGuid();
      uint32_t cookie = r.U32();
      if (!r.ok() || !r.at_end()) return false;
      auto object = FindExport(object_id);
      if (object == nullptr) return false;
      task = [self, call_id, object, iid, cookie, refusal](bool run) {
        if (!run) return refusal(RPC_E_SERVERCALL_REJECTED, [](wire::Writer&) {});
        HRESULT hr = object->Unadvise(iid, cookie);
        wire::Writer w(self.get());
        w.I32(hr);
        self->Reply(w, call_id);
      };
      break;
    }
    default:
      return false;
  }
  Hand(std::move(task));
  return true;
}

// ---------------------------------------------------------------------------
// Writing

HRESULT Connection::SendFrame(std::vector<uint8_t>& frame) {
  if (closed()) return RPC_E_DISCONNECTED;
  platform::Status s;
  {
    std::lock_guard lock(send_mu_);
    s = socket_.SendAll(frame.data(), frame.size());
  }
  if (!s.ok()) {
    End(nullptr);
    return RPC_E_DISCONNECTED;
  }
  return S_OK;
}

void Connection::Reply(wire::Writer& w, uint32_t call_id) {
  SendFrame(w.Finish(Kind::kReply, call_id));
}

HRESULT Connection::Post(wire::Writer& w, Kind kind) { return SendFrame(w.Finish(kind, 0)); }

HRESULT Connection::Request(wire::Writer& w, Kind kind, std::vector<uint8_t>* reply) {
  if (closed()) return RPC_E_DISCONNECTED;
  auto call = std::make_shared<PendingCall>();
  call->wake = CurrentWake();
  call->waiter = std::this_thread::get_id();
  uint32_t id = 0;
  {
    std::lock_guard lock(calls_mu_);
    id = next_call_++;
    if (next_call_ == 0) next_call_ = 1;
    calls_[id] = call;
  }
  // The end fails every registered call; one registered after it sees
  // closed() here.
  HRESULT hr = closed() ? RPC_E_DISCONNECTED : SendFrame(w.Finish(kind, id));
  if (Failed(hr)) {
    std::lock_guard lock(calls_mu_);
    calls_.erase(id);
    return hr;
  }
  WaitForReply(*call);
  if (Failed(call->failure)) return call->failure;
  *reply = std::move(call->reply);
  return S_OK;
}

void Connection::WaitForReply(PendingCall& call) {
  Apartment* own = Apartment::Current();
  auto done = [&call] { return call.done.load(std::memory_order_acquire); };
  if (own == apartment_.get()) {
    // The apartment's thread reads this connection with all its others and
    // runs the calls that arrive meanwhile.
    own->Loop(done);
    return;
  }
  // Any other thread reads this connection itself, unless another waiter
  // does; a thread that runs another apartment keeps that one going too.
  bool reading = false;
  while (!done()) {
    if (own != nullptr && own->RunOneTask()) continue;
    if (!reading && !closed()) {
      reading = read_mu_.try_lock();
      if (reading) {
        // While this thread reads, the apartment need not wake for the socket.
        {
          std::lock_guard lock(watch_mu_);
          caller_reads_ = true;
        }
        UpdateWatch();
      }
    }
    pollfd fds[3];
    int n = 0;
    fds[n++] = {call.wake->fd(), POLLIN, 0};
    const int socket_at = reading ? n++ : -1;
    if (socket_at >= 0) fds[socket_at] = {socket_.fd(), POLLIN, 0};
    const int apartment_at = own != nullptr ? n++ : -1;
    if (apartment_at >= 0) fds[apartment_at] = {own->epoll_fd(), POLLIN, 0};
    if (done()) break;
    if (::poll(fds, n, -1) < 0) continue;  // EINTR
    if (fds[0].revents != 0) call.wake->Drain();
    if (socket_at >= 0 && fds[socket_at].revents != 0) ReadAvailable();
    if (apartment_at >= 0 && fds[apartment_at].revents != 0) own->PollOnce(0);
  }
  if (reading) {
    read_mu_.unlock();
    {
      std::lock_guard lock(watch_mu_);
      caller_reads_ = false;
    }
    UpdateWatch();
    WakeWaiters();
  }
}

HRESULT Connection::CreateInstance(const Guid& clsid, std::shared_ptr<automation::Dispatch>* out) {
  wire::Writer w(this);
  w.WriteGuid(clsid);
  std::vector<uint8_t> reply;
  HRESULT hr = Request(w, Kind::kCreateInstance, &reply);
  if (Failed(hr)) return hr;
  wire::Reader r(reply.data(), reply.size(), this);
  hr = r.I32();
  std::shared_ptr<automation::Dispatch> object;
  bool read = ReadObject(r, &object);
  if (!read || !r.ok() || !r.at_end()) {
    Close();
    return RPC_E_INVALID_DATA;
  }
  if (Succeeded(hr) && object == nullptr) return E_UNEXPECTED;
  *out = std::move(object);
  return hr;
}

// ---------------------------------------------------------------------------
// Objects

void Connection::WriteObject(wire::Writer& w, const std::shared_ptr<automation::Dispatch>& object) {
  if (object == nullptr) {
    w.U8(wire::kObjectNull);
    return;
  }
  if (const auto* proxy = dynamic_cast<const RemoteObject*>(object.get());
      proxy != nullptr && proxy->connection() == this) {
    w.U8(wire::kObjectOfReceiver);  // the peer's own object goes home
    w.U32(proxy->id());
    return;
  }
  uint32_t id = 0;
  {
    std::lock_guard lock(objects_mu_);
    auto it = export_ids_.find(object.get());
    if (it != export_ids_.end()) {
      id = it->second;
      ++exports_[id].refs;
    } else {
      id = next_export_++;
      exports_[id] = Export{object, 1};
      export_ids_[object.get()] = id;
    }
    export_count_ = exports_.size();
  }
  UpdateWatch();
  std::vector<Guid> interfaces = object->Interfaces();
  if (interfaces.size() > kMaxInterfaces) interfaces.resize(kMaxInterfaces);
  w.U8(wire::kObjectOfSender);
  w.U32(id);
  w.U16(static_cast<uint16_t>(interfaces.size()));
  for (const Guid& g : interfaces) w.WriteGuid(g);
}

bool Connection::ReadObject(wire::Reader& r, std::shared_ptr<automation::Dispatch>* object) {
  uint8_t tag = r.U8();
  if (!r.ok()) return false;
  if (tag == wire::kObjectNull) {
    object->reset();
    return true;
  }
  uint32_t id = r.U32();
  if (tag == wire::kObjectOfReceiver) {
    *object = FindExport(id);
    return r.ok() && *object != nullptr;
  }
  if (tag != wire::kObjectOfSender) return false;
  uint16_t n = r.U16();
  if (!r.ok() || n > kMaxInterfaces) return false;
  std::vector<Guid> interfaces(n);
  for (Guid& g : interfaces) g = r.ReadGuid();
  if (!r.ok()) return false;
  std::lock_guard lock(objects_mu_);
  std::weak_ptr<RemoteObject>& slot = imports_[id];
  if (auto proxy = slot.lock()) {
    proxy->AddReference();
    *object = std::move(proxy);
  } else {
    auto fresh = std::make_shared<RemoteObject>(shared_from_this(), id, std::move(interfaces));
    slot = fresh;
    *object = std::move(fresh);
  }
  return true;
}

void Connection::ProxyGone(uint32_t id, uint32_t count) {
  {
    std::lock_guard lock(objects_mu_);
    auto it = imports_.find(id);
    // A newer proxy of the same object keeps the entry.
    if (it != imports_.end() && it->second.expired()) imports_.erase(it);
  }
  if (closed()) return;
  wire::Writer w;
  w.U32(id);
  w.U32(count);
  Post(w, Kind::kRelease);
}

}  // namespace zimo::automation::internal
