#include "capture/atomic_file.h"

#include "capture/file_descriptor.h"
#include "platform/errors.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalo {

namespace {

[[noreturn]] void failWithErrno(const QString& what, int error)
{
    throw CaptureError(what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)) +
                       QLatin1Char('.'));
}

void writeAll(int fd, const QByteArray& bytes, const QString& name)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failWithErrno(QStringLiteral("“") + name + QStringLiteral("” could not be written"),
                          errno);
        }
        data += written;
        left -= written;
    }
}

} // namespace

void makeDirectory(const QString& path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0) {
        failWithErrno(QStringLiteral("The folder “") + QFileInfo(path).fileName() +
                          QStringLiteral("” could not be created"),
                      errno);
    }
}

void writeFileAtomically(const QString& path, const QByteArray& bytes,
                         const BeforeReplaceHook& beforeReplace)
{
    const QFileInfo target(path);
    const QString name = target.fileName();
    const QString folder = target.absolutePath();
    const QString temporary = folder + QStringLiteral("/.") + name + QLatin1Char('.') +
                              QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".tmp");
    const QByteArray temporaryName = QFile::encodeName(temporary);

    FileDescriptor file(
        ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        failWithErrno(QStringLiteral("“") + name + QStringLiteral("” could not be saved"), errno);
    }
    try {
        writeAll(file.get(), bytes, name);
        if (::fsync(file.get()) != 0) {
            failWithErrno(QStringLiteral("“") + name + QStringLiteral("” could not be saved"),
                          errno);
        }
        if (file.release() != 0) {
            failWithErrno(QStringLiteral("“") + name + QStringLiteral("” could not be saved"),
                          errno);
        }
        if (beforeReplace) {
            beforeReplace(temporary);
        }
        if (::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0) {
            failWithErrno(QStringLiteral("“") + name + QStringLiteral("” could not be replaced"),
                          errno);
        }
    } catch (...) {
        ::unlink(temporaryName.constData());
        throw;
    }

    // The rename is durable only once the folder's entry is on disk. The new content is in
    // place already, so a failure here is not reported: there is nothing the user could redo.
    const int directory =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
}

} // namespace brevalo
