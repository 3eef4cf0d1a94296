#include "remote_client_command.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

#include "profile/profile_store.h"
#include "remote/access/client_book.h"

int RunRemoteClientCommand(int argc, char** argv, const char* companyKey) {
    bool asked = false;
    for (int i = 1; i < argc; ++i) asked = asked || QByteArray(argv[i]) == "--remote-client";
    if (!asked)
        return -1;
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QString::fromLatin1(companyKey));
    app.setApplicationName(QFileInfo(app.applicationFilePath()).completeBaseName());
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--remote-client"));
    const bool revoke = args.contains(QStringLiteral("--revoke"));
    if (at + 1 >= args.size() || args.at(at + 1).startsWith(QLatin1String("--")) ||
        args.size() != (revoke ? 4 : 3)) {
        std::fprintf(stderr, "usage: velmor --remote-client NAME [--revoke]\n");
        return 2;
    }
    const QString name = args.at(at + 1);
    SettingsProfileStore profile(app.organizationName(), app.applicationName());
    ClientBook book(profile);
    if (revoke) {
        QString error;
        if (!book.Revoke(name, error)) {
            std::fprintf(stderr, "velmor: %s\n", qUtf8Printable(error));
            return 1;
        }
        std::fprintf(stderr, "velmor: client \"%s\" revoked\n", qUtf8Printable(name));
        return 0;
    }
    const ClientBook::Added added = book.Add(name);
    if (!added.ok) {
        std::fprintf(stderr, "velmor: %s\n", qUtf8Printable(added.error));
        return 1;
    }
    // The token alone on standard output, for a script to take; it is kept nowhere.
    std::printf("%s\n", qUtf8Printable(added.token));
    std::fflush(stdout);
    std::fprintf(stderr,
                 "velmor: client \"%s\" added; its token is shown this once. The service "
                 "listens once [Remote] Enabled=1 (or from Remote keypad..., F3).\n",
                 qUtf8Printable(name));
    return 0;
}
