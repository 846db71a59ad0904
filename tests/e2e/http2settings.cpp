#include "app/programsettings.h"

// The updater of the end-to-end test's HTTP/2 run, as a build with UPDATER_HTTP2 would be.
UpdateServer ProgramServer()
{
    return UpdateServer::Compiled();
}

UpdaterConfig::RunSettings ProgramSettings()
{
    UpdaterConfig::RunSettings settings;
    settings.bHttp2 = true;
    return settings;
}
