#pragma once

#include "runresult.h"

#include <QByteArray>

class LauncherState;
class QObject;

// A signature file is three short lines.
constexpr qint64 maximumSignatureSize = 4096;

// Whether the update list fetched at start-up may be merged, and merged (and
// config.xml saved) when it may. A launcher built with the operator's public key
// takes a list only with its signature (empty when none could be read), and
// never an older or expired one; without a key every readable list is taken.
// A list that is not taken fails as an unusable answer; its box is told, or was
// shown by the merge.
RunResult acceptUpdateList(LauncherState &state, const QByteArray &list, const QByteArray &signature,
                           QObject *boxParent);

// The launcher was built with the operator's public key: a list needs its signature.
bool listNeedsSignature();
