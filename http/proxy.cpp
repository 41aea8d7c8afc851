// A proxy for the WinHTTP session, and credentials for the current request.
#include "http/detail/wide.h"
#include "http/detail/winhttp_calls.h"
#include "http/session.h"

int HttpSession::SetProxy(const Text& proxyServer, const Text& userName, const Text& password) {
    if (sessionHandle == nullptr) return 0;
    WINHTTP_PROXY_INFO info{};
    if (proxyServer.empty()) {
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
        return WinHttpSetOption(sessionHandle, WINHTTP_OPTION_PROXY, &info, sizeof(info));
    }
    // The credentials go to the open request, or wait for the next one sent.
    if (requestHandle != nullptr) {
        http::detail::GiveProxyCredentials(requestHandle, userName, password);
    } else {
        proxyUser = userName;
        proxyPassword = password;
        proxyCredentialsPending = 1;
    }
    http::detail::WideText server(proxyServer);
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = server.data();
    return WinHttpSetOption(sessionHandle, WINHTTP_OPTION_PROXY, &info, sizeof(info));
}

int HttpSession::SetCredentials(const Text& userName, const Text& password, int authTarget,
                                int authScheme) {
    if (requestHandle == nullptr) return 0;
    const http::detail::WideText user(userName);
    const http::detail::WideText secret(password);
    return WinHttpSetCredentials(requestHandle, static_cast<DWORD>(authTarget),
                                 static_cast<DWORD>(authScheme), user.c_str(), secret.c_str(),
                                 nullptr);
}
