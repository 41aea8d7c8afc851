// The recognition service as a user meets it: the real binary on an ephemeral port, talked
// to over HTTPS with its own certificate authority trusted.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "plate_picture.h"
#include "tests/support/service_process.h"

namespace {

using servicetest::ReadFile;
using servicetest::ServiceProcess;
using servicetest::TempDir;

const std::string registeredClientId = "Qk3TzW8vLhN2pYs6GdXe4RaJ";
const std::string clientSecret = "h4JwP9sKe2VxT7mQc5RbN8yLd3GzU6fA";
const std::string tokenPath = "/oauth/2.0/token";
const std::string platePath = "/rest/2.0/ocr/v1/license_plate";
const std::string plantPath = "/rest/2.0/image-classify/v1/plant";
const char* const formMediaType = "application/x-www-form-urlencoded";

std::string TokenQuery(const std::string& id = registeredClientId,
                       const std::string& secret = clientSecret) {
    return tokenPath + "?grant_type=client_credentials&client_id=" + id +
           "&client_secret=" + secret;
}

std::string Base64(const QByteArray& bytes) {
    return bytes.toBase64().toStdString();
}

// Every byte as %XX, as the tool sends the picture.
std::string PercentEncodeAll(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray Picture(int width, int height, const char* format = "PNG") {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    return Encoded(image, format);
}

// A service of its own per test that needs special options; otherwise one for the suite.
struct Service {
    TempDir dir;
    ServiceProcess process;
    bool started = false;

    explicit Service(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--state-dir",
                                         dir.Path() + "/state"};
        args.insert(args.end(), extra.begin(), extra.end());
        started = process.Start(RECOGNITION_SERVICE_BINARY, args, LogFile());
    }
    std::string LogFile() const { return dir.Path() + "/service.log"; }

    std::unique_ptr<httplib::SSLClient> Client() const {
        auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", process.Port());
        client->set_ca_cert_path(process.Authority().c_str());
        client->enable_server_certificate_verification(true);
        client->set_read_timeout(120, 0);
        client->set_write_timeout(120, 0);
        return client;
    }

    std::string Token() const {
        auto answer = Client()->Post(TokenQuery().c_str(), "", formMediaType);
        if (!answer || answer->status != 200) return {};
        return nlohmann::json::parse(answer->body)["access_token"].get<std::string>();
    }
};

struct Answer {
    int status = 0;
    nlohmann::json json;
    std::string body;
};

Answer Post(httplib::SSLClient& client, const std::string& path, const std::string& body,
            const char* type = formMediaType) {
    auto result = client.Post(path.c_str(), body, type);
    if (!result) return {};
    return {result->status, nlohmann::json::parse(result->body, nullptr, false), result->body};
}

class ServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service = new Service();
        ASSERT_TRUE(service->started);
        token = service->Token();
        ASSERT_FALSE(token.empty());
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    static Service* service;
    static std::string token;
};
Service* ServiceTest::service = nullptr;
std::string ServiceTest::token;

TEST_F(ServiceTest, AnnouncesItsAddressAndAuthority) {
    EXPECT_EQ(service->process.FirstLine(),
              "listening on https://127.0.0.1:" + std::to_string(service->process.Port()));
    EXPECT_NE(ReadFile(service->process.Authority()).find("BEGIN CERTIFICATE"), std::string::npos);
}

TEST_F(ServiceTest, TokenAnswerIsCompactWithAccessTokenFirst) {
    Answer a = Post(*service->Client(), TokenQuery(), "");
    ASSERT_EQ(a.status, 200) << a.body;
    ASSERT_EQ(a.body.rfind("{\"access_token\":\"", 0), 0u) << a.body;
    // What the tool cuts out between its two markers is the whole token.
    size_t start = a.body.find(':') + 2;
    std::string cut = a.body.substr(start, a.body.find("\",\"", start) - start);
    EXPECT_EQ(cut, a.json["access_token"]);
    EXPECT_GE(cut.size(), 22u);  // at least 128 bits of Base64
    EXPECT_EQ(a.json["token_type"], "bearer");
    EXPECT_EQ(a.json["expires_in"], 2592000);
    EXPECT_TRUE(a.json.contains("scope"));
    EXPECT_EQ(a.body.find(": "), std::string::npos);
    EXPECT_NE(Post(*service->Client(), TokenQuery(), "").json["access_token"], cut);
}

TEST_F(ServiceTest, TokenErrorsFollowOAuth) {
    const std::string grant = tokenPath + "?grant_type=client_credentials";
    struct {
        const char* name;
        std::string path;
        std::string body;
        int status;
        const char* error;
    } cases[] = {
        {"no grant type",
         tokenPath + "?client_id=" + registeredClientId + "&client_secret=" + clientSecret, "", 400,
         "invalid_request"},
        {"password grant",
         tokenPath + "?grant_type=password&client_id=" + registeredClientId +
             "&client_secret=" + clientSecret,
         "", 400, "unsupported_grant_type"},
        {"unknown client", TokenQuery("someone", clientSecret), "", 401, "invalid_client"},
        {"wrong secret", TokenQuery(registeredClientId, clientSecret + "x"), "", 401,
         "invalid_client"},
        {"secret prefix", TokenQuery(registeredClientId, clientSecret.substr(0, 31)), "", 401,
         "invalid_client"},
        {"no credentials", grant, "", 401, "invalid_client"},
        {"repeated parameter", TokenQuery(), "grant_type=client_credentials", 400,
         "invalid_request"},
        {"credentials in the body", grant,
         "client_id=" + registeredClientId + "&client_secret=" + clientSecret, 200, nullptr},
    };
    for (const auto& c : cases) {
        Answer a = Post(*service->Client(), c.path, c.body);
        EXPECT_EQ(a.status, c.status) << c.name << ": " << a.body;
        if (c.error) {
            EXPECT_EQ(a.json["error"], c.error) << c.name;
            EXPECT_TRUE(a.json.contains("error_description")) << c.name;
        } else {
            EXPECT_TRUE(a.json.contains("access_token")) << c.name;
        }
    }
}

TEST_F(ServiceTest, TokenByBasicAuthentication) {
    auto client = service->Client();
    client->set_basic_auth(registeredClientId.c_str(), clientSecret.c_str());
    Answer a = Post(*client, tokenPath, "grant_type=client_credentials");
    EXPECT_EQ(a.status, 200) << a.body;
    client->set_basic_auth(registeredClientId.c_str(), "wrong");
    auto result = client->Post(tokenPath.c_str(), "grant_type=client_credentials", formMediaType);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 401);
    EXPECT_TRUE(result->has_header("WWW-Authenticate"));
}

TEST_F(ServiceTest, EveryRecognitionErrorHasItsOwnCode) {
    const std::string plate = platePath + "?access_token=" + token;
    QByteArray good = Picture(100, 40);
    QByteArray jpeg = Picture(100, 40, "JPG");
    struct {
        const char* name;
        std::string path;
        std::string body;
        const char* type;
        int status;
        int code;
    } cases[] = {
        {"no token", platePath, "image=" + Base64(good), formMediaType, 401, 100},
        {"empty token", platePath + "?access_token=", "image=" + Base64(good), formMediaType, 401,
         100},
        {"unknown token", platePath + "?access_token=abc", "image=" + Base64(good), formMediaType,
         401, 110},
        {"token in the body only", platePath, "access_token=" + token + "&image=x", formMediaType,
         401, 100},
        {"json body", plate, "{\"image\":\"x\"}", "application/json", 400, 200},
        {"multipart", plate,
         "--b\r\nContent-Disposition: form-data; name=\"image\"\r\n\r\nx\r\n--b--\r\n",
         "multipart/form-data; boundary=b", 400, 200},
        {"no image field", plate, "picture=" + Base64(good), formMediaType, 400, 201},
        {"empty image", plate, "image=", formMediaType, 400, 202},
        {"image of line breaks only", plate, "image=%0D%0A", formMediaType, 400, 202},
        {"invalid base64", plate, "image=%21%21%21%21", formMediaType, 400, 203},
        {"base64 cut to one symbol", plate, "image=" + Base64(good) + "A", formMediaType, 400, 203},
        {"not a picture", plate, "image=" + PercentEncodeAll(Base64("plain text")), formMediaType,
         400, 205},
        {"truncated png", plate, "image=" + Base64(good.left(good.size() / 2)), formMediaType, 400,
         206},
        {"truncated jpeg", plate, "image=" + Base64(jpeg.left(jpeg.size() - 40)), formMediaType,
         400, 206},
        {"png header only", plate, "image=" + Base64(good.left(30)), formMediaType, 400, 206},
        {"too small", plate, "image=" + Base64(Picture(14, 40)), formMediaType, 400, 207},
        {"too large", plate, "image=" + Base64(Picture(8193, 15)), formMediaType, 400, 207},
        {"no plate", plate, "image=" + PercentEncodeAll(Base64(Picture(200, 80))), formMediaType,
         200, 300},
        {"plant without a model", plantPath + "?access_token=" + token, "image=" + Base64(good),
         formMediaType, 501, 301},
        {"plant, unknown token", plantPath + "?access_token=x", "image=" + Base64(good),
         formMediaType, 401, 110},
        {"plant, empty image", plantPath + "?access_token=" + token, "image=", formMediaType, 400,
         202},
    };
    for (const auto& c : cases) {
        Answer a = Post(*service->Client(), c.path, c.body, c.type);
        EXPECT_EQ(a.status, c.status) << c.name << ": " << a.body;
        EXPECT_EQ(a.json.value("error_code", -1), c.code) << c.name << ": " << a.body;
        EXPECT_TRUE(a.json.contains("error_msg")) << c.name;
    }
}

TEST_F(ServiceTest, RefusesBodiesOver32MiB) {
    std::string body = "image=" + std::string(32 * 1024 * 1024, 'A');
    Answer a = Post(*service->Client(), platePath + "?access_token=" + token, body);
    EXPECT_EQ(a.status, 413);
    EXPECT_EQ(a.json.value("error_code", -1), 204) << a.body;
}

TEST_F(ServiceTest, PostWithoutBodyIsAnsweredAtOnce) {
    // No Content-Length at all: the service must not wait for a body.
    httplib::Headers headers;
    auto client = service->Client();
    client->set_read_timeout(20, 0);
    auto start = std::chrono::steady_clock::now();
    auto result = client->Post(TokenQuery().c_str(), headers, "", 0, "");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST_F(ServiceTest, OtherMethodsAndPathsAreRefused) {
    auto client = service->Client();
    auto get = client->Get(tokenPath.c_str());
    ASSERT_TRUE(get);
    EXPECT_EQ(get->status, 405);
    EXPECT_EQ(get->get_header_value("Allow"), "POST");
    auto unknown = client->Post("/rest/2.0/nothing", "", formMediaType);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_EQ(nlohmann::json::parse(unknown->body)["error_code"], 3);
}

TEST_F(ServiceTest, KeepsOneConnectionForManyRequests) {
    auto client = service->Client();
    client->set_keep_alive(true);
    int connections = 0;
    client->set_socket_options([&connections](int) { ++connections; });
    for (int i = 0; i < 4; ++i) {
        Answer a = Post(*client, TokenQuery(), "");
        EXPECT_EQ(a.status, 200);
        a = Post(*client, platePath + "?access_token=" + token, "image=");
        EXPECT_EQ(a.status, 400);
    }
    EXPECT_EQ(connections, 1);
}

TEST_F(ServiceTest, ServesRequestsInParallel) {
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&good] {
            auto client = service->Client();
            for (int j = 0; j < 5; ++j) {
                good += Post(*client, TokenQuery(), "").status == 200;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(good, 30);
}

TEST_F(ServiceTest, LogHasOneLineARequestAndNoSecrets) {
    Service own;
    ASSERT_TRUE(own.started);
    std::string ownToken = own.Token();
    ASSERT_FALSE(ownToken.empty());
    auto client = own.Client();
    Post(*client, platePath + "?access_token=" + ownToken, "image=" + Base64(Picture(20, 20)));
    Post(*client, plantPath + "?access_token=" + ownToken, "image=");
    Post(*client, TokenQuery("someone", "guessed-secret"), "");
    client->set_basic_auth(registeredClientId.c_str(), clientSecret.c_str());
    Post(*client, tokenPath, "grant_type=client_credentials");
    own.process.Stop();
    std::string log = ReadFile(own.LogFile());
    for (const std::string& secret :
         {ownToken, clientSecret, std::string("guessed-secret"), std::string("access_token"),
          std::string("client_secret"), std::string("?")}) {
        EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in:\n" << log;
    }
    EXPECT_NE(log.find("POST /oauth/2.0/token 200 "), std::string::npos) << log;
    EXPECT_NE(log.find("POST /oauth/2.0/token 401 "), std::string::npos) << log;
    EXPECT_NE(log.find("POST /rest/2.0/ocr/v1/license_plate 200 "), std::string::npos) << log;
    EXPECT_NE(log.find("POST /rest/2.0/image-classify/v1/plant 400 "), std::string::npos) << log;
    // One line a request, besides the service's own "stopping" and "stopped".
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n') - 2, 5) << log;
    EXPECT_NE(log.find("Z stopped\n"), std::string::npos) << log;
}

TEST(ServiceOptions, OwnClientsReplaceTheBuiltInOnes) {
    Service own({"--client", "tester:s3cret", "--client", "other:pw"});
    ASSERT_TRUE(own.started);
    auto client = own.Client();
    EXPECT_EQ(Post(*client, TokenQuery("tester", "s3cret"), "").status, 200);
    EXPECT_EQ(Post(*client, TokenQuery("other", "pw"), "").status, 200);
    EXPECT_EQ(Post(*client, TokenQuery(), "").status, 401);
}

TEST(ServiceOptions, ExpiredTokensAreRefused) {
    Service own({"--token-lifetime", "1"});
    ASSERT_TRUE(own.started);
    std::string token = own.Token();
    ASSERT_FALSE(token.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    Answer a = Post(*own.Client(), platePath + "?access_token=" + token, "image=");
    EXPECT_EQ(a.status, 401);
    EXPECT_EQ(a.json.value("error_code", -1), 111) << a.body;
}

// The status of a token request to the service at host, its certificate checked against the
// service's authority; 0 when no answer came (a failed check, say).
int VerifiedTokenStatus(const std::string& host, const ServiceProcess& process) {
    httplib::SSLClient client(host, process.Port());
    client.set_ca_cert_path(process.Authority().c_str());
    client.enable_server_certificate_verification(true);
    auto answer = client.Post(TokenQuery().c_str(), "", formMediaType);
    return answer ? answer->status : 0;
}

TEST(ServiceOptions, ReusesItsAuthorityAndStopsCleanly) {
    TempDir dir;
    std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--state-dir", dir.Path()};
    std::string authority;
    for (int signal : {SIGTERM, SIGINT}) {
        ServiceProcess process;
        ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args, dir.Path() + "/log"));
        EXPECT_EQ(process.Authority(), dir.Path() + "/ca.pem");
        std::string pem = ReadFile(process.Authority());
        if (!authority.empty()) {
            EXPECT_EQ(pem, authority);
        }
        authority = pem;
        EXPECT_EQ(process.Stop(signal), 0) << "signal " << signal;
    }
    auto permissions = std::filesystem::status(dir.Path() + "/server-key.pem").permissions();
    EXPECT_EQ(permissions & std::filesystem::perms::others_read, std::filesystem::perms::none);

    // A damaged server certificate is made anew under the same authority.
    { std::ofstream(dir.Path() + "/server.pem") << "not a certificate"; }
    ServiceProcess process;
    ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args, dir.Path() + "/log"));
    EXPECT_EQ(ReadFile(process.Authority()), authority);
    EXPECT_EQ(VerifiedTokenStatus("localhost", process), 200);
}

// The exit status of the service started with args (a service that wrongly starts is ended
// after 20 s, status 124) and what it wrote on standard error.
int StartFails(const std::vector<std::string>& args, const std::string& errFile) {
    std::string command = "timeout 20 " + std::string(RECOGNITION_SERVICE_BINARY);
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    command += " > /dev/null 2> " + errFile;
    return WEXITSTATUS(std::system(command.c_str()));
}

std::string Mode(const std::string& path) {
    return std::to_string(int(std::filesystem::status(path).permissions()) & 0777);
}

// Tokens carry their own MAC under the key in the state directory: they outlive a restart,
// and a service with another state directory does not take them.
TEST(ServiceOptions, TokensOutliveARestartAndOnlyTheirKeyTakesThem) {
    TempDir dir;
    auto args = [&dir](const char* state) {
        return std::vector<std::string>{"--listen", "127.0.0.1:0", "--state-dir",
                                        dir.Path() + "/" + state};
    };
    auto tokenCode = [](ServiceProcess& process, const std::string& token) {
        httplib::SSLClient client("127.0.0.1", process.Port());
        client.enable_server_certificate_verification(false);
        Answer a = Post(client, platePath + "?access_token=" + token, "image=");
        return a.json.value("error_code", -1);
    };
    std::string token;
    {
        ServiceProcess process;
        ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args("a"), dir.Path() + "/log"));
        httplib::SSLClient client("127.0.0.1", process.Port());
        client.enable_server_certificate_verification(false);
        token = Post(client, TokenQuery(), "").json.value("access_token", "");
        ASSERT_FALSE(token.empty());
        EXPECT_EQ(process.Stop(), 0);
    }
    std::string altered = token;
    altered[10] = altered[10] == 'x' ? 'y' : 'x';
    struct {
        const char* state;
        std::string token;
        int code;  // 202: the token passed, the empty image did not
    } cases[] = {
        {"a", token, 202},
        {"a", altered, 110},
        {"b", token, 110},
    };
    for (const auto& c : cases) {
        ServiceProcess process;
        ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args(c.state), dir.Path() + "/log"));
        EXPECT_EQ(tokenCode(process, c.token), c.code) << c.state << " " << c.token;
    }
    EXPECT_EQ(Mode(dir.Path() + "/a"), std::to_string(0700));
    EXPECT_EQ(Mode(dir.Path() + "/a/token.key"), std::to_string(0600));
}

// What others can read is refused with a message, never chmod'ed behind the user's back.
TEST(ServiceOptions, RefusesStateAndKeysOthersCanRead) {
    struct {
        const char* name;
        const char* file;  // relative to the state directory; "" for the directory
        int mode;
        const char* message;
    } cases[] = {
        {"state directory", "", 0755, "open to other users"},
        {"token key", "token.key", 0644, "can be read by other users"},
        {"authority key", "ca-key.pem", 0640, "can be read by other users"},
        {"server key", "server-key.pem", 0604, "can be read by other users"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string state = dir.Path() + "/state";
        std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--state-dir", state};
        {
            ServiceProcess process;  // makes every file
            ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args, dir.Path() + "/log"));
        }
        const std::string path = state + (c.file[0] ? "/" : "") + c.file;
        std::filesystem::permissions(path, std::filesystem::perms(c.mode));
        EXPECT_EQ(StartFails(args, dir.Path() + "/err"), 1) << c.name;
        EXPECT_NE(ReadFile(dir.Path() + "/err").find(c.message), std::string::npos)
            << c.name << ": " << ReadFile(dir.Path() + "/err");
        EXPECT_EQ(Mode(path), std::to_string(c.mode)) << c.name << " was changed";
    }
}

// A server certificate and key copied over ca.pem and ca-key.pem are no authority: both are made
// anew, and clients that trust the new ca.pem connect.
TEST(ServiceOptions, RemakesAnAuthorityThatIsNoCa) {
    TempDir dir;
    std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--state-dir", dir.Path()};
    {
        ServiceProcess process;
        ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args, dir.Path() + "/log"));
    }
    // The server's certificate and its key in the authority's place: a pair that matches.
    for (const char* name : {"server.pem", "server-key.pem"}) {
        std::filesystem::copy_file(dir.Path() + "/" + name,
                                   dir.Path() + "/" + (name[6] == '-' ? "ca-key.pem" : "ca.pem"),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    ServiceProcess process;
    ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args, dir.Path() + "/log"));
    EXPECT_NE(ReadFile(dir.Path() + "/ca.pem"), ReadFile(dir.Path() + "/server.pem"));
    EXPECT_EQ(VerifiedTokenStatus("localhost", process), 200);
}

TEST(ServiceOptions, ClientsFromAPrivateFile) {
    TempDir dir;
    const std::string file = dir.Path() + "/clients";
    { std::ofstream(file) << "# local clients\nfiler:pw1\n\nsecond:pw:2\n"; }
    std::filesystem::permissions(file, std::filesystem::perms(0600));
    Service own({"--clients-file", file});
    ASSERT_TRUE(own.started);
    auto client = own.Client();
    EXPECT_EQ(Post(*client, TokenQuery("filer", "pw1"), "").status, 200);
    EXPECT_EQ(Post(*client, TokenQuery("second", "pw:2"), "").status, 200);
    EXPECT_EQ(Post(*client, TokenQuery(), "").status, 401) << "the built-in client stays out";

    std::filesystem::permissions(file, std::filesystem::perms(0644));
    std::vector<std::string> args = {
        "--listen", "127.0.0.1:0", "--state-dir", dir.Path() + "/state", "--clients-file", file};
    EXPECT_EQ(StartFails(args, dir.Path() + "/err"), 1);
    EXPECT_NE(ReadFile(dir.Path() + "/err").find("can be read by other users"), std::string::npos)
        << ReadFile(dir.Path() + "/err");
}

// Signs the service's own server key anew under its authority, valid for days, for the
// names given.
bool ReissueServerCertificate(const std::string& dir, int days, const std::string& names) {
    { std::ofstream(dir + "/names.cnf") << "subjectAltName=" << names << "\n"; }
    std::string command = "cd " + dir +
                          " && openssl req -new -key server-key.pem -subj /CN=localhost"
                          " -out server.csr 2>/dev/null && openssl x509 -req -in server.csr"
                          " -CA ca.pem -CAkey ca-key.pem -set_serial 7 -extfile names.cnf -days " +
                          std::to_string(days) + " -out server.pem 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

TEST(ServiceOptions, RenewsAServerCertificateAboutToExpire) {
    TempDir dir;
    std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--state-dir", dir.Path()};
    const std::string loopback = "IP:127.0.0.1,IP:::1,DNS:localhost";
    struct {
        int days;
        std::string names;
        bool renewed;
    } cases[] = {
        {5, loopback, true},
        {100, loopback, false},
        {100, "DNS:localhost", true},  // 127.0.0.1 and ::1 missing
    };
    for (const auto& c : cases) {
        {
            ServiceProcess process;
            ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args, dir.Path() + "/log"));
        }
        ASSERT_TRUE(ReissueServerCertificate(dir.Path(), c.days, c.names));
        std::string reissued = ReadFile(dir.Path() + "/server.pem");
        ServiceProcess process;
        ASSERT_TRUE(process.Start(RECOGNITION_SERVICE_BINARY, args, dir.Path() + "/log"));
        EXPECT_EQ(ReadFile(dir.Path() + "/server.pem") != reissued, c.renewed)
            << c.days << " days, " << c.names;
    }
}

TEST(ServiceOptions, ListensOnIpv6Loopback) {
    Service own({"--listen", "[::1]:0"});
    ASSERT_TRUE(own.started);
    EXPECT_EQ(own.process.FirstLine(),
              "listening on https://[::1]:" + std::to_string(own.process.Port()));
    EXPECT_EQ(VerifiedTokenStatus("::1", own.process), 200);
}

TEST(ServiceOptions, UsageAndBadOptions) {
    TempDir dir;
    std::string out = dir.Path() + "/out";
    std::string command = std::string(RECOGNITION_SERVICE_BINARY) + " --help > " + out;
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_NE(ReadFile(out).find("--listen HOST:PORT"), std::string::npos);
    command = std::string(RECOGNITION_SERVICE_BINARY) + " --bogus 2> " + out;
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 2);
    EXPECT_NE(ReadFile(out).find("unknown option --bogus"), std::string::npos);
}

// Two close-ups drawn from a fixed seed, read through the whole service.
TEST_F(ServiceTest, ReadsDrawnPlates) {
    std::mt19937 random(7);
    for (bool green : {false, true}) {
        plates::PlatePicture picture = plates::DrawPlate(
            random, plates::RandomNumber(random, green), green, plates::Scene::CloseUp);
        Answer a = Post(*service->Client(), platePath + "?access_token=" + token,
                        "image=" + PercentEncodeAll(Base64(picture.jpeg)));
        ASSERT_EQ(a.status, 200) << a.body;
        ASSERT_TRUE(a.json.contains("plate")) << picture.number << ": " << a.body;
        EXPECT_EQ(a.json["plate"]["number"], picture.number) << a.body;
        EXPECT_EQ(a.json["plate"]["color"], green ? "green" : "blue") << a.body;
        double confidence = a.json["plate"]["confidence"];
        EXPECT_GT(confidence, 0.0);
        EXPECT_LE(confidence, 1.0);
        EXPECT_TRUE(a.json["request_id"].is_number_integer());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    signal(SIGPIPE, SIG_IGN);  // a refused upload may meet a closed connection
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
