// The About box: its form, its marked-up title and how it opens and closes.

#include "dialogs/about.h"
#include "ui_about.h"

#include <QScrollBar>
#include <QtTest>

class tst_About : public QObject
{
    Q_OBJECT

private slots:
    void formIsLaidOutOverThePicture();
    void titleIsMarkedUpBoldBlack();
    void browserHasNoFrameAndNoScrollBars();
    void exitButtonHidesTheDialog();
    void blocksInputToItsParentOnly();
};

void tst_About::formIsLaidOutOverThePicture()
{
    QWidget parent;
    About about(&parent);
    QCOMPARE(about.windowTitle(), QStringLiteral("关于"));
    QCOMPARE(about.objectName(), QStringLiteral("About"));
    QCOMPARE(about.size(), QSize(470, 330));
    QVERIFY(!about.isVisible());

    // Created in this order, so the browser lies over the picture and the button over both.
    QStringList stacking;
    for (const QObject *child : about.children()) {
        if (child->isWidgetType())
            stacking << child->objectName();
    }
    QCOMPARE(stacking, (QStringList{"image", "aboutText", "exitButton"}));

    const auto *image = about.findChild<QLabel *>("image");
    const auto *text = about.findChild<QTextBrowser *>("aboutText");
    const auto *button = about.findChild<QPushButton *>("exitButton");
    QCOMPARE(image->geometry(), QRect(0, 0, 470, 330));
    QCOMPARE(text->geometry(), QRect(10, 10, 451, 271));
    QCOMPARE(button->geometry(), QRect(10, 296, 81, 24));
    QCOMPARE(button->text(), QStringLiteral("确定"));
    QVERIFY(image->hasScaledContents());
    QCOMPARE(image->pixmap(Qt::ReturnByValue).size(), QSize(470, 330));
    QVERIFY(image->text().isEmpty());

    QCOMPARE(text->font().pointSize(), 10);
    QCOMPARE(text->font().styleStrategy(), QFont::PreferAntialias);
    QCOMPARE(text->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::white));
    QCOMPARE(text->palette().color(QPalette::Active, QPalette::Base), QColor(255, 255, 255, 0));
    QCOMPARE(text->palette().color(QPalette::Disabled, QPalette::Text), QColor(120, 120, 120));
    QCOMPARE(image->palette().color(QPalette::Inactive, QPalette::Base), QColor(255, 255, 255, 0));
    QCOMPARE(image->palette().color(QPalette::Disabled, QPalette::Base), QColor(240, 240, 240));
}

void tst_About::titleIsMarkedUpBoldBlack()
{
    About about(nullptr);
    const auto *browser = about.findChild<QTextBrowser *>("aboutText");
    // The title, then five line breaks (HTML drops the blank that follows each); nothing else.
    QCOMPARE(browser->toPlainText(), QStringLiteral("关于更新\n\n\n\n\n"));

    QTextCursor cursor(browser->document());
    cursor.movePosition(QTextCursor::NextCharacter);
    const QTextCharFormat title = cursor.charFormat();
    QCOMPARE(title.fontWeight(), int(QFont::Bold));
    QCOMPARE(title.foreground().color(), QColor(Qt::black));
    QVERIFY(title.hasProperty(QTextFormat::FontSizeAdjustment));
}

void tst_About::browserHasNoFrameAndNoScrollBars()
{
    About about(nullptr);
    auto *browser = about.findChild<QTextBrowser *>("aboutText");
    QCOMPARE(browser->frameShape(), QFrame::NoFrame);
    QCOMPARE(browser->lineWidth(), 0);
    QCOMPARE(browser->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(browser->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    // Even content far longer than the area shows no scroll bar.
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    browser->setPlainText(QString(100, QLatin1Char('\n')) + QString(500, QLatin1Char('x')));
    QVERIFY(!browser->verticalScrollBar()->isVisible());
    QVERIFY(!browser->horizontalScrollBar()->isVisible());
}

void tst_About::exitButtonHidesTheDialog()
{
    QWidget parent;
    QPointer<About> about = new About(&parent);
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about));

    QTest::mouseClick(about->findChild<QPushButton *>("exitButton"), Qt::LeftButton);
    QVERIFY(!about->isVisible());
    QVERIFY(!about.isNull());
    QCOMPARE(about->parent(), &parent);
}

void tst_About::blocksInputToItsParentOnly()
{
    // Clicks go through the window system, where modality is enforced.
    auto clickThroughWindow = [](QPushButton *button) {
        QTest::mouseClick(button->window()->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          button->geometry().center());
    };
    QWidget parent;
    auto *parentButton = new QPushButton(QStringLiteral("parent"), &parent);
    QWidget other;
    auto *otherButton = new QPushButton(QStringLiteral("other"), &other);
    QSignalSpy parentClicks(parentButton, &QPushButton::clicked);
    QSignalSpy otherClicks(otherButton, &QPushButton::clicked);
    parent.show();
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QVERIFY(QTest::qWaitForWindowExposed(&other));

    About about(&parent);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    clickThroughWindow(parentButton);
    clickThroughWindow(otherButton);
    QCOMPARE(parentClicks.count(), 0);
    QCOMPARE(otherClicks.count(), 1);

    about.close();
    clickThroughWindow(parentButton);
    QCOMPARE(parentClicks.count(), 1);
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
