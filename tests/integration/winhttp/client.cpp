#include "tests/integration/winhttp/client.h"

namespace testclient {

std::u16string W(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = text[i];
        if (c < 0x80) {
            out += char16_t(c);
        } else if ((c >> 5) == 6 && i + 1 < text.size()) {
            out += char16_t(((c & 0x1F) << 6) | (text[++i] & 0x3F));
        } else if ((c >> 4) == 14 && i + 2 < text.size()) {
            char16_t v =
                char16_t(((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F));
            i += 2;
            out += v;
        }
    }
    return out;
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Internet OpenSession(const char16_t* agent) {
    return Internet(WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0));
}

std::string QueryText(HINTERNET request, DWORD level) {
    DWORD size = 0;
    if (WinHttpQueryHeaders(request, level, nullptr, nullptr, &size, nullptr)) return "";
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return "";
    std::u16string buffer(size / sizeof(char16_t), u'\0');
    if (!WinHttpQueryHeaders(request, level, nullptr, buffer.data(), &size, nullptr)) return "";
    buffer.resize(size / sizeof(char16_t));
    return Narrow(buffer);
}

Answer Fetch(HINTERNET session, const Call& call) {
    Answer answer;
    std::u16string url = W(call.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = DWORD(-1);
    parts.dwUrlPathLength = DWORD(-1);
    parts.dwExtraInfoLength = DWORD(-1);
    if (!WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts)) {
        answer.error = GetLastError();
        return answer;
    }
    std::u16string host(parts.lpszHostName, parts.dwHostNameLength);
    std::u16string path(parts.lpszUrlPath, parts.dwUrlPathLength + parts.dwExtraInfoLength);
    Internet connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    if (!connection) {
        answer.error = GetLastError();
        return answer;
    }
    std::u16string verb = W(call.verb);
    Internet request(
        WinHttpOpenRequest(connection.get(), verb.c_str(), path.c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                           parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        answer.error = GetLastError();
        return answer;
    }
    for (const auto& [line, flags] : call.headers) {
        std::u16string wide = W(line);
        WinHttpAddRequestHeaders(request.get(), wide.c_str(), DWORD(wide.size()), flags);
    }
    if (call.setup) call.setup(request.get());
    answer.sent = WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                     const_cast<char*>(call.body.data()), DWORD(call.body.size()),
                                     DWORD(call.body.size()), 0);
    if (!answer.sent) {
        answer.error = GetLastError();
        return answer;
    }
    answer.received = WinHttpReceiveResponse(request.get(), nullptr);
    if (!answer.received) {
        answer.error = GetLastError();
        return answer;
    }
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        nullptr, &status, &size, nullptr);
    answer.status = status;
    answer.rawHeaders = QueryText(request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF);
    char buffer[65536];
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            answer.error = GetLastError();
            return answer;
        }
        if (available == 0) break;
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read)) {
            answer.error = GetLastError();
            return answer;
        }
        answer.body.append(buffer, read);
    }
    answer.bodyOk = true;
    return answer;
}

}  // namespace testclient
