#include "password.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

Password::Password(QWidget *parent, const QString &proxy)
    : QDialog(parent)
{
    auto *layout = new QGridLayout(this);
    int row = 0;
    if (!proxy.isEmpty()) {
        const QString asking = QStringLiteral("The proxy at %1 asks for a user name and a password");
        layout->addWidget(new QLabel(asking.arg(proxy), this), row++, 0);
        userEdit = new QLineEdit(this);
        userEdit->setPlaceholderText(QStringLiteral("User name"));
        layout->addWidget(userEdit, row++, 0);
    }

    passwordEdit = new QLineEdit(this);
    passwordEdit->setEchoMode(QLineEdit::Password);

    buttonBox = new QDialogButtonBox(this);
    QPushButton *login = buttonBox->addButton(QDialogButtonBox::Ok);
    QPushButton *abort = buttonBox->addButton(QDialogButtonBox::Cancel);
    login->setText(QStringLiteral("Login"));
    abort->setText(QStringLiteral("Abort"));

    // Declining the password ends the whole updater, not only the prompt.
    if (parent)
        connect(abort, &QPushButton::clicked, parent, &QWidget::close);
    connect(login, &QPushButton::clicked, this, &Password::SlotPasswordEntered);

    layout->addWidget(passwordEdit, row++, 0);
    layout->addWidget(buttonBox, row, 0, 1, 2);
    setLayout(layout);
    setWindowTitle(QStringLiteral("Password"));
    setModal(true);
}

void Password::SlotPasswordEntered()
{
    if (userEdit)
        emit ProxyLoginEntered(userEdit->text(), passwordEdit->text());
    else
        emit PasswordEntered(passwordEdit->text());
    close();
}
