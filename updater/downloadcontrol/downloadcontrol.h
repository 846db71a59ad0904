#ifndef DOWNLOADCONTROL_H
#define DOWNLOADCONTROL_H

#include <QObject>
#include <QVector>

class QAction;
class QActionGroup;
class QMenu;
class QToolButton;

// The button beside the status line through which the player limits the speed of the downloads,
// pauses and resumes them, and asks for a repair. It shows the choice in force, and says what was
// chosen; what that does is for others.
class DownloadControl : public QObject
{
    Q_OBJECT

public:
    // The limits offered, in KiB per second; 0 for none.
    static const QVector<qint64> speedSteps;

    // Starts with limitKib in force, which need not be one of the steps.
    DownloadControl(QToolButton *button, qint64 limitKib, QObject *parent = nullptr);

    qint64 Limit() const { return limit; }
    bool IsPaused() const { return bPaused; }

signals:
    void LimitChosen(qint64 kibPerSecond);
    void PauseChosen(bool bPause);
    void RepairChosen();

private:
    QAction *AddLimit(qint64 kibPerSecond, QAction *before);
    void ShowChoice();

    QToolButton *const button;
    QMenu *menu;              // child of the button
    QActionGroup *limits;     // child of the menu
    QAction *pauseAction;
    qint64 limit;
    bool bPaused = false;
};

// How a limit shows: "不限速", "512 KB/s", "4 MB/s", "1.5 MB/s".
QString SpeedLimitText(qint64 kibPerSecond);

#endif // DOWNLOADCONTROL_H
