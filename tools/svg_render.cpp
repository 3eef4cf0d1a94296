// Renders an SVG drawing to a PNG of a given pixel size; the build uses it to turn the
// artwork under res/ into the bitmaps the program carries as resources.
//
//   svg_render in.svg out.png WIDTH HEIGHT [--square] [--opaque]
//   svg_render in.svg out.ico --ico SIZE...
//
// Without --square the drawing is stretched to WIDTH x HEIGHT. With --square the canvas is
// WIDTH x WIDTH, transparent, and the drawing keeps its own aspect ratio, centred on whole
// pixels so that small window icons stay crisp. With --opaque the picture is saved without
// an alpha channel (24 bits per pixel); the drawing is expected to paint its own background.
// With --ico the output is a Windows icon file holding one square, transparent picture per
// SIZE (at most 256), each stored as PNG, which Windows reads from Vista on.

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QStringList>
#include <QSvgRenderer>
#include <QTextStream>

namespace {

struct Options {
    QString input;
    QString output;
    int width = 0;
    int height = 0;
    bool square = false;
    bool opaque = false;
    QList<int> iconSizes;  // --ico
};

bool ParseSize(const QString& text, int* value) {
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value > 0 && *value <= 4096;
}

bool ParseOptions(const QStringList& args, Options* options) {
    const qsizetype ico = args.indexOf(QLatin1String("--ico"));
    if (ico == 2 && args.size() > 3) {
        options->input = args.at(0);
        options->output = args.at(1);
        options->square = true;
        for (const QString& text : args.mid(3)) {
            int size = 0;
            if (!ParseSize(text, &size) || size > 256)
                return false;
            options->iconSizes << size;
        }
        return true;
    }
    QStringList positional;
    for (const QString& arg : args) {
        if (arg == QLatin1String("--square")) {
            options->square = true;
        } else if (arg == QLatin1String("--opaque")) {
            options->opaque = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            return false;
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 4) {
        return false;
    }
    options->input = positional.at(0);
    options->output = positional.at(1);
    return ParseSize(positional.at(2), &options->width) &&
           ParseSize(positional.at(3), &options->height);
}

// The drawing's place on a square canvas: the longer side fills the canvas, the other is
// rounded to whole pixels and centred with a whole-pixel offset.
QRect SquarePlacement(int side, const QSizeF& drawing) {
    if (drawing.width() >= drawing.height()) {
        const int h = qMax(1, qRound(side * drawing.height() / drawing.width()));
        return QRect(0, (side - h) / 2, side, h);
    }
    const int w = qMax(1, qRound(side * drawing.width() / drawing.height()));
    return QRect((side - w) / 2, 0, w, side);
}

QImage Picture(QSvgRenderer& renderer, const QSize& size, const Options& options) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(options.opaque ? Qt::white : Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF target = options.square
                              ? QRectF(SquarePlacement(size.width(), renderer.viewBoxF().size()))
                              : QRectF(QPointF(0, 0), QSizeF(size));
    renderer.render(&painter, target);
    painter.end();
    return options.opaque ? image.convertToFormat(QImage::Format_RGB888)
                          : image.convertToFormat(QImage::Format_ARGB32);
}

void PutLe(QByteArray* out, quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->append(char((value >> (8 * i)) & 0xFF));
}

// An icon file: a directory of entries (size, colour depth, length and place of each
// picture) followed by the PNG pictures themselves.
bool SaveIcon(QSvgRenderer& renderer, const Options& options) {
    QList<QByteArray> pngs;
    for (int size : options.iconSizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!Picture(renderer, QSize(size, size), options).save(&buffer, "PNG"))
            return false;
        pngs << png;
    }
    QByteArray out;
    PutLe(&out, 0, 2);
    PutLe(&out, 1, 2);  // an icon, not a cursor
    PutLe(&out, quint32(pngs.size()), 2);
    quint32 offset = quint32(6 + 16 * pngs.size());
    for (qsizetype i = 0; i < pngs.size(); ++i) {
        const int size = options.iconSizes.at(i);
        PutLe(&out, size == 256 ? 0 : size, 1);  // 0 stands for 256
        PutLe(&out, size == 256 ? 0 : size, 1);
        PutLe(&out, 0, 2);   // no palette, reserved
        PutLe(&out, 1, 2);   // planes
        PutLe(&out, 32, 2);  // bits per pixel
        PutLe(&out, quint32(pngs.at(i).size()), 4);
        PutLe(&out, offset, 4);
        offset += quint32(pngs.at(i).size());
    }
    for (const QByteArray& png : pngs) out += png;
    QFile file(options.output);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size() && file.flush();
}

int Render(const Options& options) {
    QTextStream err(stderr);
    QSvgRenderer renderer(options.input);
    if (!renderer.isValid()) {
        err << "svg_render: cannot read " << options.input << Qt::endl;
        return 1;
    }
    bool saved;
    if (!options.iconSizes.isEmpty()) {
        saved = SaveIcon(renderer, options);
    } else {
        const QSize size = options.square ? QSize(options.width, options.width)
                                          : QSize(options.width, options.height);
        saved = Picture(renderer, size, options).save(options.output, "PNG");
    }
    if (!saved) {
        err << "svg_render: cannot write " << options.output << Qt::endl;
        return 1;
    }
    return 0;
}

// Start-up chatter of the platform (such as a missing runtime directory on a build machine)
// is not the tool's business; problems with the drawing itself are still reported.
void QuietStartup(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        QTextStream(stderr) << message << Qt::endl;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The tool runs during the build, where there is usually no display; the offscreen
    // platform still gives the SVG renderer its fonts and painting.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QtMessageHandler previous = qInstallMessageHandler(QuietStartup);
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(previous);

    Options options;
    if (!ParseOptions(app.arguments().mid(1), &options)) {
        QTextStream(stderr) << "usage: svg_render in.svg out.png WIDTH HEIGHT [--square] "
                               "[--opaque]\n"
                               "       svg_render in.svg out.ico --ico SIZE..."
                            << Qt::endl;
        return 2;
    }
    return Render(options);
}
