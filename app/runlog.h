#ifndef RUNLOG_H
#define RUNLOG_H

#include <QLoggingCategory>

// The updater's own lines about a run, beside the fixed debug lines of the stages and the messages
// that reach the window's Log: documents that cannot be used, skipped manifest entries, refused and
// failed downloads, the verification passes. The log file names the category before each line.
Q_DECLARE_LOGGING_CATEGORY(lcRun)

#endif // RUNLOG_H
