#include "remote_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>
#include <optional>
#include <thread>
#include <unordered_map>

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Milliseconds = std::chrono::milliseconds;

namespace {

constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
const char* const kWebSocketPath = "/api/v1/ws";

}  // namespace

class Connection;

struct RemoteServer::Impl {
    // First member: the sockets below belong to it, and it must outlive them.
    net::io_context context{1};
    tcp::acceptor acceptor{context};
    std::thread thread;
    uint16_t port = 0;  // set before the thread starts; read from any thread
    Host host;
    Limits limits;
    uint64_t nextId = 1;
    // The thread's own. It keeps each connection alive while it waits for the window's
    // answer, when no socket operation does; a connection leaves it when it ends.
    std::unordered_map<uint64_t, std::shared_ptr<Connection>> connections;

    void Accept();
    std::shared_ptr<Connection> Find(uint64_t id);
};

// One TCP connection: HTTP requests one after another, or, once upgraded, a WebSocket.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(RemoteServer::Impl& server, uint64_t id, tcp::socket socket)
        : server(server), id(id), stream(std::move(socket)) {}

    void Start() { ReadRequest(); }

    void Reply(int status, std::string body) {
        if (ws || !awaitingReply)
            return;
        awaitingReply = false;
        WriteResponse(status, std::move(body), keepAlive);
    }

    void Send(std::string text) {
        if (!ws || closing)
            return;
        if (outbox.size() >= server.limits.maxQueuedMessages) {
            Close(int(websocket::close_code::policy_error), "messages are not being read");
            return;
        }
        outbox.push_back(std::move(text));
        if (!writing)
            WriteNext();
    }

    void Close(int code, std::string why) {
        if (!ws || closing)
            return;
        closing = true;
        closeReason =
            websocket::close_reason(static_cast<websocket::close_code>(code), why.substr(0, 120));
        if (!writing)
            WriteNext();
    }

private:
    void ReadRequest() {
        parser.emplace();
        parser->body_limit(server.limits.maxMessageBytes);
        parser->header_limit(kMaxHeaderBytes);
        stream.expires_after(Milliseconds(server.limits.httpIdleMs));
        http::async_read(stream, buffer, *parser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             self->OnRequest(ec);
                         });
    }

    void OnRequest(beast::error_code ec) {
        if (ec == http::error::body_limit || ec == http::error::header_limit) {
            WriteResponse(413,
                          "{\"ok\":false,\"outcome\":\"too_large\",\"error\":\"the request "
                          "is too large\"}",
                          false);
            return;
        }
        if (ec) {
            Gone("");
            return;
        }
        request = parser->release();
        const std::string origin(request[http::field::origin]);
        if (server.host.originAllowed && !server.host.originAllowed(origin)) {
            WriteResponse(403,
                          "{\"ok\":false,\"outcome\":\"forbidden\",\"error\":\"a page from "
                          "another origin may not use the keypad\"}",
                          false);
            return;
        }
        const std::string target(request.target());
        const auto file = server.host.files.find(target.substr(0, target.find('?')));
        if (file != server.host.files.end() && request.method() == http::verb::get &&
            !websocket::is_upgrade(request)) {
            WriteResponse(200, file->second.body, request.keep_alive(), &file->second);
            return;
        }
        if (websocket::is_upgrade(request)) {
            if (target.substr(0, target.find('?')) != kWebSocketPath) {
                WriteResponse(404,
                              "{\"ok\":false,\"outcome\":\"not_found\",\"error\":\"the "
                              "WebSocket is at /api/v1/ws\"}",
                              false);
                return;
            }
            Upgrade(target);
            return;
        }
        keepAlive = request.keep_alive();
        awaitingReply = true;
        stream.expires_never();
        server.host.http(id, {std::string(request.method_string()), target,
                              std::string(request[http::field::authorization]), request.body()});
    }

    // A page's file goes with its type and the page's policy; every other answer is JSON.
    void WriteResponse(int status, std::string body, bool again,
                       const RemoteServer::File* file = nullptr) {
        auto response = std::make_shared<http::response<http::string_body>>(
            http::int_to_status(unsigned(status)), 11);
        response->set(http::field::content_type, file ? file->contentType : "application/json");
        // The page keeps the token in the browser's storage: no copy of any answer is kept.
        response->set(http::field::cache_control, "no-store");
        response->set("X-Content-Type-Options", "nosniff");
        if (file) {
            response->set("Content-Security-Policy", server.host.contentSecurityPolicy);
            response->set("Referrer-Policy", "no-referrer");
            response->set("X-Frame-Options", "DENY");
        }
        if (status == 401)
            response->set(http::field::www_authenticate, "Bearer");
        response->keep_alive(again);
        response->body() = std::move(body);
        response->prepare_payload();
        stream.expires_after(Milliseconds(server.limits.httpIdleMs));
        http::async_write(
            stream, *response,
            [self = shared_from_this(), response, again](beast::error_code ec, std::size_t) {
                if (!ec && again) {
                    self->ReadRequest();
                    return;
                }
                beast::error_code ignored;
                self->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
                self->Gone("");
            });
    }

    void Upgrade(const std::string& target) {
        stream.expires_never();
        ws.emplace(std::move(stream));
        websocket::stream_base::timeout timeout;
        timeout.handshake_timeout = std::chrono::seconds(5);
        timeout.idle_timeout = Milliseconds(server.limits.keepAliveMs);
        timeout.keep_alive_pings = true;
        ws->set_option(timeout);
        ws->read_message_max(server.limits.maxMessageBytes);
        ws->text(true);
        ws->async_accept(request, [self = shared_from_this(), target](beast::error_code ec) {
            if (ec) {
                self->Gone("");
                return;
            }
            self->opened = true;
            self->server.host.opened(self->id, target);
            self->ReadMessage();
        });
    }

    void ReadMessage() {
        ws->async_read(buffer, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                self->Gone(ec == websocket::error::closed ? "the client closed the connection"
                           : ec == beast::error::timeout
                               ? "the client stopped answering (keep-alive)"
                               : "the connection broke: " + ec.message());
                return;
            }
            std::string text = beast::buffers_to_string(self->buffer.data());
            self->buffer.consume(self->buffer.size());
            self->server.host.text(self->id, std::move(text));
            self->ReadMessage();
        });
    }

    void WriteNext() {
        if (outbox.empty()) {
            writing = false;
            if (closing && !closeSent) {
                closeSent = true;
                writing = true;
                ws->async_close(closeReason, [self = shared_from_this()](beast::error_code) {
                    self->writing = false;
                });
            }
            return;
        }
        writing = true;
        ws->async_write(net::buffer(outbox.front()),
                        [self = shared_from_this()](beast::error_code ec, std::size_t) {
                            self->outbox.pop_front();
                            if (ec) {
                                self->writing = false;
                                self->outbox.clear();
                                return;
                            }
                            self->WriteNext();
                        });
    }

    void Gone(const std::string& why) {
        if (gone)
            return;
        gone = true;
        // Erased last: it may hold the last reference to this connection.
        const auto self = shared_from_this();
        server.connections.erase(id);
        if (opened)
            server.host.closed(id, why);
    }

    RemoteServer::Impl& server;
    uint64_t id;
    beast::tcp_stream stream;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::request<http::string_body> request;
    std::optional<websocket::stream<beast::tcp_stream>> ws;
    std::deque<std::string> outbox;
    websocket::close_reason closeReason;
    bool keepAlive = false;
    bool awaitingReply = false;
    bool writing = false;
    bool closing = false;
    bool closeSent = false;
    bool opened = false;
    bool gone = false;
};

void RemoteServer::Impl::Accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted)
            return;
        if (!ec) {
            if (int(connections.size()) >= limits.maxConnections) {
                beast::error_code ignored;
                socket.close(ignored);
            } else {
                const uint64_t id = nextId++;
                auto connection = std::make_shared<Connection>(*this, id, std::move(socket));
                connections[id] = connection;
                connection->Start();
            }
        }
        Accept();
    });
}

std::shared_ptr<Connection> RemoteServer::Impl::Find(uint64_t id) {
    const auto found = connections.find(id);
    return found == connections.end() ? nullptr : found->second;
}

RemoteServer::RemoteServer() = default;

RemoteServer::~RemoteServer() {
    Stop();
}

std::string RemoteServer::Start(const std::string& address, uint16_t port, Host host,
                                Limits limits) {
    Stop();
    auto next = std::make_unique<Impl>();
    next->host = std::move(host);
    next->limits = limits;
    beast::error_code ec;
    const auto ip = net::ip::make_address(address, ec);
    if (ec)
        return address + " is no IP address";
    const tcp::endpoint endpoint(ip, port);
    next->acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        next->acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        next->acceptor.bind(endpoint, ec);
    if (!ec)
        next->acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        return "cannot listen on " + address + ":" + std::to_string(port) + ": " + ec.message();
    next->port = next->acceptor.local_endpoint(ec).port();
    next->Accept();
    Impl* running = next.get();
    next->thread = std::thread([running] { running->context.run(); });
    impl = std::move(next);
    return std::string();
}

void RemoteServer::Stop() {
    if (!impl)
        return;
    impl->context.stop();
    impl->thread.join();
    impl.reset();
}

bool RemoteServer::Running() const {
    return impl != nullptr;
}

uint16_t RemoteServer::Port() const {
    return impl ? impl->port : 0;
}

void RemoteServer::Reply(uint64_t connection, int status, std::string body) {
    if (!impl)
        return;
    Impl* running = impl.get();
    net::post(running->context, [running, connection, status, body = std::move(body)]() mutable {
        if (auto found = running->Find(connection))
            found->Reply(status, std::move(body));
    });
}

void RemoteServer::Send(uint64_t connection, std::string text) {
    if (!impl)
        return;
    Impl* running = impl.get();
    net::post(running->context, [running, connection, text = std::move(text)]() mutable {
        if (auto found = running->Find(connection))
            found->Send(std::move(text));
    });
}

void RemoteServer::Close(uint64_t connection, int code, std::string why) {
    if (!impl)
        return;
    Impl* running = impl.get();
    net::post(running->context, [running, connection, code, why = std::move(why)]() mutable {
        if (auto found = running->Find(connection))
            found->Close(code, std::move(why));
    });
}
