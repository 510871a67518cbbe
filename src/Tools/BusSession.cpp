// The bus session: one mutex for the process and the thread that holds it, and the interface's
// lock while the master works on a real interface.
#include "BusSession.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "InterfaceLock.h"
#include "eclink.h"
#include "rawsocket.h"

namespace {

std::mutex sessionMutex;
// Written only by the holder, read by anyone who checks: atomic so that the check needs no lock.
std::atomic<std::thread::id> holder;

const QString kBusy = QStringLiteral("Another job is using the bus. Try again when it has ended.");

}

namespace BusSession {

Lock::Lock()
{
    // A thread that holds the session may take it again (a command that holds the bus runs a
    // job that takes it too); only the outermost lock owns the mutex and gives it back.
    if (holder.load() == std::this_thread::get_id()) {
        held_ = true;
        return;
    }
    session_ = sessionMutex.try_lock();
    if (!session_) {
        refusal_ = kBusy;
        return;
    }
    holder.store(std::this_thread::get_id());
    held_ = true;
}

Lock::Lock(const QString& eth)
    : Lock()
{
    if (!held_ || !needsInterfaceLock(eth))
        return;
    // The session first: the interface is asked for only by the one thread that may use it.
    interface_ = std::make_unique<InterfaceLock>(eth);
    if (interface_->held())
        return;
    refusal_ = interface_->refusal();
    release();
}

Lock::~Lock()
{
    release();
}

void Lock::release()
{
    held_ = false;
    interface_.reset();
    if (!session_)
        return;
    session_ = false;
    holder.store(std::thread::id());
    sessionMutex.unlock();
}

bool heldHere()
{
    return holder.load() == std::this_thread::get_id();
}

bool rawSocketInUse()
{
    // The link table is copied on installation: its functions, not its address, tell which it is.
    return ec_link()->open == ec_rawsocket_link()->open;
}

bool needsInterfaceLock(const QString& eth)
{
    return rawSocketInUse() && InterfaceLock::nameProblem(eth).isEmpty();
}

}
