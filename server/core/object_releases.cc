#include "core/object_releases.h"

namespace zimo::server {

ObjectReleases::ObjectReleases(automation::LocalServer* server)
    : serving_(std::this_thread::get_id()), server_(server) {}

void ObjectReleases::Release(const std::weak_ptr<ObjectReleases>& self,
                             automation::Dispatch* object) {
  std::shared_ptr<ObjectReleases> releases = self.lock();
  // With the server gone there is no serving thread left to wait for.
  if (releases == nullptr || std::this_thread::get_id() == releases->serving_) {
    delete object;
    return;
  }
  releases->HandOver(object);
}

void ObjectReleases::HandOver(automation::Dispatch* object) {
  std::lock_guard lock(mu_);
  handed_over_.push_back(object);
  if (server_ == nullptr) return;
  // The task runs on the serving thread, or on the thread that stops the
  // serving (the same one); a refused post leaves the object for the
  // shutdown's DestroyHandedOver.
  std::weak_ptr<ObjectReleases> self = weak_from_this();
  (void)server_->Post([self](bool) {
    if (auto releases = self.lock()) releases->DestroyHandedOver();
  });
}

void ObjectReleases::DestroyHandedOver() {
  if (std::this_thread::get_id() != serving_) return;
  std::vector<automation::Dispatch*> objects;
  {
    std::lock_guard lock(mu_);
    objects.swap(handed_over_);
  }
  for (automation::Dispatch* o : objects) delete o;
}

void ObjectReleases::Detach() {
  std::lock_guard lock(mu_);
  server_ = nullptr;
}

}  // namespace zimo::server
