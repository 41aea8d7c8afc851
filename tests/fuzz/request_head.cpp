// Fuzzing the service's strict reading of a request head on random bytes. Besides "no crash",
// a head it accepts keeps the promises the server relies on: within the size limit, every
// line ended by CRLF, and a request line of method, target and version.
#include <cstdint>
#include <string_view>

#include "service/request_head.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view head(reinterpret_cast<const char*>(data), size);
    const service::HeadVerdict verdict = service::CheckRequestHead(head);
    service::OverlongHead(head);
    if (verdict != service::HeadVerdict::Ok) return 0;
    if (head.size() > service::maxHeaderBlock) __builtin_trap();
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) __builtin_trap();
    }
    const std::string_view requestLine = head.substr(0, head.find("\r\n"));
    if (requestLine.find(' ') == requestLine.rfind(' ')) __builtin_trap();
    return 0;
}
