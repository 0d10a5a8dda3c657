#include "automation/local_server.h"

#include <system_error>

#include "apartment.h"
#include "connection.h"
#include "platform/debug.h"
#include "platform/home.h"

namespace zimo::automation {

std::filesystem::path ClassObjectPath(const Guid& clsid) {
  return platform::RunDir() / ("class-" + clsid.ToString());
}

class LocalServer::Classes : public internal::ClassTable {
 public:
  HRESULT CreateInstance(const Guid& clsid, std::shared_ptr<Dispatch>* out) override {
    Factory factory;
    {
      std::lock_guard lock(mu_);
      if (revoked_) return CO_E_SERVER_STOPPING;
      auto it = factories_.find(clsid);
      if (it == factories_.end()) return REGDB_E_CLASSNOTREG;
      factory = it->second;
    }
    return factory(out);
  }

  void Add(const Guid& clsid, Factory f) {
    std::lock_guard lock(mu_);
    factories_[clsid] = std::move(f);
    revoked_ = false;
  }
  std::vector<Guid> Revoke() {
    std::lock_guard lock(mu_);
    revoked_ = true;
    std::vector<Guid> out;
    for (auto& [clsid, f] : factories_) out.push_back(clsid);
    factories_.clear();
    return out;
  }

 private:
  std::mutex mu_;
  std::unordered_map<Guid, Factory, GuidHash> factories_;
  bool revoked_ = false;
};

LocalServer::LocalServer()
    : apartment_(std::make_shared<internal::Apartment>()), classes_(std::make_unique<Classes>()) {}

LocalServer::~LocalServer() { Shutdown(); }

platform::Status LocalServer::Listen(std::string_view name) {
  std::filesystem::path path = platform::RunDir() / (std::string(name) + ".sock");
  auto listener = platform::UnixListener::Listen(path);
  if (!listener.ok()) return listener.status();
  listener_ = std::move(*listener);
  socket_path_ = path;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return platform::Status::Ok();
}

void LocalServer::AcceptLoop() {
  for (;;) {
    auto conn = listener_.Accept();
    if (!conn.ok()) {
      if (conn.status().code() == platform::Code::kClosed || listener_.interrupted()) return;
      platform::DebugPrintf("automation: accept failed: %s\n", conn.status().ToString().c_str());
      continue;
    }
    std::lock_guard lock(mu_);
    if (shut_down_) return;
    // The connection leaves the list when it ends (its reader calls back).
    auto c = internal::Connection::Start(
        std::move(*conn), apartment_, classes_.get(), [this](internal::Connection* gone) {
          std::lock_guard lock(mu_);
          std::erase_if(connections_, [gone](const auto& x) { return x.get() == gone; });
        });
    connections_.push_back(std::move(c));
  }
}

size_t LocalServer::connection_count() const {
  std::lock_guard lock(mu_);
  return connections_.size();
}

platform::Status LocalServer::RegisterClassObject(const Guid& clsid, Factory factory) {
  if (!listener_.is_open()) {
    return platform::Status(platform::Code::kInvalidArgument, "register a class object: not listening");
  }
  classes_->Add(clsid, std::move(factory));
  // Replace any old link in one step, so a client never finds none while a
  // stale one is being swapped.
  std::filesystem::path link = ClassObjectPath(clsid);
  std::filesystem::path tmp = link;
  tmp += ".new";
  std::error_code ec;
  std::filesystem::remove(tmp, ec);
  std::filesystem::create_symlink(socket_path_.filename(), tmp, ec);
  if (!ec) std::filesystem::rename(tmp, link, ec);
  if (ec) {
    return platform::Status(platform::Code::kOsError,
                            "register the class object " + link.string() + ": " + ec.message(),
                            ec.value());
  }
  return platform::Status::Ok();
}

void LocalServer::RevokeClassObjects() {
  for (const Guid& clsid : classes_->Revoke()) {
    std::filesystem::path link = ClassObjectPath(clsid);
    std::error_code ec;
    // Only a link that still leads here is ours to take away.
    if (std::filesystem::read_symlink(link, ec) == socket_path_.filename() && !ec) {
      std::filesystem::remove(link, ec);
    }
  }
}

void LocalServer::Run() { apartment_->Run(); }

void LocalServer::Quit() { apartment_->Quit(); }

bool LocalServer::Post(std::function<void(bool run)> task) {
  return apartment_->Post(std::move(task));
}

void LocalServer::StopServing() { apartment_->Stop(); }

void LocalServer::Shutdown() {
  {
    std::lock_guard lock(mu_);
    if (shut_down_) return;
    shut_down_ = true;
  }
  apartment_->Stop();
  RevokeClassObjects();
  listener_.Interrupt();
  if (acceptor_.joinable()) acceptor_.join();
  listener_.Close();
  std::vector<std::shared_ptr<internal::Connection>> open;
  {
    std::lock_guard lock(mu_);
    open = connections_;
  }
  for (auto& c : open) c->Close();
  for (auto& c : open) c->WaitClosed();
}

}  // namespace zimo::automation
