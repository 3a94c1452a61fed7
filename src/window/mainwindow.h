#pragma once

#include "fetchfile.h"

#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QUrl>

#include <memory>

class LauncherState;

enum class ListAcceptance { Merged, NotFetched, Refused, Cancelled };

namespace Ui {
class MainWindow;
}

// One picture of the news carousel and the page a click on it opens.
struct CarouselImage {
    QPixmap pixmap;
    QUrl link;
};

// The launcher's one window: the server buttons, the carousel, the link buttons,
// the status line and the progress bar. It owns the launcher state.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Update mode could not put the new build in place: the start-up tells the
    // player and offers no launcher update in this run.
    void noteFailedSelfUpdate() { selfUpdateFailed = true; }

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
    // Merges the update list if it may be trusted; Refused has shown its box,
    // NotFetched the downloader's box for the signature.
    ListAcceptance acceptUpdateList(const QByteArray &list);
    // The update list fetched and, where it may be, merged.
    ListAcceptance fetchUpdateList();
    FetchResult updateImages();
    FetchResult updateLauncher();
    void refreshServerButtons();
    void serverAction(quint16 id);
    // The context menu of each server button offers "Verificar e reparar".
    void addRepairActions();
    void repairServer(quint16 id);
    void nextImage();

    QList<CarouselImage> carouselImages;
    quint8 carouselIndex = 0;
    Ui::MainWindow *form;
    std::unique_ptr<LauncherState> launcherState;
    bool selfUpdateFailed = false;
    bool closing = false; // the player closed the window: nothing more starts
};
