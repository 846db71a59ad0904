#include "commands.h"

#include "tools/publishing/signingkeys.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

// Creates path for writing, failing if it exists. On Unix it is readable by its owner only from the
// moment it exists: permissions set after the open would leave a moment in which others could open
// it and keep reading. On Windows it takes the access rights of its folder.
bool createPrivateFile(QFile *file)
{
#ifdef Q_OS_UNIX
    const mode_t previousMask = ::umask(S_IRWXG | S_IRWXO);
#endif
    const bool bCreated = file->open(QIODevice::WriteOnly | QIODevice::NewOnly);
#ifdef Q_OS_UNIX
    ::umask(previousMask);
#endif
    return bCreated;
}

} // namespace

ExitCode GenerateKeys(const QString &secretPath)
{
    // A second key pair over the first would leave every updater built with its public key unable
    // to accept a release again.
    if (QFileInfo::exists(secretPath)) {
        ReportError(secretPath + QStringLiteral(": exists already; keys are never overwritten"));
        return BadInput;
    }
    const SigningKeys keys = NewSigningKeys();
    if (keys.problem) {
        ReportError(*keys.problem);
        return BadInput;
    }
    QFile file(secretPath);
    if (!createPrivateFile(&file)) {
        ReportError(QStringLiteral("cannot create %1: %2").arg(secretPath, file.errorString()));
        return BadInput;
    }
    const QByteArray content = SecretKeyFile(keys.secretKey);
    if (file.write(content) != content.size() || !file.flush()) {
        ReportError(QStringLiteral("cannot write %1: %2").arg(secretPath, file.errorString()));
        file.remove();
        return BadInput;
    }
    file.close();
    std::printf("%s\n", keys.publicKey.toBase64().constData());
    return Success;
}
