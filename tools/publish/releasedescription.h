#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <map>
#include <optional>
#include <utility>
#include <vector>

// What an operator says about a release in its release.conf: the launcher
// version, the pictures with their links and the servers with their files and
// actions. Everything else (file versions, the pictures' version) is derived from
// the files themselves.
struct ServerDescription {
    quint16 id = 0;
    QByteArray name;
    QByteArray executable;
    QStringList filePatterns;                  // below clientes/, * and ? as wildcards
    std::map<QByteArray, QByteArray> execArgs; // file started after download, with its arguments
    std::map<QByteArray, QByteArray> commands; // command line run after the file's download
};

struct ReleaseDescription {
    QByteArray launcherVersion;
    std::vector<QByteArray> launcherFiles;
    std::vector<std::pair<QByteArray, QByteArray>> images; // name and link, in the file's order
    std::vector<ServerDescription> servers;
};

// Reads release.conf; on a fault, error says where and what.
std::optional<ReleaseDescription> readReleaseDescription(const QString &path, QString &error);
