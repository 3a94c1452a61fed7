#pragma once

#include <QtGlobal>

#include <optional>

class LauncherState;
class QObject;

// The steps around config.xml and the update list that the player is told
// about, for the window and for update mode alike: each runs the state's
// operation and turns its result into the program's box (parent may be null).

// Reads config.xml, writes it where it must be written (the defaults of a first
// start, a file in another layout), and tells the player when an existing one
// could not be used. False then, as for a save of the defaults that failed.
bool loadConfigAndTell(LauncherState &state, QObject *parent = nullptr);

// Merges the update list (with the serial of its accepted signature, if signed)
// and saves config.xml; false, with the unreadable-list box, when the text is not
// well-formed (nothing changes then).
bool mergeUpdateListAndSave(LauncherState &state, const char *text, QObject *parent = nullptr,
                            std::optional<quint64> signedSerial = std::nullopt);

// Saves config.xml, with the box when that fails, unless the player already
// knows that nothing is saved in this run.
bool saveConfigOrTell(const LauncherState &state, QObject *parent = nullptr);

// The box for an update list or config.xml that cannot be read.
void showUnreadableListMessage(QObject *parent);
