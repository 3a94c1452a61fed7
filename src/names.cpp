#include "names.h"

#include "partialfile.h"

#include <QUrl>

bool isSafeRelativeName(const QByteArray &name)
{
    if (name.isEmpty() || name.startsWith('/') || name.startsWith('\\') || name.endsWith(partialFileSuffix))
        return false;
    if (name.size() >= 2 && name.at(1) == ':')
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
    }
    // Both separators count: the name may reach Windows.
    QByteArray separated = name;
    separated.replace('\\', '/');
    for (const QByteArray &segment : separated.split('/')) {
        if (segment == "..")
            return false;
    }
    return true;
}

QByteArray downloadUrl(const QByteArray &base, const char *folder, const QByteArray &name)
{
    return base + folder + QUrl::toPercentEncoding(QString::fromUtf8(name), "/");
}
