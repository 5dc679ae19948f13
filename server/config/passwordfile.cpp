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

QByteArray readPrivate(const QString& path, const QString& what, qint64 maxBytes, QString* error)
{
    // Non-blocking, so a FIFO in its place cannot hold the start up; the checks below are
    // made on the file that was opened, not on whatever the path names a moment later.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("the %1 %2 cannot be opened: %3.").arg(what, path, errnoText());
        return QByteArray();
    }
    const auto fail = [&](const QString& text) {
        ::close(fd);
        *error = text;
        return QByteArray();
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return fail(
            QStringLiteral("the %1 %2 cannot be examined: %3.").arg(what, path, errnoText()));
    if (!S_ISREG(info.st_mode))
        return fail(QStringLiteral("the %1 %2 is not a regular file.").arg(what, path));
    const mode_t mode = info.st_mode & 07777;
    if (mode & S_IRWXO)
        return fail(QStringLiteral("the %1 %2 %3 (mode %4): chmod o-rwx %2")
                        .arg(what, path, othersMay(mode))
                        .arg(mode, 4, 8, QLatin1Char('0')));

    // Read one byte more than allowed, so that a file that grew after fstat() is noticed.
    QByteArray bytes(maxBytes + 1, Qt::Uninitialized);
    qsizetype size = 0;
    while (size < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + size, static_cast<size_t>(bytes.size() - size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(
                QStringLiteral("the %1 %2 cannot be read: %3.").arg(what, path, errnoText()));
        if (n == 0)
            break;
        size += n;
    }
    ::close(fd);
    if (size > maxBytes) {
        *error = QStringLiteral("the %1 %2 is larger than %3 bytes.").arg(what, path).arg(maxBytes);
        return QByteArray();
    }
    bytes.truncate(size);
    return bytes;
}

QString read(const QString& path, QString* error)
{
    QString problem;
    const QByteArray bytes = readPrivate(path, QStringLiteral("password file"), MaxBytes, &problem);
    if (!problem.isEmpty()) {
        *error = problem;
        return QString();
    }
    return passwordIn(bytes, path, error);
}

} // namespace passwordfile
