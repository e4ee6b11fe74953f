#include "platform/recursive_lock.h"

#include <new>

#include <pthread.h>

namespace Korvel::Platform {
namespace {

pthread_mutex_t* Mutex(unsigned char* storage) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}

} // namespace

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 8);

RecursiveLock::RecursiveLock() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

RecursiveLock::~RecursiveLock() {
    pthread_mutex_destroy(Mutex(storage_));
}

void RecursiveLock::Lock() {
    pthread_mutex_lock(Mutex(storage_));
}

void RecursiveLock::Unlock() {
    pthread_mutex_unlock(Mutex(storage_));
}

} // namespace Korvel::Platform
