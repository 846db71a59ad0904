// The status text and progress bar scale shown while files arrive.

#include "updater/progress.h"

#include <QtTest>

#include <limits>

class tst_Progress : public QObject
{
    Q_OBJECT

private slots:
    void progressText_data();
    void progressText();
    void barDivisorKeepsValuesInIntRange_data();
    void barDivisorKeepsValuesInIntRange();
};

void tst_Progress::progressText_data()
{
    QTest::addColumn<int>("filesLeft");
    QTest::addColumn<qint64>("bytesLeft");
    QTest::addColumn<float>("speed");
    QTest::addColumn<QString>("text");

    QTest::newRow("MB left, MB/s") << 3 << qint64(5242880) << 1536.0f << "剩余3个文件 (5 MB) 速度 1.50 MB/s";
    QTest::newRow("exactly one MiB is still KB")
        << 1 << qint64(1048576) << 0.0f << "剩余1个文件 (1024 KB) 速度 0.00 KB/s";
    QTest::newRow("one byte more is MB") << 1 << qint64(1048577) << 0.0f << "剩余1个文件 (1 MB) 速度 0.00 KB/s";
    QTest::newRow("KB truncate") << 1 << qint64(2047) << 0.0f << "剩余1个文件 (1 KB) 速度 0.00 KB/s";
    QTest::newRow("less than a KB") << 1 << qint64(1023) << 0.0f << "剩余1个文件 (0 KB) 速度 0.00 KB/s";
    QTest::newRow("more arrived than announced")
        << 1 << qint64(-3500) << 12.5f << "剩余1个文件 (-3 KB) 速度 12.50 KB/s";
    QTest::newRow("1024 KB/s stays KB/s") << 2 << qint64(0) << 1024.0f << "剩余2个文件 (0 KB) 速度 1024.00 KB/s";
    QTest::newRow("speed rounds to two decimals")
        << 2 << qint64(0) << 1.005f << "剩余2个文件 (0 KB) 速度 1.00 KB/s";
    QTest::newRow("beyond 2 GiB left")
        << 7 << qint64(5) * 1024 * 1024 * 1024 << 2048.0f << "剩余7个文件 (5120 MB) 速度 2.00 MB/s";
}

void tst_Progress::progressText()
{
    QFETCH(int, filesLeft);
    QFETCH(qint64, bytesLeft);
    QFETCH(float, speed);
    QFETCH(QString, text);
    QCOMPARE(ProgressText(filesLeft, bytesLeft, speed), text);
}

void tst_Progress::barDivisorKeepsValuesInIntRange_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("divisor");

    constexpr qint64 largest = std::numeric_limits<int>::max();
    QTest::newRow("nothing") << qint64(0) << qint64(1);
    QTest::newRow("small") << qint64(100) << qint64(1);
    QTest::newRow("largest int") << largest << qint64(1);
    QTest::newRow("one past") << largest + 1 << qint64(2);
    QTest::newRow("5 GiB") << (qint64(5) << 30) << qint64(3);
    QTest::newRow("1 TiB") << (qint64(1) << 40) << qint64(513);
}

void tst_Progress::barDivisorKeepsValuesInIntRange()
{
    QFETCH(qint64, total);
    QFETCH(qint64, divisor);
    QCOMPARE(ProgressBarDivisor(total), divisor);
    QVERIFY(total / divisor <= std::numeric_limits<int>::max());
}

QTEST_APPLESS_MAIN(tst_Progress)
#include "tst_progress.moc"
