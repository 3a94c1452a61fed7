#pragma once

#include <QByteArray>

// The proxy the player's system asks for, as libcurl takes it: the proxy's
// address (empty: none) and the hosts reached without it.
struct SystemProxy {
    QByteArray proxy;
    QByteArray noProxy;
};

// The system's proxy for a request to url. Where the environment names a proxy
// (http_proxy, https_proxy, all_proxy) it wins, and libcurl reads it itself: none
// is returned. Elsewhere than on Windows the environment is the system's way.
// On Windows: the current user's settings (manual, or what automatic
// configuration gives for the address), read once per server.
SystemProxy systemProxyFor(const QByteArray &url);

// Windows' own notation, as its settings hold it: a proxy list ("host:port", or
// "http=host:port;https=host:port") and a bypass list ("<local>;*.example.com"),
// for an address of scheme.
SystemProxy proxyFromWindowsSettings(const QByteArray &proxyList, const QByteArray &bypassList,
                                     const QByteArray &scheme);
