// Cutting a value out between two markers.
#include <gtest/gtest.h>

#include "printers.h"
#include "text/text.h"

TEST(TextBetween, MarkersPositionsAndFlags) {
    const Text tokenStart = "\"access_token\":\"";
    const Text tokenEnd = "\",\"";
    struct {
        Text t, start, end;
        int startPos, includeMarkers, wholeIfMissing, ignoreCase;
        const char* expected;
    } cases[] = {
        {"{\"access_token\":\"abc\",\"expires_in\":2592000}", tokenStart, tokenEnd, 1, 0, 0, 0,
         "abc"},
        {"{\"expires_in\":1,\"access_token\":\"abc\"}", tokenStart, tokenEnd, 1, 0, 0, 0, ""},
        {"xx[ab]yy", "[", "]", 1, 0, 0, 0, "ab"},
        {"xx[ab]yy", "[", "]", 1, 1, 0, 0, "[ab]"},
        {"xx[ab]yy", "[", "]", 4, 0, 0, 0, ""},
        {"xx[ab]yy", "[", "]", 4, 0, 1, 0, "xx[ab]yy"},
        {"xx[ab]yy", "[", "]", 3, 0, 0, 0, "ab"},
        {"[]", "[", "]", 1, 0, 0, 0, ""},
        {"[]", "[", "]", 1, 1, 0, 0, "[]"},
        {"xx[ab]yy", "[", "", 1, 0, 0, 0, ""},  // an empty end marker is always missing
        {"xx[ab]yy", "[", "", 1, 0, 1, 0, "xx[ab]yy"},
        {"ab]cd", "", "]", 1, 0, 0, 0, "ab"},
        {"Key=val;", "key=", ";", 1, 0, 0, 1, "val"},
        {"Key=val;", "key=", ";", 1, 0, 0, 0, ""},
        {"Key=val;", "key=", ";", 1, 0, 0, 2, ""},  // flags count only when 1
        {"Key=val;", "Key=", ";", 1, 2, 2, 0, "val"},
        // The end marker is searched only behind the start marker.
        {"a]b[c]d", "[", "]", 1, 0, 0, 0, "c"},
        // Same marker twice: the second occurrence closes.
        {"x|one|two|", "|", "|", 1, 0, 0, 0, "one"},
        {"x|one|two|", "|", "|", 1, 1, 0, 0, "|one|"},
        {"no markers", "[", "]", 1, 0, 1, 0, "no markers"},
        {"", "[", "]", 1, 0, 1, 0, ""},
        // Markers are found on character boundaries only: 0xB0 0x5B is one character.
        {"\xB0[a]", "[", "]", 1, 0, 0, 0, ""},
        {"\xB0[a[b]", "[", "]", 1, 0, 0, 0, "b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextBetween(c.t, c.start, c.end, c.startPos, c.includeMarkers, c.wholeIfMissing,
                              c.ignoreCase),
                  Text(c.expected))
            << Escaped(c.t.view()) << " markers " << Escaped(c.start.view()) << " "
            << Escaped(c.end.view()) << " from " << c.startPos;
    EXPECT_EQ(TextBetween("xx[ab]yy", "[", "]"), Text("ab"));
}
