// Thread rules the compiler checks. A member that a mutex guards says so
// with GUARDED_BY(mutex_), a function that must be called with it held with
// REQUIRES(mutex_), and one that takes it itself (and so must not be called
// with it held) with EXCLUDES(mutex_). Clang's thread-safety analysis
// (`make check-threads`: -Wthread-safety as an error) then proves every
// access; other compilers read the annotations as nothing.
//
// `Mutex` is std::mutex with the annotations; `MutexLock` holds one for its
// scope, may let it go early (to call back outside the lock) and waits on
// condition variables. Waits take no predicate: the analysis cannot see
// that a predicate runs with the lock held, so callers loop:
//   while (!ready_) hold.wait(changed_);
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define LUMENVALE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LUMENVALE_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) LUMENVALE_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY LUMENVALE_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) LUMENVALE_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) LUMENVALE_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) LUMENVALE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) LUMENVALE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) LUMENVALE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) LUMENVALE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) LUMENVALE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(x) LUMENVALE_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS LUMENVALE_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace lumenvale {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  // tryLock takes the mutex only if it is free.
  bool tryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // unlock lets the mutex go before the scope ends; lock takes it again.
  void unlock() RELEASE() { lock_.unlock(); }
  void lock() ACQUIRE() { lock_.lock(); }

  // wait lets the mutex go until `changed` is notified (or wakes
  // spuriously) and takes it again before returning.
  void wait(std::condition_variable& changed) { changed.wait(lock_); }
  // waitUntil does the same, returning false once `deadline` has passed.
  template <class Clock, class Duration>
  bool waitUntil(std::condition_variable& changed, const std::chrono::time_point<Clock, Duration>& deadline) {
    return changed.wait_until(lock_, deadline) == std::cv_status::no_timeout;
  }
  template <class Rep, class Period>
  bool waitFor(std::condition_variable& changed, const std::chrono::duration<Rep, Period>& longest) {
    return changed.wait_for(lock_, longest) == std::cv_status::no_timeout;
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace lumenvale
