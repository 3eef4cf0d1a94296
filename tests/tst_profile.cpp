#include <QComboBox>
#include <QLockFile>
#include <QRandomGenerator>
#include <QtTest>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "panel_fixture.h"
#include "profile/profile_guard.h"
#include "profile/profile_store.h"
#include "profile/settings_store.h"

// Hostile profiles against the real file store and the real keypad window: none may
// crash or block, each gives the settings it can, and the user's file is never damaged.

namespace {

enum class Fate {
    Used,        // read, and written back as usual
    SetAside,    // moved to <file>.bad byte for byte; a fresh profile takes the writes
    LeftAlone,   // not read, never written, still there as it was
    LockRefused  // read, but every write refused: its lock cannot be had
};

// What is at the profile's path before the store starts.
enum class Setup {
    File,
    Fifo,
    Directory,
    SymlinkToFifo,
    LockDirectory,
    LockHeld,
    LockFifo,
    BadExists,
    NoFolder
};

// {loaded, comPort, baudRate, protocol, cameraType}
using Loaded = QList<qint64>;
const Loaded kDefaults = {1, 1, 9600, 0, 0};

const QByteArray kVariantLevel = R"(\0\0\0\t\0\0\0\x1)";
const QByteArray kVariantInt = R"(\0\0\0\x2\0\0\0\x5)";

QByteArray Settings(const QByteArray& lines) {
    return "[Settings]\n" + lines + "\n";
}

QByteArray Nested(const QByteArray& open, const QByteArray& close, int depth) {
    return open.repeated(depth) + close.repeated(depth);
}

// Aborts the whole test program when a row blocks: a hang must fail, not wait for ever.
class Watchdog {
public:
    explicit Watchdog(const char* what, int seconds = 20)
        : thread([this, what, seconds] {
              std::unique_lock<std::mutex> lock(mutex);
              if (!done.wait_for(lock, std::chrono::seconds(seconds), [this] { return over; })) {
                  std::fprintf(stderr, "blocked for %d s: %s\n", seconds, what);
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            over = true;
        }
        done.notify_one();
        thread.join();
    }

private:
    std::mutex mutex;
    std::condition_variable done;
    bool over = false;
    std::thread thread;
};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

// The profile folder with the file (or what stands in its place) that a row asks for.
struct HostileProfile {
    HostileProfile(Setup setup, const QByteArray& content) : setup(setup), content(content) {
        path = dir.filePath(setup == Setup::NoFolder ? QStringLiteral("PC-ZORVIK/velmor.conf")
                                                     : QStringLiteral("velmor.conf"));
        lockPath = path + QLatin1String(".lock");
        const QByteArray name = QFile::encodeName(path);
        switch (setup) {
            case Setup::Fifo:
                ::mkfifo(name.constData(), 0600);
                break;
            case Setup::Directory:
                QDir().mkdir(path);
                break;
            case Setup::SymlinkToFifo:
                ::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600);
                QFile::link(dir.filePath(QStringLiteral("pipe")), path);
                break;
            case Setup::NoFolder:
                break;
            default:
                Write(path, content);
        }
        if (setup == Setup::LockDirectory)
            QDir().mkdir(lockPath);
        if (setup == Setup::LockFifo)
            ::mkfifo(QFile::encodeName(lockPath).constData(), 0600);
        if (setup == Setup::LockHeld) {
            otherWriter = std::make_unique<QLockFile>(lockPath);
            otherWriter->lock();
        }
        if (setup == Setup::BadExists)
            Write(path + QLatin1String(".bad"), "older");
    }
    static void Write(const QString& at, const QByteArray& bytes) {
        QFile file(at);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    // True when what the row put there is still there, as it was.
    bool Untouched() const {
        const QFileInfo info(path);
        switch (setup) {
            case Setup::Fifo:
            case Setup::SymlinkToFifo:
                return info.exists() && !info.isFile() && !info.isDir();
            case Setup::Directory:
                return info.isDir();
            case Setup::BadExists:
                return ReadAll(path) == content &&
                       ReadAll(path + QLatin1String(".bad")) == QByteArray("older");
            default:
                return ReadAll(path) == content;
        }
    }

    QTemporaryDir dir;
    Setup setup;
    QByteArray content;
    QString path;
    QString lockPath;
    std::unique_ptr<QLockFile> otherWriter;
};

Loaded Load(const SettingsStore& store) {
    // The values count only when they were read; with COMUINIT 0 none but it is.
    const StoredSettings state = store.LoadStoredSettings();
    if (!state.storedValuesRead)
        return {false, 0, 0, 0, 0};
    return {true, state.comPort, state.baudRate, state.protocol, state.cameraType};
}

}  // namespace

class TestProfile : public QObject {
    Q_OBJECT
private slots:
    void hostileProfile_data();
    void hostileProfile();
    void keyText_data();
    void keyText();
    void ownWritesStayUsable();
    void contentProblem_data();
    void contentProblem();
    void profilePathIsNativeLocation();
    void windowOnHostileProfile_data();
    void windowOnHostileProfile();
};

void TestProfile::hostileProfile_data() {
    QTest::addColumn<int>("setup");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Loaded>("loaded");
    QTest::addColumn<int>("fate");

    const auto file = int(Setup::File);
    const auto used = int(Fate::Used);
    const auto aside = int(Fate::SetAside);
    const auto alone = int(Fate::LeftAlone);
    const auto locked = int(Fate::LockRefused);
    const QByteArray good = Settings("COMPORT=3\nBAUDRATE=4800\nPROTOCOL=1\nCAMTYPE=1");
    const Loaded goodLoaded = {1, 3, 4800, 1, 1};

    // Faults found: the deep @Variant crash, the hanging start, the huge profile.
    QTest::newRow("deep @Variant")
        << file << Settings("COMPORT=@Variant(" + kVariantLevel.repeated(30000) + kVariantInt + ")")
        << kDefaults << aside;
    QTest::newRow("fifo") << int(Setup::Fifo) << QByteArray() << kDefaults << alone;
    QTest::newRow("symlink to fifo")
        << int(Setup::SymlinkToFifo) << QByteArray() << kDefaults << alone;
    QTest::newRow("directory") << int(Setup::Directory) << QByteArray() << kDefaults << alone;
    QTest::newRow("lock is a directory")
        << int(Setup::LockDirectory) << good << goodLoaded << locked;
    QTest::newRow("lock held by another writer")
        << int(Setup::LockHeld) << good << goodLoaded << locked;
    QTest::newRow("lock is a fifo") << int(Setup::LockFifo) << good << goodLoaded << locked;
    QTest::newRow("50 MB") << file << Settings("COMPORT=2\n" + QByteArray(50 << 20, ';'))
                           << kDefaults << aside;
    QTest::newRow(".bad already there")
        << int(Setup::BadExists) << Settings("COMPORT=@Invalid()") << kDefaults << alone;

    // Encoded values in every spelling that reaches QSettings' decoder, within the size
    // limit (at 3,000 levels they would not yet overflow the stack, but would be decoded).
    const QByteArray deep = kVariantLevel.repeated(3000) + kVariantInt + ")";
    QTest::newRow("@Variant 3000 deep")
        << file << Settings("COMPORT=@Variant(" + deep) << kDefaults << aside;
    QTest::newRow("escaped @Variant")
        << file << Settings("COMPORT=\\x40Variant(" + deep) << kDefaults << aside;
    QTest::newRow("quoted @Variant")
        << file << Settings("COMPORT=\"@Variant(" + deep + "\"") << kDefaults << aside;
    QTest::newRow("@Variant in a list")
        << file << Settings("COMPORT=1, @Variant(" + deep) << kDefaults << aside;
    QTest::newRow("@Variant after a continuation")
        << file << Settings("COMPORT=\\\n@Variant(" + deep) << kDefaults << aside;
    QTest::newRow("@ByteArray") << file << Settings("COMPORT=@ByteArray(2)") << kDefaults << aside;
    QTest::newRow("@ in a comment")
        << file << Settings("; ask op@site\nCOMPORT=2") << kDefaults << aside;

    // Text the program never writes.
    QByteArray noise(4096, '\0');
    QRandomGenerator noiseSource(8);
    for (char& byte : noise) byte = char(noiseSource.bounded(256));
    QTest::newRow("binary noise") << file << noise << kDefaults << aside;
    QTest::newRow("NUL bytes") << file << Settings(QByteArray("COMPORT=2\0\0", 11)) << kDefaults
                               << aside;
    QTest::newRow("invalid UTF-8")
        << file << Settings("; caf\xe9\nCOMPORT=2") << kDefaults << aside;
    QTest::newRow("over the size limit")
        << file << Settings("COMPORT=2\n;" + QByteArray(ProfileGuard::kSizeLimit, 'x')) << kDefaults
        << aside;

    // Hostile but plain text: QSettings may have it, and nothing deep comes of it.
    const Loaded port2 = {1, 2, 9600, 0, 0};
    QTest::newRow("first start, no folder")
        << int(Setup::NoFolder) << QByteArray() << kDefaults << used;
    QTest::newRow("empty file") << file << QByteArray() << kDefaults << used;
    QTest::newRow("good") << file << good << goodLoaded << used;
    QTest::newRow("CRLF") << file << QByteArray("[Settings]\r\nCOMPORT=2\r\n") << port2 << used;
    QTest::newRow("UTF-8 text") << file << Settings("; café ☕\nCOMPORT=2") << port2 << used;
    QTest::newRow("duplicate sections")
        << file
        << Settings("COMPORT=4\nBAUDRATE=2400\n[Ports]\nCOM1=/dev/null\n[Settings]\nCOMPORT=2")
        << Loaded{1, 2, 2400, 0, 0} << used;
    QTest::newRow("no section") << file << QByteArray("COMPORT=2\n") << kDefaults << used;
    QTest::newRow("deep brackets")
        << file << Nested("[", "]", 20000) + "\nCOMPORT=2\n" + Settings("BAUDRATE=4800")
        << Loaded{1, 1, 4800, 0, 0} << used;
    QTest::newRow("deep parentheses")
        << file << Settings("COMPORT=" + Nested("(", ")", 20000)) << kDefaults << used;
    QTest::newRow("deep quotes") << file << Settings("COMPORT=" + QByteArray(40000, '"'))
                                 << kDefaults << used;
    QTest::newRow("long list") << file << Settings("COMPORT=" + QByteArray("2,").repeated(20000))
                               << kDefaults << used;
    QTest::newRow("huge line") << file << Settings("COMPORT=" + QByteArray(60000, '9')) << kDefaults
                               << used;
    QTest::newRow("lines without =")
        << file << Settings("COMPORT\n=\n==2\nCOMPORT=2") << port2 << used;
    QTest::newRow("COMUINIT 0") << file << Settings("COMUINIT=0\nCOMPORT=3")
                                << Loaded{0, 0, 0, 0, 0} << used;
    QTest::newRow("port 2147483648")
        << file << Settings("COMPORT=2147483648") << Loaded{1, INT32_MIN, 9600, 0, 0} << used;
    QTest::newRow("port -2147483648")
        << file << Settings("COMPORT=-2147483648") << Loaded{1, INT32_MIN, 9600, 0, 0} << used;
}

void TestProfile::hostileProfile() {
    QFETCH(int, setup);
    QFETCH(QByteArray, content);
    QFETCH(Loaded, loaded);
    QFETCH(int, fate);

    HostileProfile profile(Setup(setup), content);
    const Watchdog watchdog(QTest::currentDataTag());
    if (fate != int(Fate::Used))
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^velmor: the profile ")));
    SettingsProfileStore files(profile.path);
    SettingsStore store(files);
    QCOMPARE(Load(store), loaded);

    const bool kept = store.WriteProfileInt(ProfileKeys::kCamType, 1);
    QCOMPARE(kept, fate == int(Fate::Used) || fate == int(Fate::SetAside));
    switch (Fate(fate)) {
        case Fate::Used:
            QCOMPARE(SettingsProfileStore(profile.path)
                         .ReadValue(QStringLiteral("Settings"), QStringLiteral("CAMTYPE"))
                         .toString(),
                     QStringLiteral("1"));
            break;
        case Fate::SetAside:
            QCOMPARE(ReadAll(profile.path + QLatin1String(".bad")), content);
            QCOMPARE(ReadAll(profile.path), QByteArray("[Settings]\nCAMTYPE=1\n"));
            break;
        case Fate::LeftAlone:
        case Fate::LockRefused:
            QVERIFY(profile.Untouched());
            QVERIFY(!QFile::exists(profile.path + QLatin1String(".bad")) ||
                    Setup(setup) == Setup::BadExists);
            break;
    }
}

void TestProfile::keyText_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("value");

    // A text the store cannot take as a whole 32-bit number gives the key's default.
    constexpr qint64 kDefault = std::numeric_limits<qint64>::min();
    const QList<QPair<QString, qint64>> keys = {{QStringLiteral("COMPORT"), 1},
                                                {QStringLiteral("BAUDRATE"), 9600},
                                                {QStringLiteral("PROTOCOL"), 0},
                                                {QStringLiteral("CAMTYPE"), 0}};
    const QList<QPair<QByteArray, qint64>> texts = {{"", kDefault},
                                                    {"-1", -1},
                                                    {"-7", -7},
                                                    {"4294967295", -1},
                                                    {"4294967296", kDefault},
                                                    {"99999999999999999999", kDefault},
                                                    {"0x10", kDefault},
                                                    {"1.5", kDefault},
                                                    {"1e3", kDefault},
                                                    {" 7 ", 7},
                                                    {"+3", 3},
                                                    {"3abc", kDefault},
                                                    {"1,2", kDefault},
                                                    {"\"2\"", 2}};
    for (const auto& [key, fallback] : keys) {
        for (const auto& [text, value] : texts) {
            QTest::addRow("%s=%s", qPrintable(key), text.constData())
                << key << text << (value == kDefault ? fallback : value);
        }
    }
}

void TestProfile::keyText() {
    QFETCH(QString, key);
    QFETCH(QByteArray, text);
    QFETCH(qint64, value);

    HostileProfile profile(Setup::File, Settings(key.toLatin1() + '=' + text));
    SettingsProfileStore files(profile.path);
    const StoredSettings state = SettingsStore(files).LoadStoredSettings();
    QVERIFY(state.storedValuesRead);
    const QHash<QString, qint64> got = {{QStringLiteral("COMPORT"), state.comPort},
                                        {QStringLiteral("BAUDRATE"), qint32(state.baudRate)},
                                        {QStringLiteral("PROTOCOL"), state.protocol},
                                        {QStringLiteral("CAMTYPE"), state.cameraType}};
    QCOMPARE(got.value(key), value);
}

// Whatever the program itself writes, device paths included, passes the guard next time.
void TestProfile::ownWritesStayUsable() {
    HostileProfile profile(Setup::NoFolder, {});
    const QHash<QString, QVariant> written = {
        {QStringLiteral("Ports/COM1"), QStringLiteral("/dev/serial/by-id/usb-A\\x2fB_C-if00")},
        {QStringLiteral("Ports/COM2"), QStringLiteral("/dev/a, b")},
        {QStringLiteral("Ports/COM3"), QStringLiteral("/dev/ttyÜSB0 \"x\"")},
        {QStringLiteral("Settings/COMPORT"), -2147483647 - 1},
        {QStringLiteral("Settings/BAUDRATE"), 19200}};
    {
        SettingsProfileStore store(profile.path);
        for (auto it = written.cbegin(); it != written.cend(); ++it)
            QVERIFY(store.WriteValue(it.key().section('/', 0, 0), it.key().section('/', 1),
                                     it.value()));
    }
    QCOMPARE(ProfileGuard::CheckFile(profile.path).reason, QString());
    SettingsProfileStore again(profile.path);
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        QCOMPARE(again.ReadText(it.key().section('/', 0, 0), it.key().section('/', 1)).toString(),
                 it.value().toString());
    QCOMPARE(again.SectionKeys(QStringLiteral("Ports")).size(), 3);
}

void TestProfile::contentProblem_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("refused");

    QTest::newRow("written by the program")
        << QByteArray("[Settings]\nCAMTYPE=0\nCOMPORT=1\nBAUDRATE=9600\nPROTOCOL=0\nINITIAL=1\n")
        << false;
    QTest::newRow("ports") << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/usb-0403_6001-if00\n")
                           << false;
    QTest::newRow("@") << QByteArray("x=@") << true;
    QTest::newRow("escaped backslash in a device name")
        << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/usb-A\\\\x2fB-if00\n") << false;
    QTest::newRow("quoted path with a comma") << QByteArray("COM2=\"/dev/a, b\"") << false;
    QTest::newRow("continuation") << QByteArray("x=1\\\n") << false;
    QTest::newRow("hex escape") << QByteArray("x=\\x40") << true;
    QTest::newRow("upper hex escape") << QByteArray("x=\\X40") << true;
    QTest::newRow("octal escape") << QByteArray("x=\\100") << true;
    QTest::newRow("escape after an escaped backslash") << QByteArray("x=\\\\\\x40") << true;
    QTest::newRow("NUL") << QByteArray("x=\0", 3) << true;
    QTest::newRow("lone continuation byte") << QByteArray("x=\x80") << true;
    QTest::newRow("cut sequence") << QByteArray("x=\xe2\x98") << true;
}

void TestProfile::contentProblem() {
    QFETCH(QByteArray, content);
    QFETCH(bool, refused);

    QCOMPARE(!ProfileGuard::ContentProblem(content).isEmpty(), refused);
}

void TestProfile::profilePathIsNativeLocation() {
    const QSettings native(QSettings::NativeFormat, QSettings::UserScope,
                           QStringLiteral("PC-ZORVIK"), QStringLiteral("velmor"));
    QCOMPARE(
        SettingsProfileStore::ProfilePath(QStringLiteral("PC-ZORVIK"), QStringLiteral("velmor")),
        native.fileName());
}

void TestProfile::windowOnHostileProfile_data() {
    QTest::addColumn<int>("setup");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("initialWritten");

    const QStringList defaults = {QStringLiteral("   OSKA-DEF PROTOCOL"),
                                  QStringLiteral("PORT : COM1"), QStringLiteral("BAUD : 9600 bps"),
                                  QStringLiteral("ZOOM CAM CONTROL")};
    const QStringList defaultRows = {QStringLiteral("COM1"), QStringLiteral("9600"),
                                     QStringLiteral("ZOOM"), QStringLiteral("OSKA-DEFAULT")};
    QTest::newRow("deep @Variant")
        << int(Setup::File)
        << Settings("COMPORT=@Variant(" + kVariantLevel.repeated(30000) + kVariantInt + ")")
        << defaults << defaultRows << 1;
    QTest::newRow("fifo") << int(Setup::Fifo) << QByteArray() << defaults << defaultRows << -1;
    QTest::newRow("lock is a directory")
        << int(Setup::LockDirectory) << Settings("PROTOCOL=1\nCAMTYPE=1")
        << QStringList{QStringLiteral("      PELCO D PROTOCOL"), QStringLiteral("PORT : COM1"),
                       QStringLiteral("BAUD : 2400 bps"), QStringLiteral("B/D CAM CONTROL")}
        << QStringList{QStringLiteral("COM1"), QStringLiteral("2400"), QStringLiteral("B/D"),
                       QStringLiteral("PELCO D")}
        << -1;
    QTest::newRow("port -2147483648")
        << int(Setup::File) << Settings("COMPORT=-2147483648")
        << QStringList{defaults[0], QStringLiteral("PORT : COM-2147483648"), defaults[2],
                       defaults[3]}
        << QStringList{QString(), defaultRows[1], defaultRows[2], defaultRows[3]} << 1;
}

// The window starts on what the profile allows, and COMMUNICATION SET afterwards stores
// the settings only where the profile can take them.
void TestProfile::windowOnHostileProfile() {
    QFETCH(int, setup);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, rows);
    QFETCH(int, initialWritten);

    HostileProfile profile(Setup(setup), content);
    const Watchdog watchdog(QTest::currentDataTag());
    if (setup != int(Setup::File) || content.contains('@'))
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^velmor: the profile ")));
    RecordingDevice device;
    RecordingPause pause;
    RecordingMessages messages;
    SettingsProfileStore files(profile.path);
    CKeypadDlg dlg(KeypadServices{device, pause, files}, &messages);
    const QStringList status = dlg.StatusTexts();
    QCOMPARE(status.size(), 10);
    QCOMPARE((QStringList{status[3], status[4], status[5], status[7]}), lines);
    QStringList picked;
    for (int id : {1024, 1025, 1022, 1021})
        picked << qobject_cast<QComboBox*>(dlg.Control(id))->currentText();
    QCOMPARE(picked, rows);

    dlg.OnCommunicationSet();
    QCOMPARE(dlg.StatusTexts().size(), 10);
    QCOMPARE(dlg.Controller().Settings().settingsValid, initialWritten == 1 ? 1 : 0);
    const QVariant initial = SettingsProfileStore(profile.path)
                                 .ReadValue(QStringLiteral("Settings"), QStringLiteral("INITIAL"));
    QCOMPARE(initial.isValid() ? initial.toInt() : -1, initialWritten);
    if (initialWritten != 1)
        QVERIFY(profile.Untouched());
    else if (content.contains('@'))
        QCOMPARE(ReadAll(profile.path + QLatin1String(".bad")), content);
    QVERIFY(messages.shown.isEmpty());
}

QTEST_MAIN(TestProfile)
#include "tst_profile.moc"
