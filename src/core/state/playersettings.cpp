#include "state/playersettings.h"

#include "messages.h"
#include "transfer/folderfile.h"
#include "transfer/partialfile.h"

#include <QFile>
#include <QRegularExpression>

const char playerSettingsFileName[] = "launcher.ini";

namespace {

// A few short lines; anything larger is not ours.
constexpr qint64 maximumSettingsSize = 64 * 1024;
// Up to a gigabyte per second: any line a player has.
constexpr qint64 largestSpeedLimitKilobytes = 1 << 20;
const QByteArray speedLimitName = QByteArrayLiteral("limite_kb_por_segundo");
const QByteArray bucketName = QByteArrayLiteral("grupo_de_lancamento");
const QByteArray channelName = QByteArrayLiteral("canal");

// The file's text, or nothing where there is no regular file of ours.
QByteArray settingsText()
{
    QFile file(QString::fromLatin1(playerSettingsFileName));
    return openRegularFile(file, QIODevice::ReadOnly) ? file.read(maximumSettingsSize + 1) : QByteArray();
}

bool readNumber(const QByteArray &value, qint64 largest, qint64 &number)
{
    bool ok = false;
    number = value.toLongLong(&ok);
    return ok && number >= 0 && number <= largest;
}

bool readSetting(PlayerSettings &settings, const QByteArray &name, const QByteArray &value)
{
    static const QRegularExpression channel(QStringLiteral("^[a-z0-9-]{1,32}$"));
    qint64 bucket = 0;
    if (name == speedLimitName)
        return readNumber(value, largestSpeedLimitKilobytes, settings.speedLimitKilobytes);
    if (name == bucketName && readNumber(value, 9999, bucket))
        settings.rolloutBucket = int(bucket);
    else if (name == channelName && channel.match(QString::fromLatin1(value)).hasMatch())
        settings.channel = value;
    else
        return name != bucketName && name != channelName; // a setting of a later version
    return true;
}

} // namespace

PlayerSettings loadPlayerSettings()
{
    const QByteArray text = settingsText();
    PlayerSettings settings;
    bool readable = text.size() <= maximumSettingsSize;
    for (const QByteArray &line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const int equals = trimmed.indexOf('=');
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        readable = readable && equals > 0 &&
                   readSetting(settings, trimmed.left(equals).trimmed(), trimmed.mid(equals + 1).trimmed());
    }
    if (readable)
        return settings;
    consoleMessage("launcher.ini danificado: valem as configurações de fábrica");
    return {};
}

bool savePlayerSettings(const PlayerSettings &settings)
{
    // The player's notes and a later version's settings stay; a line that could
    // not be read goes, or the file would never be read again.
    QByteArray text;
    const QByteArray found = settingsText();
    for (const QByteArray &line :
         found.size() <= maximumSettingsSize ? found.split('\n') : QList<QByteArray>()) {
        const QByteArray trimmed = line.trimmed();
        const int equals = trimmed.indexOf('=');
        const QByteArray name = trimmed.left(equals).trimmed();
        if (trimmed.startsWith('#') ||
            (equals > 0 && name != speedLimitName && name != bucketName && name != channelName))
            text += trimmed + '\n';
    }
    text += speedLimitName + '=' + QByteArray::number(settings.speedLimitKilobytes) + '\n';
    if (settings.rolloutBucket)
        text += bucketName + '=' + QByteArray::number(*settings.rolloutBucket) + '\n';
    if (!settings.channel.isEmpty())
        text += channelName + '=' + settings.channel + '\n';
    return replaceFileContents(QString::fromLatin1(playerSettingsFileName), text);
}
