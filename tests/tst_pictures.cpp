#include <QImage>
#include <QResource>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(QResource::Compression)

namespace {

const QString overlayPath = QStringLiteral(":/data/Res/3b8c9df840c68c03b2634b8f4827e3b4.png");
const QString aboutPath = QStringLiteral(":/data/Res/AboutBackground.png");

// Relative luminance and contrast ratio as the WCAG define them; 4.5 is their floor for small text.
double luminance(QRgb colour)
{
    auto linear = [](int channel) {
        const double value = channel / 255.0;
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) + 0.0722 * linear(qBlue(colour));
}

double contrast(QRgb a, QRgb b)
{
    const double lighter = qMax(luminance(a), luminance(b));
    const double darker = qMin(luminance(a), luminance(b));
    return (lighter + 0.05) / (darker + 0.05);
}

} // namespace

class tst_Pictures : public QObject
{
    Q_OBJECT

private slots:
    void embedded_data();
    void embedded();
    void overlayIsOpaqueButOverTheNotes();
    void clearAround_data();
    void clearAround();
    void textStaysReadable_data();
    void textStaysReadable();
};

void tst_Pictures::embedded_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<QResource::Compression>("compression");

    QTest::newRow("launch arrow") << ":/data/Res/Launch.png" << QSize(57, 40) << true
                                  << QResource::ZlibCompression;
    QTest::newRow("main background") << ":/data/Res/MainBackground.png" << QSize(800, 570) << true
                                     << QResource::ZlibCompression;
    QTest::newRow("overlay") << overlayPath << QSize(1080, 751) << true << QResource::NoCompression;
    QTest::newRow("icon") << ":/data/Res/Icon.png" << QSize(256, 256) << true
                          << QResource::NoCompression;
    QTest::newRow("About background") << aboutPath << QSize(470, 330) << false
                                      << QResource::ZlibCompression;
}

void tst_Pictures::embedded()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, alpha);
    QFETCH(QResource::Compression, compression);

    const QResource resource(path);
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), compression);

    const QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
    QCOMPARE(image.hasAlphaChannel(), alpha);
}

void tst_Pictures::overlayIsOpaqueButOverTheNotes()
{
    // The overlay hides the widgets below it but the notes, with the About button in their corner: it
    // lets them through, darkened no more than their text bears. Its frame's edge may blend. The notes
    // lie at 10,10 671x361 in the window, which shows the overlay 1.35 times smaller.
    const QImage overlay = QImage(overlayPath).convertToFormat(QImage::Format_ARGB32);
    const QRect notes(14, 14, 905, 486);
    int lowest = 255;
    int highestOverNotes = 0;
    for (int y = 0; y < overlay.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(overlay.constScanLine(y));
        for (int x = 0; x < overlay.width(); ++x) {
            if (notes.contains(x, y))
                highestOverNotes = qMax(highestOverNotes, qAlpha(line[x]));
            else if (!notes.adjusted(-7, -7, 7, 7).contains(x, y))
                lowest = qMin(lowest, qAlpha(line[x]));
        }
    }
    QVERIFY2(lowest >= 226, qPrintable(QStringLiteral("lowest alpha %1").arg(lowest)));
    QVERIFY2(highestOverNotes <= 96, qPrintable(QStringLiteral("highest alpha %1").arg(highestOverNotes)));
}

void tst_Pictures::clearAround_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QVector<QPoint>>("points");

    // The arrow's glow fades out before the picture's edge, so no hard border shows on the button.
    QVector<QPoint> border;
    for (int x = 0; x < 57; ++x)
        border << QPoint(x, 0) << QPoint(x, 39);
    for (int y = 0; y < 40; ++y)
        border << QPoint(0, y) << QPoint(56, y);
    QTest::newRow("launch arrow border") << ":/data/Res/Launch.png" << border;
    QTest::newRow("icon corners") << ":/data/Res/Icon.png"
                                  << QVector<QPoint>{{0, 0}, {255, 0}, {0, 255}, {255, 255}, {8, 8}};
}

void tst_Pictures::clearAround()
{
    QFETCH(QString, path);
    QFETCH(QVector<QPoint>, points);

    const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
    for (const QPoint &point : qAsConst(points))
        QVERIFY2(qAlpha(image.pixel(point)) == 0,
                 qPrintable(QStringLiteral("pixel %1,%2").arg(point.x()).arg(point.y())));
}

void tst_Pictures::textStaysReadable_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("shownSize");
    QTest::addColumn<QRect>("textArea");
    QTest::addColumn<QColor>("textColour");

    QTest::newRow("status line over the overlay")
        << overlayPath << QSize(800, 556) << QRect(12, 534, 331, 20) << QColor(Qt::black);
    QTest::newRow("About text") << aboutPath << QSize(470, 330) << QRect(10, 10, 451, 271)
                                << QColor(Qt::white);
    QTest::newRow("About title in black") << aboutPath << QSize(470, 330) << QRect(10, 10, 140, 26)
                                          << QColor(Qt::black);
}

void tst_Pictures::textStaysReadable()
{
    QFETCH(QString, path);
    QFETCH(QSize, shownSize);
    QFETCH(QRect, textArea);
    QFETCH(QColor, textColour);

    // Scaled as the label scales it.
    const QImage shown = QImage(path)
                             .scaled(shownSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB32);
    double worst = 21;
    QPoint worstPoint;
    for (int y = textArea.top(); y <= textArea.bottom(); ++y) {
        for (int x = textArea.left(); x <= textArea.right(); ++x) {
            const double ratio = contrast(shown.pixel(x, y), textColour.rgb());
            if (ratio < worst) {
                worst = ratio;
                worstPoint = QPoint(x, y);
            }
        }
    }
    QVERIFY2(worst >= 4.5, qPrintable(QStringLiteral("contrast %1 at %2,%3")
                                          .arg(worst).arg(worstPoint.x()).arg(worstPoint.y())));
}

QTEST_GUILESS_MAIN(tst_Pictures)
#include "tst_pictures.moc"
