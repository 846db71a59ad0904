#include "testsupport.h"

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
