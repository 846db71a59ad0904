#ifndef PASSWORD_H
#define PASSWORD_H

#include <QDialog>

class QDialogButtonBox;
class QLineEdit;

// Asks for the password that the update server demands, or, given the proxy ("host:port") that
// demands one, for the user name and password of the player's proxy. "Login" hands the typed text
// on; "Abort" closes the window that opened the prompt, which ends the updater.
class Password : public QDialog
{
    Q_OBJECT

public:
    explicit Password(QWidget *parent, const QString &proxy = QString());

signals:
    void PasswordEntered(QString password);
    void ProxyLoginEntered(QString user, QString password);

public slots:
    void SlotPasswordEntered();

private:
    QLineEdit *userEdit = nullptr;  // for a proxy only
    QLineEdit *passwordEdit;
    QDialogButtonBox *buttonBox;
};

#endif // PASSWORD_H
