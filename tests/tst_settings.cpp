#include <QtTest>
#include <limits>
#include <memory>

#include "control/keypad_controller.h"
#include "keypad_rig.h"
#include "profile/port_map.h"
#include "profile/profile_store.h"
#include "profile/settings_store.h"

// The stored settings on two backends: the in-memory profile, and the real file-backed
// profile kept in a temporary directory (never the profile of whoever runs the tests).

namespace {

const QStringList kBackends = {QStringLiteral("memory"), QStringLiteral("file")};

// Records which keys are read and written, in order, and passes everything on.
class LoggedProfile : public ProfileStore {
public:
    explicit LoggedProfile(ProfileStore& inner) : inner(inner) {}
    QVariant ReadValue(const QString& section, const QString& key) const override {
        reads << section + QLatin1Char('/') + key;
        return inner.ReadValue(section, key);
    }
    bool WriteValue(const QString& section, const QString& key, const QVariant& value) override {
        writes << section + QLatin1Char('/') + key;
        return inner.WriteValue(section, key, value);
    }
    mutable QStringList reads;
    QStringList writes;

private:
    ProfileStore& inner;
};

// A profile holding the given lines of section "Settings" as a hand-edited profile would
// hold them: text, whatever it says.
struct Profile {
    Profile(const QString& backend, const QList<QPair<QString, QString>>& settings) {
        if (backend == QLatin1String("memory")) {
            auto memoryStore = std::make_unique<MemoryProfile>();
            memory = memoryStore.get();
            for (const auto& [key, text] : settings)
                memory->values.insert(QStringLiteral("Settings/") + key, text);
            store = std::move(memoryStore);
            return;
        }
        path = dir.filePath(QStringLiteral("profile.ini"));
        if (!settings.isEmpty()) {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly)) {
                file.write("[Settings]\n");
                for (const auto& [key, text] : settings)
                    file.write((key + QLatin1Char('=') + text + QLatin1Char('\n')).toLatin1());
            }
        }
        store = std::make_unique<SettingsProfileStore>(path);
    }

    QTemporaryDir dir;
    QString path;
    MemoryProfile* memory = nullptr;
    std::unique_ptr<ProfileStore> store;
};

// The controller on a recording device, naming its ports from the profile as the program
// does, with COM3 and PELCO D (so 2400 baud) picked.
struct ControllerRig {
    explicit ControllerRig(ProfileStore& profile)
        : controller(KeypadServices{loggedDevice, loggedPause, profile}) {
        controller.OnSelChangeComPort(2);
        controller.OnSelChangeProtocol(ProtocolPelcoD);
    }
    QString TakeLog() {
        const QString text = log.join(QLatin1Char(' '));
        log.clear();
        return text;
    }
    bool Open() {
        const bool opened = controller.OpenWithSettings() == 1;
        log.clear();
        return opened;
    }

    RecordingDevice device;
    RecordingPause pause;
    QStringList log;
    LoggedDevice loggedDevice{device, log};
    LoggedPause loggedPause{pause, log};
    KeypadController controller;
};

// The devices COM1 to COM3 stand for without an entry of their own.
#ifdef Q_OS_WIN
const QString kCom1 = QStringLiteral("COM1"), kCom2 = QStringLiteral("COM2"),
              kCom3 = QStringLiteral("COM3");
#else
const QString kCom1 = QStringLiteral("/dev/ttyS0"), kCom2 = QStringLiteral("/dev/ttyS1"),
              kCom3 = QStringLiteral("/dev/ttyS2");
#endif

int32_t LoadedField(const StoredSettings& state, const QString& key) {
    if (key == QLatin1String("COMUINIT"))
        return state.settingsValid;
    if (key == QLatin1String("COMPORT"))
        return state.comPort;
    if (key == QLatin1String("BAUDRATE"))
        return static_cast<int32_t>(state.baudRate);
    if (key == QLatin1String("PROTOCOL"))
        return state.protocol;
    return state.cameraType;
}

const QStringList kLoadOrder = {
    QStringLiteral("Settings/COMUINIT"), QStringLiteral("Settings/COMPORT"),
    QStringLiteral("Settings/BAUDRATE"), QStringLiteral("Settings/PROTOCOL"),
    QStringLiteral("Settings/CAMTYPE"),
};
const QStringList kApplyOrder = {
    QStringLiteral("COMPORT"),
    QStringLiteral("BAUDRATE"),
    QStringLiteral("PROTOCOL"),
    QStringLiteral("INITIAL"),
};

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void emptyStoreGivesDefaults_data();
    void emptyStoreGivesDefaults();
    void storedValuesLoad_data();
    void storedValuesLoad();
    void comuInitZeroReadsNothingElse_data();
    void comuInitZeroReadsNothingElse();
    void storedText_data();
    void storedText();
    void unsignedValueKeepsBits_data();
    void unsignedValueKeepsBits();

    void storeCameraType_data();
    void storeCameraType();
    void storeCameraTypeRefused();

    void applyWritesInOrder_data();
    void applyWritesInOrder();
    void applyOnFileProfile();
    void applyRefusedByFileProfile();
    void applyClosesOpenLink();
    void applyOpensClosedLink();
    void applyReturnsOpenResult();

    void protocolRate_data();
    void protocolRate();
    void portDeviceName_data();
    void portDeviceName();
};

void TestSettings::emptyStoreGivesDefaults_data() {
    QTest::addColumn<QString>("backend");
    for (const QString& backend : kBackends) QTest::newRow(qPrintable(backend)) << backend;
}

void TestSettings::emptyStoreGivesDefaults() {
    QFETCH(QString, backend);

    Profile profile(backend, {});
    LoggedProfile logged(*profile.store);
    SettingsStore store(logged);
    const StoredSettings state = store.LoadStoredSettings();
    QVERIFY(state.storedValuesRead);
    QCOMPARE(state.settingsValid, 1);
    QCOMPARE(state.comPort, 1);
    QCOMPARE(state.baudRate, 9600u);
    QCOMPARE(state.protocol, 0);
    QCOMPARE(state.cameraType, 0);
    QCOMPARE(logged.reads, kLoadOrder);
    QCOMPARE(logged.writes, QStringList());
    if (!profile.path.isEmpty())
        QVERIFY(!QFile::exists(profile.path));
}

void TestSettings::storedValuesLoad_data() {
    QTest::addColumn<QString>("backend");
    for (const QString& backend : kBackends) QTest::newRow(qPrintable(backend)) << backend;
}

void TestSettings::storedValuesLoad() {
    QFETCH(QString, backend);

    // A COMUINIT other than 0 is taken as it is; no value is checked against a range.
    Profile profile(backend, {{"COMUINIT", "5"},
                              {"COMPORT", "7"},
                              {"BAUDRATE", "19200"},
                              {"PROTOCOL", "1"},
                              {"CAMTYPE", "1"},
                              {"INITIAL", "0"}});
    LoggedProfile logged(*profile.store);
    SettingsStore store(logged);
    const StoredSettings state = store.LoadStoredSettings();
    QVERIFY(state.storedValuesRead);
    QCOMPARE(state.settingsValid, 5);
    QCOMPARE(state.comPort, 7);
    QCOMPARE(state.baudRate, 19200u);
    QCOMPARE(state.protocol, 1);
    QCOMPARE(state.cameraType, 1);
    QCOMPARE(logged.reads, kLoadOrder);
    QCOMPARE(logged.writes, QStringList());
}

void TestSettings::comuInitZeroReadsNothingElse_data() {
    QTest::addColumn<QString>("backend");
    for (const QString& backend : kBackends) QTest::newRow(qPrintable(backend)) << backend;
}

void TestSettings::comuInitZeroReadsNothingElse() {
    QFETCH(QString, backend);

    Profile profile(backend, {{"COMUINIT", "0"},
                              {"COMPORT", "4"},
                              {"BAUDRATE", "2400"},
                              {"PROTOCOL", "1"},
                              {"CAMTYPE", "1"}});
    LoggedProfile logged(*profile.store);
    const StoredSettings state = SettingsStore(logged).LoadStoredSettings();
    QVERIFY(!state.storedValuesRead);
    QCOMPARE(state.settingsValid, 0);
    QCOMPARE(logged.reads, QStringList{QStringLiteral("Settings/COMUINIT")});
    QCOMPARE(logged.writes, QStringList());
}

void TestSettings::storedText_data() {
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    const struct {
        const char* key;
        const char* text;
        int expected;
    } rows[] = {
        {"COMUINIT", "abc", 1},
        {"COMUINIT", "", 1},
        {"COMUINIT", "12abc", 1},
        {"COMPORT", "abc", 1},
        {"COMPORT", "", 1},
        {"COMPORT", "12abc", 1},
        {"COMPORT", "99999999999", 1},
        {"COMPORT", "7", 7},
        {"COMPORT", "-3", -3},
        {"BAUDRATE", "abc", 9600},
        {"BAUDRATE", "", 9600},
        {"BAUDRATE", "12abc", 9600},
        {"BAUDRATE", "99999999999", 9600},
        {"BAUDRATE", "0", 0},
        {"BAUDRATE", "2400.0", 9600},
        {"BAUDRATE", "1e3", 9600},
        {"BAUDRATE", "4800", 4800},
        {"PROTOCOL", "abc", 0},
        {"PROTOCOL", "", 0},
        {"PROTOCOL", "12abc", 0},
        {"PROTOCOL", "99999999999", 0},
        {"PROTOCOL", "2", 2},
        {"PROTOCOL", "1.5", 0},
        {"PROTOCOL", "-2147483648", std::numeric_limits<int32_t>::min()},
        {"PROTOCOL", "-2147483649", 0},
        {"PROTOCOL", "4294967296", 0},
        {"CAMTYPE", "abc", 0},
        {"CAMTYPE", "", 0},
        {"CAMTYPE", "12abc", 0},
        {"CAMTYPE", "99999999999", 0},
        {"CAMTYPE", "1", 1},
    };
    for (const QString& backend : kBackends) {
        for (const auto& row : rows) {
            QTest::addRow("%s %s='%s'", qPrintable(backend), row.key, row.text)
                << backend << QString::fromLatin1(row.key) << QString::fromLatin1(row.text)
                << row.expected;
        }
    }
}

void TestSettings::storedText() {
    QFETCH(QString, backend);
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(int, expected);

    Profile profile(backend, {{key, text}});
    const StoredSettings state = SettingsStore(*profile.store).LoadStoredSettings();
    QCOMPARE(state.storedValuesRead, true);
    QCOMPARE(LoadedField(state, key), expected);
}

void TestSettings::unsignedValueKeepsBits_data() {
    QTest::addColumn<QString>("backend");
    for (const QString& backend : kBackends) QTest::newRow(qPrintable(backend)) << backend;
}

void TestSettings::unsignedValueKeepsBits() {
    QFETCH(QString, backend);

    Profile profile(backend,
                    {{"BAUDRATE", "4294967295"}, {"COMPORT", "2147483648"}, {"PROTOCOL", "-1"}});
    SettingsStore store(*profile.store);
    QCOMPARE(store.GetProfileInt(ProfileKeys::kBaudRate), -1);
    const StoredSettings state = store.LoadStoredSettings();
    QVERIFY(state.storedValuesRead);
    QCOMPARE(state.baudRate, 4294967295u);
    QCOMPARE(state.comPort, std::numeric_limits<int32_t>::min());
    QCOMPARE(state.protocol, -1);

    // A negative value written by the program reads back as itself.
    QVERIFY(store.WriteProfileInt(ProfileKeys::kCamType, -7));
    QCOMPARE(store.GetProfileInt(ProfileKeys::kCamType), -7);
}

void TestSettings::storeCameraType_data() {
    QTest::addColumn<QString>("backend");
    for (const QString& backend : kBackends) QTest::newRow(qPrintable(backend)) << backend;
}

void TestSettings::storeCameraType() {
    QFETCH(QString, backend);

    Profile profile(backend, {});
    LoggedProfile logged(*profile.store);
    SettingsStore store(logged);

    store.StoreCameraType(1);
    QCOMPARE(logged.writes, QStringList{QStringLiteral("Settings/CAMTYPE")});
    QCOMPARE(store.GetProfileInt({"CAMTYPE", -5}), 1);

    // The unchanged value is written again, 0 included.
    store.StoreCameraType(0);
    store.StoreCameraType(0);
    QCOMPARE(logged.writes, QStringList(3, QStringLiteral("Settings/CAMTYPE")));
    QCOMPARE(store.GetProfileInt({"CAMTYPE", -5}), 0);

    // Nothing but CAMTYPE reached the store.
    SettingsStore reader(*profile.store);
    const StoredSettings loaded = reader.LoadStoredSettings();
    QVERIFY(loaded.storedValuesRead);
    QCOMPARE(loaded.comPort, 1);
    QCOMPARE(loaded.baudRate, 9600u);
    QCOMPARE(reader.GetProfileInt({"INITIAL", -5}), -5);
    QCOMPARE(reader.GetProfileInt({"COMUINIT", -5}), -5);
}

void TestSettings::storeCameraTypeRefused() {
    MemoryProfile profile;
    profile.refuse << QStringLiteral("CAMTYPE");
    SettingsStore(profile).StoreCameraType(1);
    QCOMPARE(profile.written, QStringList{QStringLiteral("CAMTYPE")});
    QVERIFY(profile.values.isEmpty());
}

void TestSettings::applyWritesInOrder_data() {
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<int>("settingsValid");

    QTest::newRow("all kept") << QStringList() << 1;
    QTest::newRow("COMPORT refused") << QStringList{"COMPORT"} << 0;
    QTest::newRow("BAUDRATE refused") << QStringList{"BAUDRATE"} << 0;
    QTest::newRow("PROTOCOL refused") << QStringList{"PROTOCOL"} << 0;
    QTest::newRow("COMPORT and PROTOCOL refused") << QStringList{"COMPORT", "PROTOCOL"} << 0;
    QTest::newRow("all refused") << QStringList{"COMPORT", "BAUDRATE", "PROTOCOL", "INITIAL"} << 0;
    // The result of the INITIAL write itself does not count.
    QTest::newRow("INITIAL refused") << QStringList{"INITIAL"} << 1;
    QTest::newRow("CAMTYPE refused") << QStringList{"CAMTYPE"} << 1;
}

void TestSettings::applyWritesInOrder() {
    QFETCH(QStringList, refused);
    QFETCH(int, settingsValid);

    MemoryProfile profile;
    ControllerRig rig(profile);
    QVERIFY(rig.Open());
    profile.refuse = refused;

    QVERIFY(rig.controller.ApplyCommunicationSettings());
    QCOMPARE(profile.written, kApplyOrder);
    QCOMPARE(rig.controller.Settings().settingsValid, settingsValid);

    const QHash<QString, int> expected = {
        {QStringLiteral("COMPORT"), 3},
        {QStringLiteral("BAUDRATE"), 2400},
        {QStringLiteral("PROTOCOL"), 1},
        {QStringLiteral("INITIAL"), settingsValid},
    };
    for (const QString& key : kApplyOrder) {
        const QVariant value = profile.values.value(QStringLiteral("Settings/") + key);
        if (refused.contains(key))
            QVERIFY2(!value.isValid(), qPrintable(key));
        else
            QCOMPARE(value.toInt(), expected.value(key));
    }
    QVERIFY(!profile.values.contains(QStringLiteral("Settings/CAMTYPE")));
    QVERIFY(!profile.values.contains(QStringLiteral("Settings/COMUINIT")));

    // Reopened with the values in force, whatever the writes did.
    QCOMPARE(rig.TakeLog(), QStringLiteral("close p100 open %1 2400").arg(kCom3));
    QVERIFY(rig.controller.PortOpen());
    QCOMPARE(rig.controller.Settings().comPort, 3);
    QCOMPARE(rig.controller.Settings().baudRate, 2400u);
    QCOMPARE(rig.controller.Settings().protocol, 1);
}

void TestSettings::applyOnFileProfile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("profile.ini"));
    SettingsProfileStore profile(path);
    ControllerRig rig(profile);
    rig.controller.OnSelChangeComPort(1);
    rig.controller.OnSelChangeProtocol(ProtocolOskaDefault);
    rig.controller.OnSelChangeBaudRate(3);

    QVERIFY(rig.controller.ApplyCommunicationSettings());
    QCOMPARE(rig.controller.Settings().settingsValid, 1);
    QCOMPARE(rig.TakeLog(), QStringLiteral("open %1 19200").arg(kCom2));

    // A fresh store on the same file sees what was kept.
    SettingsProfileStore again(path);
    SettingsStore reader(again);
    const StoredSettings loaded = reader.LoadStoredSettings();
    QVERIFY(loaded.storedValuesRead);
    QCOMPARE(loaded.comPort, 2);
    QCOMPARE(loaded.baudRate, 19200u);
    QCOMPARE(loaded.protocol, 0);
    QCOMPARE(loaded.settingsValid, 1);  // COMUINIT absent: its default
    QCOMPARE(reader.GetProfileInt({"INITIAL", -5}), 1);
    QCOMPARE(reader.GetProfileInt({"COMUINIT", -5}), -5);
    QCOMPARE(reader.GetProfileInt({"CAMTYPE", -5}), -5);
}

void TestSettings::applyRefusedByFileProfile() {
    // The profile's folder cannot be made: a regular file stands where it should be. That
    // refuses the write for every user, root included.
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("blocker"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a folder");
    }
    SettingsProfileStore profile(blocker + QStringLiteral("/profile.ini"));
    QVERIFY(!profile.WriteValue(QStringLiteral("Settings"), QStringLiteral("COMPORT"), 1));

    ControllerRig rig(profile);
    QVERIFY(rig.Open());
    QVERIFY(rig.controller.ApplyCommunicationSettings());
    QCOMPARE(rig.controller.Settings().settingsValid, 0);
    QCOMPARE(rig.TakeLog(), QStringLiteral("close p100 open %1 2400").arg(kCom3));
    QVERIFY(rig.controller.PortOpen());
    QCOMPARE(rig.controller.Settings().comPort, 3);
    QCOMPARE(SettingsStore(profile).GetProfileInt({"COMPORT", -5}), -5);

    // A later write that can be kept is not taken for refused.
    QTemporaryDir good;
    SettingsProfileStore fine(good.filePath(QStringLiteral("profile.ini")));
    QCOMPARE(SettingsStore(fine).StoreCommunicationSettings(3, 2400, 1), 1);
}

void TestSettings::applyClosesOpenLink() {
    MemoryProfile profile;
    ControllerRig rig(profile);
    rig.controller.OnSelChangeComPort(0);
    QVERIFY(rig.Open());
    QCOMPARE(rig.device.openedName, kCom1);
    rig.controller.OnSelChangeComPort(2);

    QVERIFY(rig.controller.ApplyCommunicationSettings());
    QCOMPARE(rig.device.closeCount, 1);
    QCOMPARE(rig.pause.pauses, QVector<int>{100});
    QCOMPARE(rig.TakeLog(), QStringLiteral("close p100 open %1 2400").arg(kCom3));
    QCOMPARE(rig.device.openedName, kCom3);
    QCOMPARE(rig.device.openedBaud, 2400u);
    QVERIFY(rig.controller.PortOpen());
}

void TestSettings::applyOpensClosedLink() {
    MemoryProfile profile;
    ControllerRig rig(profile);
    rig.device.openResult = false;
    QVERIFY(!rig.Open());
    rig.device.openResult = true;

    // A link that is not open is not closed again.
    QVERIFY(rig.controller.ApplyCommunicationSettings());
    QCOMPARE(rig.device.closeCount, 0);
    QCOMPARE(rig.pause.pauses, QVector<int>());
    QCOMPARE(rig.TakeLog(), QStringLiteral("open %1 2400").arg(kCom3));
    QVERIFY(rig.controller.PortOpen());
}

void TestSettings::applyReturnsOpenResult() {
    MemoryProfile profile;
    ControllerRig rig(profile);
    QVERIFY(rig.Open());
    rig.device.openResult = false;

    QVERIFY(!rig.controller.ApplyCommunicationSettings());
    QVERIFY(!rig.controller.PortOpen());
    QCOMPARE(rig.controller.Settings().settingsValid, 1);
    QCOMPARE(profile.written, kApplyOrder);
    QCOMPARE(rig.TakeLog(), QStringLiteral("close p100 open %1 2400").arg(kCom3));

    // A stored rate of 0 under an unknown protocol cannot open the link.
    profile.values.insert(QStringLiteral("Settings/BAUDRATE"), 0);
    profile.values.insert(QStringLiteral("Settings/PROTOCOL"), 2);
    rig.device.openResult = true;
    KeypadController started(KeypadServices{rig.loggedDevice, rig.loggedPause, profile});
    started.OnInitDialog();
    QVERIFY(!started.PortOpen());
    QVERIFY(!started.ApplyCommunicationSettings());
    QVERIFY(!started.PortOpen());
    QCOMPARE(profile.values.value(QStringLiteral("Settings/BAUDRATE")).toInt(), 0);
}

// A protocol imposes its rate: 9600 for OSKA-DEFAULT and 2400 for PELCO D, at start-up over
// the stored rate and when its row is picked; any other protocol keeps the stored rate.
void TestSettings::protocolRate_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<uint>("opened");   // the rate the port opened at, at start-up
    QTest::addColumn<int>("picked");    // the protocol row picked then; -1: none
    QTest::addColumn<uint>("inForce");  // the rate in force after the pick

    QTest::newRow("OSKA-DEFAULT stored at 19200")
        << Stored{{"PROTOCOL", 0}, {"BAUDRATE", 19200}} << 9600u << -1 << 9600u;
    QTest::newRow("PELCO D stored at 9600")
        << Stored{{"PROTOCOL", 1}, {"BAUDRATE", 9600}} << 2400u << -1 << 2400u;
    QTest::newRow("2 stored at 19200")
        << Stored{{"PROTOCOL", 2}, {"BAUDRATE", 19200}} << 19200u << -1 << 19200u;
    QTest::newRow("-1 stored at 4800")
        << Stored{{"PROTOCOL", -1}, {"BAUDRATE", 4800}} << 4800u << -1 << 4800u;
    QTest::newRow("7 stored at 2400")
        << Stored{{"PROTOCOL", 7}, {"BAUDRATE", 2400}} << 2400u << -1 << 2400u;
    QTest::newRow("PELCO D picked") << Stored{} << 9600u << 1 << 2400u;
    QTest::newRow("OSKA-DEFAULT picked") << Stored{{"PROTOCOL", 1}} << 2400u << 0 << 9600u;
    QTest::newRow("PELCO D picked under 2 at 19200")
        << Stored{{"PROTOCOL", 2}, {"BAUDRATE", 19200}} << 19200u << 1 << 2400u;
    QTest::newRow("row 2 picked changes nothing")
        << Stored{{"PROTOCOL", 2}, {"BAUDRATE", 19200}} << 19200u << 2 << 19200u;
}

void TestSettings::protocolRate() {
    QFETCH(Stored, stored);
    QFETCH(uint, opened);
    QFETCH(int, picked);
    QFETCH(uint, inForce);

    KeypadRig rig(stored);
    QCOMPARE(rig.device.openedBaud, opened);
    QCOMPARE(rig.controller.Settings().baudRate, opened);
    if (picked >= 0)
        rig.controller.OnSelChangeProtocol(picked);
    QCOMPARE(rig.controller.Settings().baudRate, inForce);
    // The port keeps its rate until COMMUNICATION SET.
    QCOMPARE(rig.device.openedBaud, opened);
}

void TestSettings::portDeviceName_data() {
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("mappedPort");  // empty: no mapping
    QTest::addColumn<QString>("mappedTo");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("device");

    for (const QString& backend : kBackends) {
        const QByteArray b = backend.toLatin1();
#ifdef Q_OS_WIN
        // An entry names one of Windows' own ports; a Linux path names none.
        QTest::addRow("%s COM1 mapped to COM7", b.data()) << backend << "COM1"
                                                          << "COM7" << 1 << "COM7";
        QTest::addRow("%s COM1 mapped to a path", b.data()) << backend << "COM1"
                                                            << "/dev/ttyUSB0" << 1 << "";
        QTest::addRow("%s COM7", b.data()) << backend << ""
                                           << "" << 7 << "COM7";
#else
        QTest::addRow("%s COM1 mapped", b.data()) << backend << "COM1"
                                                  << "/dev/ttyUSB0" << 1 << "/dev/ttyUSB0";
        QTest::addRow("%s COM1 absent", b.data()) << backend << ""
                                                  << "" << 1 << "/dev/ttyS0";
        QTest::addRow("%s COM7 absent", b.data()) << backend << ""
                                                  << "" << 7 << "/dev/ttyS6";
        QTest::addRow("%s COM2 with only COM1 mapped", b.data())
            << backend << "COM1"
            << "/dev/ttyUSB0" << 2 << "/dev/ttyS1";
        QTest::addRow("%s COM4 mapped", b.data()) << backend << "COM4"
                                                  << "/dev/pts/9" << 4 << "/dev/pts/9";
        QTest::addRow("%s COM3 mapped to nothing", b.data()) << backend << "COM3"
                                                             << "" << 3 << "/dev/ttyS2";
        QTest::addRow("%s COM4 absent", b.data()) << backend << ""
                                                  << "" << 4 << "/dev/ttyS3";
        QTest::addRow("%s COM12 absent", b.data()) << backend << ""
                                                   << "" << 12 << "/dev/ttyS11";
        QTest::addRow("%s COM7 mapped", b.data()) << backend << "COM7"
                                                  << "/dev/ttyACM2" << 7 << "/dev/ttyACM2";
#endif
    }
}

void TestSettings::portDeviceName() {
    QFETCH(QString, backend);
    QFETCH(QString, mappedPort);
    QFETCH(QString, mappedTo);
    QFETCH(int, port);
    QFETCH(QString, device);

    QTemporaryDir dir;
    std::unique_ptr<ProfileStore> profile;
    if (backend == QLatin1String("memory")) {
        auto memory = std::make_unique<MemoryProfile>();
        if (!mappedPort.isEmpty())
            memory->values.insert(QStringLiteral("Ports/") + mappedPort, mappedTo);
        profile = std::move(memory);
    } else {
        const QString path = dir.filePath(QStringLiteral("profile.ini"));
        if (!mappedPort.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(("[Ports]\n" + mappedPort + QLatin1Char('=') + mappedTo + "\n").toLatin1());
        }
        profile = std::make_unique<SettingsProfileStore>(path);
    }
    QCOMPARE(PortDeviceName(port, *profile), device);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
