// Reading a picture file and encoding it as the value of the form field "image".
#pragma once

#include "text/text.h"

// The whole file at path (code page 936), read in one go while others may read it but not write
// it. An empty path, a file that cannot be opened or read (a directory, no permission, not a
// regular file, on Windows one another program holds open for writing), an empty file and a file
// too large for a request body all give empty Bytes.
Bytes ReadFileBytes(const Text& path);

// The Base64 text of a picture (as EncodeBase64 gives it), every character percent-encoded, in
// the buffer it is handed: 4 × ceil(n / 3) × 3 bytes for a picture of n bytes.
Text PercentEncodeBase64(Bytes&& base64);
