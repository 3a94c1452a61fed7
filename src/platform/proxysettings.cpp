#include "platform/proxysettings.h"

#include <QByteArrayList>

namespace {

QByteArrayList entriesOf(QByteArray list)
{
    list.replace(';', ' ');
    return list.simplified().split(' ');
}

} // namespace

SystemProxy proxyFromWindowsSettings(const QByteArray &proxyList, const QByteArray &bypassList,
                                     const QByteArray &scheme)
{
    // One proxy for every scheme, unless one is named for this scheme.
    QByteArray common, forScheme;
    for (const QByteArray &entry : entriesOf(proxyList)) {
        const int equals = entry.indexOf('=');
        if (equals < 0 && common.isEmpty())
            common = entry;
        else if (equals > 0 && entry.left(equals).toLower() == scheme && forScheme.isEmpty())
            forScheme = entry.mid(equals + 1);
    }
    SystemProxy system{forScheme.isEmpty() ? common : forScheme, QByteArray()};
    if (!system.proxy.isEmpty() && !system.proxy.contains("://"))
        system.proxy.prepend("http://");
    QByteArrayList bypassed;
    for (QByteArray entry : entriesOf(bypassList)) {
        // "<local>": names without a dot, which libcurl cannot say; the local machine at least.
        if (entry == "<local>")
            bypassed << "localhost"
                     << "127.0.0.1"
                     << "::1";
        else if (entry.startsWith("*."))
            bypassed << entry.mid(1);
        else if (!entry.isEmpty() && !entry.contains('*'))
            bypassed << entry;
    }
    system.noProxy = bypassed.join(',');
    return system;
}

#ifndef Q_OS_WIN
SystemProxy systemProxyFor(const QByteArray &)
{
    return {};
}
#endif
