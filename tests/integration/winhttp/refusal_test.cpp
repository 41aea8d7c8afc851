// What the layer does when libcurl refuses something: the request fails with the matching WinHTTP
// error and nothing reaches the server. libcurl is the real one; this executable's own
// curl_easy_setopt and curl_slist_append stand in front of it and refuse on demand.
#include <curl/curl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "tests/integration/winhttp/client.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_server.h"

namespace {

CURLoption refusedOption = CURLOPT_LASTENTRY;  // none
CURLcode refusal = CURLE_OK;
std::string refusedLine;  // a header line curl_slist_append fails on

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
    using Setopt = CURLcode (*)(CURL*, CURLoption, ...);
    static const Setopt real = Real<Setopt>("curl_easy_setopt");
    if (option == refusedOption) return refusal;
    va_list args;
    va_start(args, option);
    CURLcode code;
    // The option's number says the type of its argument.
    if (option < CURLOPTTYPE_OBJECTPOINT) {
        code = real(easy, option, va_arg(args, long));
    } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
        code = real(easy, option, va_arg(args, void*));
    } else if (option < CURLOPTTYPE_OFF_T) {
        code = real(easy, option, va_arg(args, void (*)()));
    } else if (option < CURLOPTTYPE_BLOB) {
        code = real(easy, option, va_arg(args, curl_off_t));
    } else {
        code = real(easy, option, va_arg(args, void*));
    }
    va_end(args);
    return code;
}

extern "C" curl_slist* curl_slist_append(curl_slist* list, const char* line) {
    using Append = curl_slist* (*)(curl_slist*, const char*);
    static const Append real = Real<Append>("curl_slist_append");
    if (!refusedLine.empty() && refusedLine == line) return nullptr;
    return real(list, line);
}

namespace {

using namespace testclient;

TEST(WinHttpRefusals, ARefusedCallFailsTheRequestBeforeAnythingIsSent) {
    testsupport::TestCa ca;  // not trusted: only the certificate override lets requests through
    auto issued = ca.Issue({"127.0.0.1"});
    const auto ignoreUnknownCa = [](HINTERNET request) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    };
    struct {
        const char* name;
        bool tls;
        CURLoption option;
        CURLcode code;
        std::string line;
        DWORD error;  // 0: answered
    } cases[] = {
        {"nothing refused", false, CURLOPT_LASTENTRY, CURLE_OK, "", 0},
        {"nothing refused, certificate override", true, CURLOPT_LASTENTRY, CURLE_OK, "", 0},
        {"header list refused", false, CURLOPT_HTTPHEADER, CURLE_UNKNOWN_OPTION, "",
         ERROR_WINHTTP_INTERNAL_ERROR},
        // libcurl not built on OpenSSL: the override cannot be installed.
        {"certificate override refused", true, CURLOPT_SSL_CTX_FUNCTION, CURLE_NOT_BUILT_IN, "",
         ERROR_WINHTTP_INTERNAL_ERROR},
        {"timeout refused", false, CURLOPT_CONNECTTIMEOUT_MS, CURLE_BAD_FUNCTION_ARGUMENT, "",
         ERROR_WINHTTP_INTERNAL_ERROR},
        {"header line not appended", false, CURLOPT_LASTENTRY, CURLE_OK, "X-Trace: 42",
         ERROR_NOT_ENOUGH_MEMORY},
    };
    Internet session = OpenSession();
    for (const auto& c : cases) {
        testsupport::TestServer plain;
        testsupport::TestServer secure({issued.certificatePem, issued.keyPem});
        testsupport::TestServer& server = c.tls ? secure : plain;
        refusedOption = c.option;
        refusal = c.code;
        refusedLine = c.line;
        Call call;
        call.url = server.Url("/refused");
        call.headers = {{"X-Trace: 42", WINHTTP_ADDREQ_FLAG_ADD}};
        if (c.tls) call.setup = ignoreUnknownCa;
        Answer answer = Fetch(session.get(), call);
        refusedOption = CURLOPT_LASTENTRY;
        refusedLine.clear();
        if (c.error == 0) {
            EXPECT_TRUE(answer.bodyOk) << c.name;
            EXPECT_EQ(answer.status, 200u) << c.name;
            continue;
        }
        EXPECT_FALSE(answer.sent) << c.name;
        EXPECT_EQ(answer.error, c.error) << c.name;
        EXPECT_EQ(server.ConnectionCount(), 0) << c.name << ": the request went out anyway";
    }
}

}  // namespace
