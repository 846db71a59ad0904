#ifndef LOGFILE_H
#define LOGFILE_H

#include <QFile>
#include <QMutex>
#include <QString>

// Copies every debug line of the process, time-stamped, into a file, so that what a user never sees
// (network errors, downloaded paths, the update-in-progress notice) can be read after the fact. The
// previous run's file is kept beside it with ".1" appended. Lines still reach the usual output.
// One instance at a time; it writes from whichever thread logs.
class LogFile
{
public:
    explicit LogFile(const QString &path);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void write(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QMutex mutex;
    QFile file;
    QtMessageHandler previousHandler = nullptr;
};

#endif // LOGFILE_H
