// MultiByteToWideChar and WideCharToMultiByte: the Windows calling protocol around the
// conversion cores (argument checks, -1 lengths, sizing calls, too-small buffers).
#include <climits>
#include <cstring>

#include "platform/posix/kernel32.h"
#include "platform/posix/kernel32/codepage.h"

using platform::detail::noRoom;

namespace {

constexpr UINT codePage936 = 936;
// What WideCharToMultiByte writes for a character code page 936 cannot hold.
constexpr unsigned char questionMark[] = {'?'};
// The most bytes one UTF-16 unit makes: three in UTF-8 (a pair makes four), two in code page 936
// (a double-byte character, or a default character of two bytes).
constexpr std::size_t maxUtf8PerUnit = 3;
constexpr std::size_t max936PerUnit = 2;

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// CP_ACP is code page 936 here, as on a Chinese-language Windows; 0 for an unknown code page.
UINT ResolveCodePage(UINT codePage) {
    if (codePage == CP_ACP || codePage == codePage936) return codePage936;
    if (codePage == CP_UTF8) return CP_UTF8;
    return 0;
}

std::size_t WideLength(LPCWCH text) {
    std::size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// Input length in units: -1 means up to and including the terminating NUL.
std::size_t InputLength(int given, std::size_t terminatedLength) {
    return given == -1 ? terminatedLength + 1 : static_cast<std::size_t>(given);
}

// The count a conversion core returned, as the functions report it.
int Finish(std::size_t count) {
    if (count == noRoom) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (count > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);  // the result has no int size
    return static_cast<int>(count);
}

// Runs a conversion core so that a too-small output is left as it was: when the output may be
// too small for the whole result (maxOutput is the most the input can make), count first.
template <typename Unit, typename Core>
int Convert(Core core, std::size_t maxOutput, Unit* out, int room) {
    auto size = static_cast<std::size_t>(room);
    if (out != nullptr && size < maxOutput && core(static_cast<Unit*>(nullptr), 0) > size) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return Finish(core(out, size));
}

bool BadSizes(const void* in, int inLength, const void* out, int outSize) {
    return in == nullptr || inLength == 0 || inLength < -1 || outSize < 0 ||
           (outSize > 0 && out == nullptr) || in == out;
}

// The first character of lpDefaultChar: one byte, or a lead byte and its trail byte.
std::size_t DefaultCharLength(const unsigned char* text) {
    bool lead = text[0] >= 0x81 && text[0] <= 0xFE;
    return lead && text[1] >= 0x40 && text[1] != 0x7F && text[1] != 0xFF ? 2 : 1;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (BadSizes(lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    UINT codePage = ResolveCodePage(CodePage);
    if (codePage == 0) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0) return Fail(ERROR_INVALID_FLAGS);

    auto in = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    std::size_t n = InputLength(cbMultiByte, cbMultiByte == -1 ? std::strlen(lpMultiByteStr) : 0);
    LPWSTR out = cchWideChar > 0 ? lpWideCharStr : nullptr;
    // Either way every input byte makes at most one unit.
    if (codePage == CP_UTF8) {
        auto core = [&](char16_t* to, std::size_t room) {
            return platform::detail::Utf8ToUtf16(in, n, to, room);
        };
        return Convert(core, n, out, cchWideChar);
    }
    if (!platform::detail::Cp936Available()) return Fail(ERROR_INVALID_PARAMETER);
    auto core = [&](char16_t* to, std::size_t room) {
        return platform::detail::Cp936ToUtf16(in, n, to, room);
    };
    return Convert(core, n, out, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    if (BadSizes(lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    UINT codePage = ResolveCodePage(CodePage);
    if (codePage == 0) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags != 0) return Fail(ERROR_INVALID_FLAGS);
    // UTF-8 can hold every character, so it takes no default character.
    bool defaultArguments = lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr;
    if (codePage == CP_UTF8 && defaultArguments) return Fail(ERROR_INVALID_PARAMETER);

    std::size_t n = InputLength(cchWideChar, cchWideChar == -1 ? WideLength(lpWideCharStr) : 0);
    auto out = cbMultiByte > 0 ? reinterpret_cast<unsigned char*>(lpMultiByteStr) : nullptr;
    if (codePage == CP_UTF8) {
        auto core = [&](unsigned char* to, std::size_t room) {
            return platform::detail::Utf16ToUtf8(lpWideCharStr, n, to, room);
        };
        return Convert(core, n * maxUtf8PerUnit, out, cbMultiByte);
    }
    if (!platform::detail::Cp936Available()) return Fail(ERROR_INVALID_PARAMETER);
    const unsigned char* defaultChar = questionMark;
    std::size_t defaultLength = sizeof questionMark;
    if (lpDefaultChar != nullptr) {
        defaultChar = reinterpret_cast<const unsigned char*>(lpDefaultChar);
        defaultLength = DefaultCharLength(defaultChar);
    }
    bool usedDefault = false;
    auto core = [&](unsigned char* to, std::size_t room) {
        return platform::detail::Utf16ToCp936(lpWideCharStr, n, to, room, defaultChar,
                                              defaultLength, &usedDefault);
    };
    int result = Convert(core, n * max936PerUnit, out, cbMultiByte);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    return result;
}
