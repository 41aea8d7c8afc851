// Fuzzing ReadResponseHeaders and every getter of the answer on random header blocks: no crash,
// the block kept is the block given (up to a zero unit, in code page 936), Content-Length is read
// as its rules say, and the cookie getters agree with each other.
#include <cstdint>
#include <string>

#include "tests/fuzz/session_fuzz.h"

namespace {

// The declared length as ReadResponseHeaders' rules give it, from the kept block.
int ExpectedContentLength(const Text& headers) {
    const int p = FindText(headers, "Content-Length:", 1, 1);
    if (p == -1) return -1;
    const int v = p + 15;
    const int e = FindText(headers, "\r\n", v);
    if (e != -1) return TextToInt(MidText(headers, v, e - v));
    return TextToInt(RightText(headers, TextLength(headers) - v + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    fake::ResetWorld();
    HttpSession session;
    session.SetCookieMode(in.Byte() % 3 == 1 ? 1 : 0);
    const std::u16string block = fuzz::HeaderBlock(in);
    const Text name(in.Text(8));
    if (!fuzz::Answer(session, block, in.Flag())) fuzz::Finding("Send failed on the fake", "");

    const std::u16string upToZero = block.substr(0, block.find(u'\0'));
    const Bytes wide(upToZero.data(), static_cast<int>(upToZero.size() * 2));
    const Text expected = WideToText(wide);
    const std::string shown = fuzz::Shown(fuzz::Of(expected));
    if (session.GetAllResponseHeaders() != expected)
        fuzz::Finding("the kept header block differs from the one given", shown);
    if (session.contentLength != ExpectedContentLength(expected))
        fuzz::Finding("contentLength misread",
                      shown + " gave " + std::to_string(session.contentLength));

    // Every getter, each twice: the same answer gives the same result.
    const Text header = session.GetResponseHeader(name);
    const Text cookies = session.GetResponseCookies();
    const Text cookie = session.GetResponseCookie(name);
    const Text location = session.GetRedirectLocation(0);
    const Text absolute = session.GetRedirectLocation(1);
    if (header != session.GetResponseHeader(name) || cookies != session.GetResponseCookies() ||
        cookie != session.GetResponseCookie(name) || location != session.GetRedirectLocation(0) ||
        absolute != session.GetRedirectLocation(1))
        fuzz::Finding("a getter changed its answer on a second call", shown);
    session.GetStatus();
    session.GetStatusText();
    session.GetResponseText();
    session.GetResponseRawText();
    if (FindText(header, "\r\n") != -1)
        fuzz::Finding("a header value ran over its line end", shown);
    if (!location.empty() && absolute.empty())
        fuzz::Finding("a Location lost when made absolute", shown);
    return 0;
}
