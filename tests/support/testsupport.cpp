#include "testsupport.h"

#include <QDir>
#include <QMutexLocker>
#include <QThread>

namespace TestSupport {

namespace {

MessageRecorder *activeRecorder = nullptr;
QtMessageHandler previousHandler = nullptr;

} // namespace

QString updaterExecutable()
{
    return QStringLiteral(UPDATER_EXECUTABLE);
}

ScopedCurrentDir::ScopedCurrentDir(const QString &path)
    : previous(QDir::currentPath())
{
    QDir::setCurrent(path);
}

ScopedCurrentDir::~ScopedCurrentDir()
{
    QDir::setCurrent(previous);
}

MessageRecorder::MessageRecorder()
{
    activeRecorder = this;
    previousHandler = qInstallMessageHandler(&MessageRecorder::handle);
}

MessageRecorder::~MessageRecorder()
{
    qInstallMessageHandler(previousHandler);
    activeRecorder = nullptr;
}

QList<MessageRecorder::Message> MessageRecorder::messages() const
{
    QMutexLocker locker(&mutex);
    return recorded;
}

QStringList MessageRecorder::texts() const
{
    QStringList result;
    const QList<Message> all = messages();
    for (const Message &message : all)
        result << message.text;
    return result;
}

void MessageRecorder::handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (activeRecorder) {
        QMutexLocker locker(&activeRecorder->mutex);
        activeRecorder->recorded.append({text, QThread::currentThread()});
    }
    if (previousHandler)
        previousHandler(type, context, text);
}

} // namespace TestSupport
