#include "platform/win32/winhttp_proxy.h"

// Older MinGW headers lack it; systems before 8.1 refuse it in WinHttpOpen.
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace launcher::winhttp {
namespace {

// The strings of the Internet Options configuration, freed as WinHTTP asks.
class UserProxyConfig {
public:
    UserProxyConfig() {
        if (!WinHttpGetIEProxyConfigForCurrentUser(&config_)) config_ = {};
    }
    ~UserProxyConfig() {
        for (LPWSTR text : {config_.lpszAutoConfigUrl, config_.lpszProxy, config_.lpszProxyBypass})
            if (text) GlobalFree(text);
    }
    UserProxyConfig(const UserProxyConfig&) = delete;
    UserProxyConfig& operator=(const UserProxyConfig&) = delete;

    const wchar_t* proxy() const { return config_.lpszProxy; }
    const wchar_t* bypass() const { return config_.lpszProxyBypass; }

private:
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config_{};
};

}  // namespace

HINTERNET OpenSessionWithUserProxy(const std::wstring& userAgent) {
    const wchar_t* agent = userAgent.c_str();
    if (HINTERNET session = WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0))
        return session;
    const UserProxyConfig config;
    if (config.proxy() && *config.proxy()) {
        const wchar_t* bypass =
            config.bypass() && *config.bypass() ? config.bypass() : WINHTTP_NO_PROXY_BYPASS;
        if (HINTERNET session =
                WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, config.proxy(), bypass, 0))
            return session;
    }
    return WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, 0);
}

}  // namespace launcher::winhttp
