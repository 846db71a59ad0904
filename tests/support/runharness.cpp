#include "runharness.h"

#include "support/testsupport.h"

#include <QtTest>

namespace TestSupport {

RunHarness::RunHarness(const QUrl &server, const QByteArray &publicKey,
                       const UpdaterConfig::RunSettings &settings)
    : updateRun(publicKey, settings)
    , runner(server, settings)
{
    // The runner's thread has started, but what the Downloader says is queued for this thread and
    // arrives only once these connections stand.
    connect(&updateRun, &UpdateRun::RequestFile, &runner, &DownloaderRunner::DownloadFile);
    connect(&updateRun, &UpdateRun::ExpectFiles, &runner, &DownloaderRunner::ExpectFiles);
    connect(&runner, &DownloaderRunner::FileDownloaded, &updateRun, &UpdateRun::FileDownloaded);
    connect(&runner, &DownloaderRunner::BytesDownloaded, &updateRun, &UpdateRun::BytesDownloaded);
    connect(&runner, &DownloaderRunner::FileCommitted, &updateRun, &UpdateRun::RecordCommittedFile);
    connect(&runner, &DownloaderRunner::PasswordRequired, &updateRun, &UpdateRun::PasswordRequired);
    connect(&updateRun, &UpdateRun::UserMessage, this, [this](const QString &text) { statuses << text; });
    connect(&updateRun, &UpdateRun::LaunchAllowed, this, [this](bool bAllowed) { bLaunchAllowed = bAllowed; });
    connect(&updateRun, &UpdateRun::ProgressRange, this, [this](int, int maximum) { progressMaximum = maximum; });
    connect(&updateRun, &UpdateRun::ProgressValue, this, [this](int value) { progressValue = value; });
    connect(&updateRun, &UpdateRun::PasswordWanted, this, [this] {
        ++prompts;
        if (!passwords.isEmpty())
            emit runner.Login(passwords.takeFirst());
    });
}

bool RunHarness::waitForEnd()
{
    const auto ended = [this] {
        return status() == QStringLiteral("准备启动!") || status() == QStringLiteral("更新失败");
    };
    return QTest::qWaitFor(ended, 60000) && bLaunchAllowed && status() == QStringLiteral("准备启动!");
}

} // namespace TestSupport
