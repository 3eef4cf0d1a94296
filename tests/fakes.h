#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QStringList>
#include <QVector>
#include <cstdint>

#include "profile/profile_store.h"
#include "serial/failsafe/line_guard.h"
#include "serial/line/line_mender.h"
#include "serial/line/pause.h"
#include "serial/line/serial_device.h"

// Records every byte written with the time it was taken, and can refuse a chosen byte.
class RecordingDevice : public SerialDevice {
public:
    struct Record {
        uint8_t byte;
        qint64 nsecs;  // since the device was made
    };

    bool Open(const QString& name, uint32_t baud) override;
    void Close() override;
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    LineKind NativeKind() const override { return kind; }
    bool LineLost() const override { return lost; }

    QByteArray Bytes() const;
    void ClearRecord() { writes.clear(); }

    bool openResult = true;
    int refuseNth = 0;  // 1-based index of the write attempt to refuse; 0 refuses none
    int dropNth = 0;    // the write attempt at which the line is lost (an adapter unplugged)
    bool lost = false;
    int attempts = 0;
    bool isOpen = false;
    QString openedName;
    uint32_t openedBaud = 0;
    int lastTimeoutMs = -1;
    int closeCount = 0;
    LineKind kind = LineKind::Serial;
    QVector<Record> writes;
    QElapsedTimer clock;

    RecordingDevice() { clock.start(); }
};

// Passes everything on to another device; a test overrides what it watches.
class ForwardingDevice : public SerialDevice {
public:
    explicit ForwardingDevice(SerialDevice& inner) : inner(inner) {}
    bool Open(const QString& name, uint32_t baud) override { return inner.Open(name, baud); }
    void Close() override { inner.Close(); }
    bool OpenMayWait(const QString& name) const override { return inner.OpenMayWait(name); }
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override {
        return inner.Write(data, count, timeoutMs);
    }
    intptr_t NativeHandle() const override { return inner.NativeHandle(); }
    LineKind NativeKind() const override { return inner.NativeKind(); }
    PortProblem LastProblem() const override { return inner.LastProblem(); }
    PortProblem WriteProblem() const override { return inner.WriteProblem(); }
    bool LineLost() const override { return inner.LineLost(); }
    bool CheckLine() override { return inner.CheckLine(); }
    bool FlowHeld() const override { return inner.FlowHeld(); }
    void Abandon() override { inner.Abandon(); }

protected:
    SerialDevice& inner;
};

// Writes what the device does into a shared time line: "open <name> <baud>", "close", and
// each byte that left as two upper-case hex digits ("2A").
class LoggedDevice : public ForwardingDevice {
public:
    LoggedDevice(SerialDevice& inner, QStringList& log) : ForwardingDevice(inner), log(log) {}
    bool Open(const QString& name, uint32_t baud) override;
    void Close() override;
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override;
    // Added to every result: a platform that reports more than it was asked to write.
    uint32_t overclaim = 0;

private:
    QStringList& log;
};

// Runs the attempts to open a dropped line again only when told, on the caller's thread, and
// keeps the pauses they were scheduled after.
class ManualMender : public LineMender {
public:
    void Schedule(int delayMs, std::function<Attempt()> ready,
                  std::function<void(bool)> done) override;
    // An attempt under way is run to its end and handed on; one only scheduled is dropped.
    void CallOff() override;
    void Cancel() override;
    bool RunAside(const Attempt& attempt) override { return attempt(); }
    void Watch(int intervalMs, std::function<void()> look) override {
        this->look = std::move(look);
        lookIntervalMs = intervalMs;
    }
    // The link's look at its line, as the timer would run it; nothing when none is set.
    void Look() {
        if (look)
            look();
    }
    // Runs the attempt scheduled (or under way) and hands its result on; false when there is
    // none.
    bool RunAttempt();
    // The attempt scheduled is under way: its timer fired, it has not returned yet.
    bool StartAttempt();
    bool Scheduled() const { return bool(ready); }
    bool UnderWay() const { return bool(running); }

    QVector<int> delays;
    int cancels = 0;
    int lookIntervalMs = 0;

private:
    std::function<Attempt()> ready;
    std::function<void(bool)> done;
    Attempt running;
    std::function<void()> look;
};

// Keeps the movement record as the guardian does, and holds the line from the link's opening
// until it lets go (a hand-over at the end of the run leaves it held).
class HoldingGuard : public LineGuard {
public:
    MovementRecord& Record() override { return record; }
    void LineOpened(intptr_t) override { holdsLine = true; }
    void LineClosed() override { holdsLine = false; }
    MovementRecord record{};
    bool holdsLine = false;
};

// Records pauses; sleeps for real only when asked to. Its clock is the line clock when it
// sleeps for real, else one that only its pauses move on.
class RecordingPause : public Pause {
public:
    void Sleep(int ms) override;
    int64_t NowNs() const override { return real ? precise.NowNs() : virtualNs; }
    QVector<int> pauses;
    bool real = false;
    int64_t virtualNs = 1000000000;

private:
    PrecisePause precise;
};

// Passes pauses on and writes each into a shared time line as "p<ms>".
class LoggedPause : public Pause {
public:
    LoggedPause(RecordingPause& inner, QStringList& log) : inner(inner), log(log) {}
    void Sleep(int ms) override {
        log << QStringLiteral("p%1").arg(ms);
        inner.Sleep(ms);
    }
    int64_t NowNs() const override { return inner.NowNs(); }

private:
    RecordingPause& inner;
    QStringList& log;
};

// A profile in memory; a key listed in refuse is never kept.
class MemoryProfile : public ProfileStore {
public:
    QVariant ReadValue(const QString& section, const QString& key) const override;
    bool WriteValue(const QString& section, const QString& key, const QVariant& value) override;
    QStringList SectionKeys(const QString& section) const override;

    QHash<QString, QVariant> values;  // "Section/KEY"
    QStringList refuse;               // keys whose writes fail
    QStringList written;              // keys in the order written, refused ones included
};

// Bytes from hex digits; spaces between them are skipped.
inline QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}
