#include "runharness.h"

#include "downloader/downloader.h"
#include "support/testsupport.h"

#include <QtTest>

namespace TestSupport {

RunHarness::RunHarness(const QUrl &server, const QByteArray &publicKey,
                       const UpdaterConfig::RunSettings &settings)
    : updateRun(publicKey, settings)
    , worker(server, settings)
{
    updateRun.ConnectTo(worker.downloader());
    connect(this, &RunHarness::Login, worker.downloader(), &Downloader::Login);
    connect(&updateRun, &UpdateRun::UserMessage, this, [this](const QString &text) { statuses << text; });
    connect(&updateRun, &UpdateRun::LaunchAllowed, this, [this](bool bAllowed) { bLaunchAllowed = bAllowed; });
    connect(&updateRun, &UpdateRun::ProgressRange, this, [this](int, int maximum) { progressMaximum = maximum; });
    connect(&updateRun, &UpdateRun::ProgressValue, this, [this](int value) { progressValue = value; });
    connect(&updateRun, &UpdateRun::PasswordWanted, this, [this] {
        ++prompts;
        if (!passwords.isEmpty())
            emit Login(passwords.takeFirst());
    });
    worker.Start();
}

bool RunHarness::waitForEnd()
{
    const auto ended = [this] {
        return status() == QStringLiteral("准备启动!") || status() == QStringLiteral("更新失败");
    };
    return QTest::qWaitFor(ended, 60000) && bLaunchAllowed && status() == QStringLiteral("准备启动!");
}

} // namespace TestSupport
