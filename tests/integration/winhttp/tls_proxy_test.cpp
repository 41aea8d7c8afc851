// TLS against test certificates made with OpenSSL, and proxies through tinyproxy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/integration/winhttp/client.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_proxy.h"
#include "tests/support/test_server.h"

using namespace testclient;
using testsupport::Connection;
using testsupport::Request;
using testsupport::Response;
using testsupport::TestServer;

namespace {

constexpr DWORD ignoreCertificateErrors = 0x3300;

// Trusts the test CA through SSL_CERT_FILE for the test's duration.
class TrustedCa : public ::testing::Test {
  protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("winhttp-test-ca-" + std::to_string(::getpid()) + ".pem");
        ASSERT_TRUE(ca.WriteCertificate(path.string()));
        const char* old = std::getenv("SSL_CERT_FILE");
        hadOld = old != nullptr;
        if (old) oldValue = old;
        ::setenv("SSL_CERT_FILE", path.c_str(), 1);
    }
    void TearDown() override {
        if (hadOld) {
            ::setenv("SSL_CERT_FILE", oldValue.c_str(), 1);
        } else {
            ::unsetenv("SSL_CERT_FILE");
        }
        std::filesystem::remove(path);
    }
    TestServer::Tls Certificate(const std::vector<std::string>& names, int from = -1,
                                int until = 30) {
        auto issued = ca.Issue(names, from, until);
        return {issued.certificatePem, issued.keyPem};
    }

    testsupport::TestCa ca;
    std::filesystem::path path;
    bool hadOld = false;
    std::string oldValue;
};

std::function<void(HINTERNET)> IgnoreCertificateErrors(DWORD flags = ignoreCertificateErrors) {
    return [flags](HINTERNET request) {
        DWORD value = flags;
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &value, sizeof value);
    };
}

TEST_F(TrustedCa, CertificatesAreCheckedUnlessTheRequestSaysOtherwise) {
    testsupport::TestCa otherCa;
    auto stranger = otherCa.Issue({"localhost", "127.0.0.1"});
    struct {
        const char* name;
        TestServer::Tls tls;
        DWORD ignoreFlags;
        DWORD error;  // 0: answered
    } cases[] = {
        {"valid", Certificate({"localhost", "127.0.0.1"}), 0, 0},
        {"expired", Certificate({"localhost", "127.0.0.1"}, -30, -1), 0,
         ERROR_WINHTTP_SECURE_FAILURE},
        {"wrong host", Certificate({"wrong.example"}), 0, ERROR_WINHTTP_SECURE_FAILURE},
        {"unknown CA", {stranger.certificatePem, stranger.keyPem}, 0, ERROR_WINHTTP_SECURE_FAILURE},
        {"expired, errors ignored", Certificate({"127.0.0.1"}, -30, -1), 0x3300, 0},
        {"wrong host, errors ignored", Certificate({"wrong.example"}), 0x3300, 0},
        {"unknown CA, errors ignored", {stranger.certificatePem, stranger.keyPem}, 0x3300, 0},
        // Each flag lets its own error pass and no other.
        {"expired, date ignored", Certificate({"127.0.0.1"}, -30, -1),
         SECURITY_FLAG_IGNORE_CERT_DATE_INVALID, 0},
        {"expired, host name ignored", Certificate({"127.0.0.1"}, -30, -1),
         SECURITY_FLAG_IGNORE_CERT_CN_INVALID, ERROR_WINHTTP_SECURE_FAILURE},
        {"wrong host, host name ignored", Certificate({"wrong.example"}),
         SECURITY_FLAG_IGNORE_CERT_CN_INVALID, 0},
        {"wrong host, unknown CA ignored", Certificate({"wrong.example"}),
         SECURITY_FLAG_IGNORE_UNKNOWN_CA, ERROR_WINHTTP_SECURE_FAILURE},
        {"unknown CA, unknown CA ignored",
         {stranger.certificatePem, stranger.keyPem},
         SECURITY_FLAG_IGNORE_UNKNOWN_CA,
         0},
        {"unknown CA, date ignored",
         {stranger.certificatePem, stranger.keyPem},
         SECURITY_FLAG_IGNORE_CERT_DATE_INVALID,
         ERROR_WINHTTP_SECURE_FAILURE},
    };
    for (const auto& row : cases) {
        TestServer server(row.tls);
        Internet session = OpenSession();
        Answer answer = Fetch(
            session.get(), {"GET",
                            server.Url("/"),
                            {},
                            "",
                            row.ignoreFlags ? IgnoreCertificateErrors(row.ignoreFlags) : nullptr});
        if (row.error == 0) {
            ASSERT_TRUE(answer.bodyOk) << row.name << ": error " << answer.error;
            EXPECT_EQ(answer.body, "ok") << row.name;
        } else {
            EXPECT_FALSE(answer.sent) << row.name;
            EXPECT_EQ(answer.error, row.error) << row.name;
        }
    }
}

TEST_F(TrustedCa, IgnoringErrorsHoldsForThatRequestOnly) {
    TestServer server(Certificate({"127.0.0.1"}, -30, -1));  // expired
    Internet session = OpenSession();
    ASSERT_TRUE(
        Fetch(session.get(), {"GET", server.Url("/"), {}, "", IgnoreCertificateErrors()}).bodyOk);
    // The next request of the same session checks again: the unchecked connection is not reused.
    Answer checked = Fetch(session.get(), {"GET", server.Url("/"), {}, "", nullptr});
    EXPECT_FALSE(checked.sent);
    EXPECT_EQ(checked.error, ERROR_WINHTTP_SECURE_FAILURE);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(TrustedCa, KeepAliveOverTls) {
    TestServer server(Certificate({"localhost", "127.0.0.1"}));
    Internet session = OpenSession();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Fetch(session.get(), {"POST", server.Url("/"), {}, "x", nullptr}).bodyOk) << i;
    }
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST_F(TrustedCa, RelaxedRequestOnAValidCertificateLeavesAReusableConnection) {
    TestServer server(Certificate({"localhost", "127.0.0.1"}));
    Internet session = OpenSession();
    ASSERT_TRUE(
        Fetch(session.get(), {"GET",
                              server.Url("/"),
                              {},
                              "",
                              IgnoreCertificateErrors(SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                                                      SECURITY_FLAG_IGNORE_CERT_DATE_INVALID)})
            .bodyOk);
    ASSERT_TRUE(Fetch(session.get(), {"GET", server.Url("/"), {}, "", nullptr}).bodyOk);
    EXPECT_EQ(server.ConnectionCount(), 1);  // nothing was ignored, so nothing to keep apart
}

TEST_F(TrustedCa, NoRedirectFromHttpsToHttp) {
    TestServer plain;
    TestServer secure(Certificate({"127.0.0.1"}));
    secure.Reply(Response("302 Found", "stay", {"Location: " + plain.Url("/")}));
    Internet session = OpenSession();
    Answer answer = Fetch(session.get(), {"GET", secure.Url("/"), {}, "", nullptr});
    ASSERT_TRUE(answer.bodyOk) << answer.error;
    EXPECT_EQ(answer.status, 302u);
    EXPECT_EQ(answer.body, "stay");
    EXPECT_TRUE(plain.Requests().empty());
}

// Proxy settings as a request's setup: session-wide proxy plus the given credentials.
void UseProxy(HINTERNET session, const std::string& address) {
    std::u16string server = W(address);
    WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NAMED_PROXY, server.data(), nullptr};
    ASSERT_TRUE(WinHttpSetOption(session, WINHTTP_OPTION_PROXY, &info, sizeof info));
}

std::function<void(HINTERNET)> ProxyOptions(std::u16string user, std::u16string password) {
    return [user, password](HINTERNET request) {
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY_USERNAME,
                         const_cast<char16_t*>(user.c_str()), DWORD(user.size()));
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY_PASSWORD,
                         const_cast<char16_t*>(password.c_str()), DWORD(password.size()));
    };
}

std::function<void(HINTERNET)> ProxyCredentials(std::u16string user, std::u16string password) {
    return [user, password](HINTERNET request) {
        WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                              user.c_str(), password.c_str(), nullptr);
    };
}

TEST_F(TrustedCa, ProxyWithBasicAuthentication) {
    testsupport::TinyProxy proxy("proxyuser", "proxypass");
    if (!proxy.Running()) GTEST_SKIP() << "tinyproxy is not installed";
    TestServer plain;
    TestServer secure(Certificate({"localhost", "127.0.0.1"}));
    struct {
        const char* name;
        bool https;
        std::function<void(HINTERNET)> setup;
        DWORD status;
    } cases[] = {
        {"http, options", false, ProxyOptions(u"proxyuser", u"proxypass"), 200},
        {"http, SetCredentials", false, ProxyCredentials(u"proxyuser", u"proxypass"), 200},
        // tinyproxy answers missing credentials with 407 and wrong ones with 401.
        {"http, wrong password", false, ProxyOptions(u"proxyuser", u"wrong"), 401},
        {"http, no credentials", false, nullptr, 407},
        {"https through CONNECT", true, ProxyOptions(u"proxyuser", u"proxypass"), 200},
        {"https, SetCredentials", true, ProxyCredentials(u"proxyuser", u"proxypass"), 200},
        {"https, wrong password", true, ProxyOptions(u"proxyuser", u"wrong"), 401},
        {"https, no credentials", true, nullptr, 407},
    };
    for (const auto& row : cases) {
        Internet session = OpenSession();
        UseProxy(session.get(), proxy.Address());
        std::string url = row.https ? secure.Url("/via") : plain.Url("/via");
        Answer answer = Fetch(session.get(), {"GET", url, {}, "", row.setup});
        ASSERT_TRUE(answer.received) << row.name << ": error " << answer.error;
        EXPECT_EQ(answer.status, row.status) << row.name;
        if (row.status == 200) {
            EXPECT_EQ(answer.body, "ok") << row.name;
        }
    }
    ASSERT_FALSE(plain.Requests().empty());
    EXPECT_EQ(plain.Requests()[0].target, "/via");
    EXPECT_EQ(plain.Requests()[0].Header("Proxy-Authorization"), "");  // not passed on
}

TEST_F(TrustedCa, NamedProxyGivenToWinHttpOpen) {
    testsupport::TinyProxy proxy;
    if (!proxy.Running()) GTEST_SKIP() << "tinyproxy is not installed";
    TestServer server;
    std::u16string address = W(proxy.Address());
    Internet session(WinHttpOpen(u"agent", WINHTTP_ACCESS_TYPE_NAMED_PROXY, address.c_str(),
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    Answer answer = Fetch(session.get(), {"GET", server.Url("/p"), {}, "", nullptr});
    ASSERT_TRUE(answer.bodyOk) << answer.error;
    EXPECT_EQ(answer.body, "ok");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].target, "/p");
}

TEST_F(TrustedCa, NoProxyGoesDirect) {
    TestServer server;
    Internet session = OpenSession();
    WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
    ASSERT_TRUE(WinHttpSetOption(session.get(), WINHTTP_OPTION_PROXY, &info, sizeof info));
    ::setenv("http_proxy", "http://127.0.0.1:1", 1);  // ignored: WinHTTP reads no variables
    Answer answer = Fetch(session.get(), {"GET", server.Url("/"), {}, "", nullptr});
    ::unsetenv("http_proxy");
    ASSERT_TRUE(answer.bodyOk) << answer.error;
}

}  // namespace
