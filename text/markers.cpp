// Cutting out the part of a text between a start marker and the next end marker.
#include "text/text.h"

Text TextBetween(const Text& t, const Text& startMarker, const Text& endMarker, int startPos,
                 int includeMarkers, int wholeIfMissing, int ignoreCase) {
    const Text missing = wholeIfMissing == 1 ? t : Text();
    const int s = FindText(t, startMarker, startPos, ignoreCase);
    if (s < 1) return missing;
    // Unsigned sums wrap instead of overflowing; positions fit in an int.
    const int after =
        static_cast<int>(static_cast<unsigned>(s) + static_cast<unsigned>(TextLength(startMarker)));
    // The end marker is searched only behind the start marker, so the two never overlap.
    const int e = FindText(t, endMarker, after, ignoreCase);
    if (e <= s) return missing;
    if (includeMarkers != 1) return MidText(t, after, e - after);
    const int to =
        static_cast<int>(static_cast<unsigned>(e) + static_cast<unsigned>(TextLength(endMarker)));
    return MidText(t, s, to - s);
}
