#ifndef NETWORKERRORS_H
#define NETWORKERRORS_H

#include <QNetworkReply>
#include <QString>

// The text that the user's log shows for a transfer error: a category and the code's number, or
// "授权需要密码" when the server wants a password. Empty for NoError. Any integer is accepted, since
// a newer Qt may report codes that this table does not name.
QString NetworkErrorMessage(QNetworkReply::NetworkError code);

#endif // NETWORKERRORS_H
