#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "profile/profile_store.h"
#include "profile/settings_store.h"

// Any bytes as the profile file, loaded the way the program loads it at start: the
// guarded file store, then the stored settings, then the camera type written back.

namespace {

QTemporaryDir* folder = nullptr;

void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(Quiet);
    // In memory where there is such a file system: each write of the profile ends with
    // an fsync, which on a disk would make the run a few dozen inputs a second.
    const QString shm = QStringLiteral("/dev/shm");
    folder = QDir(shm).exists() ? new QTemporaryDir(shm + QStringLiteral("/velmor-fuzz-XXXXXX"))
                                : new QTemporaryDir;
    return folder->isValid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = folder->filePath(QStringLiteral("velmor.conf"));
    QFile::remove(path);
    QFile::remove(path + QLatin1String(".bad"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    SettingsProfileStore profile(path);
    SettingsStore store(profile);
    const StoredSettings state = store.LoadStoredSettings();
    if (state.storedValuesRead) {
        // Whatever the file held, a load gives whole numbers and nothing else.
        volatile int64_t sink = int64_t(state.comPort) + state.baudRate + state.protocol;
        (void)sink;
    }
    store.StoreCameraType(state.cameraType);
    // A file that was set aside keeps its bytes.
    if (QFile::exists(path + QLatin1String(".bad"))) {
        QFile bad(path + QLatin1String(".bad"));
        if (!bad.open(QIODevice::ReadOnly) ||
            bad.readAll() != QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)))
            std::abort();
    }
    return 0;
}
