#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "frame_text.h"
#include "line_source.h"
#include "quit_on_signal.h"
#include "vcam_session.h"
#include "vcam_window.h"
#include "version.h"

namespace {

bool HasOption(int argc, char** argv, std::initializer_list<const char*> names) {
    for (int i = 1; i < argc; ++i) {
        for (const char* name : names) {
            if (std::strcmp(argv[i], name) == 0)
                return true;
        }
    }
    return false;
}

// Options, line and session, shared by the window and the headless run.
int Run(QCoreApplication& app, bool headless) {
    app.setApplicationName(QStringLiteral("velmor-vcam"));
    app.setApplicationVersion(QStringLiteral(VELMOR_VERSION_STRING));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Virtual camera and line analyser: decodes every OSKA-DEFAULT and "
                       "PELCO D frame on a serial line.\nWithout --listen it creates a "
                       "pseudo-terminal for the keypad to write to."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Watch an existing serial device, read-only."),
                                    QStringLiteral("DEVICE"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("Baud rate for --listen (default 9600)."),
                                  QStringLiteral("N"), QStringLiteral("9600"));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Make a symbolic link to the pseudo-terminal."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption tcp(
        QStringLiteral("tcp"),
        QStringLiteral("Be a serial server: accept one connection on HOST:PORT (port 0: any "
                       "free one) and decode what arrives, raw or RFC 2217."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
                                            QStringLiteral("No window: print one line per frame."));
    parser.addOptions({listen, baud, link, tcp, headlessOption});
    parser.process(app);

    QTextStream err(stderr);
    LineSource line;
    bool opened = false;
    if (parser.isSet(listen)) {
        bool number = false;
        const int rate = parser.value(baud).toInt(&number);
        opened = number ? line.OpenDevice(parser.value(listen), rate) : false;
        if (!number)
            err << "velmor-vcam: unsupported baud rate " << parser.value(baud) << Qt::endl;
    } else if (parser.isSet(tcp)) {
        opened = line.ListenTcp(parser.value(tcp));
    } else {
        opened = line.OpenPseudoTerminal();
    }
    if (opened && parser.isSet(link))
        opened = line.MakeLink(parser.value(link));
    if (!opened) {
        if (!line.errorText().isEmpty())
            err << "velmor-vcam: " << line.errorText() << Qt::endl;
        return 1;
    }
    const QString where =
        parser.isSet(tcp) ? QStringLiteral(
                                "listening on %1 (point the keypad's COM port at tcp://%1 or "
                                "rfc2217://%1)")
                                .arg(line.devicePath())
        : parser.isSet(listen)
            ? QStringLiteral("watching %1 at %2 baud").arg(line.devicePath(), parser.value(baud))
            : QStringLiteral("%1  (point the keypad's COM port here%2)")
                  .arg(line.devicePath(), parser.isSet(link)
                                              ? QStringLiteral(", or at %1").arg(parser.value(link))
                                              : QString());
    err << "velmor-vcam: " << where << Qt::endl;

    VcamSession session;
    QObject::connect(&line, &LineSource::BytesRead, &session, &VcamSession::OnBytes);
    QObject::connect(&line, &LineSource::LineClosed, &session, &VcamSession::OnLineClosed);
    QObject::connect(&line, &LineSource::LineClosed,
                     [&err] { err << "velmor-vcam: the line was closed" << Qt::endl; });
    QuitOnSignal(app);

    std::unique_ptr<VcamWindow> window;
    QTextStream out(stdout);
    if (headless) {
        const qint64 origin = session.NowUs();
        QObject::connect(&session, &VcamSession::FramesDecoded,
                         [&out, origin](const QVector<DecodedFrame>& frames) {
                             for (const DecodedFrame& frame : frames)
                                 out << FrameLine(frame, origin) << Qt::endl;
                         });
    } else {
        window = std::make_unique<VcamWindow>(session, where);
        QObject::connect(&line, &LineSource::LineClosed, window.get(), &VcamWindow::OnLineClosed);
        window->show();
    }
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    // Without a window (headless, or only help or version to print) no display is needed.
    const bool headless = HasOption(argc, argv, {"--headless"});
    if (headless ||
        HasOption(argc, argv, {"-h", "--help", "--help-all", "-?", "-v", "--version"})) {
        QCoreApplication app(argc, argv);
        return Run(app, headless);
    }
    QApplication app(argc, argv);
    return Run(app, false);
}
