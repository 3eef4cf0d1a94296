// The pictures compiled into the program: read without any image-format plugin, in the sizes
// the build renders.
#include <QDialog>
#include <QtTest>

#include "dialog/dialog_template.h"
#include "dialog/resource_image.h"

namespace {

// The image-format plugins mapped into this process, by file name.
QStringList ImagePluginsLoaded() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(cannot read /proc/self/maps)")};
    QStringList found;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const int at = line.indexOf("/imageformats/");
        const QString name = QString::fromLocal8Bit(line.mid(at));
        if (at >= 0 && !found.contains(name))
            found << name;
    }
    return found;
}

}  // namespace

class TestResourceImage : public QObject {
    Q_OBJECT
private slots:
    void noImagePluginLoaded();
    void pictures_data();
    void pictures();
    void picturesByNumber();
    void appIconSizes();
};

// First, before anything else here could load a plugin: the keypad window's and the About
// box's pictures and the window icon.
void TestResourceImage::noImagePluginLoaded() {
    QDialog keypad, about;
    BuildControls(&keypad, LoadDialogTemplate(102));
    BuildControls(&about, LoadDialogTemplate(100));
    const QIcon icon = LoadAppIcon();
    QVERIFY(!icon.pixmap(QSize(32, 32)).isNull());
    QCOMPARE(ImagePluginsLoaded(), QStringList());
}

void TestResourceImage::pictures_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");  // invalid: no picture
    QTest::addColumn<bool>("alpha");
    QTest::newRow("logo") << ":/res/logo138.png" << QSize(123, 47) << false;
    QTest::newRow("About icon") << ":/res/icon128.png" << QSize(117, 135) << true;
    QTest::newRow("window icon") << ":/res/icon-48.png" << QSize(48, 48) << true;
    QTest::newRow("missing") << ":/res/icon-5.png" << QSize() << false;
    QTest::newRow("not a PNG") << ":/res/dialogs.json" << QSize() << false;
}

void TestResourceImage::pictures() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, alpha);
    const QImage image = ReadResourcePng(path);
    QCOMPARE(image.size(), size.isValid() ? size : QSize(0, 0));
    QCOMPARE(image.hasAlphaChannel(), alpha);
}

// The dialog layouts name their pictures by resource number.
void TestResourceImage::picturesByNumber() {
    QCOMPARE(ResourceImagePath(138), QStringLiteral(":/res/logo138.png"));
    QCOMPARE(ResourceImagePath(128), QStringLiteral(":/res/icon128.png"));
    QCOMPARE(ResourceImagePath(0), QString());
    QCOMPARE(ResourceImagePath(139), QString());
}

void TestResourceImage::appIconSizes() {
    const QIcon icon = LoadAppIcon();
    QList<QSize> expected;
    for (int side : {16, 32, 48, 64, 128}) expected << QSize(side, side);
    QCOMPARE(icon.availableSizes(), expected);
    for (const QSize& size : expected) QCOMPARE(icon.pixmap(size).size(), size);
}

QTEST_MAIN(TestResourceImage)
#include "tst_resource_image.moc"
