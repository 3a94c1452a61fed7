#include "updatelistcheck.h"

#include "chunkpublisher.h"
#include "packpublisher.h"
#include "names.h"
#include "updatelistbuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <pugixml.hpp>

#include <set>

namespace {

QString quoted(const QByteArray &name)
{
    return QLatin1Char('"') + QString::fromUtf8(name) + QLatin1Char('"');
}

class ListChecker
{
public:
    ListChecker(const QString &releaseFolder, ListUse use) : releaseFolder(releaseFolder), use(use) {}

    QStringList check(const QByteArray &list)
    {
        pugi::xml_document document;
        const pugi::xml_parse_result parsed =
            document.load_buffer(list.constData(), std::size_t(list.size()));
        if (!parsed) {
            findings << QStringLiteral("a lista não é XML bem formado (byte %1): %2")
                            .arg(parsed.offset)
                            .arg(QString::fromUtf8(parsed.description()));
            return findings;
        }
        checkBaseUrl(document.child("download").attribute("path").value());
        checkMirrors(document);
        checkLauncher(document.child("launcher"));
        checkImages(document.child("images"));
        checkServers(document.child("servers"));
        return findings;
    }

private:
    void checkBaseUrl(const QByteArray &path)
    {
        if (path.isEmpty())
            findings << QStringLiteral(
                "download: endereço base vazio; os arquivos seriam pedidos sem servidor");
        else if (!path.endsWith('/'))
            findings << QStringLiteral("download: o endereço base %1 não termina em \"/\"").arg(quoted(path));
    }

    // A mirror must be another address that serves the same folder; the launcher
    // catches one that serves other bytes only by each file's size and SHA-256.
    void checkMirrors(const pugi::xml_document &document)
    {
        QByteArrayList seen{document.child("download").attribute("path").value()};
        for (const pugi::xml_node &mirror : document.children("mirror")) {
            const QByteArray path = mirror.attribute("path").value();
            hasMirrors = true;
            if (!(path.startsWith("http://") || path.startsWith("https://")) || !path.endsWith('/'))
                findings << QStringLiteral("mirror: o endereço %1 precisa começar com http:// ou "
                                           "https:// e terminar em \"/\"")
                                .arg(quoted(path));
            else if (seen.contains(path))
                findings << QStringLiteral("mirror: o endereço %1 aparece mais de uma vez").arg(quoted(path));
            seen << path;
        }
    }

    // Reports a name the launcher refuses, one missing from the release, and a
    // size or SHA-256 that is malformed or that the release's file does not have.
    void checkName(const QString &where, const QByteArray &name, const char *folder,
                   const pugi::xml_node &node)
    {
        if (!isSafeRelativeName(name)) {
            findings << QStringLiteral("%1: o launcher recusa o nome %2").arg(where, quoted(name));
            return;
        }
        const QByteArray sha256 = node.attribute("sha256").value();
        const QByteArray size = node.attribute("size").value();
        static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
        if (!sha256.isEmpty() && !hex.match(QString::fromLatin1(sha256)).hasMatch())
            findings << QStringLiteral("%1: o sha256 de %2 não tem 64 dígitos hexadecimais minúsculos")
                            .arg(where, quoted(name));
        // A signature vouches for a file only through its hash.
        if (use == ListUse::Signed && (sha256.isEmpty() || size.isEmpty()))
            findings << QStringLiteral("%1: %2 sem size e sha256; a assinatura não protegeria esse arquivo")
                            .arg(where, quoted(name));
        else if (hasMirrors && (sha256.isEmpty() || size.isEmpty()))
            findings << QStringLiteral("%1: %2 sem size e sha256; um espelho com outro conteúdo passaria")
                            .arg(where, quoted(name));
        const QString path = QString::fromLatin1(folder) + QLatin1Char('/') + QString::fromUtf8(name);
        if (releaseFolder.isEmpty())
            return;
        const QString file = QDir(releaseFolder).filePath(path);
        if (!QFileInfo(file).isFile()) {
            findings << QStringLiteral("%1: %2 não está na pasta da versão").arg(where, path);
            return;
        }
        if (leadsOutsideRelease(releaseFolder, file)) {
            findings << QStringLiteral("%1: %2 é um link para fora da pasta da versão").arg(where, path);
            return;
        }
        const std::optional<ContentCheck> actual = contentCheck(file);
        if (actual &&
            ((!size.isEmpty() && size != actual->size) || (!sha256.isEmpty() && sha256 != actual->sha256)))
            findings
                << QStringLiteral("%1: %2 não confere com o tamanho ou o sha256 da lista").arg(where, path);
        const ContentCheck listed{size,
                                  sha256,
                                  node.attribute("chunks").value(),
                                  node.attribute("chunkDeltas").value(),
                                  node.attribute("deltaFrom").value(),
                                  node.attribute("deltaSize").value(),
                                  node.attribute("chunkPages").value(),
                                  node.attribute("pack").value(),
                                  node.attribute("packOffset").value(),
                                  node.attribute("packSize").value(),
                                  node.attribute("chunkPack").value(),
                                  node.attribute("chunkPackSize").value()};
        const auto report = [&](const QString &problem) {
            if (!problem.isEmpty())
                findings << QStringLiteral("%1: %2: %3").arg(where, path, problem);
        };
        if (!listed.deltaFrom.isEmpty() || !listed.deltaSize.isEmpty())
            report(verifyDelta(releaseFolder, listed));
        if (!listed.packSha256.isEmpty() || !listed.packOffset.isEmpty() || !listed.packSize.isEmpty())
            report(verifyPack(releaseFolder, listed, checkedPacks));
        const QByteArray &chunks = listed.chunkIndexSha256;
        if (chunks.isEmpty())
            return;
        report(!hex.match(QString::fromLatin1(chunks)).hasMatch() || sha256.isEmpty() || size.isEmpty()
                   ? QStringLiteral("chunks sem size e sha256, ou sem 64 dígitos hexadecimais")
                   : verifyChunks(releaseFolder, listed));
    }

    void checkLauncher(const pugi::xml_node &launcher)
    {
        if (QByteArray(launcher.attribute("lastVersion").value()).isEmpty())
            findings << QStringLiteral("launcher: sem lastVersion; todo launcher tentaria se atualizar");
        else if (!releaseFolder.isEmpty() || use == ListUse::Signed)
            checkName(QStringLiteral("launcher"), QByteArrayLiteral("launcher.exe"), "launcher", launcher);
        // Launcher files land beside the launcher's own files.
        checkFiles(QStringLiteral("launcher"), launcher, "launcher", "arquivo repetido",
                   [&](const QByteArray &name, const pugi::xml_node &) {
                       if (isSafeRelativeName(name) && !isLauncherFileName(name))
                           findings << QStringLiteral(
                                           "launcher: o launcher recusa o nome %1, que é de um arquivo "
                                           "dele mesmo, de um servidor ou do carrossel")
                                           .arg(quoted(name));
                   });
    }

    void checkImages(const pugi::xml_node &images)
    {
        checkFiles(QStringLiteral("images"), images, "imagens", "imagem repetida",
                   [&](const QByteArray &name, const pugi::xml_node &) {
                       checkNoSubfolder(QStringLiteral("images"), "imagens", name);
                   });
    }

    // The launcher creates no folder: a file in a subfolder could not be stored by
    // players who do not have it.
    void checkNoSubfolder(const QString &where, const char *folder, const QByteArray &name)
    {
        if (isSafeRelativeName(name) && (name.contains('/') || name.contains('\\')))
            findings << QStringLiteral(
                            "%1: %2/%3 fica numa subpasta, que o launcher não cria; ponha o arquivo "
                            "direto em %2/")
                            .arg(where, QLatin1String(folder), QString::fromUtf8(name));
    }

    // The file children of parent: each name once and one the launcher takes,
    // and whatever more says of a file.
    template <typename MoreChecks = void (*)(const QByteArray &, const pugi::xml_node &)>
    void checkFiles(
        const QString &where, const pugi::xml_node &parent, const char *folder, const char *repeated,
        const MoreChecks &more = [](const QByteArray &, const pugi::xml_node &) {})
    {
        std::set<QByteArray> seen;
        for (const pugi::xml_node &file : parent.children()) {
            const QByteArray name = file.attribute("name").value();
            if (!seen.insert(name).second)
                findings << QStringLiteral("%1: %2 %3").arg(where, QLatin1String(repeated), quoted(name));
            more(name, file);
            checkName(where, name, folder, file);
        }
    }

    void checkServers(const pugi::xml_node &servers)
    {
        std::set<int> seenIds;
        for (const pugi::xml_node &server : servers.children()) {
            const int id = static_cast<quint16>(server.attribute("id").as_int());
            const QString where = QStringLiteral("servidor %1").arg(id);
            if (!seenIds.insert(id).second)
                findings << QStringLiteral("%1: id repetido").arg(where);
            if (id < 1 || id > 6)
                findings << QStringLiteral("%1: nenhum botão serve esse id (só 1 a 6)").arg(where);
            const QByteArray executable = server.attribute("executable").value();
            if (!isSafeRelativeName(executable))
                findings
                    << QStringLiteral("%1: o launcher recusa o executável %2").arg(where, quoted(executable));
            else if (holdsShellSyntax(executable))
                findings << QStringLiteral("%1: o executável %2 tem espaço ou metacaractere de shell")
                                .arg(where, quoted(executable));
            checkServerFiles(where, server);
            bool listed = false;
            for (const pugi::xml_node &file : server.children())
                listed = listed || executable == file.attribute("name").value();
            if (!listed && isSafeRelativeName(executable))
                findings << QStringLiteral(
                                "%1: o executável %2 não está entre os arquivos do servidor; inclua-o "
                                "em files")
                                .arg(where, quoted(executable));
        }
    }

    void checkServerFiles(const QString &where, const pugi::xml_node &server)
    {
        checkFiles(where, server, "clientes", "arquivo repetido",
                   [&](const QByteArray &name, const pugi::xml_node &file) {
                       checkNoSubfolder(where, "clientes", name);
                       if (isSafeRelativeName(name) && holdsShellSyntax(name))
                           findings << QStringLiteral("%1: o arquivo %2 tem espaço ou metacaractere de shell")
                                           .arg(where, quoted(name));
                       const QByteArray arguments = file.attribute("value").value();
                       if (QByteArray(file.attribute("function").value()) == "exec" &&
                           holdsShellSyntax(QByteArray(arguments).replace(' ', "")))
                           findings << QStringLiteral("%1: os argumentos de %2 têm metacaractere de shell")
                                           .arg(where, quoted(name));
                   });
    }

    QString releaseFolder;
    ListUse use;
    bool hasMirrors = false;
    QStringList findings;
    std::set<QByteArray> checkedPacks; // their SHA-256 looked at once
};

} // namespace

QStringList checkUpdateList(const QByteArray &list, const QString &releaseFolder, ListUse use)
{
    return ListChecker(releaseFolder, use).check(list);
}
