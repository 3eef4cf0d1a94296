#include <QRandomGenerator>
#include <QtTest>

#include "camera_model.h"
#include "frame_decoder.h"
#include "frame_text.h"
#include "serial/failsafe/line_timing.h"
#include "telnet_filter.h"

// The analyser judges the keypad's pauses by figures of its own, so that it never takes the
// keypad's word for them; they must still be the keypad's.
static_assert(FrameDecoder::kBytePauseUs == LineTiming::kBytePauseMs * 1000);
static_assert(FrameDecoder::kFramePauseUs == LineTiming::kFramePauseMs * 1000);

// The line analyser's decoder: byte streams in, frames out. Every stream and every
// expected meaning is written out literally; none is built with the keypad's code.

namespace {

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(text);
}

// A stream in chunks: each chunk arrives at its own time in milliseconds.
struct Chunk {
    QByteArray bytes;
    int atMs = 0;
};
using Chunks = QVector<Chunk>;

QString Describe(const DecodedFrame& f) {
    return QStringLiteral("%1 | %2 | %3 | %4 | %5")
        .arg(StatusName(f.status), ProtocolName(f.protocol))
        .arg(f.address)
        .arg(MeaningText(f), HexBytes(f.bytes));
}

QVector<DecodedFrame> DecodeAll(const Chunks& chunks) {
    FrameDecoder decoder;
    QVector<DecodedFrame> frames;
    for (const Chunk& chunk : chunks) frames += decoder.Feed(chunk.bytes, chunk.atMs * 1000LL);
    frames += decoder.Flush();
    return frames;
}

QStringList DescribeAll(const QVector<DecodedFrame>& frames) {
    QStringList lines;
    for (const DecodedFrame& frame : frames) lines << Describe(frame);
    return lines;
}

}  // namespace

Q_DECLARE_METATYPE(Chunks)

class TestFrameDecoder : public QObject {
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void splitReads_data();
    void splitReads();
    void quietFrameExpires();
    void pauses_data();
    void pauses();
    void anyInputIsAccountedFor();
    void camera_data();
    void camera();
    void telnetFilter_data();
    void telnetFilter();
};

void TestFrameDecoder::decode_data() {
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QStringList>("expected");
    const auto one = [](const QByteArray& bytes) { return Chunks{{bytes, 0}}; };
    const auto row = [](const char* name, const Chunks& chunks, const QStringList& expected) {
        QTest::newRow(name) << chunks << expected;
    };

    // What the keypad sends, OSKA-DEFAULT.
    const char* const oska[][2] = {
        {"*0C750100CA", "12 | zoom tele"},
        {"*0C750300CC", "12 | zoom wide"},
        {"*0C750500CE", "12 | focus far"},
        {"*0C750600CF", "12 | focus near"},
        {"*0C750900D2", "12 | stop"},
        {"*0C751000CA", "12 | menu"},
        {"*0C750D00DD", "12 | set"},
        {"*0C750E00DE", "12 | init"},
        {"*0C750A00DA", "12 | power"},
        {"*0C710000C5", "12 | reset"},
        {"*00740C00C8", "0 | select camera 12"},
        {"*0C74FF00F4", "12 | select camera 255"},
        {"*00750100B7", "0 | zoom tele"},
        {"*FF750100E3", "255 | zoom tele"},
        {"*0C751100CB", "12 | unknown command 751100"},
        {"*0C750101CB", "12 | unknown command 750101"},
    };
    for (const auto& f : oska) {
        const QByteArray text(f[0]);
        const QStringList parts = QString::fromLatin1(f[1]).split(QStringLiteral(" | "));
        row(f[0], one(text),
            {QStringLiteral("good | OSKA-DEFAULT | %1 | %2 | %3")
                 .arg(parts[0], parts[1], HexBytes(text))});
    }

    // What the keypad sends, PELCO D, and the published bits and extended commands.
    const char* const pelco[][2] = {
        {"FF 0C 00 20 00 00 2C", "12 | zoom tele"},
        {"FF FF 00 20 00 00 1F", "255 | zoom tele"},
        {"FF 0C 00 40 00 00 4C", "12 | zoom wide"},
        {"FF 0C 00 80 00 00 8C", "12 | focus far"},
        {"FF 0C 01 00 00 00 0D", "12 | focus near"},
        {"FF 01 00 00 00 00 01", "1 | stop"},
        {"FF 01 00 23 00 5F 83", "1 | run pattern 95"},
        {"FF 01 08 00 00 00 09", "1 | camera off"},
        {"FF 01 88 00 00 00 89", "1 | camera on"},
        {"FF 01 30 44 00 00 75",
         "1 | manual scan, reserved bits 20h, zoom wide, pan left, pan speed 0"},
        {"FF 01 30 45 00 00 76", "1 | unknown extended command 45h, data 00h 00h, command 1 30h"},
        {"FF 01 00 07 00 5F 67", "1 | go to preset 95"},
        {"FF 01 00 03 00 01 05", "1 | set preset 1"},
        {"FF 01 00 15 03 41 5A", "1 | write character to screen, data 03h 41h"},
        {"FF 01 00 61 00 00 62", "1 | unknown extended command 61h, data 00h 00h"},
        {"FF 01 00 0C 20 10 3D", "1 | pan left, tilt up, pan speed 32, tilt speed 16"},
        {"FF 01 02 00 00 00 03", "1 | iris open"},
        {"FF 01 90 00 00 00 91", "1 | auto scan"},
        {"FF 01 80 00 00 00 81", "1 | stop, sense"},
        {"FF 01 00 00 12 34 47", "1 | stop, data 12h 34h"},
    };
    for (const auto& f : pelco) {
        const QStringList parts = QString::fromLatin1(f[1]).split(QStringLiteral(" | "));
        row(f[0], one(Hex(f[0])),
            {QStringLiteral("good | PELCO D | %1 | %2 | %3").arg(parts[0], parts[1], f[0])});
    }

    // Broken input: every byte is reported once, and the next start byte resynchronises.
    row("noise, then a frame", one("xyz" + Hex("FF 01 00 00 00 00 01")),
        {"noise | - | -1 | bytes outside a frame | 78 79 7A",
         "good | PELCO D | 1 | stop | FF 01 00 00 00 00 01"});
    row("noise between frames", one("*0C750900D2\r\n\x01*0C750900D2"),
        {"good | OSKA-DEFAULT | 12 | stop | 2A 30 43 37 35 30 39 30 30 44 32",
         "noise | - | -1 | bytes outside a frame | 0D 0A 01",
         "good | OSKA-DEFAULT | 12 | stop | 2A 30 43 37 35 30 39 30 30 44 32"});
    row("PELCO D bad checksum", one(Hex("FF 0C 00 20 00 00 2D")),
        {"bad checksum | PELCO D | 12 | checksum 2D, expected 2C | FF 0C 00 20 00 00 2D"});
    row("OSKA-DEFAULT bad checksum", one("*0C750100CB"),
        {"bad checksum | OSKA-DEFAULT | 12 | checksum CB, expected CA | "
         "2A 30 43 37 35 30 31 30 30 43 42"});
    row("lower-case hex", one("*0c750100CA"),
        {"bad hex digit | OSKA-DEFAULT | -1 | a character that is no hex digit | "
         "2A 30 63 37 35 30 31 30 30 43 41"});
    row("letter in the command", one("*0C75G100CA"),
        {"bad hex digit | OSKA-DEFAULT | 12 | a character that is no hex digit | "
         "2A 30 43 37 35 47 31 30 30 43 41"});
    row("PELCO D sync inside OSKA-DEFAULT", one("*0C75" + Hex("FF 0C 00 20 00 00 2C")),
        {"foreign byte | OSKA-DEFAULT | 12 | cut short by a PELCO D sync byte | 2A 30 43 37 35",
         "good | PELCO D | 12 | zoom tele | FF 0C 00 20 00 00 2C"});
    row("binary byte inside OSKA-DEFAULT",
        one(QByteArray("*0C\x01"
                       "75",
                       6)),
        {"foreign byte | OSKA-DEFAULT | 12 | binary byte 01 in an ASCII frame | 2A 30 43 01",
         "noise | - | -1 | bytes outside a frame | 37 35"});
    row("new start inside OSKA-DEFAULT", one("*0C75*0C750100CA"),
        {"truncated | OSKA-DEFAULT | 12 | cut short by a new start | 2A 30 43 37 35",
         "good | OSKA-DEFAULT | 12 | zoom tele | 2A 30 43 37 35 30 31 30 30 43 41"});
    row("PELCO D cut by a pause", Chunks{{Hex("FF 0C 00"), 0}, {Hex("20 00 00 2C"), 100}},
        {"truncated | PELCO D | 12 | 3 of 7 bytes | FF 0C 00",
         "noise | - | -1 | bytes outside a frame | 20 00 00 2C"});
    row("PELCO D pause of one frame time", Chunks{{Hex("FF 0C 00"), 0}, {Hex("20 00 00 2C"), 39}},
        {"good | PELCO D | 12 | zoom tele | FF 0C 00 20 00 00 2C"});
    row("PELCO D pause just over a frame time",
        Chunks{{Hex("FF 0C 00"), 0}, {Hex("20 00 00 2C"), 40}},
        {"truncated | PELCO D | 12 | 3 of 7 bytes | FF 0C 00",
         "noise | - | -1 | bytes outside a frame | 20 00 00 2C"});
    row("OSKA-DEFAULT pause of one frame time", Chunks{{"*0C75", 0}, {"0100CA", 47}},
        {"good | OSKA-DEFAULT | 12 | zoom tele | 2A 30 43 37 35 30 31 30 30 43 41"});
    row("OSKA-DEFAULT cut by a pause", Chunks{{"*0C75", 0}, {"*0C750100CA", 48}},
        {"truncated | OSKA-DEFAULT | 12 | 5 of 11 characters | 2A 30 43 37 35",
         "good | OSKA-DEFAULT | 12 | zoom tele | 2A 30 43 37 35 30 31 30 30 43 41"});
    row("line ends inside a frame", one(Hex("FF 0C 00 20")),
        {"truncated | PELCO D | 12 | 4 of 7 bytes | FF 0C 00 20"});
    row("sync byte alone", one(Hex("FF")), {"truncated | PELCO D | -1 | 1 of 7 bytes | FF"});
    row("nothing", one(QByteArray()), {});
}

void TestFrameDecoder::decode() {
    QFETCH(Chunks, chunks);
    QFETCH(QStringList, expected);
    QCOMPARE(DescribeAll(DecodeAll(chunks)), expected);
}

// The same stream in any split gives the same frames.
void TestFrameDecoder::splitReads_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("OSKA-DEFAULT") << QByteArray("*0C750100CA*0C750900D2*00740C00C8");
    QTest::newRow("PELCO D") << Hex(
        "FF 0C 00 20 00 00 2C FF FF 00 20 00 00 1F FF 01 88 00 00 "
        "00 89");
    QTest::newRow("both, noise, bad checksum")
        << QByteArray("ab*0C750100CA") + Hex("00 FF 0C 00 20 00 00 2D FF 01 00 00 00 00 01") +
               "*0C75*0C750900D2";
}

void TestFrameDecoder::splitReads() {
    QFETCH(QByteArray, stream);
    const QStringList whole = DescribeAll(DecodeAll({{stream, 0}}));
    QVERIFY(whole.size() >= 3);
    for (int cut = 1; cut < stream.size(); ++cut) {
        const QStringList split =
            DescribeAll(DecodeAll({{stream.left(cut), 0}, {stream.mid(cut), 1}}));
        QVERIFY2(split == whole, qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
    Chunks bytes;
    for (int i = 0; i < stream.size(); ++i) bytes.append({stream.mid(i, 1), i * 2});
    QCOMPARE(DescribeAll(DecodeAll(bytes)), whole);
}

void TestFrameDecoder::quietFrameExpires() {
    FrameDecoder decoder;
    QVERIFY(decoder.Feed(Hex("FF 0C 00"), 1000).isEmpty());
    QVERIFY(decoder.Expire(1000 + 39000).isEmpty());
    const QVector<DecodedFrame> cut = decoder.Expire(1000 + 39001);
    QCOMPARE(DescribeAll(cut), QStringList{"truncated | PELCO D | 12 | 3 of 7 bytes | FF 0C 00"});
    QVERIFY(decoder.Flush().isEmpty());
}

// Pauses measured between and inside frames, against the sender's 2 ms and 25 ms.
void TestFrameDecoder::pauses_data() {
    QTest::addColumn<int>("byteUs");
    QTest::addColumn<int>("frameUs");
    QTest::addColumn<bool>("kept");
    QTest::newRow("as sent") << 2000 << 27000 << true;
    QTest::newRow("bytes too close") << 1999 << 27000 << false;
    QTest::newRow("frames too close") << 2000 << 24999 << false;
    QTest::newRow("slow line") << 6000 << 40000 << true;
}

void TestFrameDecoder::pauses() {
    QFETCH(int, byteUs);
    QFETCH(int, frameUs);
    QFETCH(bool, kept);
    FrameDecoder decoder;
    QVector<DecodedFrame> frames;
    qint64 at = 0;
    for (const QByteArray& frame : {Hex("FF 01 00 00 00 00 01"), Hex("FF 01 00 20 00 00 21")}) {
        for (char byte : frame) {
            frames += decoder.Feed(QByteArray(1, byte), at);
            at += byteUs;
        }
        at += frameUs - byteUs;
    }
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[0].gapUs, -1);
    QCOMPARE(frames[1].gapUs, frameUs);
    QCOMPARE(frames[1].minByteGapUs, byteUs);
    QCOMPARE(frames[1].startUs, 7LL * byteUs + frameUs - byteUs);
    QCOMPARE(frames[1].PausesKept(), kept);
}

// Random streams of whole frames, start bytes, hex digits and any byte, in random chunks
// at random times:
// the decoder never loses or repeats a byte, no stretch is longer than a frame except
// noise, and every frame it calls good checks out.
void TestFrameDecoder::anyInputIsAccountedFor() {
    QRandomGenerator random(20261207);
    const QByteArray alphabet = QByteArray("*0123456789ABCDEF7 a") + Hex("FF 00 80 01");
    const QByteArray frames[] = {"*0C750100CA", "*00740C00C8", Hex("FF 0C 00 20 00 00 2C"),
                                 Hex("FF 01 00 23 00 5F 83")};
    int good = 0;
    int bad = 0;
    qint64 totalBytes = 0;
    for (int round = 0; round < 300; ++round) {
        QByteArray stream;
        const int length = random.bounded(4000);
        for (int i = 0; i < length; ++i) {
            const int pick = random.bounded(8);
            if (pick == 0)
                stream += char(random.bounded(256));
            else if (pick == 1)
                stream += frames[random.bounded(4)];
            else
                stream += alphabet[random.bounded(int(alphabet.size()))];
        }
        FrameDecoder decoder;
        QVector<DecodedFrame> out;
        qint64 at = 0;
        for (int pos = 0; pos < stream.size();) {
            const int size = 1 + random.bounded(16);
            out += decoder.Feed(stream.mid(pos, size), at);
            out += decoder.Expire(at += random.bounded(50000));
            pos += size;
        }
        out += decoder.Flush();
        QByteArray seen;
        for (const DecodedFrame& f : out) {
            seen += f.bytes;
            QVERIFY(!f.bytes.isEmpty());
            if (f.status != FrameStatus::Noise)
                QVERIFY(f.bytes.size() <= 11);
            if (!f.IsGood()) {
                ++bad;
                continue;
            }
            ++good;
            const auto b = [&f](int i) { return quint8(f.bytes[i]); };
            if (f.protocol == LineProtocol::PelcoD) {
                QCOMPARE(f.bytes.size(), 7);
                QCOMPARE(quint8(b(1) + b(2) + b(3) + b(4) + b(5)), b(6));
            } else {
                QCOMPARE(f.bytes.size(), 11);
                int sum = 0;
                for (int i = 0; i < 9; ++i) sum += b(i);
                QCOMPARE(QByteArray::number(sum & 0xFF, 16).toUpper().rightJustified(2, '0'),
                         f.bytes.mid(9, 2));
            }
        }
        QCOMPARE(seen, stream);
        totalBytes += stream.size();
    }
    QVERIFY(good > 0 && bad > 0);
    qInfo("%lld random bytes: %d good frames, %d bad stretches", totalBytes, good, bad);
}

// The virtual camera behind an address: what each frame does to it over time.
void TestFrameDecoder::camera_data() {
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<int>("endMs");
    QTest::addColumn<QString>("expected");
    const QByteArray teleP = Hex("FF 03 00 20 00 00 23");
    const QByteArray wideP = Hex("FF 03 00 40 00 00 43");
    const QByteArray farP = Hex("FF 03 00 80 00 00 83");
    const QByteArray stopP = Hex("FF 03 00 00 00 00 03");
    QTest::newRow("PELCO D tele 1 s, stop")
        << Chunks{{teleP, 0}, {stopP, 1000}} << 3000 << "3: on zoom 0 focus 0 at 200";
    QTest::newRow("PELCO D tele 2 s, wide 1 s")
        << Chunks{{teleP, 0}, {wideP, 2000}} << 3000 << "3: on zoom -1 focus 0 at 200";
    QTest::newRow("PELCO D focus far stops the zoom")
        << Chunks{{teleP, 0}, {farP, 1000}} << 2000 << "3: on zoom 0 focus 1 at 200";
    QTest::newRow("OSKA-DEFAULT focus far leaves the zoom running")
        << Chunks{{"*03750100BA", 0}, {"*03750500BE", 1000}} << 2000
        << "3: on zoom 1 focus 1 at 400";
    QTest::newRow("OSKA-DEFAULT stop ends both")
        << Chunks{{"*03750100BA", 0}, {"*03750500BE", 500}, {"*03750900C2", 1000}} << 4000
        << "3: on zoom 0 focus 0 at 200";
    QTest::newRow("tele with no stop")
        << Chunks{{teleP, 0}} << 6000 << "3: on zoom 1 focus 0 at 1000 no stop for 6 s";
    QTest::newRow("wide stops at the end")
        << Chunks{{wideP, 0}} << 1000 << "3: on zoom -1 focus 0 at 0";
    QTest::newRow("PELCO D camera off, on, off") << Chunks{{Hex("FF 03 08 00 00 00 0B"), 0},
                                                           {Hex("FF 03 88 00 00 00 8B"), 100},
                                                           {Hex("FF 03 08 00 00 00 0B"), 200}}
                                                 << 300 << "3: off zoom 0 focus 0 at 0";
    QTest::newRow("OSKA-DEFAULT power toggles")
        << Chunks{{"*03750A00CA", 0}, {"*03750A00CA", 100}, {"*03750A00CA", 200}} << 300
        << "3: off zoom 0 focus 0 at 0";
    QTest::newRow("bad frame changes nothing") << Chunks{{teleP.left(6) + "\x24", 0}} << 1000 << "";
    QTest::newRow("camera select") << Chunks{{"*00740C00C8", 0}} << 100
                                   << "0: on zoom 0 focus 0 at 0 | 12: on zoom 0 focus 0 at 0 | "
                                      "selected 12";
}

void TestFrameDecoder::camera() {
    QFETCH(Chunks, chunks);
    QFETCH(int, endMs);
    QFETCH(QString, expected);
    CameraModel model;
    FrameDecoder decoder;
    for (const Chunk& chunk : chunks) {
        for (const DecodedFrame& frame : decoder.Feed(chunk.bytes, chunk.atMs * 1000LL))
            model.Apply(frame);
        model.Advance(chunk.atMs * 1000LL);
    }
    model.Advance(endMs * 1000LL);
    QStringList cameras;
    for (const CameraState& c : model.Cameras())
        cameras << QStringLiteral("%1: %2 zoom %3 focus %4 at %5 %6")
                       .arg(c.address)
                       .arg(c.powerOn ? "on" : "off")
                       .arg(c.zoom)
                       .arg(c.focus)
                       .arg(c.zoomPosition)
                       .arg(c.warning)
                       .trimmed();
    if (model.selectedCamera >= 0)
        cameras << QStringLiteral("selected %1").arg(model.selectedCamera);
    QCOMPARE(cameras.join(QStringLiteral(" | ")), expected);
}

void TestFrameDecoder::telnetFilter_data() {
    QTest::addColumn<QList<QByteArray>>("readsHex");
    QTest::addColumn<QByteArray>("dataHex");
    QTest::addColumn<bool>("telnet");
    QTest::addColumn<QByteArray>("answersHex");  // what the server owes the client
    QTest::newRow("raw PELCO D, camera 251: FF FB is no Telnet here")
        << QList<QByteArray>{"fffb00200000"} << QByteArray("fffb00200000") << false << QByteArray();
    QTest::newRow("raw, one byte at a time")
        << QList<QByteArray>{"ff", "fb", "00"} << QByteArray("fffb00") << false << QByteArray();
    QTest::newRow("Telnet: negotiation, subnegotiation with a doubled FF, then data")
        << QList<QByteArray>{"fffb2cfffb00fffa2c010000ffff60fff0", "ffff01002000"}
        << QByteArray("ff01002000") << true << QByteArray("fffd2cfffd00fffa2c650000ffff60fff0");
    QTest::newRow("Telnet, split inside commands")
        << QList<QByteArray>{"ff", "fd", "2c41", "fffa2c", "05", "08fff042ff", "ff"}
        << QByteArray("4142ff") << true << QByteArray("fffb2cfffa2c6908fff0");
    QTest::newRow("Telnet: NOP and GA dropped")
        << QList<QByteArray>{"fffd2cfff141fff942"} << QByteArray("4142") << true
        << QByteArray("fffb2c");
    QTest::newRow("Telnet: other options refused")
        << QList<QByteArray>{"fffb2cfffd18fffb03fffd00"} << QByteArray() << true
        << QByteArray("fffd2cfffc18fffe03fffb00");
}

void TestFrameDecoder::telnetFilter() {
    QFETCH(QList<QByteArray>, readsHex);
    QFETCH(QByteArray, dataHex);
    QFETCH(bool, telnet);
    QFETCH(QByteArray, answersHex);
    TelnetFilter filter;
    QByteArray data;
    for (const QByteArray& read : readsHex) data += filter.Feed(QByteArray::fromHex(read));
    QCOMPARE(data.toHex(), dataHex);
    QCOMPARE(filter.isTelnet(), telnet);
    QCOMPARE(filter.TakeAnswers().toHex(), answersHex);
    QCOMPARE(filter.TakeAnswers(), QByteArray());
}

QTEST_GUILESS_MAIN(TestFrameDecoder)
#include "tst_frame_decoder.moc"
