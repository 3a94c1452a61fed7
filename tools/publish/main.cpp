// launcher-publish: builds, checks and signs the update list of a release.

#include "listsigning.h"
#include "names.h"
#include "updatelistbuilder.h"
#include "updatelistcheck.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

const char usage[] =
    "uso:\n"
    "  launcher-publish build PASTA_DA_VERSAO --base-url URL [--mirror URL]... [--previous PASTA_ANTERIOR]\n"
    "                         --out launcher.xml\n"
    "  launcher-publish check LISTA [PASTA_DA_VERSAO] [--public-key CHAVE.pub]\n"
    "  launcher-publish keygen --secret-key CHAVE.key --public-key CHAVE.pub\n"
    "  launcher-publish sign LISTA --secret-key CHAVE.key [--serial N] [--valid-days N]\n";

// A list signed today stays valid this long unless the operator says otherwise.
constexpr int defaultValidDays = 30;
constexpr int maximumValidDays = 3650;
constexpr quint64 maximumSerial = quint64(1) << 53;

int fail(const QString &message)
{
    QTextStream(stderr) << "launcher-publish: " << message << '\n';
    return 1;
}

int usageError(const QString &detail = QString())
{
    return fail(detail.isEmpty() ? QLatin1String(usage) : detail + QLatin1Char('\n') + QLatin1String(usage));
}

// Reads the command's options; the positional arguments must number between the
// two bounds and every listed option must be given.
bool parseCommand(QCommandLineParser &parser, const QStringList &arguments, int minimumPositional,
                  int maximumPositional, const QStringList &required = {})
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{QString()} + arguments)) {
        usageError(QStringLiteral("argumentos inválidos: %1").arg(parser.errorText()));
        return false;
    }
    const int positional = parser.positionalArguments().size();
    for (const QString &option : required) {
        if (!parser.isSet(option)) {
            usageError();
            return false;
        }
    }
    if (positional < minimumPositional || positional > maximumPositional) {
        usageError();
        return false;
    }
    return true;
}

QCommandLineOption valueOption(const char *name)
{
    return QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("valor"));
}

int build(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions(
        {valueOption("base-url"), valueOption("mirror"), valueOption("out"), valueOption("previous")});
    if (!parseCommand(parser, arguments, 1, 1, {QStringLiteral("base-url"), QStringLiteral("out")}))
        return 1;

    std::vector<QByteArray> mirrors;
    for (const QString &mirror : parser.values(QStringLiteral("mirror")))
        mirrors.push_back(mirror.toUtf8());
    QString error;
    const std::optional<QByteArray> list =
        buildUpdateList(parser.positionalArguments().at(0), parser.value(QStringLiteral("base-url")).toUtf8(),
                        error, mirrors, parser.value(QStringLiteral("previous")));
    if (!list)
        return fail(error);
    QFile file(parser.value(QStringLiteral("out")));
    if (!file.open(QIODevice::WriteOnly) || file.write(*list) != list->size() || !file.flush())
        return fail(
            QStringLiteral("não foi possível escrever %1: %2").arg(file.fileName(), file.errorString()));
    return 0;
}

int check(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption(valueOption("public-key"));
    if (!parseCommand(parser, arguments, 1, 2))
        return 1;

    const QString listPath = parser.positionalArguments().at(0);
    QFile file(listPath);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("não foi possível ler %1: %2").arg(listPath, file.errorString()));
    const bool signedList = parser.isSet(QStringLiteral("public-key"));
    QStringList findings = checkUpdateList(file.readAll(), parser.positionalArguments().value(1),
                                           signedList ? ListUse::Signed : ListUse::Unsigned);
    if (signedList)
        findings += checkListSignature(listPath, parser.value(QStringLiteral("public-key")));
    QTextStream out(stdout);
    for (const QString &finding : findings)
        out << finding << '\n';
    return findings.isEmpty() ? 0 : 1;
}

int keygen(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({valueOption("secret-key"), valueOption("public-key")});
    if (!parseCommand(parser, arguments, 0, 0, {QStringLiteral("secret-key"), QStringLiteral("public-key")}))
        return 1;

    const QString publicKeyPath = parser.value(QStringLiteral("public-key"));
    QString error;
    if (!writeListKeyPair(parser.value(QStringLiteral("secret-key")), publicKeyPath, error))
        return fail(error);
    QFile publicKey(publicKeyPath);
    publicKey.open(QIODevice::ReadOnly);
    QTextStream(stdout) << QStringLiteral("chave pública (para -DLAUNCHER_UPDATE_LIST_PUBLIC_KEY=): ")
                        << QString::fromLatin1(publicKey.readAll().trimmed()) << '\n';
    return 0;
}

int sign(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({valueOption("secret-key"), valueOption("serial"), valueOption("valid-days")});
    if (!parseCommand(parser, arguments, 1, 1, {QStringLiteral("secret-key")}))
        return 1;

    const QDateTime now = QDateTime::currentDateTimeUtc();
    bool serialOk = true, daysOk = true;
    // Seconds since 1970 grow with every release without any bookkeeping.
    const quint64 serial = parser.isSet(QStringLiteral("serial"))
                               ? parser.value(QStringLiteral("serial")).toULongLong(&serialOk)
                               : static_cast<quint64>(now.toSecsSinceEpoch());
    const int validDays = parser.isSet(QStringLiteral("valid-days"))
                              ? parser.value(QStringLiteral("valid-days")).toInt(&daysOk)
                              : defaultValidDays;
    if (!serialOk || !daysOk || validDays <= 0)
        return usageError(QStringLiteral("--serial e --valid-days pedem números inteiros positivos"));
    // A list valid for centuries is never re-signed, and a serial near the top
    // leaves no higher one for the lists that follow.
    if (validDays > maximumValidDays)
        return usageError(QStringLiteral("--valid-days vai no máximo até %1; assine de novo antes de vencer")
                              .arg(maximumValidDays));
    if (serial > maximumSerial)
        return usageError(QStringLiteral("--serial vai no máximo até %1, para que as próximas listas ainda "
                                         "possam ter um número maior")
                              .arg(maximumSerial));

    QString error;
    if (!signListFile(parser.positionalArguments().at(0), parser.value(QStringLiteral("secret-key")), serial,
                      now.addDays(validDays), error))
        return fail(error);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    useUtf8FileNames();
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == QLatin1String("build"))
        return build(arguments);
    if (command == QLatin1String("check"))
        return check(arguments);
    if (command == QLatin1String("keygen"))
        return keygen(arguments);
    if (command == QLatin1String("sign"))
        return sign(arguments);
    std::fputs(usage, stderr);
    return 2;
}
