#pragma once

#include <QString>

// The launcher's words in its boxes, as the tests expect to read them.
namespace PlayerText {

inline QString transferError(int code)
{
    return QStringLiteral(
               "Ocorreu um erro ao tentar acessar um arquivo na internet, por favor, verifique a sua "
               "internet. errno %1")
        .arg(code);
}

inline QString serverError(int status)
{
    return QStringLiteral("O servidor retornou um erro ao solicitar um arquivo. errno: %1").arg(status);
}

inline const QString listNotFetched = QStringLiteral(
    "Não foi possível baixar a lista de atualizações\nNeste caso o recomendado seria verificar a internet e "
    "reiniciar o launcher");
inline const QString clientFileFailed = QStringLiteral("Não foi possível baixar um arquivo do servidor");
inline const QString contentMismatch =
    QStringLiteral("O arquivo baixado não confere com a lista de atualizações");
inline const QString inUse =
    QStringLiteral("Não foi possível salvar o download, aparentemente o arquivo está em uso");
inline const QString launcherUpdate =
    QStringLiteral("Seu Launcher será atualizado, clique em Ok para continuar");

} // namespace PlayerText
