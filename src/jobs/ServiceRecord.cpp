// Appending and reading the service records, and the safe way to their directory.
#include "ServiceRecord.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The directories below the data home, each made and checked in turn.
const char* const kSubdirectories[] = {"zuvian", "records"};

QString reason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A descriptor that closes itself.
class Fd
{
public:
    explicit Fd(int fd = -1)
        : fd_(fd)
    {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

QString dataHome()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base;
}

// Opens `name` below `parent` as a directory of this user's, creating it owner-only when it is
// missing. Returns the descriptor, or -1 with the reason in `error`: a symbolic link in its place
// is never followed, and a directory someone else owns could be read or emptied by them.
int ownDirectory(int parent, const char* name, const QString& path, QString* error)
{
    if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("%1 cannot be created: %2").arg(path, reason(errno));
        return -1;
    }
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        struct stat st;
        const int code = errno;
        if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            *error = QStringLiteral("%1 is a symbolic link; records are not written through one")
                         .arg(path);
        else
            *error = QStringLiteral("%1 cannot be opened: %2").arg(path, reason(code));
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        *error = QStringLiteral("%1 is not owned by you (user %2); no record is written there")
                     .arg(path)
                     .arg(st.st_uid);
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens the records directory, making it on the way. Returns -1 with the reason in `error`.
int recordsDirectory(QString* error)
{
    const QString base = dataHome();
    if (!QDir().mkpath(base)) {
        *error = QStringLiteral("%1 cannot be created").arg(base);
        return -1;
    }
    Fd current(::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (current.get() < 0) {
        *error = QStringLiteral("%1 cannot be opened: %2").arg(base, reason(errno));
        return -1;
    }
    QString path = base;
    for (const char* name : kSubdirectories) {
        path += QLatin1Char('/') + QLatin1String(name);
        Fd next(ownDirectory(current.get(), name, path, error));
        if (next.get() < 0)
            return -1;
        current = std::move(next);
    }
    const int fd = ::dup(current.get());
    if (fd < 0)
        *error = QStringLiteral("%1: %2").arg(path, reason(errno));
    return fd;
}

// True when the file behind `fd` (open for reading too) is empty or ends with a newline. A last
// line torn by a power loss must stay a line of its own: the next record is then begun on a fresh
// line, not glued to it.
bool endsWithNewline(int fd, off_t size)
{
    if (size == 0)
        return true;
    char last = 0;
    return ::pread(fd, &last, 1, size - 1) == 1 && last == '\n';
}

}

namespace ServiceRecord {

QString directory()
{
    QString path = dataHome();
    for (const char* name : kSubdirectories)
        path += QLatin1Char('/') + QLatin1String(name);
    return path;
}

QString fileName(const QDateTime& at)
{
    return at.toUTC().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".jsonl");
}

QString append(const QJsonObject& record, QString* error)
{
    QString ignored;
    QString& why = error != nullptr ? *error : ignored;
    QDateTime at
        = QDateTime::fromString(record.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!at.isValid())
        at = QDateTime::currentDateTimeUtc();

    Fd dir(recordsDirectory(&why));
    if (dir.get() < 0)
        return QString();
    const QString name = fileName(at);
    const QString path = directory() + QLatin1Char('/') + name;
    Fd file(::openat(dir.get(), QFile::encodeName(name).constData(),
        O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, S_IRUSR | S_IWUSR));
    if (file.get() < 0) {
        why = QStringLiteral("%1 cannot be opened: %2").arg(path, reason(errno));
        return QString();
    }
    // A second name would let whoever made it read the records, or have them appended to a file
    // of theirs; a FIFO would block the job.
    struct stat st;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1
        || st.st_uid != ::geteuid()) {
        why = QStringLiteral("%1 is not a record file of yours; nothing was written").arg(path);
        return QString();
    }
    if ((st.st_mode & 0777) != (S_IRUSR | S_IWUSR))
        (void)::fchmod(file.get(), S_IRUSR | S_IWUSR); // ours: only others' access is taken away

    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
    line.append('\n');
    if (!endsWithNewline(file.get(), st.st_size))
        line.prepend('\n');
    ssize_t written = -1;
    do
        written = ::write(file.get(), line.constData(), size_t(line.size()));
    while (written < 0 && errno == EINTR);
    if (written < 0) {
        why = QStringLiteral("%1: %2").arg(path, reason(errno));
        return QString();
    }
    if (written != line.size()) {
        why = QStringLiteral("%1: only %2 of %3 bytes were written (the disk may be full)")
                  .arg(path)
                  .arg(written)
                  .arg(line.size());
        return QString();
    }
    return path;
}

void parse(const QByteArray& text, const QString& file, Reading& into)
{
    qsizetype from = 0;
    int number = 0;
    while (from < text.size()) {
        const qsizetype end = text.indexOf('\n', from);
        if (end < 0) {
            ++into.torn;
            return;
        }
        ++number;
        const QByteArray line = text.mid(from, end - from);
        from = end + 1;
        if (line.trimmed().isEmpty())
            continue;
        if (line.size() > maxLineBytes) {
            into.problems.append(QStringLiteral("%1 line %2: longer than %3 bytes")
                                     .arg(file)
                                     .arg(number)
                                     .arg(maxLineBytes));
            continue;
        }
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (!doc.isObject()) {
            into.problems.append(QStringLiteral("%1 line %2: %3")
                                     .arg(file)
                                     .arg(number)
                                     .arg(error.error == QJsonParseError::NoError
                                             ? QStringLiteral("not a JSON object")
                                             : error.errorString()));
            continue;
        }
        into.records.append(doc.object());
    }
}

Reading readAll(const QString& dir)
{
    Reading reading;
    const QString path = dir.isEmpty() ? directory() : dir;
    // As records are never written through a link, none are read through one either: what
    // stands behind it is not this user's record.
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        reading.problems.append(
            QStringLiteral("%1 is a symbolic link; no record is read through one").arg(path));
        return reading;
    }
    // Every file is read: a workshop makes a few records per robot and day, so years of them are
    // some megabytes. An index by robot would replace this if that ever changed.
    const QStringList files
        = QDir(path).entryList({QStringLiteral("[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9].jsonl")},
            QDir::Files | QDir::System, QDir::Name);
    for (const QString& name : files) {
        const QString file = path + QLatin1Char('/') + name;
        Fd fd(::open(
            QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            reading.problems.append(QStringLiteral("%1: not a readable file").arg(file));
            continue;
        }
        if (st.st_size > maxFileBytes) {
            reading.problems.append(
                QStringLiteral("%1: larger than %2 bytes, not read").arg(file).arg(maxFileBytes));
            continue;
        }
        QFile in;
        if (!in.open(fd.get(), QIODevice::ReadOnly)) {
            reading.problems.append(QStringLiteral("%1: %2").arg(file, in.errorString()));
            continue;
        }
        parse(in.read(maxFileBytes + 1).left(maxFileBytes), file, reading);
    }
    return reading;
}

}
