#include "handover.h"

#include "app/runlog.h"
#include "app/runningprocess.h"
#include "app/updaterfiles.h"
#include "downloader/staging/filereplacement.h"
#include "updater/selfupdate.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QThread>

namespace {

// Long enough for a program that a virus scanner looks at first.
constexpr int handOverMilliseconds = 30000;

bool HasConfirmed(qint64 pid)
{
    QFile marker(ConfigFiles::updaterRunning);
    return marker.open(QIODevice::ReadOnly) && marker.readAll().trimmed() == QByteArray::number(pid);
}

} // namespace

bool HandOver(const QString &program, const QString &aside, const QString &md5, InstanceLock *lock)
{
    QFile::remove(ConfigFiles::updaterRunning);
    lock->release();
    QProcess next;
    next.setProgram(QDir::current().absoluteFilePath(program));
    next.setArguments(QCoreApplication::arguments().mid(1));
    next.setWorkingDirectory(QDir::currentPath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(previousProgramVariable), aside);
    next.setProcessEnvironment(environment);
    qint64 pid = 0;
    QString failure = QStringLiteral("it did not start");
    if (next.startDetached(&pid)) {
        failure = QStringLiteral("it never said that it runs");
        for (QDeadlineTimer deadline(handOverMilliseconds); !deadline.hasExpired();) {
            if (HasConfirmed(pid)) {
                qCInfo(lcRun).noquote() << QStringLiteral("Handed over to the new updater program "
                                                          "%1 (process %2)").arg(program).arg(pid);
                return true;
            }
            if (!IsProcessRunning(pid)) {
                failure = QStringLiteral("it ended before it showed its window");
                break;
            }
            QThread::msleep(100);
        }
        EndProcess(pid);
    }
    // Never a folder without an updater that starts: the previous one goes back, for good.
    const std::optional<QString> problem = MoveIntoPlaceProblem(aside, program);
    RejectUpdater(md5);
    lock->acquire(handOverMilliseconds);
    qCWarning(lcRun).noquote()
        << QStringLiteral("The new updater program %1 (MD5 %2) was rolled back: %3; %4")
               .arg(program, md5, failure,
                    problem ? QStringLiteral("cannot put the previous one back: %1").arg(*problem)
                            : QStringLiteral("the previous one goes on with the run"));
    return false;
}

void ConfirmTakeOver()
{
    QSaveFile marker(ConfigFiles::updaterRunning);
    if (marker.open(QIODevice::WriteOnly)) {
        marker.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        marker.commit();
    }
}
