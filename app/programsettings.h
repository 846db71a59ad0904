#ifndef PROGRAMSETTINGS_H
#define PROGRAMSETTINGS_H

#include "downloader/network/updateserver.h"
#include "updaterconfig.h"

// The server that the program talks to, and the timings, limits and protocols that it runs with:
// those compiled into this build. Each program that links the entry defines them once (the end-to-end
// test builds variants that speak HTTP/2 to its nginx, and HTTPS with a CA of its own).
UpdateServer ProgramServer();
UpdaterConfig::RunSettings ProgramSettings();

#endif // PROGRAMSETTINGS_H
