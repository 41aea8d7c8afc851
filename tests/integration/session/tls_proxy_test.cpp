// The one-shot certificate-error override against a TLS test server whose CA nobody trusts.
#include <gtest/gtest.h>

#include "http/session.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_server.h"

using testsupport::TestServer;

namespace {
TestServer::Tls UntrustedCertificate(const testsupport::TestCa& ca) {
    auto issued = ca.Issue({"localhost", "127.0.0.1"});
    return {issued.certificatePem, issued.keyPem};
}
}  // namespace

TEST(SessionTls, OverrideIsSpentByTheFirstRequestAfterReset) {
    testsupport::TestCa ca;
    TestServer server(UntrustedCertificate(ca));
    HttpSession session;
    for (int round = 0; round < 2; ++round) {
        session.Reset();
        ASSERT_TRUE(session.Open("POST", server.Url("/token").c_str()));
        EXPECT_TRUE(session.Send()) << "round " << round;
        EXPECT_EQ(session.GetStatus(), 200);
        EXPECT_EQ(session.scheme, INTERNET_SCHEME_HTTPS);

        ASSERT_TRUE(session.Open("POST", server.Url("/plate").c_str()));
        EXPECT_FALSE(session.Send("image=x")) << "round " << round;
        EXPECT_EQ(GetLastError(), ERROR_WINHTTP_SECURE_FAILURE);
    }
}

TEST(SessionTls, OverrideDisarmedBeforeTheFirstRequest) {
    testsupport::TestCa ca;
    TestServer server(UntrustedCertificate(ca));
    HttpSession session;
    session.SetIgnoreCertErrors(0);
    ASSERT_TRUE(session.Open("POST", server.Url("/token").c_str()));
    EXPECT_FALSE(session.Send());
    session.SetIgnoreCertErrors();
    ASSERT_TRUE(session.Open("POST", server.Url("/token").c_str()));
    EXPECT_TRUE(session.Send());
}
