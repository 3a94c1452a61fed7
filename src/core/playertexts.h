#pragma once

#include "listsignature.h"
#include "state/launcherstate.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Every text the player reads: boxes, the status line, captions, the menu. Each
// is spelled here once, for the program and its tests alike. The constants are
// inline, so that they are ready before any other constant made from them.
namespace PlayerText {

// Box titles.
inline const QString errorTitle = QStringLiteral("Erro");
inline const QString launcherUpdateTitle = QStringLiteral("Atualizar Launcher");

// The start-up synchronisation.
inline const QString downloadingList = QStringLiteral("Baixando lista de atualizações");
inline const QString listNotFetched =
    QStringLiteral("Não foi possível baixar a lista de atualizações\n"
                   "Neste caso o recomendado seria verificar a internet e reiniciar o "
                   "launcher");
inline const QString loadedWithoutList = QStringLiteral("Launcher foi carregado sem a lista de atualizações");
inline const QString listNotRead = QStringLiteral("Não foi possível ler a lista de atualizações");
inline const QString loadedSuccessfully = QStringLiteral("Launcher foi carregado com sucesso");
inline const QString unreadableList =
    QStringLiteral("Não foi possível ler a lista de atualizações, por favor contate o suporte");
QString listRefused(ListVerdict verdict);
inline const QString imageFailed = QStringLiteral("Ocorreu um erro ao baixar uma imagem do servidor");
inline const QString launcherUpdate =
    QStringLiteral("Seu Launcher será atualizado, clique em Ok para continuar");
inline const QString launcherNotUpdated = QStringLiteral("Não foi possível atualizar o launcher");
inline const QString launcherNotReplaced =
    QStringLiteral("Não foi possível atualizar o launcher: o launcher.exe não pôde ser substituído. Feche os "
                   "programas que possam estar usando o arquivo e reinicie o launcher");
inline const QString launcherFileFailed = QStringLiteral("Ocorreu um erro ao baixar um arquivo do launcher");

// config.xml.
inline const QString configLocked =
    QStringLiteral("Não foi possível abrir o config.xml. O launcher continuará sem salvar o progresso; feche "
                   "os programas que possam estar usando o arquivo e reinicie o launcher");
inline const QString progressNotSaved =
    QStringLiteral("Não foi possível salvar o progresso no config.xml. Verifique se "
                   "há espaço livre no disco e reinicie o launcher");

// Transfers.
QString downloadProgress(const QByteArray &displayName, qint64 kilobytesPerSecond);
// Added to the progress text: the megabytes done of all, and the time left
// (none while no rate is known yet).
QString amountAndTimeLeft(qint64 storedBytes, qint64 totalBytes, std::optional<qint64> secondsLeft);
// While the player has paused a download: its name and the megabytes done of all.
QString pausedProgress(const QByteArray &displayName, qint64 storedBytes, qint64 totalBytes);
inline const QString pausedBarFormat = QStringLiteral("Pausado (%p%)");
// The control beside the progress bar: its caption and the name a screen reader
// reads, while the download runs and while it is paused.
inline const QString pauseAction = QStringLiteral("Pausar");
inline const QString pauseActionName = QStringLiteral("Pausar o download");
inline const QString resumeAction = QStringLiteral("Continuar");
inline const QString resumeActionName = QStringLiteral("Continuar o download");
// The speed limit beside it, in kilobytes per second; 0 reads as no limit.
inline const QString speedLimitPrefix = QStringLiteral("Limite: ");
inline const QString speedLimitSuffix = QStringLiteral(" KB/s");
inline const QString noSpeedLimit = QStringLiteral("Sem limite");
inline const QString speedLimitName = QStringLiteral("Limite de velocidade do download, em KB/s");
inline const QString speedLimitNotSaved = QStringLiteral(
    "Não foi possível salvar o limite de velocidade no launcher.ini. Ele vale até o launcher ser "
    "fechado; verifique se a pasta do launcher permite gravação");
QString transferError(int code);
QString serverError(long status);
inline const QString contentMismatch =
    QStringLiteral("O arquivo baixado não confere com a lista de atualizações");
inline const QString inUse =
    QStringLiteral("Não foi possível salvar o download, aparentemente o arquivo está em uso");
QString notEnoughDiskSpace(qint64 neededMegabytes, qint64 freeMegabytes);
QString refusedName(const QByteArray &name);

// The server buttons.
QString serverCaption(const QByteArray &serverName, ServerStatus status);
inline const QString clientFileFailed = QStringLiteral("Não foi possível baixar um arquivo do servidor");
inline const QString repairAction = QStringLiteral("Verificar e reparar");
QString checkingFiles(const QByteArray &serverName);
QString filesCorrect(const QByteArray &serverName);
// "Um (reparo: 2 arquivo(s), até 30 MB)": where the release has chunks, only the
// damaged ones are fetched, hence "at most".
QString repairSummary(const QByteArray &serverName, std::size_t files, qint64 megabytesAtMost);
QString repairing(const QString &summary);
QString filesRepaired(const QByteArray &serverName);

} // namespace PlayerText
