#include "password.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

Password::Password(QWidget *parent)
    : QDialog(parent)
{
    auto *layout = new QGridLayout(this);

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

    layout->addWidget(passwordEdit, 0, 0);
    layout->addWidget(buttonBox, 1, 0, 1, 2);
    setLayout(layout);
    setWindowTitle(QStringLiteral("Password"));
    setModal(true);
}

void Password::SlotPasswordEntered()
{
    emit PasswordEntered(passwordEdit->text());
    close();
}
