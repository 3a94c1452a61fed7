// The six buttons that open the families' social pages and the servers' sites.

#include "mainwindow.h"

#include "buildconfig.h"

#include <QDesktopServices>

namespace {

void openFixedAddress(const QByteArray &address)
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(address), QUrl::TolerantMode));
}

} // namespace

void MainWindow::on_button_url_facebook_zev_clicked()
{
    openFixedAddress(buildSettings().facebookZevUrl);
}

void MainWindow::on_button_url_facebook_mir_clicked()
{
    openFixedAddress(buildSettings().facebookMirUrl);
}

void MainWindow::on_button_url_zev_1_clicked()
{
    openFixedAddress(buildSettings().siteZev1Url);
}

void MainWindow::on_button_url_zev_2_clicked()
{
    openFixedAddress(buildSettings().siteZev2Url);
}

void MainWindow::on_button_url_mir_1_clicked()
{
    openFixedAddress(buildSettings().siteMir1Url);
}

void MainWindow::on_button_url_mir_2_clicked()
{
    openFixedAddress(buildSettings().siteMir2Url);
}
