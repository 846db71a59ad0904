#include "filereplacement.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <QDir>

#include <qt_windows.h>

namespace {

const wchar_t *NativePath(const QString &nativePath)
{
    return reinterpret_cast<const wchar_t *>(nativePath.utf16());
}

} // namespace

std::optional<QString> MoveIntoPlaceProblem(const QString &source, const QString &target)
{
    const QString nativeSource = QDir::toNativeSeparators(source);
    const QString nativeTarget = QDir::toNativeSeparators(target);

    // Windows replaces no read-only file.
    const DWORD attributes = GetFileAttributesW(NativePath(nativeTarget));
    const bool bReadOnly = attributes != INVALID_FILE_ATTRIBUTES
                           && (attributes & FILE_ATTRIBUTE_READONLY);
    if (bReadOnly) {
        const DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesW(NativePath(nativeTarget), writable ? writable : FILE_ATTRIBUTE_NORMAL);
    }
    // Only where a folder of the installation lies on another volume than Config/ does the move
    // become a copy, and then it is not one step.
    if (MoveFileExW(NativePath(nativeSource), NativePath(nativeTarget),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        return std::nullopt;
    }
    const DWORD error = GetLastError();
    if (bReadOnly)
        SetFileAttributesW(NativePath(nativeTarget), attributes);
    return qt_error_string(static_cast<int>(error));
}

std::optional<QString> ReplaceKeepingAsideProblem(const QString &source, const QString &target,
                                                  const QString &aside)
{
    if (!QFile::exists(target))
        return MoveIntoPlaceProblem(source, target);
    // A program that runs from target keeps its file open without letting it be replaced, but it
    // may be moved.
    if (const std::optional<QString> problem = MoveIntoPlaceProblem(target, aside))
        return problem;
    const std::optional<QString> problem = MoveIntoPlaceProblem(source, target);
    if (problem && MoveIntoPlaceProblem(aside, target))
        return QStringLiteral("%1, and the previous file stays at %2").arg(*problem, aside);
    return problem;
}

std::optional<QString> HeldFileProblem(const QString &target, const QString &)
{
    // Only a program that opened the file without sharing its deletion keeps it from being moved:
    // asking for the right to move it tells, without moving anything.
    const HANDLE file =
        CreateFileW(NativePath(QDir::toNativeSeparators(target)), DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return std::nullopt;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return std::nullopt;
    return qt_error_string(static_cast<int>(error));
}

void FlushToDisk(const QStringList &files)
{
    for (const QString &path : files) {
        const HANDLE file = CreateFileW(NativePath(QDir::toNativeSeparators(path)), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        FlushFileBuffers(file);
        CloseHandle(file);
    }
}

void StartWriteback(QFile *, qint64, qint64)
{
}

#else
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Whether the file at path carries a flag that keeps even root from renaming it or, for a folder,
// anything in it.
bool IsImmutable(const QByteArray &path)
{
    const int descriptor = open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    int flags = 0;
    const bool bImmutable = ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0
                            && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL));
    close(descriptor);
    return bImmutable;
}

} // namespace

std::optional<QString> MoveIntoPlaceProblem(const QString &source, const QString &target)
{
    // rename(2) replaces an existing target atomically; QFile::rename() would refuse to.
    const QByteArray sourcePath = QFile::encodeName(source);
    const QByteArray targetPath = QFile::encodeName(target);
    if (std::rename(sourcePath.constData(), targetPath.constData()) == 0)
        return std::nullopt;
    return qt_error_string(errno);
}

std::optional<QString> ReplaceKeepingAsideProblem(const QString &source, const QString &target,
                                                  const QString &aside)
{
    // A second name keeps the data; where the system gives none, the rename frees it at once.
    const QByteArray asidePath = QFile::encodeName(aside);
    unlink(asidePath.constData());
    const bool bLinked = link(QFile::encodeName(target).constData(), asidePath.constData()) == 0;
    const std::optional<QString> problem = MoveIntoPlaceProblem(source, target);
    if (problem && bLinked)
        unlink(asidePath.constData());
    return problem;
}

std::optional<QString> HeldFileProblem(const QString &target, const QString &folder)
{
    const QByteArray folderPath = QFile::encodeName(folder);
    if (access(folderPath.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("the folder %1 is not writable: %2").arg(folder, qt_error_string(errno));
    if (IsImmutable(folderPath))
        return QStringLiteral("the folder %1 is immutable").arg(folder);
    if (IsImmutable(QFile::encodeName(target)))
        return QStringLiteral("it is immutable");
    return std::nullopt;
}

void FlushToDisk(const QStringList &files)
{
    if (files.isEmpty())
        return;
    // One call writes out the whole file system, where one for each file would wait for the disk
    // thousands of times.
    const int descriptor = open(QFile::encodeName(files.first()).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    syncfs(descriptor);
    close(descriptor);
}

void StartWriteback(QFile *file, qint64 offset, qint64 length)
{
    sync_file_range(file->handle(), offset, length, SYNC_FILE_RANGE_WRITE);
}

#endif
