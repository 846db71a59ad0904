#include "app/handover.h"
#include "app/instancelock.h"
#include "app/updaterprogram.h"
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
#include <QNetworkProxyFactory>

#include <memory>

Q_LOGGING_CATEGORY(lcStartup, "updater.startup")

int main(int argc, char **argv)
{
    // Everything lives below the current directory, not beside the executable.
    QDir(QStringLiteral(".")).mkpath(MarkerFiles::configFolder);

    // Another updater already works on this folder: leave without a window, a word or a touched file.
    // Where the lock cannot be written at all, the marker is the only sign of one left.
    // A new updater program waits for the previous one, which hands the folder over to it.
    const QString previousProgram = qEnvironmentVariable(previousProgramVariable);
    qunsetenv(previousProgramVariable);
    InstanceLock instanceLock;
    const InstanceLock::Outcome lock = instanceLock.acquire(previousProgram.isEmpty() ? 0 : 10000);
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
    // Players behind a school's, an office's or an ISP's proxy reach the server through it: Internet
    // Options on Windows (with automatic configuration), http_proxy, https_proxy and no_proxy on
    // Linux.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    UpdaterConfig::RunSettings settings = ProgramSettings();
    settings.updaterProgram = UpdaterProgramInFolder();
    if (!previousProgram.isEmpty()) {
        qCInfo(lcStartup, "Took the folder over from the previous updater program, kept at %s",
               qUtf8Printable(previousProgram));
    } else {
        // The previous programs of earlier swaps, where nothing runs from them any more.
        RemoveSwappedPrograms();
    }
    for (;;) {
        auto updater = std::make_unique<Updater>(ProgramServer(), nullptr, UpdaterConfig::publicKey,
                                                 settings);
        if (!previousProgram.isEmpty())
            QObject::connect(updater.get(), &Updater::Running, &ConfirmTakeOver);
        updater->show();
        const int exitCode = application.exec();
        const Updater::ProgramSwap swapped = updater->SwappedProgram();
        // The window removes the marker and stops its worker thread; the lock itself goes last.
        updater.reset();
        if (exitCode != Updater::restartExitCode)
            return exitCode;
        // The new program finishes the run; if it cannot, this one does, with the release's other
        // files.
        if (HandOver(settings.updaterProgram, swapped.aside, swapped.md5, &instanceLock))
            return 0;
    }
}
