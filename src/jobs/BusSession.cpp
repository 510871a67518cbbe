// The bus session: one mutex for the process and the thread that holds it.
#include "BusSession.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace {

std::mutex sessionMutex;
// Written only by the holder, read by anyone who checks: atomic so that the check needs no lock.
std::atomic<std::thread::id> holder;

}

namespace BusSession {

Lock::Lock() : held_(false)
{
    // A second lock on the same thread would be undefined for the mutex; it is refused instead.
    if (holder.load() == std::this_thread::get_id())
        return;
    held_ = sessionMutex.try_lock();
    if (held_)
        holder.store(std::this_thread::get_id());
}

Lock::~Lock()
{
    if (!held_)
        return;
    holder.store(std::thread::id());
    sessionMutex.unlock();
}

bool usableHere()
{
    const std::thread::id id = holder.load();
    return id == std::thread::id() || id == std::this_thread::get_id();
}

}
