#include "server/http_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

namespace pelmora {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr std::size_t kDrainLimit = 64 * 1024;

const char* const kWelcomePage =
    "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\"><title>Pelmora</title></head>\n"
    "<body><h1>Pelmora</h1><p>Сервер Pelmora работает. Установите программу на телефон и войдите "
    "со своим адресом электронной почты и паролем.</p></body></html>\n";

// The request kind is the first label of the Host header ("isee.example.org" → "isee").
std::string KindOf(beast::string_view host) {
    std::size_t end = host.find_first_of(".:");
    std::string kind(host.substr(0, end == beast::string_view::npos ? host.size() : end));
    for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return kind;
}

std::string Timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace

struct HttpServerState {
    HttpServerState(Service& service, HttpLimits limits, AccessLog log)
        : service(service), limits(limits), log(std::move(log)), acceptor(io) {}

    void Accept();

    // Every connection beyond the limit is answered at once with the busy error.
    bool Crowded() const { return sessions > limits.maxConnections; }

    Service& service;
    HttpLimits limits;
    AccessLog log;
    // Declared before the io_context: destroying it destroys the sessions still queued, which count down.
    std::atomic<int> sessions{0};
    // When the last connection closed (steady clock ticks), for the idle time.
    std::atomic<std::chrono::steady_clock::rep> lastClosed{0};
    asio::io_context io;
    tcp::acceptor acceptor;
    asio::steady_timer acceptPause{io};
    std::vector<std::thread> threads;
    std::uint16_t port = 0;
};

namespace {

// One connection: read one request within the deadline, answer it, let the client close.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, HttpServerState& server)
        : server_(server), stream_(std::move(socket)), buffer_(server.limits.maxRequestBytes) {
        ++server_.sessions;
        beast::error_code ec;
        tcp::endpoint remote = stream_.socket().remote_endpoint(ec);
        peer_ = ec ? "-" : remote.address().to_string();
    }
    ~Session() {
        server_.lastClosed = std::chrono::steady_clock::now().time_since_epoch().count();
        --server_.sessions;
    }

    void Start() {
        started_ = std::chrono::steady_clock::now();
        stream_.expires_after(server_.limits.requestDeadline);
        if (server_.Crowded()) return RespondError(503, kBusyText);
        parser_.header_limit(static_cast<std::uint32_t>(std::min(kHeaderLimit, server_.limits.maxRequestBytes)));
        parser_.body_limit(server_.limits.maxRequestBytes);
        http::async_read_header(stream_, buffer_, parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t bytes) {
                                    self->OnHeader(ec, bytes);
                                });
    }

private:
    void OnHeader(beast::error_code ec, std::size_t headerBytes) {
        if (ec) return Fail(ec);
        std::size_t limit = server_.limits.maxRequestBytes;
        boost::optional<std::uint64_t> length = parser_.content_length();
        if (headerBytes >= limit || (length && *length > limit - headerBytes)) return TooLarge();
        parser_.body_limit(limit - headerBytes);
        http::async_read(stream_, buffer_, parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return self->Fail(ec);
            self->Process();
        });
    }

    void Process() {
        const http::request<http::string_body>& request = parser_.get();
        if (request.method() == http::verb::get) {
            kind_ = "page";
            return Respond("text/html; charset=utf-8", kWelcomePage, "-", "ok");
        }
        if (request.method() != http::verb::post) {
            return RespondError(400, std::string(kBadRequestText) + ": ожидается POST");
        }
        kind_ = KindOf(request[http::field::host]);
        Outcome outcome = server_.service.Handle(kind_, request.body());
        Respond("text/xml; charset=utf-8", std::move(outcome.document), outcome.user, outcome.result);
    }

    void Fail(beast::error_code ec) {
        if (ec == http::error::header_limit || ec == http::error::body_limit || ec == http::error::buffer_overflow) {
            return TooLarge();
        }
        bool httpError = ec.category() == beast::error_code(http::error::end_of_stream).category();
        if (httpError && ec != http::error::end_of_stream && ec != http::error::partial_message &&
            ec != http::error::need_more) {
            return RespondError(400, kBadRequestText);
        }
        // The client went away, or was too slow: there is nobody to answer.
        const char* what = ec == beast::error::timeout ? "timeout" : "closed";
        if (ec == http::error::end_of_stream && !parser_.got_some()) what = "empty";
        Log("-", what);
        Close();
    }

    void TooLarge() { RespondError(400, std::string(kBadRequestText) + ": слишком большой запрос"); }

    void RespondError(int code, const std::string& description) {
        Outcome outcome = Service::Error(code, description);
        Respond("text/xml; charset=utf-8", std::move(outcome.document), outcome.user, outcome.result);
    }

    // Every answer is a 200 with a document: the phone reads error documents only from a 200.
    void Respond(const char* contentType, std::string body, const std::string& user, const std::string& result) {
        user_ = user;
        result_ = result;
        // A client that took long to send still gets the full time to take the reply.
        stream_.expires_after(server_.limits.requestDeadline);
        response_.version(10);
        response_.result(http::status::ok);
        response_.set(http::field::content_type, contentType);
        response_.body() = std::move(body);
        response_.keep_alive(false);
        response_.prepare_payload();
        http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->OnWritten(ec);
        });
    }

    void OnWritten(beast::error_code ec) {
        Log(user_, ec ? result_ + " (reply not delivered)" : result_);
        if (ec) return Close();
        // Closing with unread bytes (such as the CR LF after the body) would reset the connection and
        // could destroy the reply before the phone has read it: send FIN, then read until the phone closes.
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(server_.limits.lingerDeadline);
        Drain();
    }

    void Drain() {
        stream_.async_read_some(asio::buffer(drain_),
                                [self = shared_from_this()](beast::error_code ec, std::size_t bytes) {
                                    self->drained_ += bytes;
                                    if (ec || self->drained_ > kDrainLimit) return self->Close();
                                    self->Drain();
                                });
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().close(ignored);
    }

    void Log(const std::string& user, const std::string& result) {
        if (!server_.log) return;
        auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
        server_.log(Timestamp() + " " + peer_ + " " + (kind_.empty() ? "-" : kind_) + " " + user + " " + result + " " +
                    std::to_string(elapsed.count()) + "ms");
    }

    HttpServerState& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    http::request_parser<http::string_body> parser_;
    http::response<http::string_body> response_;
    char drain_[512];
    std::size_t drained_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::string peer_;
    std::string kind_;
    std::string user_;
    std::string result_;
};

}  // namespace

void HttpServerState::Accept() {
    acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
        if (!ec) {
            std::make_shared<Session>(std::move(socket), *this)->Start();
            return Accept();
        }
        // Out of descriptors or memory: try again a little later instead of spinning on the failure.
        acceptPause.expires_after(std::chrono::milliseconds(100));
        acceptPause.async_wait([this](beast::error_code waitError) {
            if (!waitError) Accept();
        });
    });
}

HttpServer::HttpServer(Service& service, HttpLimits limits, AccessLog log)
    : impl_(std::make_unique<HttpServerState>(service, limits, std::move(log))) {}

HttpServer::~HttpServer() {
    Stop();
}

void HttpServer::Listen(const std::string& address, std::uint16_t port) {
    tcp::endpoint endpoint(asio::ip::make_address(address), port);
    impl_->acceptor.open(endpoint.protocol());
    impl_->acceptor.set_option(asio::socket_base::reuse_address(true));
    impl_->acceptor.bind(endpoint);
    impl_->acceptor.listen(asio::socket_base::max_listen_connections);
    impl_->port = impl_->acceptor.local_endpoint().port();
}

std::uint16_t HttpServer::Port() const {
    return impl_->port;
}

void HttpServer::Start(unsigned threads) {
    impl_->lastClosed = std::chrono::steady_clock::now().time_since_epoch().count();
    impl_->Accept();
    for (unsigned i = 0; i < std::max(1u, threads); ++i) {
        impl_->threads.emplace_back([this] { impl_->io.run(); });
    }
}

void HttpServer::Stop() {
    if (impl_->threads.empty()) return;
    asio::post(impl_->io, [this] {
        beast::error_code ignored;
        impl_->acceptor.close(ignored);
        impl_->acceptPause.cancel();
    });
    auto deadline = std::chrono::steady_clock::now() + impl_->limits.lingerDeadline;
    while (impl_->sessions > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    impl_->io.stop();
    for (std::thread& thread : impl_->threads) thread.join();
    impl_->threads.clear();
}

std::chrono::steady_clock::duration HttpServer::IdleFor() const {
    if (impl_->sessions > 0) return std::chrono::steady_clock::duration::zero();
    std::chrono::steady_clock::time_point closed{std::chrono::steady_clock::duration(impl_->lastClosed.load())};
    return std::chrono::steady_clock::now() - closed;
}

}  // namespace pelmora
