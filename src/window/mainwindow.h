#pragma once

#include "transfer/transferpolicy.h"

#include <QMainWindow>

#include <memory>

class Carousel;
class DownloadControls;
class FetchRunner;
class LauncherState;
class ServerButtons;
class ServerRepair;
class StartupSync;

namespace Ui {
class MainWindow;
}

// The launcher's one window: the form (server buttons, carousel, link buttons,
// status line, progress bar), its slots and the wiring. What happens behind the
// slots belongs to the behaviours it owns: the start-up synchronisation, the
// server buttons, their repair, the carousel. It owns the launcher state.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // policy: how the window's transfers work (a test passes its own).
    explicit MainWindow(QWidget *parent = nullptr, TransferPolicy policy = {});
    ~MainWindow() override;

    // Update mode could not put the new build in place: the start-up tells the
    // player and offers no launcher update in this run.
    void noteFailedSelfUpdate();

signals:
    void window_loaded();

private slots:
    void on_button_server_1_clicked();
    void on_button_server_2_clicked();
    void onLoad();
    void on_button_server_3_clicked();
    void on_button_server_4_clicked();
    void on_button_url_facebook_zev_clicked();
    void on_button_url_facebook_mir_clicked();
    void on_button_url_zev_1_clicked();
    void on_button_url_zev_2_clicked();
    void on_button_url_mir_1_clicked();
    void on_button_url_mir_2_clicked();
    void onTimedImageChange();
    void onImgClick();
    void on_button_server_5_clicked();
    void on_button_server_6_clicked();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::MainWindow *form;
    std::unique_ptr<LauncherState> launcherState;
    std::unique_ptr<FetchRunner> runner;
    std::unique_ptr<Carousel> carousel;
    std::unique_ptr<ServerButtons> serverButtons;
    std::unique_ptr<ServerRepair> serverRepair;
    std::unique_ptr<StartupSync> startupSync;
    std::unique_ptr<DownloadControls> downloadControls;
};
