// Exclusive, owner-only file creation.
#include "FreshFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(QString* error, int code)
{
    if (error != nullptr)
        *error = QString::fromLocal8Bit(std::strerror(code));
    return false;
}

bool writeAll(int fd, const QByteArray& content)
{
    const char* data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

}

bool FreshFile::write(const QString& path, const QByteArray& content, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    // unlink removes a symbolic link itself, not what it points to.
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return fail(error, errno);
    return create(path, content, error);
}

bool FreshFile::create(const QString& path, const QByteArray& content, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    // O_EXCL refuses anything that stands under the name, a link included (it is never followed);
    // O_NOFOLLOW says the same once more for the last path element.
    const int fd = ::open(
        name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return fail(error, errno);

    const bool written = writeAll(fd, content);
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (written && closed)
        return true;
    ::unlink(name.constData());
    return fail(error, written ? EIO : writeErrno);
}
