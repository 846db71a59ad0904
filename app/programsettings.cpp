#include "programsettings.h"

UpdaterConfig::RunSettings ProgramSettings()
{
    return UpdaterConfig::RunSettings();
}
