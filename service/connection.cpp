#include "service/connection.h"

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/execution/outstanding_work.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/prefer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <exception>

#include "service/request_log.h"

namespace service::detail {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using ErrorCode = boost::system::error_code;
using std::chrono::seconds;

// Deadlines: each covers a whole phase, so a client that trickles bytes gains nothing.
constexpr seconds handshakeTime{10};
constexpr seconds headTime{10};    // from the first byte of a request to its empty line
constexpr seconds idleTime{5};     // a kept connection waiting for its next request
constexpr seconds bodyGrace{10};   // then the body must come at minRate at least
constexpr seconds writeGrace{10};  // then the answer must be taken at minRate at least
constexpr seconds shutdownTime{2};
// After a refusal, the client's unread request is drained this long at most, so that it
// reads the answer instead of a reset.
constexpr seconds lingerTime{5};
constexpr seconds lingerQuiet{1};
// 16 KiB/s: a 32 MiB body still has over half an hour; a stalled one is cut early.
constexpr unsigned long long minRate = 16 * 1024;
// Bytes asked of the socket at once while the head is read.
constexpr size_t readChunk = 4096;
// How long a client refused as busy should wait, in seconds.
constexpr const char* retryAfter = "1";
constexpr const char* jsonType = "application/json; charset=utf-8";
constexpr const char continueResponse[] = "HTTP/1.1 100 Continue\r\n\r\n";

// The time a transfer of bytes may take at the least rate after the grace.
std::chrono::microseconds AtLeastRate(unsigned long long bytes) {
    return std::chrono::microseconds(bytes * 1000000 / minRate);
}

const ServiceError& ErrorOf(HeadVerdict verdict) {
    switch (verdict) {
        case HeadVerdict::TooLarge:
            return headerTooLarge;
        case HeadVerdict::TargetTooLong:
            return targetTooLong;
        default:
            return malformedRequest;
    }
}

// Serve, with an unexpected failure (out of memory, say) answered as an internal error.
Response ServeSafely(ServiceContext& context, const Request& request) {
    try {
        return Serve(context, request);
    } catch (const std::exception&) {
        return ErrorResponse(internalError);
    }
}

}  // namespace

Connection::Connection(asio::ip::tcp::socket socket, asio::ssl::context& tls, ConnectionHost& host,
                       asio::ip::address peer)
    : stream(std::move(socket), tls), host(host), peer(peer), buffer(maxHeaderBlock) {}

Connection::~Connection() {
    host.Closed(this, peer);
}

void Connection::Start() {
    beast::get_lowest_layer(stream).expires_after(handshakeTime);
    stream.async_handshake(asio::ssl::stream_base::server,
                           [self = shared_from_this()](const ErrorCode& ec) {
                               if (ec || self->stopping) return self->Close();
                               self->ReadHead();
                           });
}

void Connection::Stop() {
    asio::post(stream.get_executor(), [self = shared_from_this()] {
        self->stopping = true;
        if (self->phase == Phase::Handshake || self->phase == Phase::Idle) self->Close();
    });
}

void Connection::Abort() {
    asio::post(stream.get_executor(), [self = shared_from_this()] { self->Close(); });
}

// Reads until the buffer holds a whole head: an idle wait for the first byte, then the
// head's deadline from that byte on.
void Connection::ReadHead() {
    if (closed) return;
    // RFC 9112 section 2.2: empty lines before a request line are skipped.
    auto view = [this] {
        return std::string_view(static_cast<const char*>(buffer.data().data()), buffer.size());
    };
    while (view().substr(0, 2) == "\r\n") {
        buffer.consume(2);
        scanned = 0;
    }
    size_t end = view().find("\r\n\r\n", scanned > 3 ? scanned - 3 : 0);
    if (end != std::string_view::npos) return OnHead(end + 4);
    scanned = buffer.size();
    if (buffer.size() >= maxHeaderBlock) return Refuse(ErrorOf(OverlongHead(view())));
    auto& socket = beast::get_lowest_layer(stream);
    if (buffer.size() == 0) {
        if (stopping) return Close();
        buffer.shrink_to_fit();  // an idle connection holds no read buffer
        phase = Phase::Idle;
        socket.expires_after(idleTime);
    } else if (phase != Phase::Head) {
        phase = Phase::Head;
        headStart = Clock::now();
        socket.expires_at(headStart + headTime);
    }
    size_t room = std::min(readChunk, buffer.max_size() - buffer.size());
    stream.async_read_some(buffer.prepare(room),
                           [self = shared_from_this()](const ErrorCode& ec, size_t length) {
                               if (ec) return self->Close();
                               self->buffer.commit(length);
                               self->ReadHead();
                           });
}

void Connection::OnHead(size_t length) {
    scanned = 0;
    if (phase != Phase::Head) headStart = Clock::now();  // the head came in one read
    method = "-";
    target = "-";
    keepAlive = false;  // until the head is known to be sound
    std::string_view head(static_cast<const char*>(buffer.data().data()), length);
    HeadVerdict verdict = CheckRequestHead(head);
    if (verdict != HeadVerdict::Ok) return Refuse(ErrorOf(verdict));
    parser.emplace();
    parser->header_limit(maxHeaderBlock);
    parser->body_limit(maxBody);
    parser->eager(false);
    ErrorCode ec;
    size_t used = parser->put(asio::buffer(head.data(), head.size()), ec);
    // A body over the limit is refused from its announced length, before it is read; with
    // "Expect: 100-continue" the client hears 413 instead of 100.
    if (ec == http::error::body_limit) return Refuse(bodyTooLarge);
    if (ec || !parser->is_header_done()) return Refuse(malformedRequest);
    buffer.consume(used);
    auto& request = parser->get();
    method = std::string(request.method_string());
    target = std::string(request.target());
    version = request.version();
    headRequest = request.method() == http::verb::head;
    if (version != 10 && version != 11) return Refuse(malformedRequest);
    keepAlive = request.keep_alive();
    bodyBytes = 0;
    bodyStart = Clock::now();
    if (parser->is_done()) return Dispatch();
    if (beast::iequals(request[http::field::expect], "100-continue")) {
        phase = Phase::Body;
        beast::get_lowest_layer(stream).expires_after(writeGrace);
        asio::async_write(stream, asio::buffer(continueResponse, sizeof continueResponse - 1),
                          [self = shared_from_this()](const ErrorCode& ec, size_t) {
                              if (ec) return self->Close();
                              self->bodyStart = Clock::now();
                              self->ReadBody();
                          });
        return;
    }
    ReadBody();
}

// The body must keep pace: by bodyStart + grace + n / minRate, byte n must be in.
void Connection::ReadBody() {
    phase = Phase::Body;
    beast::get_lowest_layer(stream).expires_at(bodyStart + bodyGrace + AtLeastRate(bodyBytes));
    http::async_read_some(
        stream, buffer, *parser, [self = shared_from_this()](const ErrorCode& ec, size_t length) {
            self->bodyBytes += length;
            if (ec == http::error::body_limit) {
                self->keepAlive = false;
                return self->Refuse(bodyTooLarge);
            }
            if (ec && ec.category() == http::make_error_code(http::error::bad_chunk).category()) {
                self->keepAlive = false;
                return self->Refuse(malformedRequest);  // bad chunk framing, say
            }
            if (ec) return self->Close();  // timed out, or the client went away
            if (self->parser->is_done()) return self->Dispatch();
            self->ReadBody();
        });
}

void Connection::Dispatch() {
    phase = Phase::Working;
    beast::get_lowest_layer(stream).expires_never();
    auto& message = parser->get();
    auto request = std::make_shared<Request>();
    request->method = method;
    request->target = target;
    request->contentType = std::string(message[http::field::content_type]);
    request->authorization = std::string(message[http::field::authorization]);
    request->body = std::move(message.body());
    parser.reset();
    if (!IsRecognition(host.Context(), *request)) {
        return Write(ServeSafely(host.Context(), *request));
    }

    // Recognition runs on a worker; the answer comes back to this connection's strand.
    auto self = shared_from_this();
    // Work outstanding on the I/O threads until the answer is posted back: a stopping server
    // waits for it.
    auto keepRunning =
        asio::prefer(stream.get_executor(), asio::execution::outstanding_work.tracked);
    bool taken = host.Workers().TrySubmit([self, request, keepRunning] {
        Response answer = ServeSafely(self->host.Context(), *request);
        asio::post(self->stream.get_executor(), [self, answer = std::move(answer)]() mutable {
            self->Write(std::move(answer));
        });
    });
    if (!taken) {
        Response busy = ErrorResponse(serviceBusy);
        busy.headers.emplace_back("Retry-After", retryAfter);
        Write(std::move(busy));
    }
}

void Connection::Refuse(const ServiceError& error) {
    keepAlive = false;
    linger = true;
    parser.reset();
    Write(ErrorResponse(error));
}

void Connection::Write(Response answer) {
    if (closed) return;
    phase = Phase::Writing;
    bool close = !keepAlive || stopping;
    response = {};
    response.version(version == 10 ? 10 : 11);
    response.result(static_cast<unsigned>(answer.status));
    response.set(http::field::content_type, jsonType);
    for (const auto& [name, value] : answer.headers)
        response.insert(name, value);
    response.body() = std::move(answer.body);
    response.keep_alive(!close);
    response.prepare_payload();
    if (headRequest) {
        // The length a GET would have, and no body (RFC 9110 section 9.3.2).
        size_t length = response.body().size();
        response.body().clear();
        response.content_length(length);
    }
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - headStart).count();
    LogRequest(method, target, answer.status, method == "-" ? -1 : ms);
    beast::get_lowest_layer(stream).expires_after(writeGrace + AtLeastRate(response.body().size()));
    http::async_write(stream, response,
                      [self = shared_from_this(), close](const ErrorCode& ec, size_t) {
                          if (ec) return self->Close();
                          if (close && self->linger) return self->Linger();
                          if (close) return self->Shutdown();
                          self->headRequest = false;
                          self->ReadHead();
                      });
}

// TLS close_notify, then waits briefly for the client's: what the client still sends (the
// rest of a refused body) is read and dropped, so that it gets the answer, not a reset.
void Connection::Shutdown() {
    phase = Phase::Closing;
    beast::get_lowest_layer(stream).expires_after(shutdownTime);
    stream.async_shutdown([self = shared_from_this()](const ErrorCode&) { self->Close(); });
}

// After a refusal: what the client still sends (the rest of the refused request) is read
// and dropped until it has been quiet for a moment or the linger time is over, so that it
// reads the answer instead of a reset.
void Connection::Linger() {
    if (phase != Phase::Closing) {
        phase = Phase::Closing;
        lingerEnd = Clock::now() + lingerTime;
    }
    beast::get_lowest_layer(stream).expires_at(std::min(lingerEnd, Clock::now() + lingerQuiet));
    buffer.consume(buffer.size());
    stream.async_read_some(buffer.prepare(readChunk),
                           [self = shared_from_this()](const ErrorCode& ec, size_t length) {
                               if (ec) return self->Close();
                               self->buffer.commit(length);
                               self->Linger();
                           });
}

void Connection::Close() {
    if (closed) return;
    closed = true;
    phase = Phase::Closing;
    ErrorCode ignored;
    auto& socket = beast::get_lowest_layer(stream).socket();
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(stream).close();
}

}  // namespace service::detail
