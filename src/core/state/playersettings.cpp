#include "state/playersettings.h"

#include "messages.h"
#include "transfer/folderfile.h"

#include <QFile>

const char playerSettingsFileName[] = "launcher.ini";

namespace {

// A few short lines; anything larger is not ours.
constexpr qint64 maximumSettingsSize = 64 * 1024;
// Up to a gigabyte per second: any line a player has.
constexpr qint64 largestSpeedLimitKilobytes = 1 << 20;

bool readSetting(PlayerSettings &settings, const QByteArray &name, const QByteArray &value)
{
    if (name != "limite_kb_por_segundo")
        return true; // a setting of a later version
    bool number = false;
    settings.speedLimitKilobytes = value.toLongLong(&number);
    return number && settings.speedLimitKilobytes >= 0 &&
           settings.speedLimitKilobytes <= largestSpeedLimitKilobytes;
}

} // namespace

PlayerSettings loadPlayerSettings()
{
    QFile file(QString::fromLatin1(playerSettingsFileName));
    if (!openRegularFile(file, QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.read(maximumSettingsSize + 1);
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
