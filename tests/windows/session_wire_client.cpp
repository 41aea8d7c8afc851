// Makes the same HttpSession calls on either platform, one request per step below, so that what
// the session sends through Wine's WinHTTP and WinINet can be compared with what it sends through
// the Linux layer (wire_compare.sh). Each request goes to BASE/NN-name; a request that gets no
// answer prints its step and gives exit code 1.
//   session-wire-client BASE     BASE: http://127.0.0.1:PORT
#include "http/session.h"

#include <cstdio>
#include <functional>
#include <string>

namespace {

struct Step {
    const char* name;
    std::function<bool(HttpSession& session, const Text& url)> run;
};

const Step steps[] = {
    // The tool's token request: POST without body, everything in the query.
    {"token",
     [](HttpSession& session, const Text& url) {
         return session.Open("POST", ConcatText(url,
                                                "?grant_type=client_credentials&client_id=k"
                                                "&client_secret=s")) &&
                session.Send();
     }},
    // The tool's recognition request: a form body.
    {"recognize",
     [](HttpSession& session, const Text& url) {
         return session.Open("POST", ConcatText(url, "?access_token=t")) &&
                session.SetContentType() && session.Send("image=%59%57%4A%6A");
     }},
    {"get", [](HttpSession& session,
               const Text& url) { return session.Open("GET", url) && session.Send(); }},
    {"stock-setters",
     [](HttpSession& session, const Text& url) {
         return session.Open("GET", url) && session.SetUserAgent("Agent/2") &&
                session.SetReferer("http://localhost/from") && session.SetAjaxHeader() &&
                session.SetForwardedIp("10.1.2.3") && session.SetAcceptLanguage("en") &&
                session.Send();
     }},
    {"bytes",
     [](HttpSession& session, const Text& url) {
         const unsigned char body[] = {0, 1, 2, 0xFF, 'x'};
         return session.Open("PUT", url) && session.SendBytes(Bytes(body, sizeof body));
     }},
    // The session's own cookie store.
    {"own-cookies",
     [](HttpSession& session, const Text& url) {
         session.SetCookieMode(1);
         session.Cookies("a=1; b=2");
         return session.Open("GET", url) && session.Send();
     }},
    // The system's cookie store (WinINet on Windows).
    {"system-cookies",
     [](HttpSession& session, const Text& url) {
         session.SetCookieMode(2);
         return session.Open("GET", url) && session.SetCookieHeader("sys=1; other=2") &&
                session.Send();
     }},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: session-wire-client http://127.0.0.1:PORT\n");
        return 2;
    }
    int index = 0;
    for (const Step& step : steps) {
        HttpSession session;
        char path[64];
        std::snprintf(path, sizeof path, "/%02d-%s", ++index, step.name);
        if (!step.run(session, ConcatText(argv[1], path)) || session.GetStatus() != 200) {
            std::printf("%s: no answer (status %d)\n", step.name, session.GetStatus());
            return 1;
        }
    }
    std::printf("%d requests sent\n", index);
    return 0;
}
