#include "state/playersettings.h"

#include "messages.h"
#include "transfer/folderfile.h"
#include "transfer/partialfile.h"

#include <QFile>

const char playerSettingsFileName[] = "launcher.ini";

namespace {

// A few short lines; anything larger is not ours.
constexpr qint64 maximumSettingsSize = 64 * 1024;
// Up to a gigabyte per second: any line a player has.
constexpr qint64 largestSpeedLimitKilobytes = 1 << 20;
const QByteArray speedLimitName = QByteArrayLiteral("limite_kb_por_segundo");

// The file's text, or nothing where there is no regular file of ours.
QByteArray settingsText()
{
    QFile file(QString::fromLatin1(playerSettingsFileName));
    return openRegularFile(file, QIODevice::ReadOnly) ? file.read(maximumSettingsSize + 1) : QByteArray();
}

bool readSetting(PlayerSettings &settings, const QByteArray &name, const QByteArray &value)
{
    if (name != speedLimitName)
        return true; // a setting of a later version
    bool number = false;
    settings.speedLimitKilobytes = value.toLongLong(&number);
    return number && settings.speedLimitKilobytes >= 0 &&
           settings.speedLimitKilobytes <= largestSpeedLimitKilobytes;
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
        if (trimmed.startsWith('#') || (equals > 0 && trimmed.left(equals).trimmed() != speedLimitName))
            text += trimmed + '\n';
    }
    text += speedLimitName + '=' + QByteArray::number(settings.speedLimitKilobytes) + '\n';
    return replaceFileContents(QString::fromLatin1(playerSettingsFileName), text);
}
