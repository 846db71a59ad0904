#include "downloadcontrol.h"

#include <QActionGroup>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

const QVector<qint64> DownloadControl::speedSteps = {0,        512,      1024,     2 * 1024,
                                                      4 * 1024, 8 * 1024, 16 * 1024, 50 * 1024};

QString SpeedLimitText(qint64 kibPerSecond)
{
    if (kibPerSecond <= 0)
        return QStringLiteral("不限速");
    if (kibPerSecond < 1024)
        return QStringLiteral("%1 KB/s").arg(kibPerSecond);
    if (kibPerSecond % 1024 == 0)
        return QStringLiteral("%1 MB/s").arg(kibPerSecond / 1024);
    return QStringLiteral("%1 MB/s").arg(double(kibPerSecond) / 1024, 0, 'f', 1);
}

DownloadControl::DownloadControl(QToolButton *button, qint64 limitKib, QObject *parent)
    : QObject(parent)
    , button(button)
    , menu(new QMenu(button))
    , limits(new QActionGroup(menu))
    , limit(limitKib)
{
    for (const qint64 step : speedSteps)
        AddLimit(step, nullptr);
    // A limit written by hand is offered where it belongs among the steps.
    if (!speedSteps.contains(limit)) {
        const auto after = std::upper_bound(speedSteps.cbegin() + 1, speedSteps.cend(), limit);
        AddLimit(limit, after == speedSteps.cend()
                            ? nullptr
                            : limits->actions().at(int(after - speedSteps.cbegin())));
    }
    menu->addSeparator();
    pauseAction = menu->addAction(QString());
    connect(pauseAction, &QAction::triggered, this, [this] {
        bPaused = !bPaused;
        ShowChoice();
        emit PauseChosen(bPaused);
    });
    connect(menu->addAction(QStringLiteral("修复")), &QAction::triggered, this,
            &DownloadControl::RepairChosen);
    button->setMenu(menu);
    ShowChoice();
}

QAction *DownloadControl::AddLimit(qint64 kibPerSecond, QAction *before)
{
    auto *action = new QAction(SpeedLimitText(kibPerSecond), limits);
    action->setCheckable(true);
    action->setChecked(kibPerSecond == limit);
    menu->insertAction(before, action);
    connect(action, &QAction::triggered, this, [this, kibPerSecond] {
        limit = kibPerSecond;
        ShowChoice();
        emit LimitChosen(kibPerSecond);
    });
    return action;
}

void DownloadControl::ShowChoice()
{
    pauseAction->setText(bPaused ? QStringLiteral("继续下载") : QStringLiteral("暂停下载"));
    if (bPaused)
        button->setText(QStringLiteral("已暂停"));
    else if (limit > 0)
        button->setText(QStringLiteral("限速 %1").arg(SpeedLimitText(limit)));
    else
        button->setText(SpeedLimitText(0));
}
