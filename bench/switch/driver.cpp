// Times one switch of staged copies into an installation, as the run makes it once every file of a
// round has arrived: the check that nothing holds it up, the flush of the staged data, the journal,
// the renames and the stamps. bench/switch/run prepares the folder.
//
//   switch_bench FOLDER LIST    LIST: one "STAGED<tab>TARGET" line per file, relative to FOLDER
//
// Prints the wall time in seconds.
#include "downloader/staging/stagedswitch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: switch_bench FOLDER LIST\n");
        return 2;
    }
    QFile list(QString::fromLocal8Bit(argv[2]));
    if (!list.open(QIODevice::ReadOnly) || !QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot read %s or enter %s\n", argv[2], argv[1]);
        return 1;
    }
    QList<SwitchEntry> entries;
    for (const QByteArray &line : list.readAll().split('\n')) {
        const QList<QByteArray> paths = line.split('\t');
        if (paths.size() == 2)
            entries.append({QString::fromUtf8(paths.at(0)), QString::fromUtf8(paths.at(1))});
    }
    QElapsedTimer clock;
    clock.start();
    const SwitchOutcome outcome = SwitchStagedFiles(entries);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (outcome.kind != SwitchOutcome::Kind::Switched) {
        std::fprintf(stderr, "the switch did not go through: %s %s\n", qPrintable(outcome.path),
                     qPrintable(outcome.problem));
        return 1;
    }
    std::printf("%.4f\n", seconds);
    return 0;
}
