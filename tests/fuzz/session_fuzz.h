// What the HttpSession fuzz targets share: a session over the recording WinHTTP fake of the unit
// tests, answered with a header block the fuzzer made.
#pragma once

#include <string>

#include "fake_winhttp.h"
#include "http/session.h"
#include "tests/fuzz/fuzz_input.h"

namespace fuzz {

inline std::string Of(const Text& t) {
    return std::string(t.view());
}

// A header block in UTF-16 as WinHTTP gives one: a status line, then lines put together from
// header names the session looks for, separators and random values. Input bytes 0x80 and above
// take the next byte with them as one UTF-16 unit, so any unit (surrogates included) turns up.
inline std::u16string HeaderBlock(Input& in) {
    static const char* const pieces[] = {
        "\r\n",
        "Set-Cookie:",
        "set-cookie: ",
        "Content-Length:",
        "content-length: ",
        "X-Content-Length:",
        "Location:",
        "Content-Location: ",
        "Content-Type:",
        ";",
        "; ",
        "=",
        "deleted;",
        "=DELETED;",
        "Deleted",
        " ",
        "\xA1\xA1",
        "a",
        "b",
        "sid",
        "42",
        "-7",
        "99999999999",
        "/",
        "http://h/x",
        "HTTP/1.1 ",
        "200 OK",
        "\r",
        "\n",
        ":",
    };
    std::u16string block = u"HTTP/1.1 200 OK";
    const int count = in.Byte() % 32;
    for (int i = 0; i < count && !in.Empty(); ++i) {
        const std::uint8_t b = in.Byte();
        if (b < 0x80) {
            for (const char* p = pieces[b % std::size(pieces)]; *p; ++p)
                block += static_cast<char16_t>(static_cast<unsigned char>(*p));
        } else {
            block += static_cast<char16_t>((b & 0x7F) << 9 | in.Byte() << 1 | (b & 1));
        }
    }
    return block + u"\r\n\r\n";
}

// The session gets an answer with this block (through Open and Send, as a program does).
inline bool Answer(HttpSession& session, const std::u16string& block, int keepStoredCookies) {
    fake::World& world = fake::world();
    world.answer.rawHeaders = block;
    world.answer.body = "body";
    return session.Open("GET", "http://example.test/a/b?c") &&
           session.Send(Text(), keepStoredCookies);
}

}  // namespace fuzz
