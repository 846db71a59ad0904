#include "programsettings.h"

UpdateServer ProgramServer()
{
    return UpdateServer::Compiled();
}

UpdaterConfig::RunSettings ProgramSettings()
{
    return UpdaterConfig::RunSettings();
}
