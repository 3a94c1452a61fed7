#include "names.h"

#include "partialfile.h"

#include <QRegularExpression>
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
    const QString path = QString::fromLatin1(name); // byte for byte
    for (const QString &segment : path.split(QRegularExpression(QStringLiteral("[/\\\\]")))) {
        if (segment == QLatin1String(".."))
            return false;
    }
    return true;
}

QByteArray downloadUrl(const QByteArray &base, const char *folder, const QByteArray &name)
{
    return base + folder + QUrl::toPercentEncoding(QString::fromUtf8(name), "/");
}
