#include "server/http_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <optional>
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

// The request kind is the first label of the Host header ("isee.example.org" → "isee").
std::string KindOf(beast::string_view host) {
    std::size_t end = host.find_first_of(".:");
    std::string kind(host.substr(0, end == beast::string_view::npos ? host.size() : end));
    for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return kind;
}

std::string Timestamp() {
    return FormatTime(std::time(nullptr), "%Y-%m-%dT%H:%M:%SZ", false);
}

}  // namespace

struct HttpServerState {
    HttpServerState(PhoneProtocol& phone, WebSite& web, Monitoring& monitoring, HttpLimits limits, AccessLog log,
                    TrustedProxies proxies)
        : phone(phone), web(web), monitoring(monitoring), limits(limits), log(std::move(log)),
          proxies(std::move(proxies)), acceptor(io), readers(std::max(1u, limits.handlerThreads)),
          writers(std::max(1u, limits.handlerThreads)), passwords(std::max(1u, limits.passwordThreads)) {}

    void Accept();

    // Every connection beyond the limit is answered at once with the busy error.
    bool Crowded() const { return sessions > limits.maxConnections; }

    PhoneProtocol& phone;
    WebSite& web;
    Monitoring& monitoring;
    HttpLimits limits;
    AccessLog log;
    TrustedProxies proxies;
    // Declared before the io_context: destroying it destroys the sessions still queued, which count down.
    std::atomic<int> sessions{0};
    // When the last connection closed (steady clock ticks), for the idle time.
    std::atomic<std::chrono::steady_clock::rep> lastClosed{0};
    asio::io_context io;
    tcp::acceptor acceptor;
    asio::steady_timer acceptPause{io};
    std::vector<std::thread> threads;
    asio::thread_pool readers;
    asio::thread_pool writers;
    asio::thread_pool passwords;
    std::uint16_t port = 0;
};

namespace {

// The phone's requests name their kind in the Host header and carry the absolute form
// "POST http://HOST HTTP/1.0", which no browser sends to a web site.
bool IsPhoneRequest(const http::request_parser<http::string_body>::value_type& header) {
    beast::string_view target = header.target();
    if (target.size() >= 7 && beast::iequals(target.substr(0, 7), "http://")) return true;
    return header.method() == http::verb::post && IsPhoneRequestKind(KindOf(header[http::field::host]));
}

// One connection: read a request within the deadline, answer it; a phone's connection then ends
// (the client closes), a browser's may carry the next request.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, HttpServerState& server)
        : server_(server), stream_(std::move(socket)), buffer_(server.limits.maxRequestBytes) {
        ++server_.sessions;
        beast::error_code ec;
        tcp::endpoint remote = stream_.socket().remote_endpoint(ec);
        peer_ = ec ? "-" : remote.address().to_string();
        client_ = peer_;
    }
    ~Connection() {
        server_.lastClosed = std::chrono::steady_clock::now().time_since_epoch().count();
        --server_.sessions;
    }

    void Start() {
        if (server_.Crowded()) {
            started_ = std::chrono::steady_clock::now();
            stream_.expires_after(server_.limits.requestDeadline);
            return RespondError(503, kBusyText);
        }
        ReadHeader();
    }

private:
    void ReadHeader() {
        started_ = std::chrono::steady_clock::now();
        kind_.clear();
        label_ = std::string_view();
        databaseFailed_ = false;
        client_ = peer_;
        classified_ = false;
        stream_.expires_after(server_.limits.requestDeadline);
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(std::min(kHeaderLimit, server_.limits.maxRequestBytes)));
        parser_->body_limit(server_.limits.maxRequestBytes);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t bytes) {
                                    self->OnHeader(ec, bytes);
                                });
    }

    // Tells the phone's request from the web's once its header is in.
    void Classify(bool headerIn) {
        classified_ = headerIn;
        phone_ = classified_ && IsPhoneRequest(parser_->get());
    }

    void OnHeader(beast::error_code ec, std::size_t headerBytes) {
        if (ec) return Fail(ec);
        Classify(true);
        const auto& header = parser_->get();
        client_ = server_.proxies.ClientOf(peer_, std::string(header["X-Real-IP"]),
                                           std::string(header["X-Forwarded-For"]));
        boost::optional<std::uint64_t> length = parser_->content_length();
        if (phone_) {
            std::size_t limit = server_.limits.maxRequestBytes;
            if (headerBytes >= limit || (length && *length > limit - headerBytes)) return TooLarge();
            parser_->body_limit(limit - headerBytes);
        } else {
            if (length && *length > kMaxWebBodyBytes) return TooLarge();
            parser_->body_limit(kMaxWebBodyBytes);
        }
        http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return self->Fail(ec);
            self->Process();
        });
    }

    void Process() {
        stream_.expires_never();
        if (!phone_) return ProcessWeb();
        const http::request<http::string_body>& request = parser_->get();
        kind_ = KindOf(request[http::field::host]);
        if (request.method() != http::verb::post) {
            return RespondError(400, std::string(kBadRequestText) + ": ожидается POST");
        }
        asio::thread_pool& pool = kind_ == "ineed" ? server_.readers
                                  : kind_ == "hand" ? server_.passwords
                                                    : server_.writers;
        asio::post(pool, [self = shared_from_this()] {
            const http::request<http::string_body>& request = self->parser_->get();
            Outcome outcome = self->server_.phone.Handle(self->kind_, request.body(), self->client_);
            asio::post(self->stream_.get_executor(), [self, outcome = std::move(outcome)]() mutable {
                self->databaseFailed_ = outcome.databaseFailed;
                self->Respond("text/xml; charset=utf-8", std::move(outcome.document), outcome.user, outcome.result);
            });
        });
    }

    void ProcessWeb() {
        const http::request<http::string_body>& request = parser_->get();
        WebRequest web;
        web.method = std::string(request.method_string());
        std::string target(request.target());
        std::size_t question = target.find('?');
        web.path = target.substr(0, question);
        if (question != std::string::npos) web.query = target.substr(question + 1);
        web.host = std::string(request[http::field::host]);
        web.origin = std::string(request[http::field::origin]);
        web.cookies = std::string(request[http::field::cookie]);
        web.authorization = std::string(request[http::field::authorization]);
        web.body = request.body();
        web.client = client_;
        bool reads = request.method() == http::verb::get || request.method() == http::verb::head;
        // The web's writes are people's forms, among them every one that checks a password.
        asio::post(reads ? server_.readers : server_.passwords, [self = shared_from_this(), web = std::move(web), reads] {
            WebAnswer answer = self->Monitored(web, reads);
            asio::post(self->stream_.get_executor(), [self, answer = std::move(answer)]() mutable {
                self->RespondWeb(std::move(answer));
            });
        });
    }

    // /healthz and /metrics are the monitoring's; the rest is the web site's.
    WebAnswer Monitored(const WebRequest& web, bool reads) {
        if (reads && web.path == "/healthz") return server_.monitoring.Health();
        if (reads && web.path == "/metrics") return server_.monitoring.Metrics(server_.sessions.load());
        return server_.web.Handle(web);
    }

    void Fail(beast::error_code ec) {
        // A length announced over the limit is refused as soon as the header that announces it is in.
        if (ec == http::error::body_limit && !classified_) Classify(true);
        if (ec == http::error::header_limit || ec == http::error::body_limit || ec == http::error::buffer_overflow) {
            return TooLarge();
        }
        bool httpError = ec.category() == beast::error_code(http::error::end_of_stream).category();
        if (httpError && ec != http::error::end_of_stream && ec != http::error::partial_message &&
            ec != http::error::need_more) {
            return RespondError(400, kBadRequestText);
        }
        // The client went away, or was too slow, or a browser let its idle connection go: there is
        // nobody to answer.
        const char* what = ec == beast::error::timeout ? "timeout" : "closed";
        if (ec == http::error::end_of_stream && !parser_->got_some()) what = "empty";
        if (served_ == 0 || parser_->got_some()) Log("-", what);
        Close();
    }

    void TooLarge() {
        if (classified_ && !phone_) {
            WebAnswer answer = WebSite::TooLarge(std::string(parser_->get().target()));
            return RespondWeb(std::move(answer), false);
        }
        RespondError(400, std::string(kBadRequestText) + ": слишком большой запрос");
    }

    void RespondError(int code, const std::string& description) {
        Outcome outcome = PhoneProtocol::Error(code, description);
        Respond("text/xml; charset=utf-8", std::move(outcome.document), outcome.user, outcome.result);
    }

    // Every answer to a phone is a 200 with a document: the phone reads error documents only from a 200.
    void Respond(const char* contentType, std::string body, const std::string& user, const std::string& result) {
        user_ = user;
        result_ = result;
        // A client that took long to send still gets the full time to take the reply.
        stream_.expires_after(server_.limits.requestDeadline);
        response_ = {};
        response_.version(10);
        response_.result(http::status::ok);
        response_.set(http::field::content_type, contentType);
        response_.body() = std::move(body);
        response_.keep_alive(false);
        response_.prepare_payload();
        http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->OnWritten(ec, false);
        });
    }

    void RespondWeb(WebAnswer answer, bool mayKeepAlive = true) {
        const http::request<http::string_body>& request = parser_->get();
        kind_ = std::string(request.method_string()) + " " + (answer.route.empty() ? "page" : answer.route);
        label_ = WebKindLabel(std::string(request.target().substr(0, request.target().find('?'))));
        databaseFailed_ = answer.databaseFailed;
        user_ = answer.user;
        result_ = std::to_string(answer.status);
        stream_.expires_after(server_.limits.requestDeadline);
        response_ = {};
        response_.version(request.version() == 10 ? 10 : 11);
        response_.result(static_cast<unsigned>(answer.status));
        if (!answer.contentType.empty()) response_.set(http::field::content_type, answer.contentType);
        for (const auto& header : answer.headers) response_.insert(header.first, header.second);
        response_.body() = std::move(answer.body);
        bool keepAlive = mayKeepAlive && request.keep_alive() && ++served_ < server_.limits.maxRequestsPerConnection;
        response_.keep_alive(keepAlive);
        response_.prepare_payload();
        if (request.method() == http::verb::head) response_.body().clear();
        http::async_write(stream_, response_, [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
            self->OnWritten(ec, keepAlive);
        });
    }

    void OnWritten(beast::error_code ec, bool keepAlive) {
        Log(user_, ec ? result_ + " (reply not delivered)" : result_);
        server_.monitoring.CountRequest(label_.empty() ? PhoneKindLabel(kind_) : label_, result_,
                                        std::chrono::steady_clock::now() - started_, databaseFailed_);
        if (ec) return Close();
        if (keepAlive) return ReadHeader();
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
        server_.log(Timestamp() + " " + client_ + " " + (kind_.empty() ? "-" : kind_) + " " + user + " " + result +
                    " " + std::to_string(elapsed.count()) + "ms");
    }

    HttpServerState& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
    char drain_[512];
    std::size_t drained_ = 0;
    bool classified_ = false;  // the header is read and the request known as the phone's or the web's
    bool phone_ = false;
    int served_ = 0;  // requests answered on this connection
    std::chrono::steady_clock::time_point started_;
    std::string peer_;
    std::string client_;  // the peer, or the client a trusted proxy names
    std::string kind_;
    std::string_view label_;  // the web's kind for /metrics; empty for the phone's
    bool databaseFailed_ = false;
    std::string user_;
    std::string result_;
};

}  // namespace

void HttpServerState::Accept() {
    acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
        if (!ec) {
            std::make_shared<Connection>(std::move(socket), *this)->Start();
            return Accept();
        }
        // Out of descriptors or memory: try again a little later instead of spinning on the failure.
        acceptPause.expires_after(std::chrono::milliseconds(100));
        acceptPause.async_wait([this](beast::error_code waitError) {
            if (!waitError) Accept();
        });
    });
}

HttpServer::HttpServer(PhoneProtocol& phone, WebSite& web, Monitoring& monitoring, HttpLimits limits, AccessLog log,
                       TrustedProxies proxies)
    : impl_(std::make_unique<HttpServerState>(phone, web, monitoring, limits, std::move(log), std::move(proxies))) {}

std::string TrustedProxies::ClientOf(const std::string& peer, const std::string& realIp,
                                     const std::string& forwardedFor) const {
    if (std::find(addresses.begin(), addresses.end(), peer) == addresses.end()) return peer;
    // The proxy appends the address it saw to X-Forwarded-For: only the last entry is its own word.
    std::string named = realIp;
    if (named.empty()) {
        std::size_t comma = forwardedFor.rfind(',');
        named = comma == std::string::npos ? forwardedFor : forwardedFor.substr(comma + 1);
    }
    named.erase(0, named.find_first_not_of(" \t"));
    named.erase(named.find_last_not_of(" \t") + 1);
    beast::error_code ec;
    asio::ip::address address = asio::ip::make_address(named, ec);
    return ec ? peer : address.to_string();
}

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
    // The handlers finish what they run; what they hand back to a stopped io_context is dropped.
    impl_->readers.join();
    impl_->writers.join();
    impl_->passwords.join();
    impl_->io.stop();
    for (std::thread& thread : impl_->threads) thread.join();
    impl_->threads.clear();
}

int HttpServer::OpenConnections() const {
    return impl_->sessions.load();
}

std::chrono::steady_clock::duration HttpServer::IdleFor() const {
    if (impl_->sessions > 0) return std::chrono::steady_clock::duration::zero();
    std::chrono::steady_clock::time_point closed{std::chrono::steady_clock::duration(impl_->lastClosed.load())};
    return std::chrono::steady_clock::now() - closed;
}

}  // namespace pelmora
