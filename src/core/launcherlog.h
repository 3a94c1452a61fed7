#pragma once

#include <QByteArray>
#include <QtGlobal>

// launcher.log in the game folder: one line per event (a start, a transfer, a
// refusal, a box, an action run), each with its UTC time, so that a player who
// writes to support can send what happened. Once it would pass 1 MiB the file
// becomes launcher.log.1, replacing the one before, and a new one begins.
extern const char logFileName[];
extern const char previousLogFileName[];
constexpr qint64 maximumLogBytes = 1 << 20;

// Appends one line; line breaks in text become spaces, other control characters
// escapes, and an address loses its user and password. A folder the launcher
// cannot write to, or a launcher.log that is not a regular file, loses the line,
// never the event.
void writeLogLine(const QByteArray &text);
