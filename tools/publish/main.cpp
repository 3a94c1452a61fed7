// launcher-publish: builds and checks the update list of a release.

#include "updatelistbuilder.h"
#include "updatelistcheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

const char usage[] = "uso:\n"
                     "  launcher-publish build PASTA_DA_VERSAO --base-url URL --out launcher.xml\n"
                     "  launcher-publish check LISTA [PASTA_DA_VERSAO]\n";

int fail(const QString &message)
{
    QTextStream(stderr) << "launcher-publish: " << message << '\n';
    return 1;
}

int build(const QStringList &arguments)
{
    QString release, baseUrl, out;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if ((argument == QLatin1String("--base-url") || argument == QLatin1String("--out")) &&
            i + 1 < arguments.size())
            (argument == QLatin1String("--out") ? out : baseUrl) = arguments.at(++i);
        else if (release.isEmpty() && !argument.startsWith(QLatin1String("--")))
            release = argument;
        else
            return fail(QStringLiteral("argumento inesperado: %1\n%2").arg(argument, QLatin1String(usage)));
    }
    if (release.isEmpty() || baseUrl.isEmpty() || out.isEmpty())
        return fail(QLatin1String(usage));

    QString error;
    const std::optional<QByteArray> list = buildUpdateList(release, baseUrl.toUtf8(), error);
    if (!list)
        return fail(error);
    QFile file(out);
    if (!file.open(QIODevice::WriteOnly) || file.write(*list) != list->size() || !file.flush())
        return fail(QStringLiteral("não foi possível escrever %1: %2").arg(out, file.errorString()));
    return 0;
}

int check(const QStringList &arguments)
{
    if (arguments.isEmpty() || arguments.size() > 2)
        return fail(QLatin1String(usage));
    QFile file(arguments.at(0));
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("não foi possível ler %1: %2").arg(arguments.at(0), file.errorString()));
    const QStringList findings = checkUpdateList(file.readAll(), arguments.value(1));
    QTextStream out(stdout);
    for (const QString &finding : findings)
        out << finding << '\n';
    return findings.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == QLatin1String("build"))
        return build(arguments);
    if (command == QLatin1String("check"))
        return check(arguments);
    std::fputs(usage, stderr);
    return 2;
}
