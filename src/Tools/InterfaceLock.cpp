// The interface lock: a lock file per interface, flock'd without waiting, and a table of the
// interfaces this process holds so that nested locks share one descriptor (flock would refuse a
// second descriptor of the same process as it refuses another program).
#include "InterfaceLock.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <net/if.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kLockDirectory[] = "/run/lock";
// Where the files go on a system without /run/lock: like it, open to every user for new files and
// sticky, so nobody removes another's file. Every program of this tool decides the same way, so
// they all meet in the same file.
const char kFallbackDirectory[] = "/tmp";
// Every user allowed to open the raw socket must be able to take the lock, whatever umask the
// first one ran with.
const mode_t kLockFileMode = 0666;

struct Held
{
    int fd;
    int count;
};

std::mutex tableMutex;
// Interface name to this process's descriptor of its lock file.
std::map<std::string, Held> table;

QString directory()
{
    struct stat st;
    if (stat(kLockDirectory, &st) == 0 && S_ISDIR(st.st_mode))
        return QString::fromLatin1(kLockDirectory);
    std::printf("%s does not exist: the interface lock is kept in %s\n", kLockDirectory,
        kFallbackDirectory);
    std::fflush(stdout);
    return QString::fromLatin1(kFallbackDirectory);
}

// Opens the lock file, never through a link, and leaves a new one open to all. Returns the
// descriptor, or -1 with `why` set.
int openLockFile(const QByteArray& path, QString& why)
{
    // O_NONBLOCK: a FIFO planted under the name must not hang the open; it is refused below.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    int fd = open(path.constData(), O_RDWR | O_CREAT | flags, kLockFileMode);
    // A file another user created in a sticky directory refuses O_CREAT on systems that protect
    // such files (fs.protected_regular), even where its mode would let this user in.
    if (fd < 0 && errno == EACCES)
        fd = open(path.constData(), O_RDWR | flags);
    // A file its creator kept to itself can still be locked, only not signed with our name.
    if (fd < 0 && errno == EACCES)
        fd = open(path.constData(), O_RDONLY | flags);
    if (fd < 0) {
        why = errno == ELOOP
            ? QStringLiteral("%1 is a symbolic link, not a lock file: remove it")
                  .arg(QString::fromLocal8Bit(path))
            : QStringLiteral("The lock file %1 cannot be opened: %2")
                  .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        why = QStringLiteral("%1 is not a lock file: remove it").arg(QString::fromLocal8Bit(path));
        return -1;
    }
    if (st.st_uid == geteuid() && (st.st_mode & 07777) != kLockFileMode)
        (void)fchmod(fd, kLockFileMode); // a file of another user stays as it is; locking works
    return fd;
}

// "zuvianctl (process 1234)" from the holder's record, or empty when it holds none that reads.
QString holderOf(int fd)
{
    char buffer[256];
    const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
    if (n <= 0)
        return QString();
    std::string record(buffer, size_t(n));
    record = record.substr(0, record.find('\n'));
    const size_t space = record.rfind(' ');
    if (space == std::string::npos || space == 0 || space + 1 == record.size())
        return QString();
    const std::string program = record.substr(0, space);
    const std::string pid = record.substr(space + 1);
    for (char c : pid) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return QString();
    }
    for (char c : program) {
        if (!std::isprint(static_cast<unsigned char>(c)))
            return QString();
    }
    return QStringLiteral("%1 (process %2)")
        .arg(QString::fromLocal8Bit(program.c_str()), QString::fromLatin1(pid.c_str()));
}

void record(int fd)
{
    char line[320];
    const int n = std::snprintf(
        line, sizeof line, "%s %ld\n", program_invocation_short_name, long(getpid()));
    // A holder that cannot sign the file (opened read-only) still holds it; the other program
    // then says "another program".
    if (ftruncate(fd, 0) != 0)
        return;
    (void)!pwrite(fd, line, size_t(n), 0);
}

}

QString InterfaceLock::nameProblem(const QString& eth)
{
    if (eth.isEmpty())
        return QStringLiteral("No network interface was chosen.");
    const QByteArray name = eth.toLocal8Bit();
    if (name.size() > IFNAMSIZ - 1)
        return QStringLiteral("\"%1\" is longer than a network interface name can be (%2 "
                              "characters).")
            .arg(eth)
            .arg(IFNAMSIZ - 1);
    bool allowed = name != "." && name != "..";
    for (char c : name) {
        if (c == '/' || c == ':' || std::isspace(static_cast<unsigned char>(c)) || c == '\0')
            allowed = false;
    }
    if (!allowed)
        return QStringLiteral("\"%1\" cannot name a network interface.").arg(eth);
    return QString();
}

QString InterfaceLock::path(const QString& eth)
{
    return directory() + QStringLiteral("/zuvian-") + eth + QStringLiteral(".lock");
}

InterfaceLock::InterfaceLock(const QString& eth)
    : eth_(eth)
{
    refusal_ = nameProblem(eth);
    if (!refusal_.isEmpty())
        return;
    const std::string key = eth.toStdString();
    std::lock_guard<std::mutex> guard(tableMutex);
    auto it = table.find(key);
    if (it != table.end()) {
        ++it->second.count;
        held_ = true;
        return;
    }
    const int fd = openLockFile(path(eth).toLocal8Bit(), refusal_);
    if (fd < 0)
        return;
    int locked;
    do
        locked = flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            const QString holder = holderOf(fd);
            refusal_ = holder.isEmpty()
                ? QStringLiteral("%1 is in use by another program.").arg(eth)
                : QStringLiteral("%1 is in use by %2").arg(eth, holder);
        } else {
            refusal_ = QStringLiteral("%1 could not be locked: %2")
                           .arg(eth, QString::fromLocal8Bit(std::strerror(error)));
        }
        close(fd);
        return;
    }
    record(fd);
    table[key] = Held{fd, 1};
    held_ = true;
}

InterfaceLock::~InterfaceLock()
{
    if (!held_)
        return;
    std::lock_guard<std::mutex> guard(tableMutex);
    auto it = table.find(eth_.toStdString());
    if (it == table.end() || --it->second.count > 0)
        return;
    // The record goes first, so that nobody reads a holder that has gone; closing unlocks.
    (void)!ftruncate(it->second.fd, 0);
    close(it->second.fd);
    table.erase(it);
}
