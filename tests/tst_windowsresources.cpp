#include <QDomDocument>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

constexpr quint16 iconType = 3;          // RT_ICON
constexpr quint16 iconGroupType = 14;    // RT_GROUP_ICON
constexpr quint16 manifestType = 24;     // RT_MANIFEST

// A resource type or name in a .res file: a number, or a string of UTF-16 units.
struct ResourceId
{
    bool numeric = true;
    quint16 number = 0;
    QString text;

    bool operator==(const ResourceId &other) const
    {
        return numeric == other.numeric && (numeric ? number == other.number : text == other.text);
    }
};

ResourceId numbered(quint16 number)
{
    return ResourceId{true, number, {}};
}

ResourceId named(const QString &text)
{
    return ResourceId{false, 0, text};
}

struct Resource
{
    ResourceId type;
    ResourceId name;
    QByteArray data;
};

// Reads the sequence of RESOURCEHEADER records with their data, each record aligned to four bytes.
// Fails (returns false) on any record that would run past the end.
class ResReader
{
public:
    explicit ResReader(const QByteArray &bytes) : bytes(bytes) {}

    bool read(QList<Resource> *resources)
    {
        int position = 0;
        while (position < bytes.size()) {
            quint32 dataSize = 0;
            quint32 headerSize = 0;
            if (!word32(position, &dataSize) || !word32(position + 4, &headerSize) || headerSize < 16)
                return false;
            int cursor = position + 8;
            Resource resource;
            if (!id(&cursor, &resource.type) || !id(&cursor, &resource.name))
                return false;
            const qint64 dataStart = qint64(position) + headerSize;
            if (dataStart + dataSize > bytes.size())
                return false;
            resource.data = bytes.mid(int(dataStart), int(dataSize));
            // The first record is an empty one that marks the file as 32-bit.
            if (!(resource.type.numeric && resource.type.number == 0))
                *resources << resource;
            position = int((dataStart + dataSize + 3) & ~qint64(3));
        }
        return true;
    }

private:
    bool word16(int at, quint16 *value) const
    {
        if (at < 0 || at + 2 > bytes.size())
            return false;
        *value = qFromLittleEndian<quint16>(bytes.constData() + at);
        return true;
    }

    bool word32(int at, quint32 *value) const
    {
        if (at < 0 || at + 4 > bytes.size())
            return false;
        *value = qFromLittleEndian<quint32>(bytes.constData() + at);
        return true;
    }

    bool id(int *cursor, ResourceId *result) const
    {
        quint16 first = 0;
        if (!word16(*cursor, &first))
            return false;
        if (first == 0xffff) {
            result->numeric = true;
            if (!word16(*cursor + 2, &result->number))
                return false;
            *cursor += 4;
            return true;
        }
        result->numeric = false;
        for (quint16 unit = first; unit != 0;) {
            result->text += QChar(unit);
            *cursor += 2;
            if (!word16(*cursor, &unit))
                return false;
        }
        *cursor += 2;
        return true;
    }

    const QByteArray bytes;
};

quint16 read16(const QByteArray &data, int at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

quint32 read32(const QByteArray &data, int at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

int rowBytes(int width, int bitCount)
{
    return ((width * bitCount + 31) / 32) * 4;
}

} // namespace

class tst_WindowsResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void iconGroupHoldsThirteenImages();
    void iconImage_data();
    void iconImage();
    void manifestAsksForAdministrator();

private:
    const Resource *find(const ResourceId &type, const ResourceId &name) const;

    QList<Resource> resources;
    QByteArray iconGroup;
};

void tst_WindowsResources::initTestCase()
{
    const QString windres = QStringLiteral(MINGW_WINDRES);
    if (windres.isEmpty())
        QSKIP("x86_64-w64-mingw32-windres was not found when configuring (Debian package "
              "binutils-mingw-w64-x86-64); the Windows resources are not checked.");

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString resFile = folder.filePath(QStringLiteral("updater.res"));
    // windres needs a C preprocessor; the host compiler serves, since the script is plain.
    QProcess compiler;
    compiler.start(windres, {QStringLiteral("--preprocessor=" RC_PREPROCESSOR),
                             QStringLiteral("--preprocessor-arg=-E"),
                             QStringLiteral("--preprocessor-arg=-xc"),
                             QStringLiteral("-O"), QStringLiteral("res"),
                             QStringLiteral("-o"), resFile,
                             QStringLiteral(UPDATER_SOURCE_DIR "/app/windows/updater.rc")});
    QVERIFY2(compiler.waitForFinished(60000), qPrintable(compiler.errorString()));
    QVERIFY2(compiler.exitStatus() == QProcess::NormalExit && compiler.exitCode() == 0,
             compiler.readAllStandardError().constData());

    QFile file(resFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY2(ResReader(file.readAll()).read(&resources), "the .res file is malformed");

    const Resource *group = find(numbered(iconGroupType), named(QStringLiteral("IDI_ICON1")));
    QVERIFY2(group, "no icon group named IDI_ICON1");
    iconGroup = group->data;
}

const Resource *tst_WindowsResources::find(const ResourceId &type, const ResourceId &name) const
{
    for (const Resource &resource : resources) {
        if (resource.type == type && resource.name == name)
            return &resource;
    }
    return nullptr;
}

void tst_WindowsResources::iconGroupHoldsThirteenImages()
{
    // GRPICONDIR: reserved, type 1 (icon), count; then 14-byte entries.
    QVERIFY(iconGroup.size() >= 6);
    QCOMPARE(read16(iconGroup, 0), quint16(0));
    QCOMPARE(read16(iconGroup, 2), quint16(1));
    QCOMPARE(read16(iconGroup, 4), quint16(13));
    QCOMPARE(iconGroup.size(), 6 + 13 * 14);
}

void tst_WindowsResources::iconImage_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("bitCount");

    const QVector<QPair<int, int>> images = {{16, 32}, {20, 32}, {24, 32}, {32, 32}, {40, 32},
                                             {48, 32}, {64, 32}, {256, 32}, {16, 8}, {32, 8},
                                             {48, 8}, {16, 4}, {32, 4}};
    for (int i = 0; i < images.size(); ++i) {
        const QByteArray row = QByteArray::number(images[i].second) + "-bit colour at "
                               + QByteArray::number(images[i].first);
        QTest::newRow(row.constData()) << i << images[i].first << images[i].second;
    }
}

void tst_WindowsResources::iconImage()
{
    QFETCH(int, index);
    QFETCH(int, size);
    QFETCH(int, bitCount);

    QCOMPARE(iconGroup.size(), 6 + 13 * 14);
    // GRPICONDIRENTRY: width, height (0 for 256), colour count, reserved, planes, bit count,
    // bytes in resource, icon id.
    const QByteArray entry = iconGroup.mid(6 + 14 * index, 14);
    QCOMPARE(quint8(entry[0]), quint8(size & 0xff));
    QCOMPARE(quint8(entry[1]), quint8(size & 0xff));
    QCOMPARE(quint8(entry[2]), quint8(bitCount == 4 ? 16 : 0));
    QCOMPARE(read16(entry, 6), quint16(bitCount));
    const quint32 bytes = read32(entry, 8);
    const quint16 iconId = read16(entry, 12);

    const Resource *image = find(numbered(iconType), numbered(iconId));
    QVERIFY2(image, qPrintable(QStringLiteral("no icon image with id %1").arg(iconId)));
    QCOMPARE(quint32(image->data.size()), bytes);

    if (size == 256) {
        QVERIFY(image->data.startsWith("\x89PNG\r\n\x1a\n"));
        return;
    }
    // BITMAPINFOHEADER of twice the height (colours, then the AND mask), the palette, both bitmaps.
    QVERIFY(image->data.size() >= 40);
    QCOMPARE(read32(image->data, 0), quint32(40));
    QCOMPARE(qint32(read32(image->data, 4)), size);
    QCOMPARE(qint32(read32(image->data, 8)), 2 * size);
    QCOMPARE(read16(image->data, 14), quint16(bitCount));
    const int paletteEntries = bitCount == 32 ? 0 : 1 << bitCount;
    QCOMPARE(image->data.size(),
             40 + 4 * paletteEntries + rowBytes(size, bitCount) * size + rowBytes(size, 1) * size);
}

void tst_WindowsResources::manifestAsksForAdministrator()
{
    const Resource *manifest = find(numbered(manifestType), numbered(1));
    QVERIFY2(manifest, "no manifest with id 1");
    QDomDocument document;
    QString error;
    QVERIFY2(document.setContent(manifest->data, &error), qPrintable(error));

    const QDomNodeList levels = document.elementsByTagName(QStringLiteral("requestedExecutionLevel"));
    QCOMPARE(levels.size(), 1);
    const QDomElement level = levels.at(0).toElement();
    QCOMPARE(level.attribute(QStringLiteral("level")), QStringLiteral("requireAdministrator"));
    QCOMPARE(level.attribute(QStringLiteral("uiAccess")), QStringLiteral("false"));

    const QDomNodeList identities = document.elementsByTagName(QStringLiteral("assemblyIdentity"));
    QCOMPARE(identities.size(), 1);
    const QDomElement controls = identities.at(0).toElement();
    QCOMPARE(controls.attribute(QStringLiteral("name")), QStringLiteral("Microsoft.Windows.Common-Controls"));
    QCOMPARE(controls.attribute(QStringLiteral("version")), QStringLiteral("6.0.0.0"));
    QCOMPARE(controls.attribute(QStringLiteral("processorArchitecture")), QStringLiteral("*"));
    QCOMPARE(controls.attribute(QStringLiteral("publicKeyToken")), QStringLiteral("6595b64144ccf1df"));
    QCOMPARE(controls.attribute(QStringLiteral("language")), QStringLiteral("*"));
}

QTEST_GUILESS_MAIN(tst_WindowsResources)
#include "tst_windowsresources.moc"
