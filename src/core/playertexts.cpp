#include "playertexts.h"

namespace PlayerText {

QString listRefused(ListVerdict verdict)
{
    switch (verdict) {
    case ListVerdict::Rollback:
        return QStringLiteral("A lista de atualizações é mais antiga que a última recebida e foi recusada, "
                              "por favor contate o suporte");
    case ListVerdict::Expired:
        return QStringLiteral("A lista de atualizações expirou e foi recusada. Verifique se a data do "
                              "computador está correta ou contate o suporte");
    case ListVerdict::BadSignature:
    case ListVerdict::Accepted:
        break;
    }
    return QStringLiteral("A lista de atualizações não tem uma assinatura válida e foi recusada, "
                          "por favor contate o suporte");
}

QString downloadProgress(const QByteArray &displayName, qint64 kilobytesPerSecond)
{
    return QStringLiteral("Baixando %1 | Velocidade %2 KB/s")
        .arg(QString::fromUtf8(displayName))
        .arg(kilobytesPerSecond);
}

QString amountAndTimeLeft(qint64 storedBytes, qint64 totalBytes, std::optional<qint64> secondsLeft)
{
    QString text =
        QStringLiteral(" | %1 de %2 MB").arg(storedBytes >> 20).arg((totalBytes + (1 << 20) - 1) >> 20);
    if (!secondsLeft)
        return text;
    const qint64 minutes = (*secondsLeft + 59) / 60;
    if (*secondsLeft < 60)
        return text + QStringLiteral(", faltam %1 s").arg(std::max<qint64>(*secondsLeft, 1));
    if (minutes < 60)
        return text + QStringLiteral(", faltam %1 min").arg(minutes);
    return text + QStringLiteral(", faltam %1 h %2 min")
                      .arg(minutes / 60)
                      .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString pausedProgress(const QByteArray &displayName, qint64 storedBytes, qint64 totalBytes)
{
    return QStringLiteral("Pausado %1").arg(QString::fromUtf8(displayName)) +
           amountAndTimeLeft(storedBytes, totalBytes, std::nullopt);
}

QString transferError(int code)
{
    return QStringLiteral(
               "Ocorreu um erro ao tentar acessar um arquivo na internet, por favor, verifique a sua "
               "internet. errno %1")
        .arg(code);
}

QString serverError(long status)
{
    return QStringLiteral("O servidor retornou um erro ao solicitar um arquivo. errno: %1").arg(status);
}

QString notEnoughDiskSpace(qint64 neededMegabytes, qint64 freeMegabytes)
{
    return QStringLiteral("Não há espaço livre suficiente no disco: são necessários %1 MB e há %2 MB livres. "
                          "Libere espaço e tente de novo")
        .arg(neededMegabytes)
        .arg(freeMegabytes);
}

QString refusedName(const QByteArray &name)
{
    return QStringLiteral(
               "A lista de atualizações traz um nome de arquivo que o launcher recusa: \"%1\". Por "
               "favor contate o suporte")
        .arg(QString::fromUtf8(name));
}

QString serverCaption(const QByteArray &serverName, ServerStatus status)
{
    const QString name = QString::fromUtf8(serverName);
    switch (status) {
    case ServerStatus::Install:
        return name + QStringLiteral(" (Instalar)");
    case ServerStatus::Update:
        return name + QStringLiteral(" (Atualizar)");
    case ServerStatus::Continue:
        return name + QStringLiteral(" (Continuar)");
    case ServerStatus::Play:
        break;
    }
    return name + QStringLiteral(" (Jogar)");
}

QString checkingFiles(const QByteArray &serverName)
{
    return QStringLiteral("Verificando os arquivos de %1").arg(QString::fromUtf8(serverName));
}

QString filesCorrect(const QByteArray &serverName)
{
    return QStringLiteral("Os arquivos de %1 estão corretos").arg(QString::fromUtf8(serverName));
}

QString repairSummary(const QByteArray &serverName, std::size_t files, qint64 megabytesAtMost)
{
    return QStringLiteral("%1 (reparo: %2 arquivo(s), até %3 MB)")
        .arg(QString::fromUtf8(serverName))
        .arg(qulonglong(files))
        .arg(megabytesAtMost);
}

QString repairing(const QString &summary)
{
    return QStringLiteral("Reparando ") + summary;
}

QString filesRepaired(const QByteArray &serverName)
{
    return QStringLiteral("Os arquivos de %1 foram reparados").arg(QString::fromUtf8(serverName));
}

} // namespace PlayerText
