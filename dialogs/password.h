#ifndef PASSWORD_H
#define PASSWORD_H

#include <QDialog>

class QDialogButtonBox;
class QLineEdit;

// Asks for the password that the update server demands. "Login" hands the typed text on; "Abort"
// closes the window that opened the prompt, which ends the updater.
class Password : public QDialog
{
    Q_OBJECT

public:
    explicit Password(QWidget *parent);

signals:
    void PasswordEntered(QString password);

public slots:
    void SlotPasswordEntered();

private:
    QLineEdit *passwordEdit;
    QDialogButtonBox *buttonBox;
};

#endif // PASSWORD_H
