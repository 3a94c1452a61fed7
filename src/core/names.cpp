#include "names.h"

#include "transfer/partialfile.h"

#include <QByteArrayList>
#include <QTextCodec>

#include <algorithm>

bool isSafeRelativeName(const QByteArray &name)
{
    if (name.isEmpty() || name.startsWith('/') || name.startsWith('\\') || name.contains(partialFileSuffix))
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

bool isLauncherFileName(const QByteArray &name)
{
    // A colon names a stream of another file on Windows.
    if (!isSafeRelativeName(name) || name.contains(':'))
        return false;
    QByteArray path = name.toLower();
    path.replace('\\', '/');
    QByteArrayList segments;
    for (QByteArray segment : path.split('/')) {
        while (segment.endsWith('.') || segment.endsWith(' '))
            segment.chop(1);
        if (!segment.isEmpty())
            segments << segment;
    }
    static const QByteArrayList launcherOwn = {"config.xml",      "config.xml.bad", "launcher.exe",
                                               "newlauncher.exe", "launcher.log",   "launcher.log.1",
                                               "launcher.ini"};
    static const QByteArrayList othersFolders = {"clientes", "imagens"};
    return !segments.isEmpty() && !(segments.size() == 1 && launcherOwn.contains(segments.front())) &&
           !(segments.size() > 1 && othersFolders.contains(segments.front()));
}

QByteArray downloadUrl(const QByteArray &base, const char *folder, const QByteArray &name)
{
    QByteArray encoded;
    encoded.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || QByteArray("\"#<>?\\^`{|}").contains(c))
            encoded += '%' + QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        else
            encoded += c;
    }
    return base + folder + encoded;
}

std::vector<QByteArray> downloadUrls(const std::vector<QByteArray> &bases, const char *folder,
                                     const QByteArray &name)
{
    std::vector<QByteArray> urls;
    for (const QByteArray &base : bases)
        urls.push_back(downloadUrl(base, folder, name));
    return urls;
}

namespace {

const char windowsShellSyntax[] = "&|<>^\"%";
const char otherShellSyntax[] = " \t;$`'()*?[]{}!~#";

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

} // namespace

bool canBeQuotedForWindowsShell(const QByteArray &name)
{
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return isControl(c) || c == '"' || c == '%'; });
}

bool isSafeForWindowsShell(const QByteArray &text)
{
    return std::none_of(text.begin(), text.end(), [](char c) {
        return isControl(c) ||
               QByteArray::fromRawData(windowsShellSyntax, sizeof windowsShellSyntax - 1).contains(c);
    });
}

bool holdsShellSyntax(const QByteArray &text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        return QByteArray::fromRawData(windowsShellSyntax, sizeof windowsShellSyntax - 1).contains(c) ||
               QByteArray::fromRawData(otherShellSyntax, sizeof otherShellSyntax - 1).contains(c);
    });
}

void useUtf8FileNames()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
}
