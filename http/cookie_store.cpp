// The session's own cookie store: "; " followed by every entry name=value and "; ". Names are
// matched byte for byte; only name and value are kept (no domain, path or expiry).
#include "http/detail/constants.h"
#include "http/detail/set_cookie_scan.h"
#include "http/detail/winhttp_calls.h"
#include "http/session.h"

namespace {
constexpr char separator[] = "; ";
constexpr int separatorLength = http::detail::LiteralLength(separator);

// The entries of the store without the separators around them.
Text Entries(const Text& store, int storeLength) {
    return MidText(store, separatorLength + 1, storeLength - 2 * separatorLength);
}

// The key that finds an entry: "; " + name + "=".
Text EntryKey(const Text& name) {
    return ConcatText(separator, name, "=");
}
}  // namespace

void HttpSession::CaptureResponseCookies(int keepStoredCookies) {
    const Text before = cookieStore;
    for (const Text& cookie : http::detail::SetCookieTexts(responseHeaders)) {
        const int equals = FindText(cookie, "=");
        if (equals == -1) continue;
        const Text key = ConcatText(separator, LeftText(cookie, equals));
        const int found = FindText(cookieStore, key);
        const bool deleted = http::detail::HasDeletedMarker(cookie);
        if (found == -1) {
            if (!deleted) cookieStore = ConcatText(cookieStore, cookie, " ");
            continue;
        }
        const bool emptyValue = TextLength(cookie) == equals + 1;
        if (keepStoredCookies == 1 && (emptyValue || deleted)) continue;
        const int end = FindText(cookieStore, separator, found + TextLength(key));
        if (end == -1) continue;
        if (deleted) {
            // From the blank in front of the entry through its ";".
            cookieStore = ReplaceTextAt(cookieStore, found + 1, end - found);
        } else {
            // The entry with its ";" becomes the cookie text, in place.
            cookieStore =
                ReplaceTextAt(cookieStore, found + separatorLength, end - found - 1, cookie);
        }
    }
    if (cookieStore != before) cookieStoreLength = TextLength(cookieStore);
}

bool HttpSession::AttachCookieHeader() {
    const Text line = ConcatText("Cookie:", Entries(cookieStore, cookieStoreLength));
    return http::detail::AddHeaderLines(requestHandle, line, http::detail::addOrReplace) != 0;
}

Text HttpSession::Cookies(const std::optional<Text>& cookies) {
    if (!cookies) return Entries(cookieStore, cookieStoreLength);
    Text store = *cookies;
    if (LeftText(store, 2) != Text(separator)) store = ConcatText(separator, store);
    if (RightText(store, 2) != Text(separator)) {
        if (RightText(store, 1) != Text(";")) store = ConcatText(store, ";");
        store = ConcatText(store, " ");
    }
    cookieStore = store;
    cookieStoreLength = TextLength(cookieStore);
    return *cookies;
}

Text HttpSession::GetCookie(const Text& name, int withName) {
    if (name.empty()) return Text();
    const Text key = EntryKey(name);
    const int found = FindText(cookieStore, key);
    if (found == -1) return Text();
    const int value = found + TextLength(key);
    const int end = FindText(cookieStore, ";", value);
    if (end == -1) return Text();
    const int from = withName == 1 ? found + separatorLength : value;
    return MidText(cookieStore, from, end - from);
}

int HttpSession::MergeCookies(const Text& cookies) {
    if (cookies.empty()) return 0;
    const Text before = cookieStore;
    for (const Text& piece : SplitText(cookies, ";")) {
        const Text pair = TrimStart(piece);
        const int equals = FindText(pair, "=");
        if (equals == -1) continue;
        const Text key = ConcatText(separator, LeftText(pair, equals));
        const int found = FindText(cookieStore, key);
        if (found == -1) {
            cookieStore = ConcatText(cookieStore, pair, separator);
            continue;
        }
        const int end = FindText(cookieStore, separator, found + TextLength(key));
        if (end == -1) continue;
        cookieStore = ReplaceTextAt(cookieStore, found + separatorLength,
                                    end - found - separatorLength, pair);
    }
    if (cookieStore == before) return 0;
    cookieStoreLength = TextLength(cookieStore);
    return 1;
}

int HttpSession::RemoveCookies(const Text& names) {
    if (names.empty()) return 0;
    const Text before = cookieStore;
    for (const Text& piece : SplitText(names, ";")) {
        const Text pair = TrimStart(piece);
        const int equals = FindText(pair, "=");
        const Text key = EntryKey(equals == -1 ? pair : LeftText(pair, equals - 1));
        const int found = FindText(cookieStore, key);
        if (found == -1) continue;
        const int end = FindText(cookieStore, separator, found + TextLength(key));
        if (end == -1) continue;
        // From the key's "; " up to the entry's "; ": only the first entry of that name goes.
        cookieStore = ReplaceTextAt(cookieStore, found, end - found);
    }
    if (cookieStore == before) return 0;
    cookieStoreLength = TextLength(cookieStore);
    return 1;
}
