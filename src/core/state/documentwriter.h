#pragma once

#include "state/launcherstate.h"

#include <QByteArray>

#include <functional>

// Writes the state as an XML document in config.xml's layout: the declaration,
// one element per line, children indented by a tab, attributes in a fixed order
// and escaped as pugixml escapes them, so that the launcher's own reader reads
// back exactly what was written. Straight from the state, without building a
// document tree first: a list of a hundred thousand files would otherwise cost
// a tree of the same size. The text goes to the sink in pieces of a few dozen
// kilobytes.
void writeDocument(const LauncherState &state, DocumentKind kind,
                   const std::function<void(const QByteArray &piece)> &sink);
