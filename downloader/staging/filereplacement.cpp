#include "filereplacement.h"

#ifdef Q_OS_WIN
#include <QDir>

#include <qt_windows.h>

std::optional<QString> MoveIntoPlaceProblem(const QString &source, const QString &target)
{
    const QString nativeSource = QDir::toNativeSeparators(source);
    const QString nativeTarget = QDir::toNativeSeparators(target);
    const auto *sourcePath = reinterpret_cast<const wchar_t *>(nativeSource.utf16());
    const auto *targetPath = reinterpret_cast<const wchar_t *>(nativeTarget.utf16());

    // Windows replaces no read-only file.
    const DWORD attributes = GetFileAttributesW(targetPath);
    const bool bReadOnly = attributes != INVALID_FILE_ATTRIBUTES
                           && (attributes & FILE_ATTRIBUTE_READONLY);
    if (bReadOnly) {
        const DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesW(targetPath, writable ? writable : FILE_ATTRIBUTE_NORMAL);
    }
    // Only where a folder of the installation lies on another volume than Config/ does the move
    // become a copy, and then it is not one step.
    if (MoveFileExW(sourcePath, targetPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return std::nullopt;
    const DWORD error = GetLastError();
    if (bReadOnly)
        SetFileAttributesW(targetPath, attributes);
    return qt_error_string(static_cast<int>(error));
}

bool LinkAside(const QString &target, const QString &aside)
{
    const QString nativeTarget = QDir::toNativeSeparators(target);
    const QString nativeAside = QDir::toNativeSeparators(aside);
    return CreateHardLinkW(reinterpret_cast<const wchar_t *>(nativeAside.utf16()),
                           reinterpret_cast<const wchar_t *>(nativeTarget.utf16()), nullptr);
}

void StartWriteback(QFile *, qint64, qint64)
{
}

#else
#include <QFile>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

std::optional<QString> MoveIntoPlaceProblem(const QString &source, const QString &target)
{
    // rename(2) replaces an existing target atomically; QFile::rename() would refuse to.
    const QByteArray sourcePath = QFile::encodeName(source);
    const QByteArray targetPath = QFile::encodeName(target);
    if (std::rename(sourcePath.constData(), targetPath.constData()) == 0)
        return std::nullopt;
    return qt_error_string(errno);
}

bool LinkAside(const QString &target, const QString &aside)
{
    return link(QFile::encodeName(target).constData(), QFile::encodeName(aside).constData()) == 0;
}

void StartWriteback(QFile *file, qint64 offset, qint64 length)
{
    sync_file_range(file->handle(), offset, length, SYNC_FILE_RANGE_WRITE);
}

#endif
