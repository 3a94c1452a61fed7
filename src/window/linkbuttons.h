#pragma once

#include <QByteArray>

// The six buttons that open the families' social pages and the servers' sites:
// an address fixed when the launcher is built, opened in the player's browser.
void openFixedAddress(const QByteArray &address);
