#include "logfile.h"

#include <QDateTime>
#include <QMutexLocker>

namespace {

LogFile *activeLogFile = nullptr;

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "debug";
}

} // namespace

LogFile::LogFile(const QString &path)
    : file(path)
{
    const QString previous = path + QStringLiteral(".1");
    QFile::remove(previous);
    QFile::rename(path, previous);
    // Unbuffered, so that the lines written before a crash are on disk.
    file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text | QIODevice::Unbuffered);

    activeLogFile = this;
    previousHandler = qInstallMessageHandler(&LogFile::handle);
}

LogFile::~LogFile()
{
    qInstallMessageHandler(previousHandler);
    activeLogFile = nullptr;
}

void LogFile::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (activeLogFile)
        activeLogFile->write(type, context, message);
}

void LogFile::write(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker locker(&mutex);
        if (file.isOpen()) {
            QString line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
            line += QLatin1Char(' ') + QLatin1String(levelName(type)) + QLatin1Char(' ');
            if (context.category && qstrcmp(context.category, "default") != 0)
                line += QLatin1String(context.category) + QStringLiteral(": ");
            line += message + QLatin1Char('\n');
            file.write(line.toUtf8());
        }
    }
    if (previousHandler)
        previousHandler(type, context, message);
}
