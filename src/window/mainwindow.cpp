#include "mainwindow.h"

#include "buildconfig.h"
#include "carousel.h"
#include "downloadcontrols.h"
#include "state/configsteps.h"
#include "fetchrunner.h"
#include "labels.h"
#include "linkbuttons.h"
#include "state/launcherstate.h"
#include "serverbuttons.h"
#include "serverrepair.h"
#include "startupsync.h"
#include "stylesheet.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QGraphicsDropShadowEffect>
#include <QTimer>

MainWindow::MainWindow(QWidget *parent, TransferPolicy transferPolicy)
    : QMainWindow(parent), form(new Ui::MainWindow)
{
    form->setupUi(this);
    runner =
        std::make_unique<FetchRunner>(this, form->action_progressBar, form->label_status, transferPolicy);

    launcherState = std::make_unique<LauncherState>();
    loadConfigAndTell(*launcherState, this);

    const WindowContext context{this, form, launcherState.get(), runner.get()};
    carousel = std::make_unique<Carousel>(context);
    serverButtons = std::make_unique<ServerButtons>(context);
    serverRepair = std::make_unique<ServerRepair>(context);
    startupSync = std::make_unique<StartupSync>(context, *serverButtons, *carousel);
    serverRepair->addActions();

    // Runs the start-up synchronisation as soon as the event loop does.
    QTimer::singleShot(0, this, SLOT(onLoad()));

    QFile styleSheet(QStringLiteral(":/stylesheet.qss"));
    styleSheet.open(QIODevice::ReadOnly);
    setStyleSheet(styleSheetText(styleSheet.readAll()));

    // The launcher is driven by the mouse; no widget shows a focus frame but the
    // download's own controls, which the keyboard reaches too.
    for (QWidget *widget : findChildren<QWidget *>())
        widget->setFocusPolicy(Qt::NoFocus);
    downloadControls = std::make_unique<DownloadControls>(context);

    // A dark halo centred on each caption keeps it legible on any background.
    for (ShapedLabel *label : findChildren<ShapedLabel *>()) {
        auto *shadow = new QGraphicsDropShadowEffect;
        shadow->setBlurRadius(5.0);
        shadow->setColor(QColor(0, 0, 0, 255));
        shadow->setOffset(0.0, 0.0);
        label->setGraphicsEffect(shadow);
    }
}

MainWindow::~MainWindow()
{
    delete form;
}

void MainWindow::noteFailedSelfUpdate()
{
    startupSync->noteFailedSelfUpdate();
}

void MainWindow::onLoad()
{
    startupSync->run();
}

void MainWindow::onTimedImageChange()
{
    carousel->showNext();
}

void MainWindow::onImgClick()
{
    carousel->openLink();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    emit window_loaded();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A transfer in progress would keep the process alive after the window has
    // gone; it is dropped, and nothing is recorded for it.
    runner->stop(RunResult::Ending::Closing);
    QMainWindow::closeEvent(event);
}

void MainWindow::on_button_server_1_clicked()
{
    serverButtons->act(1);
}

void MainWindow::on_button_server_2_clicked()
{
    serverButtons->act(2);
}

void MainWindow::on_button_server_3_clicked()
{
    serverButtons->act(3);
}

void MainWindow::on_button_server_4_clicked()
{
    serverButtons->act(4);
}

void MainWindow::on_button_server_5_clicked()
{
    serverButtons->act(5);
}

void MainWindow::on_button_server_6_clicked()
{
    serverButtons->act(6);
}

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
