#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

// The sockets of the remote keypad: one listener that speaks HTTP/1.1 and, on
// /api/v1/ws, WebSocket. It runs on a thread of its own; every callback is made on that
// thread and must only hand its news on (the window's thread decides). What comes back
// (an HTTP answer, a message, a close) may be given from any thread, and is carried out on
// the server's. A WebSocket that stays silent past the keep-alive is pinged at half of it
// and closed at its end.
class RemoteServer {
public:
    struct HttpRequest {
        std::string method;
        std::string target;
        std::string authorization;
        std::string body;
    };
    // A file of the keypad page, answered on GET from the server's own thread.
    struct File {
        std::string contentType;
        std::string body;
    };
    struct Host {
        std::function<void(uint64_t connection, HttpRequest request)> http;
        // A WebSocket is up; target is its path and query.
        std::function<void(uint64_t connection, std::string target)> opened;
        std::function<void(uint64_t connection, std::string text)> text;
        // A WebSocket ended: closed, broken, or silent past the keep-alive.
        std::function<void(uint64_t connection, std::string why)> closed;
        // Whether a request with this Origin header (empty: none) may go on.
        std::function<bool(const std::string& origin)> originAllowed;
        // The page's files by path ("/" among them), and the policy sent with each.
        std::map<std::string, File> files;
        std::string contentSecurityPolicy;
    };
    struct Limits {
        std::size_t maxMessageBytes = 16 * 1024;
        int maxConnections = 64;
        int keepAliveMs = 2000;
        int httpIdleMs = 30000;
        std::size_t maxQueuedMessages = 256;  // a client that reads none of them is cut off
    };

    RemoteServer();
    ~RemoteServer();

    // Binds and starts the thread; empty, or why it could not listen.
    std::string Start(const std::string& address, uint16_t port, Host host, Limits limits);
    // Ends the thread and every connection; no callback comes after it returns.
    void Stop();
    bool Running() const;
    uint16_t Port() const;

    void Reply(uint64_t connection, int status, std::string body);
    void Send(uint64_t connection, std::string text);
    void Close(uint64_t connection, int code, std::string why);

private:
    struct Impl;
    friend class Connection;
    std::unique_ptr<Impl> impl;
};
