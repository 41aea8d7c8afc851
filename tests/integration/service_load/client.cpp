#include "client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "service/options.h"

namespace loadtest {
namespace {

void PutBe32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((v >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    PutBe32(out, static_cast<uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
}

// A grey PNG of the given size. Its rows are all zero, so a large one is tiny on the wire and
// huge once decoded; declaredWidth/Height, when given, are what the header claims instead.
}  // namespace

std::string GreyPng(uint32_t width, uint32_t height, uint32_t declaredWidth,
                    uint32_t declaredHeight) {
    std::string ihdr;
    PutBe32(ihdr, declaredWidth ? declaredWidth : width);
    PutBe32(ihdr, declaredHeight ? declaredHeight : height);
    ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, no interlace
    z_stream z{};
    deflateInit(&z, 9);
    std::string compressed;
    const std::string row(width + 1, '\0');  // filter byte and pixels
    char out[65536];
    for (uint32_t y = 0; y < height; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
        z.avail_in = static_cast<uInt>(row.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(out);
            z.avail_out = sizeof out;
            deflate(&z, y + 1 == height ? Z_FINISH : Z_NO_FLUSH);
            compressed.append(out, sizeof out - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", compressed);
    PutChunk(png, "IEND", "");
    return png;
}

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string FormValue(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

Tls::Tls() : context(SSL_CTX_new(TLS_client_method())) {}

Tls::~Tls() {
    SSL_CTX_free(context);
}

int Connect(int port, const char* source, int timeoutSeconds) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    timeval timeout{timeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TlsConnection::TlsConnection(const Tls& tls, int port, const char* source, int timeoutSeconds)
    : fd(Connect(port, source, timeoutSeconds)) {
    if (fd < 0) return;
    ssl = SSL_new(tls.Get());
    SSL_set_fd(ssl, fd);
    if (SSL_connect(ssl) != 1) {
        SSL_free(ssl);
        ssl = nullptr;
    }
    ERR_clear_error();
}

TlsConnection::~TlsConnection() {
    if (ssl != nullptr) SSL_free(ssl);
    if (fd >= 0) close(fd);
    ERR_clear_error();
}

bool TlsConnection::Send(const std::string& bytes) {
    size_t at = 0;
    while (ssl != nullptr && at < bytes.size()) {
        const int n = SSL_write(ssl, bytes.data() + at, static_cast<int>(bytes.size() - at));
        if (n <= 0) break;
        at += static_cast<size_t>(n);
    }
    ERR_clear_error();
    return ssl != nullptr && at == bytes.size();
}

void TlsConnection::CloseSending() {
    if (ssl != nullptr) SSL_shutdown(ssl);
    ERR_clear_error();
}

std::string TlsConnection::ReadToEnd() {
    std::string raw = std::move(pending);
    pending.clear();
    char buffer[16384];
    while (ssl != nullptr) {
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0) break;
        raw.append(buffer, static_cast<size_t>(n));
    }
    ERR_clear_error();
    return raw;
}

Reply TlsConnection::ReadReply() {
    char buffer[16384];
    for (;;) {
        std::vector<Reply> replies = ParseReplies(pending);
        if (!replies.empty()) {
            const Reply& first = replies.front();
            pending.erase(0, first.head.size() + 4 + first.body.size());
            return first;
        }
        if (ssl == nullptr) return {};
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        ERR_clear_error();
        if (n <= 0) return {};
        pending.append(buffer, static_cast<size_t>(n));
    }
}

std::vector<Reply> ParseReplies(const std::string& raw) {
    std::vector<Reply> replies;
    size_t at = 0;
    while (raw.compare(at, 9, "HTTP/1.1 ") == 0) {
        const size_t headEnd = raw.find("\r\n\r\n", at);
        if (headEnd == std::string::npos) break;
        Reply reply;
        reply.status = std::atoi(raw.c_str() + at + 9);
        reply.head = raw.substr(at, headEnd - at);
        const std::string length = HeaderValue(reply, "Content-Length");
        const size_t size = length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10);
        if (headEnd + 4 + size > raw.size()) break;
        reply.body = raw.substr(headEnd + 4, size);
        replies.push_back(reply);
        at = headEnd + 4 + size;
    }
    return replies;
}

std::string HeaderValue(const Reply& reply, const std::string& name) {
    std::string head;
    for (char c : reply.head)
        head += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string key = "\r\n";
    for (char c : name)
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    key += ":";
    const size_t found = head.find(key);
    if (found == std::string::npos) return {};
    const size_t start = reply.head.find_first_not_of(' ', found + key.size());
    const size_t end = reply.head.find("\r\n", start);
    return reply.head.substr(start, end == std::string::npos ? end : end - start);
}

Reply Exchange(const Tls& tls, int port, const std::string& request, size_t send) {
    TlsConnection connection(tls, port);
    if (!connection.Ok()) return {};
    connection.Send(request.substr(0, send));
    // A body cut short: the client says it has sent all it will, and waits for the answer.
    if (send != std::string::npos) connection.CloseSending();
    std::vector<Reply> replies = ParseReplies(connection.ReadToEnd());
    return replies.empty() ? Reply{} : replies.front();
}

std::string Post(const std::string& target, const std::string& body,
                 const std::string& extraHeaders) {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

std::string TokenBody() {
    return std::string("grant_type=client_credentials&client_id=") + service::builtInClientId +
           "&client_secret=" + service::builtInClientSecret;
}

std::string TokenTarget() {
    return "/oauth/2.0/token?" + TokenBody();
}

std::string Token(const Reply& reply) {
    const auto json = nlohmann::json::parse(reply.body, nullptr, false);
    if (json.is_discarded() || !json.contains("access_token")) return "";
    return json["access_token"].get<std::string>();
}

int ErrorCode(const Reply& reply) {
    const auto json = nlohmann::json::parse(reply.body, nullptr, false);
    if (json.is_discarded() || !json.contains("error_code")) return -1;
    return json["error_code"].get<int>();
}

}  // namespace loadtest
