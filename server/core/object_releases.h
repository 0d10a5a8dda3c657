// The server's objects go on the serving thread only: their destructors
// give back device locks that thread took for their clients and close
// cards for them. A reference dropped last on another thread (a download
// worker that was firing one of the object's events when its client let
// go) hands the object to the serving thread instead of destroying it
// there.
#pragma once

#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "automation/dispatch.h"
#include "automation/local_server.h"

namespace zimo::server {

class ObjectReleases : public std::enable_shared_from_this<ObjectReleases> {
 public:
  // The calling thread is the one that serves `server`.
  explicit ObjectReleases(automation::LocalServer* server);

  // A new object whose last reference, wherever it goes, destroys it on
  // the serving thread.
  template <typename T, typename... Args>
  std::shared_ptr<T> Make(Args&&... args) {
    std::weak_ptr<ObjectReleases> self = weak_from_this();
    return std::shared_ptr<T>(new T(std::forward<Args>(args)...),
                              [self](automation::Dispatch* object) { Release(self, object); });
  }

  // On the serving thread: destroys the objects handed over so far (the
  // shutdown's, once nothing else can drop a reference).
  void DestroyHandedOver();
  // The server goes: nothing is posted to it any more; objects handed over
  // wait for DestroyHandedOver.
  void Detach();

 private:
  static void Release(const std::weak_ptr<ObjectReleases>& self, automation::Dispatch* object);
  void HandOver(automation::Dispatch* object);

  const std::thread::id serving_;
  std::mutex mu_;
  automation::LocalServer* server_;
  std::vector<automation::Dispatch*> handed_over_;
};

}  // namespace zimo::server
