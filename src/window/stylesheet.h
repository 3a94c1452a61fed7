#pragma once

#include <QByteArray>
#include <QString>

// The window's style sheet from the bytes of its resource: Latin-1 text up to the
// first zero byte.
QString styleSheetText(const QByteArray &bytes);
