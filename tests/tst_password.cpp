// The password prompt: what each way of closing it hands on, and what it closes.

#include "dialogs/password.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class tst_Password : public QObject
{
    Q_OBJECT

private slots:
    void loginHandsOnTheTextAsTyped_data();
    void loginHandsOnTheTextAsTyped();
    void abortClosesTheParentAndSaysNothing();
    void escapeClosesOnlyThePrompt();
    void fieldIsMaskedAndPromptIsModal();

private:
    static QPushButton *button(Password &dialog, const QString &text);
};

QPushButton *tst_Password::button(Password &dialog, const QString &text)
{
    for (QPushButton *candidate : dialog.findChildren<QPushButton *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

void tst_Password::loginHandsOnTheTextAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks kept") << " secret ";
    QTest::newRow("non-ASCII") << "密码ü";
}

void tst_Password::loginHandsOnTheTextAsTyped()
{
    QFETCH(QString, typed);
    QWidget parent;
    parent.show();
    Password dialog(&parent);
    QSignalSpy entered(&dialog, &Password::PasswordEntered);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto *field = dialog.findChild<QLineEdit *>();
    QVERIFY(field->text().isEmpty());
    field->insert(typed);
    QTest::mouseClick(button(dialog, "Login"), Qt::LeftButton);

    QCOMPARE(entered.count(), 1);
    QCOMPARE(entered.at(0).at(0).toString(), typed);
    QVERIFY(!dialog.isVisible());
    QVERIFY(parent.isVisible());
}

void tst_Password::abortClosesTheParentAndSaysNothing()
{
    QWidget parent;
    parent.show();
    auto *dialog = new Password(&parent);
    QSignalSpy entered(dialog, &Password::PasswordEntered);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QTest::keyClicks(dialog->findChild<QLineEdit *>(), "typed but abandoned");

    QTest::mouseClick(button(*dialog, "Abort"), Qt::LeftButton);
    QVERIFY(!parent.isVisible());
    QCOMPARE(entered.count(), 0);
}

void tst_Password::escapeClosesOnlyThePrompt()
{
    QWidget parent;
    parent.show();
    Password dialog(&parent);
    QSignalSpy entered(&dialog, &Password::PasswordEntered);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QVERIFY(parent.isVisible());
    QCOMPARE(entered.count(), 0);
}

void tst_Password::fieldIsMaskedAndPromptIsModal()
{
    QWidget parent;
    Password dialog(&parent);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Password"));
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.findChild<QLineEdit *>()->echoMode(), QLineEdit::Password);
    QVERIFY(button(dialog, "Login"));
    QVERIFY(button(dialog, "Abort"));
    QCOMPARE(dialog.metaObject()->className(), "Password");
}

QTEST_MAIN(tst_Password)
#include "tst_password.moc"
