#include "filestamp.h"

#ifdef Q_OS_WIN
#include <QDir>

#include <qt_windows.h>

namespace {

qint64 nanosecondsSince1970(LARGE_INTEGER fileTime)
{
    // File times count steps of 100 ns since 1601.
    constexpr qint64 stepsFrom1601To1970 = 116444736000000000;
    return (fileTime.QuadPart - stepsFrom1601To1970) * 100;
}

} // namespace

std::optional<FileStamp> ReadFileStamp(const QString &path)
{
    const QString nativePath = QDir::toNativeSeparators(path);
    // Reading the attributes neither needs nor takes a share of the file's content.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(nativePath.utf16()),
                                    FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information;
    FILE_BASIC_INFO times;
    const bool bRead = GetFileInformationByHandle(file, &information)
                       && GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times);
    CloseHandle(file);
    if (!bRead || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;

    FileStamp stamp;
    stamp.size = qint64(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    stamp.modified = nanosecondsSince1970(times.LastWriteTime);
    stamp.changed = nanosecondsSince1970(times.ChangeTime);
    stamp.identity = quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return stamp;
}

#else
#include <QFile>

#include <sys/stat.h>

namespace {

qint64 nanosecondsSince1970(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

std::optional<FileStamp> ReadFileStamp(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    FileStamp stamp;
    stamp.size = status.st_size;
    stamp.modified = nanosecondsSince1970(status.st_mtim);
    stamp.changed = nanosecondsSince1970(status.st_ctim);
    stamp.identity = status.st_ino;
    return stamp;
}

#endif
