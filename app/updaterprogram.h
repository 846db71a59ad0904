#ifndef UPDATERPROGRAM_H
#define UPDATERPROGRAM_H

#include <QString>

// The running updater's program relative to the current folder, where it lies below it, so that a
// release may carry a new one; empty, with a line in the log, where it lies elsewhere. The log's
// first lines name it and its MD5 digest either way.
QString UpdaterProgramInFolder();

#endif // UPDATERPROGRAM_H
