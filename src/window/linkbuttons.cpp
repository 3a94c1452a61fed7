#include "linkbuttons.h"

#include <QDesktopServices>
#include <QUrl>

void openFixedAddress(const QByteArray &address)
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(address), QUrl::TolerantMode));
}
