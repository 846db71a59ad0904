#include "runlog.h"

Q_LOGGING_CATEGORY(lcRun, "updater.run")
