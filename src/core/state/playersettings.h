#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The player's own settings, kept by the launcher in "launcher.ini" beside
// config.xml and never inside it (config.xml's bytes are the operator's and the
// state's). One "name=value" line each; lines starting with '#' are notes. A file
// that cannot be read as a whole (a value out of range, a line without '=', no
// regular file) means the defaults.
struct PlayerSettings {
    // The most the launcher receives, in kilobytes (1024 bytes) per second; 0
    // for no limit.
    qint64 speedLimitKilobytes = 0;
    // The bucket (0 to 9999) this installation drew for releases rolled out to a
    // share of the installations; none until the first such release.
    std::optional<int> rolloutBucket;
    // The release channel whose list this installation follows: empty for the
    // players' own, a name of lower-case letters, digits and '-' (at most 32)
    // for testers'.
    QByteArray channel;
};

extern const char playerSettingsFileName[];

PlayerSettings loadPlayerSettings();
// False when the file could not be written; the one before it then stays.
bool savePlayerSettings(const PlayerSettings &settings);
