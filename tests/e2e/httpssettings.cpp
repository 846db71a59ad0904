#include "app/programsettings.h"

#include <QFile>

// The updater of the end-to-end tests' HTTPS runs, as a build with UPDATER_SERVER_SCHEME https and
// the tests' CA in UPDATER_CA_CERTIFICATES would be: the compiled-in host on port 443.
UpdateServer ProgramServer()
{
    UpdateServer server = UpdateServer::Compiled();
    server.url.setScheme(QStringLiteral("https"));
    server.url.setPort(443);
    QFile ca(QStringLiteral(TEST_CERTIFICATES "/ca.pem"));
    if (ca.open(QIODevice::ReadOnly))
        server.caCertificates = QSslCertificate::fromData(ca.readAll());
    return server;
}

UpdaterConfig::RunSettings ProgramSettings()
{
    UpdaterConfig::RunSettings settings;
    settings.transfers = 96;
    return settings;
}
