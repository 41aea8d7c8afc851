// Fuzzing the session's own cookie store: random sequences of captures (answers with Set-Cookie
// lines), MergeCookies, RemoveCookies, Cookies with and without a text, and GetCookie. After
// every step the store starts with "; ", ends with "; ", and cookieStoreLength is its length.
#include <cstdint>
#include <string>

#include "tests/fuzz/session_fuzz.h"

namespace {

void CheckStore(const HttpSession& session, const char* step, const std::string& argument) {
    const std::string store = fuzz::Of(session.cookieStore);
    const std::string detail = std::string(step) + " " + fuzz::Shown(argument) + " left " +
                               fuzz::Shown(store) + " length " +
                               std::to_string(session.cookieStoreLength);
    if (store.size() < 2 || store.compare(0, 2, "; ") != 0)
        fuzz::Finding("the store does not start with \"; \"", detail);
    if (store.compare(store.size() - 2, 2, "; ") != 0)
        fuzz::Finding("the store does not end with \"; \"", detail);
    if (session.cookieStoreLength != static_cast<int>(store.size()))
        fuzz::Finding("cookieStoreLength is not the store's length", detail);
}

// A cookie text as callers write them: pairs, blanks and separators.
std::string CookieText(fuzz::Input& in) {
    static const char* const pieces[] = {"a",  "b",       "sid",      "=",     "; ", ";",  " ", "1",
                                         "x=", "deleted", "\xA1\xA1", "\xB0=", "A",  "=;", "zz"};
    std::string text;
    const int count = in.Byte() % 10;
    for (int i = 0; i < count && !in.Empty(); ++i) {
        const std::uint8_t b = in.Byte();
        text += b < 0xF0 ? pieces[b % std::size(pieces)] : in.Text(4);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    fake::ResetWorld();
    HttpSession session;
    session.SetCookieMode(1);
    CheckStore(session, "a new session", "");
    for (int steps = 0; steps < 16 && !in.Empty(); ++steps) {
        const std::uint8_t op = in.Byte() % 6;
        if (op == 0) {
            const std::u16string block = fuzz::HeaderBlock(in);
            fuzz::Answer(session, block, in.Flag());
            CheckStore(session, "capture", fuzz::Of(session.responseHeaders));
            continue;
        }
        const std::string text = CookieText(in);
        const Text before = session.cookieStore;
        if (op == 1) {
            const int changed = session.MergeCookies(Text(text));
            if (changed != (session.cookieStore != before ? 1 : 0))
                fuzz::Finding("MergeCookies reported a change wrongly", fuzz::Shown(text));
            CheckStore(session, "MergeCookies", text);
        } else if (op == 2) {
            const int changed = session.RemoveCookies(Text(text));
            if (changed != (session.cookieStore != before ? 1 : 0))
                fuzz::Finding("RemoveCookies reported a change wrongly", fuzz::Shown(text));
            CheckStore(session, "RemoveCookies", text);
        } else if (op == 3) {
            if (fuzz::Of(session.Cookies(Text(text))) != text.substr(0, text.find('\0')))
                fuzz::Finding("Cookies did not return its argument", fuzz::Shown(text));
            CheckStore(session, "Cookies", text);
        } else if (op == 4) {
            const std::string joined = fuzz::Of(session.Cookies());
            const std::string store = fuzz::Of(session.cookieStore);
            const std::string inner = store.size() >= 4 ? store.substr(2, store.size() - 4) : "";
            if (joined != inner)
                fuzz::Finding("Cookies() is not the store without its ends", fuzz::Shown(store));
            CheckStore(session, "Cookies()", "");
        } else {
            session.GetCookie(Text(text), 1);
            if (session.cookieStore != before) fuzz::Finding("GetCookie changed the store", text);
        }
    }
    return 0;
}
