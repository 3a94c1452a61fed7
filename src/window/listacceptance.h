#pragma once

#include <QByteArray>

class LauncherState;
class QWidget;

enum class ListAcceptance { Merged, NotFetched, Refused, Cancelled };

// Whether the update list fetched at start-up may be merged, and merged (and
// config.xml saved) when it may. A launcher built with the operator's public key
// takes a list only with its signature, and never an older or expired one;
// without a key every readable list is taken. Refused has shown its box,
// NotFetched leaves the box for the signature to the caller.
ListAcceptance acceptUpdateList(LauncherState &state, const QByteArray &list, QWidget *window);
