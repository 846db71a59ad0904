#include "app/instancelock.h"
#include "app/logfile.h"
#include "app/updaterfiles.h"
#include "app/programsettings.h"
#include "app/terminationsignals.h"
#include "downloader/staging/stagedswitch.h"
#include "updater/updater.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <memory>

Q_LOGGING_CATEGORY(lcStartup, "updater.startup")

int main(int argc, char **argv)
{
    // Everything lives below the current directory, not beside the executable.
    QDir(QStringLiteral(".")).mkpath(MarkerFiles::configFolder);

    // Another updater already works on this folder: leave without a window, a word or a touched file.
    // Where the lock cannot be written at all, the marker is the only sign of one left.
    InstanceLock instanceLock;
    const InstanceLock::Outcome lock = instanceLock.acquire();
    if (lock == InstanceLock::Outcome::HeldByOther
        || (lock == InstanceLock::Outcome::Unavailable && QFile::exists(MarkerFiles::lock))) {
        return 0;
    }

    LogFile logFile(ConfigFiles::log);
    if (lock == InstanceLock::Outcome::RecoveredStale) {
        qCDebug(lcStartup, "Recovered a stale lock: the updater that left %s is no longer running",
                qUtf8Printable(MarkerFiles::lock));
    }

    // What the last updater left half switched is finished before anything reads the installation.
    FinishInterruptedSwitch();

    QApplication application(argc, argv);
    TerminationSignals terminationSignals;
    auto updater = std::make_unique<Updater>(ProgramServer(), nullptr, UpdaterConfig::publicKey,
                                             ProgramSettings());
    updater->show();
    const int exitCode = application.exec();

    // The window removes the marker and stops its worker thread; the lock itself goes last.
    updater.reset();
    return exitCode;
}
