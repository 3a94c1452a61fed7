#pragma once

#include <QByteArray>

// Servers that could not be reached at all in this run: an address on one of
// them is skipped where a request has another, and a new run tries every
// address again. Shared by every engine of the program.
bool isKnownUnreachable(const QByteArray &url);
void rememberUnreachable(const QByteArray &url);
void forgetUnreachableAddresses();
