// Reading a picture file and encoding it as the value of the form field "image".
#pragma once

#include "text/text.h"

// The whole file at path (code page 936), read in one go. An empty path, a file that cannot be
// opened or read (a directory, no permission, not a regular file), an empty file and a file too
// large for a request body all give empty Bytes.
Bytes ReadFileBytes(const Text& path);

// Base64 of the picture, every character then percent-encoded: 4 × ceil(n / 3) × 3 bytes.
Text EncodePicture(const Bytes& picture);
