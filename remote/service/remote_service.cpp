#include "remote_service.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include "remote/session/request_gate.h"

namespace {

// A connection that has not signed in by then is closed: it would hold one of the places
// the server has for connections.
constexpr int kSignInWithinMs = 10000;

void Say(const QString& text) {
    qWarning("velmor: remote keypad: %s", qUtf8Printable(text));
}

// The keypad page's files, from the program's resources, by the path they are served at.
std::map<std::string, RemoteServer::File> PageFiles() {
    const struct {
        const char* path;
        const char* resource;
        const char* type;
    } kFiles[] = {
        {"/", ":/page/index.html", "text/html; charset=utf-8"},
        {"/page/keypad.css", ":/page/keypad.css", "text/css; charset=utf-8"},
        {"/page/keypad.js", ":/page/keypad.js", "text/javascript; charset=utf-8"},
    };
    std::map<std::string, RemoteServer::File> files;
    for (const auto& one : kFiles) {
        QFile file(QString::fromLatin1(one.resource));
        if (file.open(QIODevice::ReadOnly))
            files[one.path] = {one.type, file.readAll().toStdString()};
    }
    return files;
}

// Nothing outside the page's own origin: its own files, and its WebSocket back to this
// address. 'self' covers ws: to the same host in current Chromium and Firefox; Safari
// before 16 needs the ws: origin named.
std::string PagePolicy(const ListenAddress& address) {
    const QString port = QString::number(address.port);
    QString sockets = QStringLiteral(" ws://%1:%2").arg(address.host, port);
    if (address.Loopback())
        sockets += QStringLiteral(" ws://localhost:%1").arg(port);
    return QStringLiteral(
               "default-src 'self'; connect-src 'self'%1; object-src 'none'; base-uri 'none'; "
               "form-action 'none'; frame-ancestors 'none'")
        .arg(sockets)
        .toStdString();
}

}  // namespace

RemoteService::RemoteService(RemoteKeys& keys, ProfileStore& profile, QObject* parent)
    : QObject(parent), keys(keys), book(profile), routes(keys, book) {
    clock.start();
    keys.SetEventSink([this](const RemoteKeys::Event& event) { OnEvent(event); });
}

RemoteService::~RemoteService() {
    Stop();
    keys.SetEventSink({});
}

QString RemoteService::Apply() {
    Stop();
    lastError.clear();
    if (!book.Enabled())
        return lastError;
    const ListenAddress address = book.Address();
    if (!address.ok) {
        lastError = address.error;
        Say(lastError);
        return lastError;
    }
    RemoteServer::Host host;
    // Each callback runs on the server's thread and only queues its news to this one.
    host.http = [this](uint64_t connection, RemoteServer::HttpRequest request) {
        QMetaObject::invokeMethod(
            this, [this, connection, request] { OnHttp(connection, request); },
            Qt::QueuedConnection);
    };
    host.opened = [this](uint64_t connection, std::string target) {
        QMetaObject::invokeMethod(
            this,
            [this, connection, target = QString::fromStdString(target)] {
                OnOpened(connection, target);
            },
            Qt::QueuedConnection);
    };
    host.text = [this](uint64_t connection, std::string text) {
        QMetaObject::invokeMethod(
            this,
            [this, connection, text = QByteArray::fromStdString(text)] {
                OnText(connection, text);
            },
            Qt::QueuedConnection);
    };
    host.closed = [this](uint64_t connection, std::string why) {
        QMetaObject::invokeMethod(
            this,
            [this, connection, why = QString::fromStdString(why)] { OnClosed(connection, why); },
            Qt::QueuedConnection);
    };
    host.originAllowed = [address](const std::string& origin) {
        return OriginAllowed(QByteArray::fromStdString(origin), address);
    };
    host.files = PageFiles();
    host.contentSecurityPolicy = PagePolicy(address);
    const std::string error = server.Start(address.host.toStdString(), address.port,
                                           std::move(host), RemoteServer::Limits());
    lastError = QString::fromStdString(error);
    if (!lastError.isEmpty())
        Say(lastError);
    return lastError;
}

void RemoteService::Stop() {
    server.Stop();
    // Every hold a connection started ends with it; the sessions go first, so that the
    // events the stops raise find none.
    std::map<uint64_t, std::unique_ptr<WsSession>> ending;
    ending.swap(sessions);
    for (auto& [connection, session] : ending) session->OnGone();
}

QStringList RemoteService::Connected() const {
    QStringList lines;
    for (const auto& [connection, session] : sessions)
        if (session->Identified())
            lines << session->Client();
    return lines;
}

void RemoteService::Disconnect(const QString& client) {
    for (auto& [connection, session] : sessions)
        if (session->Client() == client)
            server.Close(connection, WsSession::kSignInFailed, "the client was revoked");
}

void RemoteService::OnHttp(uint64_t connection, const RemoteServer::HttpRequest& request) {
    HttpIn in;
    in.method = QByteArray::fromStdString(request.method);
    in.target = QByteArray::fromStdString(request.target);
    in.authorization = QByteArray::fromStdString(request.authorization);
    in.body = QByteArray::fromStdString(request.body);
    const HttpOut out = routes.Answer(in, clock.elapsed());
    if (out.status == 401)
        Say(QStringLiteral("an HTTP request to %1 was refused: no valid token")
                .arg(QString::fromLatin1(in.target.left(64))));
    server.Reply(connection, out.status, out.body.toStdString());
}

void RemoteService::OnOpened(uint64_t connection, const QString& target) {
    const QString client =
        QUrlQuery(QUrl(target).query()).queryItemValue(QStringLiteral("client")).left(64);
    auto session = std::make_unique<WsSession>(keys, book, client);
    server.Send(connection, session->Hello().toStdString());
    sessions[connection] = std::move(session);
    QTimer::singleShot(kSignInWithinMs, this, [this, connection] {
        const auto found = sessions.find(connection);
        if (found != sessions.end() && !found->second->Identified())
            server.Close(connection, WsSession::kSignInFailed, "no sign-in in time");
    });
}

void RemoteService::OnText(uint64_t connection, const QByteArray& text) {
    const auto found = sessions.find(connection);
    if (found == sessions.end())
        return;
    Deliver(connection, found->second->OnText(text));
}

void RemoteService::Deliver(uint64_t connection, const QList<WsSession::Out>& out) {
    for (const WsSession::Out& one : out) {
        if (!one.text.isEmpty())
            server.Send(connection, one.text.toStdString());
        if (one.closeCode) {
            Say(QStringLiteral("a WebSocket (client \"%1\") was closed: %2")
                    .arg(sessions.at(connection)->Client(), one.closeWhy));
            server.Close(connection, one.closeCode, one.closeWhy.toStdString());
        }
    }
}

void RemoteService::OnClosed(uint64_t connection, const QString& why) {
    const auto found = sessions.find(connection);
    if (found == sessions.end())
        return;
    std::unique_ptr<WsSession> session = std::move(found->second);
    sessions.erase(found);
    if (session->Identified() && !why.isEmpty())
        Say(QStringLiteral("client \"%1\": %2").arg(session->Client(), why));
    session->OnGone();
}

void RemoteService::OnEvent(const RemoteKeys::Event& event) {
    for (const auto& [connection, session] : sessions) {
        const QByteArray text = session->OnEvent(event);
        if (!text.isEmpty())
            server.Send(connection, text.toStdString());
    }
}
