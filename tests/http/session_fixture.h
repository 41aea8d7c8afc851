// A session over the recording fake, and small helpers for the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fake_winhttp.h"
#include "http/session.h"
#include "tests/support/text_helpers.h"

// "HTTP/1.1 200 OK" and the given header lines, as WinHTTP gives a raw block (CR LF, empty line).
inline std::u16string RawHeaders(const std::string& lines,
                                 const std::string& statusLine = "HTTP/1.1 200 OK") {
    return fake::U16(statusLine + "\r\n" + lines + (lines.empty() ? "" : "\r\n") + "\r\n");
}

class SessionTest : public ::testing::Test {
  protected:
    // The world is reset before the session is made, and outlives it.
    fake::World& world = fake::ResetWorld();
    HttpSession session;

    // Opens a GET of url and sends it, answered with the given header lines and body.
    bool Fetch(const std::string& lines, const std::string& body = "",
               const std::string& url = "http://example.test/") {
        world.answer.rawHeaders = RawHeaders(lines);
        world.answer.body = body;
        return session.Open("GET", url.c_str()) && session.Send();
    }
};
