// The receive event on POSIX systems, laid out as the bridge libraries expect
// it. A library signals it by locking the mutex, setting signalled to 1,
// signalling the condition and unlocking. Some libraries signal the condition
// without touching the flag, so a waiter treats a condition signal alone as a
// signal too.
#pragma once

#include <pthread.h>

namespace platform {

struct PosixEvent {
  pthread_cond_t cond;
  pthread_mutex_t mutex;
  int signalled;
};

}  // namespace platform
