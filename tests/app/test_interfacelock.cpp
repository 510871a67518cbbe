// The interface lock on the real lock directory: which names may become a lock file, what the
// holder records, what a second holder meets, and that only a session on the raw socket asks for
// it. "Another program" is played by a descriptor of the test's own: flock tells holders apart by
// their open file, not by their process.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BusSession.h"
#include "InterfaceLock.h"
#include "eclink.h"
#include "requires.h"
#include "simbus.h"

namespace {

// An interface name of this test run's own, so that runs side by side meet no one's lock file.
QString ownName(const char* suffix)
{
    return QStringLiteral("zo%1%2").arg(getpid() % 100000).arg(QLatin1String(suffix));
}

// The lock file of `eth`, removed before and after the test.
class LockFile
{
public:
    explicit LockFile(const QString& eth)
        : path_(InterfaceLock::path(eth).toStdString())
    {
        unlink(path_.c_str());
    }
    ~LockFile()
    {
        if (fd_ >= 0)
            close(fd_);
        unlink(path_.c_str());
    }

    const char* path() const { return path_.c_str(); }
    std::string content() const
    {
        char buffer[256];
        const int fd = open(path_.c_str(), O_RDONLY);
        const ssize_t n = fd < 0 ? -1 : read(fd, buffer, sizeof buffer);
        if (fd >= 0)
            close(fd);
        return n < 0 ? std::string("<unreadable>") : std::string(buffer, size_t(n));
    }
    // Holds the file as another program does, with `record` in it. False when it is held already.
    bool holdAs(const std::string& record)
    {
        fd_ = open(path_.c_str(), O_RDWR | O_CREAT, 0600);
        if (fd_ < 0 || flock(fd_, LOCK_EX | LOCK_NB) != 0)
            return false;
        return ftruncate(fd_, 0) == 0
            && write(fd_, record.data(), record.size()) == ssize_t(record.size());
    }
    void letGo()
    {
        close(fd_);
        fd_ = -1;
    }

private:
    std::string path_;
    int fd_ = -1;
};

}

TEST(InterfaceLock, NamesThatCannotNameAnInterfaceMakeNoFile)
{
    const struct
    {
        const char* name;
        bool valid;
    } cases[] = {
        {"eth0", true},
        {"enp0s31f6", true},
        {"zuvian0", true},
        {"...", true},
        {"fifteen-chars-x", true},
        {"", false},
        {".", false},
        {"..", false},
        {"sixteen-chars-xx", false},
        {"a/b", false},
        {"../../etc/x", false},
        {"eth0:1", false},
        {"eth 0", false},
        {"eth\t0", false},
    };
    for (const auto& c : cases) {
        const QString problem = InterfaceLock::nameProblem(QString::fromLatin1(c.name));
        EXPECT_EQ(c.valid, problem.isEmpty()) << '"' << c.name << "\": " << problem.toStdString();
        if (c.valid)
            continue;
        // Refused before any file is made.
        InterfaceLock lock(QString::fromLatin1(c.name));
        EXPECT_FALSE(lock.held()) << c.name;
        EXPECT_EQ(problem, lock.refusal()) << c.name;
    }
}

TEST(InterfaceLock, TheHolderSignsItAndASecondHolderIsTurnedAwayByName)
{
    const QString eth = ownName("h");
    LockFile file(eth);
    // Whoever comes first, with whatever umask, leaves a file every user can lock.
    const mode_t umaskBefore = umask(077);
    {
        InterfaceLock first(eth);
        umask(umaskBefore);
        ASSERT_TRUE(first.held()) << first.refusal().toStdString();
        struct stat st;
        ASSERT_EQ(0, stat(file.path(), &st));
        EXPECT_EQ(0666u, st.st_mode & 07777);
        EXPECT_EQ(
            std::string(program_invocation_short_name) + " " + std::to_string(getpid()) + "\n",
            file.content());
        {
            // A job run by a command that holds the interface shares its lock.
            InterfaceLock nested(eth);
            EXPECT_TRUE(nested.held());
        }
        EXPECT_FALSE(file.holdAs("intruder 1\n")) << "the nested lock's end let the interface go";
        file.letGo();
    }
    EXPECT_EQ("", file.content()) << "a released lock still names its holder";

    ASSERT_TRUE(file.holdAs("zuvianctl 4242\n"));
    {
        InterfaceLock second(eth);
        EXPECT_FALSE(second.held());
        EXPECT_EQ(eth + QStringLiteral(" is in use by zuvianctl (process 4242)"), second.refusal());
    }
    // A holder caught between taking the lock and signing it.
    file.letGo();
    ASSERT_TRUE(file.holdAs(""));
    {
        InterfaceLock third(eth);
        EXPECT_FALSE(third.held());
        EXPECT_EQ(eth + QStringLiteral(" is in use by another program."), third.refusal());
    }
    file.letGo();
    InterfaceLock afterwards(eth);
    EXPECT_TRUE(afterwards.held()) << afterwards.refusal().toStdString();
}

TEST(InterfaceLock, ALinkPlantedUnderTheNameIsNotFollowed)
{
    const QString eth = ownName("s");
    LockFile file(eth);
    const std::string target = std::string(file.path()) + ".target";
    unlink(target.c_str());
    ASSERT_EQ(0, symlink(target.c_str(), file.path()));
    InterfaceLock lock(eth);
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(lock.refusal().contains(QStringLiteral("symbolic link")))
        << lock.refusal().toStdString();
    EXPECT_NE(0, access(target.c_str(), F_OK)) << "the link was followed";
}

// A system without /run/lock, played in a mount namespace of a child process where an empty /run
// hides it: the lock goes to /tmp, where every program of the tool looks for it alike.
TEST(InterfaceLock, WithoutRunLockTheFileIsKeptInTmp)
{
    REQUIRE_ROOT();
    const QString eth = ownName("t");
    const std::string fallback = "/tmp/zuvian-" + eth.toStdString() + ".lock";
    unlink(fallback.c_str());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0
            || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || mount("tmpfs", "/run", "tmpfs", 0, nullptr) != 0)
            _exit(2);
        InterfaceLock lock(eth);
        _exit(lock.held() && InterfaceLock::path(eth).toStdString() == fallback ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "2: no namespace to hide /run/lock in";
    EXPECT_EQ(0, access(fallback.c_str(), F_OK));
    unlink(fallback.c_str());
}

// The session asks for the interface only where the master would open it: on the raw socket.
TEST(InterfaceLock, OnlyASessionOnTheRawSocketTakesTheInterface)
{
    const QString eth = ownName("b");
    LockFile file(eth);
    ASSERT_TRUE(file.holdAs("zuvian-firmwareupdate 77\n"));

    ec_setlink(nullptr);
    ASSERT_TRUE(BusSession::rawSocketInUse());
    {
        BusSession::Lock session(eth);
        EXPECT_FALSE(session.held());
        EXPECT_EQ(eth + QStringLiteral(" is in use by zuvian-firmwareupdate (process 77)"),
            session.refusal());
    }
    {
        // The refusal gave the process's session back.
        BusSession::Lock session;
        EXPECT_TRUE(session.held());
    }
    {
        // No interface can be opened under a name like this: the flow's own read-out says so.
        BusSession::Lock session{QString()};
        EXPECT_TRUE(session.held()) << session.refusal().toStdString();
    }

    SimBus bus(SimBus::plainChain(1));
    EXPECT_FALSE(BusSession::rawSocketInUse());
    BusSession::Lock session(eth);
    EXPECT_TRUE(session.held()) << session.refusal().toStdString();
}
