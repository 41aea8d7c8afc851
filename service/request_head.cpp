#include "service/request_head.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace service {
namespace {

// RFC 9110 section 5.6.2: the characters of a token, such as a field name.
bool IsTokenChar(unsigned char c) {
    return std::isalnum(c) ||
           std::string_view("!#$%&'*+-.^_`|~").find(char(c)) != std::string_view::npos;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trimmed(std::string_view value) {
    size_t first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    size_t last = value.find_last_not_of(" \t");
    return value.substr(first, last - first + 1);
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// What the fields that decide framing and routing said.
struct Framing {
    int hosts = 0;
    int transferEncodings = 0;
    std::string_view contentLength;
    bool conflict = false;
};

// One field line; false when it is malformed.
bool TakeField(std::string_view line, Framing& framing) {
    if (line.empty() || line[0] == ' ' || line[0] == '\t') return false;  // obs-fold
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return false;  // "Name :" too
    std::string_view value = Trimmed(line.substr(colon + 1));
    if (SameName(name, "Host")) ++framing.hosts;
    if (SameName(name, "Transfer-Encoding")) {
        ++framing.transferEncodings;
        if (!SameName(value, "chunked")) return false;
    }
    if (SameName(name, "Content-Length")) {
        if (!AllDigits(value)) return false;
        if (!framing.contentLength.empty() && framing.contentLength != value) return false;
        framing.contentLength = value;
    }
    return true;
}

}  // namespace

HeadVerdict CheckRequestHead(std::string_view head) {
    if (head.size() > maxHeaderBlock) return OverlongHead(head);
    // Every line ends in CRLF: no bare CR, no bare LF.
    for (size_t i = 0; i < head.size(); ++i) {
        bool crlf = head[i] == '\r' && i + 1 < head.size() && head[i + 1] == '\n';
        if (head[i] == '\r' && !crlf) return HeadVerdict::Malformed;
        if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) return HeadVerdict::Malformed;
    }
    size_t end = head.find("\r\n");
    std::string_view requestLine = head.substr(0, end);
    size_t firstBlank = requestLine.find(' ');
    size_t lastBlank = requestLine.rfind(' ');
    if (firstBlank == std::string_view::npos || firstBlank == lastBlank) {
        return HeadVerdict::Malformed;
    }
    if (lastBlank - firstBlank - 1 > maxTarget) return HeadVerdict::TargetTooLong;
    std::string_view version = requestLine.substr(lastBlank + 1);

    Framing framing;
    size_t fields = 0;
    for (size_t at = end + 2; at < head.size();) {
        size_t lineEnd = head.find("\r\n", at);
        std::string_view line = head.substr(at, lineEnd - at);
        at = lineEnd + 2;
        if (line.empty()) break;  // the empty line that ends the head
        if (++fields > maxHeaderFields) return HeadVerdict::TooLarge;
        if (!TakeField(line, framing)) return HeadVerdict::Malformed;
    }
    // RFC 9112 section 6.1: a request with both is an attack or a broken client.
    if (framing.transferEncodings > 1) return HeadVerdict::Malformed;
    if (framing.transferEncodings > 0 && !framing.contentLength.empty()) {
        return HeadVerdict::Malformed;
    }
    // RFC 9112 section 3.2: exactly one Host in HTTP/1.1, at most one before.
    if (framing.hosts > 1 || (version == "HTTP/1.1" && framing.hosts != 1)) {
        return HeadVerdict::Malformed;
    }
    return HeadVerdict::Ok;
}

HeadVerdict OverlongHead(std::string_view start) {
    return start.substr(0, maxHeaderBlock).find("\r\n") == std::string_view::npos
               ? HeadVerdict::TargetTooLong
               : HeadVerdict::TooLarge;
}

}  // namespace service
