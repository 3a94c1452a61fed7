#include "listsigning.h"

#include "listsignature.h"
#include "listsigner.h"
#include "updatelistcheck.h"

#include <QFile>
#include <QSaveFile>

#include <functional>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::optional<QByteArray> readWhole(const QString &path, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("não foi possível ler %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

// A new file, never one already there, that has its permissions from the moment
// it exists: the secret key is never readable by others, not even for an instant.
bool openNewFile(QFile &file, QFile::Permissions permissions)
{
#ifdef Q_OS_WIN
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.setPermissions(permissions);
#else
    mode_t mode = 0;
    for (const auto &[permission, bit] : {std::pair{QFile::ReadOwner, S_IRUSR},
                                          {QFile::WriteOwner, S_IWUSR},
                                          {QFile::ReadGroup, S_IRGRP},
                                          {QFile::ReadOther, S_IROTH}})
        mode |= permissions & permission ? bit : 0;
    const int descriptor =
        ::open(QFile::encodeName(file.fileName()).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (descriptor < 0)
        return false;
    if (file.open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(descriptor);
    return false;
#endif
}

bool writeNewFile(const QString &path, const QByteArray &contents, QFile::Permissions permissions,
                  QString &error)
{
    QFile file(path);
    if (!openNewFile(file, permissions) || file.write(contents) != contents.size() || !file.flush()) {
        error = QStringLiteral("não foi possível criar %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QString signaturePath(const QString &listPath)
{
    return listPath + QStringLiteral(".sig");
}

QString keysPath(const QString &listPath)
{
    return listPath + QStringLiteral(".keys");
}

// Replaces path with contents all at once: a launcher fetching it mid-write
// never sees half of it.
bool replaceFile(const QString &path, const QByteArray &contents, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit()) {
        error = QStringLiteral("não foi possível escrever %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

// A serial below the one already published would be refused by every launcher
// that took the newer file.
bool serialNotBelowPublished(const QString &path, quint64 serial,
                             const std::function<std::optional<quint64>(const QByteArray &)> &serialOf,
                             QString &error)
{
    QFile existing(path);
    if (!existing.open(QIODevice::ReadOnly))
        return true;
    const std::optional<quint64> previous = serialOf(existing.readAll());
    if (previous && *previous > serial) {
        error =
            QStringLiteral("%1 já tem o número de série %2; use um maior que esse").arg(path).arg(*previous);
        return false;
    }
    return true;
}

std::optional<quint64> listSerialOf(const QByteArray &signature)
{
    const std::optional<ListSignature> parsed = parseListSignature(signature);
    return parsed ? std::optional<quint64>(parsed->serial) : std::nullopt;
}

// The serial line of a key document, whoever signed it.
std::optional<quint64> keysSerialOf(const QByteArray &document)
{
    const QByteArray first = document.left(document.indexOf('\n'));
    bool ok = false;
    const quint64 serial = first.mid(7).toULongLong(&ok);
    return first.startsWith("serial ") && ok ? std::optional<quint64>(serial) : std::nullopt;
}

} // namespace

bool writeListKeyPair(const QString &secretKeyPath, const QString &publicKeyPath, QString &error)
{
    for (const QString &path : {secretKeyPath, publicKeyPath}) {
        if (QFile::exists(path)) {
            error = QStringLiteral("%1 já existe; uma chave nunca é substituída sem querer").arg(path);
            return false;
        }
    }
    const ListKeyPair pair = generateListKeyPair();
    if (pair.secretKey.isEmpty()) {
        error = QStringLiteral("não foi possível gerar a chave");
        return false;
    }
    if (!writeNewFile(secretKeyPath, pair.secretKey + '\n', QFile::ReadOwner | QFile::WriteOwner, error))
        return false;
    if (!writeNewFile(publicKeyPath, pair.publicKey + '\n',
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther, error)) {
        QFile::remove(secretKeyPath);
        return false;
    }
    return true;
}

bool signListFile(const QString &listPath, const QString &secretKeyPath, quint64 serial,
                  const QDateTime &expires, QString &error)
{
    const std::optional<QByteArray> list = readWhole(listPath, error);
    const std::optional<QByteArray> secretKey = list ? readWhole(secretKeyPath, error) : std::nullopt;
    if (!secretKey)
        return false;
    const QStringList findings = checkUpdateList(*list, QString(), ListUse::Signed);
    if (!findings.isEmpty()) {
        error =
            QStringLiteral("a lista não foi assinada; corrija antes:\n") + findings.join(QLatin1Char('\n'));
        return false;
    }

    if (!serialNotBelowPublished(signaturePath(listPath), serial, listSerialOf, error))
        return false;
    if (expires <= QDateTime::currentDateTimeUtc()) {
        error = QStringLiteral("a validade %1 já passou").arg(expires.toUTC().toString(Qt::ISODate));
        return false;
    }

    const std::optional<QByteArray> signature = signUpdateList(*secretKey, *list, serial, expires);
    if (!signature) {
        error = QStringLiteral("%1 não contém uma chave secreta válida").arg(secretKeyPath);
        return false;
    }
    return replaceFile(signaturePath(listPath), *signature, error);
}

bool writeListKeys(const QString &listPath, const QString &rootSecretKeyPath,
                   const QStringList &publicKeyPaths, quint64 serial, const QDateTime &expires,
                   QString &error)
{
    if (publicKeyPaths.isEmpty() || publicKeyPaths.size() > maximumListKeys) {
        error = QStringLiteral("um documento de chaves leva de 1 a %1 chaves de lista").arg(maximumListKeys);
        return false;
    }
    QByteArrayList keys;
    for (const QString &path : publicKeyPaths) {
        const std::optional<QByteArray> key = readWhole(path, error);
        if (!key)
            return false;
        keys << key->trimmed();
    }
    const std::optional<QByteArray> rootKey = readWhole(rootSecretKeyPath, error);
    if (!rootKey || !serialNotBelowPublished(keysPath(listPath), serial, keysSerialOf, error))
        return false;
    for (int at = 0; at < keys.size(); ++at) {
        const auto decoded =
            QByteArray::fromBase64Encoding(keys.at(at), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() != 32) {
            error = QStringLiteral("%1 não contém uma chave pública").arg(publicKeyPaths.at(at));
            return false;
        }
    }
    if (expires <= QDateTime::currentDateTimeUtc()) {
        error = QStringLiteral("a validade %1 já passou").arg(expires.toUTC().toString(Qt::ISODate));
        return false;
    }
    const std::optional<QByteArray> document = signListKeys(*rootKey, keys, serial, expires);
    if (!document) {
        error = QStringLiteral("%1 não contém uma chave secreta válida").arg(rootSecretKeyPath);
        return false;
    }
    return replaceFile(keysPath(listPath), *document, error);
}

QStringList checkListSignature(const QString &listPath, const QString &publicKeyPath, bool rootKey)
{
    QString error;
    const std::optional<QByteArray> list = readWhole(listPath, error);
    const std::optional<QByteArray> publicKey = list ? readWhole(publicKeyPath, error) : std::nullopt;
    const std::optional<QByteArray> signature =
        publicKey ? readWhole(signaturePath(listPath), error) : std::nullopt;
    const std::optional<QByteArray> keys =
        signature && rootKey ? readWhole(keysPath(listPath), error) : signature;
    if (!keys)
        return {error};

    const QDateTime now = QDateTime::currentDateTimeUtc();
    QByteArray listKeys = publicKey->trimmed();
    quint64 keysSerial = 0;
    if (rootKey &&
        verifyListKeys(listKeys, *keys, std::nullopt, now, &keysSerial, &listKeys) != ListVerdict::Accepted)
        return {QStringLiteral("chaves: %1 não confere com a chave raiz %2, ou expirou; assine-o de novo")
                    .arg(keysPath(listPath), publicKeyPath)};
    switch (verifyUpdateList(listKeys, *list, *signature, std::nullopt, now)) {
    case ListVerdict::Accepted:
        return {};
    case ListVerdict::Expired:
        return {QStringLiteral("assinatura: a lista expirou em %1; assine-a de novo")
                    .arg(parseListSignature(*signature)->expires.toString(Qt::ISODate))};
    case ListVerdict::BadSignature:
    case ListVerdict::Rollback:
        break;
    }
    return {QStringLiteral("assinatura: %1 não confere com a lista e a chave pública %2")
                .arg(signaturePath(listPath), rootKey ? keysPath(listPath) : publicKeyPath)};
}
