// The current user's proxy settings, read through WinHTTP: what the system's
// settings page and every browser of the player's use.

#include "platform/proxysettings.h"

#include <QString>

#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace {

bool environmentNamesAProxy()
{
    for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

// A text WinHTTP hands over, freed with GlobalFree.
struct GlobalText {
    LPWSTR text;
    ~GlobalText()
    {
        if (text)
            GlobalFree(text);
    }
    QByteArray utf8() const { return text ? QString::fromWCharArray(text).toUtf8() : QByteArray(); }
};

// What automatic configuration (a script's address, or one found on the network)
// gives for url; false where it gives no proxy or cannot be asked.
bool automaticProxyFor(const QByteArray &url, LPWSTR scriptUrl, const QByteArray &scheme, SystemProxy &found)
{
    HINTERNET session = WinHttpOpen(L"Updater", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return false;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = scriptUrl ? WINHTTP_AUTOPROXY_CONFIG_URL : WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags =
        scriptUrl ? 0 : WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    options.lpszAutoConfigUrl = scriptUrl;
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    const std::wstring address = QString::fromUtf8(url).toStdWString();
    const bool answered = WinHttpGetProxyForUrl(session, address.c_str(), &options, &info);
    WinHttpCloseHandle(session);
    const GlobalText proxy{answered ? info.lpszProxy : nullptr},
        bypass{answered ? info.lpszProxyBypass : nullptr};
    if (!answered || info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY)
        return false;
    found = proxyFromWindowsSettings(proxy.utf8(), bypass.utf8(), scheme);
    return true;
}

SystemProxy readSystemProxy(const QByteArray &url, const QByteArray &scheme)
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config))
        return {};
    const GlobalText script{config.lpszAutoConfigUrl}, proxy{config.lpszProxy},
        bypass{config.lpszProxyBypass};
    SystemProxy found;
    if ((config.fAutoDetect || script.text) && automaticProxyFor(url, script.text, scheme, found))
        return found;
    return proxyFromWindowsSettings(proxy.utf8(), bypass.utf8(), scheme);
}

} // namespace

SystemProxy systemProxyFor(const QByteArray &url)
{
    if (environmentNamesAProxy())
        return {};
    const int schemeEnd = url.indexOf("://");
    const int pathStart = schemeEnd < 0 ? -1 : url.indexOf('/', schemeEnd + 3);
    const QByteArray origin = pathStart < 0 ? url : url.left(pathStart);
    // Automatic configuration may take a moment: asked once per server.
    static std::mutex mutex;
    static std::map<QByteArray, SystemProxy> known;
    const std::lock_guard<std::mutex> lock(mutex);
    const auto held = known.find(origin);
    if (held != known.end())
        return held->second;
    return known[origin] = readSystemProxy(url, url.left(std::max(schemeEnd, 0)).toLower());
}
