#include "core/Mutex.h"

#include <cstdlib>

namespace corvane {

PThreadMutex::PThreadMutex(PThreadMutexType type)
{
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0)
        std::abort();
    if (type == PThreadMutexType::recursive)
        pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    if (pthread_mutex_init(&unsafeMutex, &attributes) != 0)
        std::abort();
    pthread_mutexattr_destroy(&attributes);
}

PThreadMutex::~PThreadMutex()
{
    pthread_mutex_destroy(&unsafeMutex);
}

} // namespace corvane
