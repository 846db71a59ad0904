#ifndef PROGRAMSETTINGS_H
#define PROGRAMSETTINGS_H

#include "updaterconfig.h"

// The timings, limits and protocols that the program runs with: those compiled into this build. Each
// program that links the entry defines it once (the end-to-end test builds a variant that speaks
// HTTP/2 to its nginx).
UpdaterConfig::RunSettings ProgramSettings();

#endif // PROGRAMSETTINGS_H
