#include "fakes.h"

bool RecordingDevice::Open(const QString& name, uint32_t baud) {
    openedName = name;
    openedBaud = baud;
    isOpen = openResult;
    lost = lost && !openResult;
    return openResult;
}

void RecordingDevice::Close() {
    isOpen = false;
    ++closeCount;
}

uint32_t RecordingDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    lastTimeoutMs = timeoutMs;
    uint32_t written = 0;
    for (uint32_t i = 0; i < count; ++i) {
        ++attempts;
        if (attempts == dropNth) {
            lost = true;
            isOpen = false;
        }
        if (!isOpen || attempts == refuseNth)
            break;
        writes.append({data[i], clock.nsecsElapsed()});
        ++written;
    }
    return written;
}

QByteArray RecordingDevice::Bytes() const {
    QByteArray bytes;
    for (const auto& w : writes) bytes.append(static_cast<char>(w.byte));
    return bytes;
}

bool LoggedDevice::Open(const QString& name, uint32_t baud) {
    log << QStringLiteral("open %1 %2").arg(name).arg(baud);
    return inner.Open(name, baud);
}

void LoggedDevice::Close() {
    log << QStringLiteral("close");
    inner.Close();
}

uint32_t LoggedDevice::Write(const uint8_t* data, uint32_t count, int timeoutMs) {
    const uint32_t written = inner.Write(data, count, timeoutMs);
    for (uint32_t i = 0; i < written; ++i)
        log << QStringLiteral("%1").arg(data[i], 2, 16, QLatin1Char('0')).toUpper();
    return written + overclaim;
}

void ManualMender::Schedule(int delayMs, std::function<Attempt()> ready,
                            std::function<void(bool)> done) {
    delays << delayMs;
    this->ready = std::move(ready);
    this->done = std::move(done);
}

void ManualMender::CallOff() {
    if (running)
        RunAttempt();
    Cancel();
}

void ManualMender::Cancel() {
    ++cancels;
    ready = nullptr;
    done = nullptr;
    running = nullptr;
}

bool ManualMender::StartAttempt() {
    if (!ready)
        return false;
    running = std::exchange(ready, nullptr)();
    return true;
}

bool ManualMender::RunAttempt() {
    if (!running && !StartAttempt())
        return false;
    const Attempt attempt = std::exchange(running, nullptr);
    const std::function<void(bool)> finish = std::exchange(done, nullptr);
    finish(attempt());
    return true;
}

void RecordingPause::Sleep(int ms) {
    pauses.append(ms);
    virtualNs += int64_t(ms) * 1000000;
    if (real)
        precise.Sleep(ms);
}

QVariant MemoryProfile::ReadValue(const QString& section, const QString& key) const {
    return values.value(section + QLatin1Char('/') + key);
}

bool MemoryProfile::WriteValue(const QString& section, const QString& key, const QVariant& value) {
    written << key;
    if (refuse.contains(key))
        return false;
    values.insert(section + QLatin1Char('/') + key, value);
    return true;
}

QStringList MemoryProfile::SectionKeys(const QString& section) const {
    QStringList keys;
    const QString prefix = section + QLatin1Char('/');
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.key().startsWith(prefix))
            keys << it.key().mid(prefix.size());
    }
    keys.sort();
    return keys;
}
