#include "platform/threads.h"

#include <pthread.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

// Owns a pthread attribute object for the span of one start.
class ThreadAttributes {
 public:
  ThreadAttributes() : valid_(::pthread_attr_init(&attributes_) == 0) {}
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;
  ~ThreadAttributes() {
    if (valid_) ::pthread_attr_destroy(&attributes_);
  }

  bool MakeDetached() {
    return valid_ && ::pthread_attr_setdetachstate(&attributes_, PTHREAD_CREATE_DETACHED) == 0;
  }
  const pthread_attr_t* Get() const { return &attributes_; }

 private:
  pthread_attr_t attributes_{};
  bool valid_;
};

void* RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return nullptr;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  if (!body) return false;
  ThreadAttributes attributes;
  if (!attributes.MakeDetached()) return false;
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  if (::pthread_create(&thread, attributes.Get(), RunBody, owned.get()) != 0) return false;
  owned.release();  // the thread owns it now
  return true;
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
