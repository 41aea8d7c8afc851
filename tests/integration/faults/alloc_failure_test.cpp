// Allocation failures of the session's receive buffer. The process-heap functions are replaced
// here at link time (the platform's are weak definitions): every allocation and resize is
// counted, the chosen one fails, and the blocks still live are tracked, so that no failure can
// leak or lose the buffer unnoticed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "http/session.h"
#include "tests/support/test_server.h"
#include "tests/support/text_helpers.h"

using testsupport::Connection;
using testsupport::Request;
using testsupport::TestServer;

namespace {

int heapCalls = 0;     // HeapAlloc and HeapReAlloc calls so far
int failingCall = -1;  // the call that fails; -1 none
int failures = 0;      // calls made to fail so far
std::set<void*> liveBlocks;

bool FailsNow() {
    if (heapCalls++ != failingCall) return false;
    ++failures;
    return true;
}

}  // namespace

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != GetProcessHeap() || flags != 0 || FailsNow()) return nullptr;
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    liveBlocks.insert(block);
    return block;
}

LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes) {
    if (heap != GetProcessHeap() || flags != 0 || block == nullptr || FailsNow()) return nullptr;
    void* grown = std::realloc(block, bytes == 0 ? 1 : bytes);
    if (grown == nullptr) return nullptr;
    liveBlocks.erase(block);
    liveBlocks.insert(grown);
    return grown;
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    if (heap != GetProcessHeap() || flags != 0) return FALSE;
    if (block != nullptr && liveBlocks.erase(block) != 1) return FALSE;  // not ours: a fault
    std::free(block);
    return TRUE;
}

namespace {

// A body long enough to make the buffer grow several times either way.
std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

const std::string knownBody = Pattern(3 * 1048576 + 123);  // declared: 1 MiB steps
const std::string unknownBody = Pattern(60000);            // chunked: 10240-byte steps

void Serve(TestServer& server) {
    server.Handle([](const Request& request, Connection& c) {
        if (request.target == "/known") {
            c.Write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(knownBody.size()) +
                    "\r\n\r\n" + knownBody);
            return;
        }
        // Chunked, in pieces of 7000 bytes written one by one, so that the body arrives in
        // pieces and the buffer grows step by step.
        c.Write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        for (std::size_t at = 0; at < unknownBody.size(); at += 7000) {
            const std::string piece = unknownBody.substr(at, 7000);
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
            c.Write(size + piece + "\r\n");
            c.Sleep(2);
        }
        c.Write("0\r\n\r\n");
    });
}

bool Fetch(HttpSession& session, const TestServer& server, const std::string& path) {
    return session.Open("GET", server.Url(path).c_str()) && session.Send();
}

TEST(AllocationFailure, EachResizeOfTheReceiveBufferFailingInTurn) {
    TestServer server;
    Serve(server);
    struct {
        const char* path;
        const std::string& body;
    } cases[] = {{"/known", knownBody}, {"/unknown", unknownBody}};
    for (const auto& row : cases) {
        HttpSession session;
        // An undisturbed read counts the resizes this answer takes.
        ASSERT_TRUE(Fetch(session, server, row.path)) << row.path;
        const int before = heapCalls;
        ASSERT_EQ(S(session.GetResponseBody()), row.body) << row.path;
        const int resizes = heapCalls - before;
        ASSERT_GE(resizes, 2) << row.path << ": the buffer should grow at least once";

        for (int k = 0; k < resizes; ++k) {
            const std::string where = std::string(row.path) + ", resize " + std::to_string(k);
            ASSERT_TRUE(Fetch(session, server, row.path)) << where;
            failingCall = heapCalls + k;
            const int failuresBefore = failures;
            const std::string body = S(session.GetResponseBody());
            failingCall = -1;
            // How often the buffer grows depends on how the body arrives: a resize counted in the
            // first read may not come in this one, and then the body is read whole.
            if (failures == failuresBefore) {
                EXPECT_GT(k, 0) << where << ": the first resize always happens";
                EXPECT_EQ(body, row.body) << where;
                continue;
            }
            // The first resize failing gives nothing; a later one keeps what was read so far.
            if (k == 0) {
                EXPECT_EQ(body, "") << where;
            }
            EXPECT_LT(body.size(), row.body.size()) << where;
            EXPECT_EQ(row.body.compare(0, body.size(), body), 0) << where << ": not a prefix";
            if (!body.empty()) {
                EXPECT_EQ(S(session.GetResponseBody()), body) << where;
            }
            EXPECT_EQ(liveBlocks.size(), 1u) << where << ": the buffer is one block";
            // The buffer survives: the next answer is read whole.
            ASSERT_TRUE(Fetch(session, server, row.path)) << where;
            EXPECT_EQ(S(session.GetResponseBody()), row.body) << where;
        }
    }
    EXPECT_TRUE(liveBlocks.empty()) << "sessions gone, blocks left";
}

TEST(AllocationFailure, FirstBlockFailingLeavesTheBodyUnreadUntilReset) {
    TestServer server;
    Serve(server);
    failingCall = heapCalls;  // the session's first block
    HttpSession session;
    failingCall = -1;
    ASSERT_TRUE(Fetch(session, server, "/unknown"));
    EXPECT_EQ(S(session.GetResponseBody()), "");
    EXPECT_TRUE(liveBlocks.empty());
    session.Reset();
    ASSERT_TRUE(Fetch(session, server, "/unknown"));
    EXPECT_EQ(S(session.GetResponseBody()), unknownBody);
}

}  // namespace
