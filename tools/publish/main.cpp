// launcher-publish: builds, checks and signs the update list of a release.

#include "listsigning.h"
#include "names.h"
#include "rollout.h"
#include "updatelistbuilder.h"
#include "updatelistcheck.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

namespace {

const char usage[] =
    "uso:\n"
    "  launcher-publish build PASTA_DA_VERSAO --base-url URL [--mirror URL]... [--previous PASTA_ANTERIOR]\n"
    "                         [--rollout PORCENTAGEM] --out launcher.xml\n"
    "  launcher-publish check LISTA [PASTA_DA_VERSAO] [--public-key CHAVE.pub | --root-public-key RAIZ.pub]\n"
    "  launcher-publish keygen [--root] --secret-key CHAVE.key --public-key CHAVE.pub\n"
    "  launcher-publish keys LISTA --root-key RAIZ.key --key CHAVE.pub [--key CHAVE.pub]... [--serial N]\n"
    "                        [--valid-days N]\n"
    "  launcher-publish sign LISTA --secret-key CHAVE.key [--serial N] [--valid-days N] [--rollout "
    "PORCENTAGEM]\n"
    "  launcher-publish rollback PASTA_ANTERIOR --out LISTA [--secret-key CHAVE.key] [--valid-days N]\n";

// A list signed today stays valid this long unless the operator says otherwise;
// a key document, signed with the offline root key, longer.
constexpr int defaultValidDays = 30;
constexpr int defaultKeysValidDays = 365;
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

// --serial (default: seconds since 1970, which grow with every release without
// any bookkeeping) and --valid-days; false after telling what is wrong.
bool serialAndExpiry(const QCommandLineParser &parser, int defaultDays, quint64 &serial, QDateTime &expires)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    bool serialOk = true, daysOk = true;
    serial = parser.isSet(QStringLiteral("serial"))
                 ? parser.value(QStringLiteral("serial")).toULongLong(&serialOk)
                 : static_cast<quint64>(now.toSecsSinceEpoch());
    const int validDays = parser.isSet(QStringLiteral("valid-days"))
                              ? parser.value(QStringLiteral("valid-days")).toInt(&daysOk)
                              : defaultDays;
    expires = now.addDays(validDays);
    // A list valid for centuries is never re-signed, and a serial near the top
    // leaves no higher one for the lists that follow.
    QString problem;
    if (!serialOk || !daysOk || validDays <= 0)
        problem = QStringLiteral("--serial e --valid-days pedem números inteiros positivos");
    else if (validDays > maximumValidDays)
        problem = QStringLiteral("--valid-days vai no máximo até %1; assine de novo antes de vencer")
                      .arg(maximumValidDays);
    else if (serial > maximumSerial)
        problem = QStringLiteral("--serial vai no máximo até %1, para que as próximas listas ainda "
                                 "possam ter um número maior")
                      .arg(maximumSerial);
    if (problem.isEmpty())
        return true;
    usageError(problem);
    return false;
}

// --rollout: a whole number from 0 to 100; -1 where it is not given.
bool rolloutPercent(const QCommandLineParser &parser, int &percent)
{
    percent = -1;
    if (!parser.isSet(QStringLiteral("rollout")))
        return true;
    bool ok = false;
    percent = parser.value(QStringLiteral("rollout")).toInt(&ok);
    if (ok && percent >= 0 && percent <= 100)
        return true;
    usageError(QStringLiteral("--rollout pede uma porcentagem inteira de 0 a 100"));
    return false;
}

std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        return file.readAll();
    fail(QStringLiteral("não foi possível ler %1: %2").arg(path, file.errorString()));
    return std::nullopt;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    fail(QStringLiteral("não foi possível escrever %1: %2").arg(path, file.errorString()));
    return false;
}

int build(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({valueOption("base-url"), valueOption("mirror"), valueOption("out"),
                       valueOption("previous"), valueOption("rollout")});
    int percent = -1;
    if (!parseCommand(parser, arguments, 1, 1, {QStringLiteral("base-url"), QStringLiteral("out")}) ||
        !rolloutPercent(parser, percent))
        return 1;
    if (percent >= 0 && !parser.isSet(QStringLiteral("previous")))
        return usageError(QStringLiteral("--rollout pede --previous: a versão anterior fica com os demais"));

    std::vector<QByteArray> mirrors;
    for (const QString &mirror : parser.values(QStringLiteral("mirror")))
        mirrors.push_back(mirror.toUtf8());
    QString error;
    const std::optional<QByteArray> list =
        buildUpdateList(parser.positionalArguments().at(0), parser.value(QStringLiteral("base-url")).toUtf8(),
                        error, mirrors, parser.value(QStringLiteral("previous")));
    if (!list)
        return fail(error);
    // The release before, whole, for the installations outside the share.
    QByteArray published = *list;
    if (percent >= 0) {
        const std::optional<QByteArray> previous =
            readFile(QDir(parser.value(QStringLiteral("previous"))).filePath(QStringLiteral("launcher.xml")));
        if (!previous)
            return 1;
        published = withRollout(published, percent, *previous);
    }
    return writeFile(parser.value(QStringLiteral("out")), published) ? 0 : 1;
}

int check(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({valueOption("public-key"), valueOption("root-public-key")});
    if (!parseCommand(parser, arguments, 1, 2))
        return 1;
    const bool rooted = parser.isSet(QStringLiteral("root-public-key"));

    const QString listPath = parser.positionalArguments().at(0);
    QFile file(listPath);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("não foi possível ler %1: %2").arg(listPath, file.errorString()));
    const bool signedList = rooted || parser.isSet(QStringLiteral("public-key"));
    QStringList findings = checkUpdateList(file.readAll(), parser.positionalArguments().value(1),
                                           signedList ? ListUse::Signed : ListUse::Unsigned);
    if (signedList)
        findings += checkListSignature(
            listPath, parser.value(rooted ? QStringLiteral("root-public-key") : QStringLiteral("public-key")),
            rooted);
    QTextStream out(stdout);
    for (const QString &finding : findings)
        out << finding << '\n';
    return findings.isEmpty() ? 0 : 1;
}

int keygen(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions(
        {valueOption("secret-key"), valueOption("public-key"), QCommandLineOption(QStringLiteral("root"))});
    if (!parseCommand(parser, arguments, 0, 0, {QStringLiteral("secret-key"), QStringLiteral("public-key")}))
        return 1;

    const QString publicKeyPath = parser.value(QStringLiteral("public-key"));
    QString error;
    if (!writeListKeyPair(parser.value(QStringLiteral("secret-key")), publicKeyPath, error))
        return fail(error);
    QFile publicKey(publicKeyPath);
    publicKey.open(QIODevice::ReadOnly);
    QTextStream(stdout) << (parser.isSet(QStringLiteral("root"))
                                ? QStringLiteral("chave raiz pública (para -DLAUNCHER_ROOT_PUBLIC_KEY=): ")
                                : QStringLiteral("chave pública (para -DLAUNCHER_UPDATE_LIST_PUBLIC_KEY=): "))
                        << QString::fromLatin1(publicKey.readAll().trimmed()) << '\n';
    return 0;
}

int sign(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({valueOption("secret-key"), valueOption("serial"), valueOption("valid-days"),
                       valueOption("rollout")});
    quint64 serial = 0;
    QDateTime expires;
    int percent = -1;
    if (!parseCommand(parser, arguments, 1, 1, {QStringLiteral("secret-key")}) ||
        !serialAndExpiry(parser, defaultValidDays, serial, expires) || !rolloutPercent(parser, percent))
        return 1;
    const QString listPath = parser.positionalArguments().at(0);
    // A new share of a release rolled out: the same list with another percentage.
    if (percent >= 0) {
        const std::optional<QByteArray> list = readFile(listPath);
        if (!list)
            return 1;
        const std::optional<Rollout> rollout = rolloutOf(*list);
        if (!rollout || rollout->previousList.isEmpty())
            return fail(QStringLiteral("%1 não foi publicada com --rollout").arg(listPath));
        if (!writeFile(listPath, withRollout(*list, percent, rollout->previousList)))
            return 1;
    }
    QString error;
    if (!signListFile(listPath, parser.value(QStringLiteral("secret-key")), serial, expires, error))
        return fail(error);
    return 0;
}

int keys(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions(
        {valueOption("root-key"), valueOption("key"), valueOption("serial"), valueOption("valid-days")});
    quint64 serial = 0;
    QDateTime expires;
    if (!parseCommand(parser, arguments, 1, 1, {QStringLiteral("root-key"), QStringLiteral("key")}) ||
        !serialAndExpiry(parser, defaultKeysValidDays, serial, expires))
        return 1;
    QString error;
    if (!writeListKeys(parser.positionalArguments().at(0), parser.value(QStringLiteral("root-key")),
                       parser.values(QStringLiteral("key")), serial, expires, error))
        return fail(error);
    return 0;
}

// A release whose files are an earlier release's, under a new serial: the
// launcher installs it like any update.
int rollback(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOptions({valueOption("out"), valueOption("secret-key"), valueOption("valid-days")});
    quint64 serial = 0;
    QDateTime expires;
    if (!parseCommand(parser, arguments, 1, 1, {QStringLiteral("out")}) ||
        !serialAndExpiry(parser, defaultValidDays, serial, expires))
        return 1;
    const std::optional<QByteArray> earlier =
        readFile(QDir(parser.positionalArguments().at(0)).filePath(QStringLiteral("launcher.xml")));
    const QString out = parser.value(QStringLiteral("out"));
    if (!earlier || !writeFile(out, withoutRollout(*earlier)))
        return 1;
    QString error;
    if (parser.isSet(QStringLiteral("secret-key")) &&
        !signListFile(out, parser.value(QStringLiteral("secret-key")), serial, expires, error))
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
    if (command == QLatin1String("keys"))
        return keys(arguments);
    if (command == QLatin1String("rollback"))
        return rollback(arguments);
    std::fputs(usage, stderr);
    return 2;
}
