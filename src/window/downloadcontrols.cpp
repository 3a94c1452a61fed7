#include "downloadcontrols.h"

#include "fetchrunner.h"
#include "messages.h"
#include "playertexts.h"
#include "state/playersettings.h"
#include "ui_mainwindow.h"

DownloadControls::DownloadControls(const WindowContext &context) : context(context)
{
    Ui::MainWindow &form = *context.form;
    form.frame_download->hide();
    form.button_pause->setFocusPolicy(Qt::StrongFocus);
    form.spin_speed_limit->setFocusPolicy(Qt::StrongFocus);
    form.spin_speed_limit->setPrefix(PlayerText::speedLimitPrefix);
    form.spin_speed_limit->setSuffix(PlayerText::speedLimitSuffix);
    form.spin_speed_limit->setSpecialValueText(PlayerText::noSpeedLimit);
    form.spin_speed_limit->setAccessibleName(PlayerText::speedLimitName);
    showPaused(false);

    limitKilobytes = int(loadPlayerSettings().speedLimitKilobytes);
    form.spin_speed_limit->setValue(limitKilobytes);
    context.runner->limitSpeed(qint64(limitKilobytes) * 1024);

    context.runner->onPauseOffered([this](bool offered) {
        if (!offered)
            this->context.form->button_pause->setChecked(false);
        this->context.form->frame_download->setVisible(offered);
    });
    QObject::connect(form.button_pause, &QPushButton::toggled, form.button_pause, [this](bool paused) {
        this->context.runner->setPaused(paused);
        showPaused(paused);
    });
    QObject::connect(form.spin_speed_limit, qOverload<int>(&QSpinBox::valueChanged), form.spin_speed_limit,
                     [this](int kilobytes) { limitChanged(kilobytes); });
    saveSoon.setSingleShot(true);
    saveSoon.setInterval(1000);
    QObject::connect(&saveSoon, &QTimer::timeout, &saveSoon, [this] {
        if (!saveLimit())
            showErrorMessage(this->context.window, PlayerText::speedLimitNotSaved);
    });
}

DownloadControls::~DownloadControls()
{
    if (saveSoon.isActive() && !saveLimit())
        consoleMessage(PlayerText::speedLimitNotSaved.toUtf8().constData());
}

void DownloadControls::showPaused(bool paused)
{
    QPushButton *button = context.form->button_pause;
    button->setText(paused ? PlayerText::resumeAction : PlayerText::pauseAction);
    button->setAccessibleName(paused ? PlayerText::resumeActionName : PlayerText::pauseActionName);
}

void DownloadControls::limitChanged(int kilobytesPerSecond)
{
    limitKilobytes = kilobytesPerSecond;
    context.runner->limitSpeed(qint64(kilobytesPerSecond) * 1024);
    saveSoon.start();
}

bool DownloadControls::saveLimit()
{
    // The rest (the installation's bucket, its channel) stays as it was.
    PlayerSettings settings = loadPlayerSettings();
    settings.speedLimitKilobytes = limitKilobytes;
    return savePlayerSettings(settings);
}
