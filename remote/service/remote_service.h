#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>

#include "holds/remote_keys.h"
#include "remote/access/client_book.h"
#include "remote/server/remote_server.h"
#include "remote/session/http_routes.h"
#include "remote/session/ws_session.h"

class ProfileStore;

// The remote keypad service, living on the window's thread. Off unless the profile's
// [Remote] Enabled is 1: then no port is open. Every call into the keypad is made here,
// from news the server's thread queues; what goes back is handed to the server, which
// never makes this thread wait.
class RemoteService : public QObject {
    Q_OBJECT
public:
    RemoteService(RemoteKeys& keys, ProfileStore& profile, QObject* parent = nullptr);
    ~RemoteService() override;

    // Listens, or stops, as the profile says now; empty, or why it could not listen.
    QString Apply();
    bool Listening() const { return server.Running(); }
    QString LastError() const { return lastError; }
    uint16_t Port() const { return server.Port(); }
    ClientBook& Book() { return book; }
    // The clients signed in over WebSocket now, one line each.
    QStringList Connected() const;
    // A client revoked: its connections end, and with them its hold.
    void Disconnect(const QString& client);

private:
    void Stop();
    void OnHttp(uint64_t connection, const RemoteServer::HttpRequest& request);
    void OnOpened(uint64_t connection, const QString& target);
    void OnText(uint64_t connection, const QByteArray& text);
    void OnClosed(uint64_t connection, const QString& why);
    void OnEvent(const RemoteKeys::Event& event);
    void Deliver(uint64_t connection, const QList<WsSession::Out>& out);

    RemoteKeys& keys;
    ClientBook book;
    HttpRoutes routes;
    RemoteServer server;
    std::map<uint64_t, std::unique_ptr<WsSession>> sessions;
    QElapsedTimer clock;
    QString lastError;
};
