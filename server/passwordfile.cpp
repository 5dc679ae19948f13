#include "passwordfile.h"

#include <QFile>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace passwordfile {

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// What other users may do with a file of this mode, worst first.
QString othersMay(mode_t mode)
{
    if (mode & S_IROTH)
        return QStringLiteral("can be read by other users");
    if (mode & S_IWOTH)
        return QStringLiteral("can be written by other users");
    return QStringLiteral("can be executed by other users");
}

} // namespace

QString passwordIn(const QByteArray& bytes, const QString& path, QString* error)
{
    QByteArray line = bytes;
    if (line.endsWith("\r\n"))
        line.chop(2);
    else if (line.endsWith('\n'))
        line.chop(1);
    if (line.isEmpty()) {
        *error = QStringLiteral("the password file %1 is empty.").arg(path);
        return QString();
    }
    if (line.contains('\n') || line.contains('\r')) {
        *error = QStringLiteral("the password file %1 holds more than one line; the password "
                                "must be its only line.")
                     .arg(path);
        return QString();
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString password = utf8(line);
    if (utf8.hasError()) {
        *error = QStringLiteral("the password file %1 is not UTF-8 text.").arg(path);
        return QString();
    }
    return password;
}

QString read(const QString& path, QString* error)
{
    // Non-blocking, so a FIFO in its place cannot hold the start up; the checks below are
    // made on the file that was opened, not on whatever the path names a moment later.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error =
            QStringLiteral("the password file %1 cannot be opened: %2.").arg(path, errnoText());
        return QString();
    }
    const auto fail = [&](const QString& text) {
        ::close(fd);
        *error = text;
        return QString();
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return fail(
            QStringLiteral("the password file %1 cannot be examined: %2.").arg(path, errnoText()));
    if (!S_ISREG(info.st_mode))
        return fail(QStringLiteral("the password file %1 is not a regular file.").arg(path));
    const mode_t mode = info.st_mode & 07777;
    if (mode & S_IRWXO)
        return fail(QStringLiteral("the password file %1 %2 (mode %3): chmod o-rwx %1")
                        .arg(path, othersMay(mode))
                        .arg(mode, 4, 8, QLatin1Char('0')));

    // Read one byte more than allowed, so that a file that grew after fstat() is noticed.
    QByteArray bytes(MaxBytes + 1, Qt::Uninitialized);
    qsizetype size = 0;
    while (size < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + size, static_cast<size_t>(bytes.size() - size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(
                QStringLiteral("the password file %1 cannot be read: %2.").arg(path, errnoText()));
        if (n == 0)
            break;
        size += n;
    }
    ::close(fd);
    if (size > MaxBytes) {
        *error = QStringLiteral("the password file %1 is larger than %2 bytes; it should hold "
                                "the password alone.")
                     .arg(path)
                     .arg(MaxBytes);
        return QString();
    }
    bytes.truncate(size);
    return passwordIn(bytes, path, error);
}

} // namespace passwordfile
