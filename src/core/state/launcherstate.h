#pragma once

#include "transfer/contentcheck.h"

#include <QByteArray>
#include <QtGlobal>

#include <map>
#include <optional>
#include <vector>

// Versions are opaque labels: a thing is current exactly when its installed and
// newest labels are the same bytes. They are never ordered.
struct FileEntry {
    QByteArray installedVersion;
    QByteArray lastVersion;
    QByteArray function; // "exec" starts the file once it is downloaded
    QByteArray value;    // argument text for an "exec" file
    QByteArray cmd;      // operator's command line run after the download
    QByteArray name;     // path below "clientes/", also the key in ServerEntry::files
    ContentCheck check;
    // The last update list merged for its server no longer names the file: it is
    // kept, but neither fetched nor counted, as the release can no longer serve it.
    bool dropped = false;
};

struct ServerEntry {
    quint16 id = 0;
    QByteArray name;
    QByteArray executable;
    std::map<QByteArray, FileEntry> files; // byte order of name
};

struct ImageEntry {
    QByteArray name; // file below "imagens/", also the key in LauncherState::images
    QByteArray href; // page opened by a click on the picture
    ContentCheck check;
};

// Continue: an install or update that stopped with bytes kept on disk, which a
// click continues.
enum class ServerStatus { Install, Update, Continue, Play };

// The two documents written from the state: config.xml carries the installed
// versions; an update list must not, or it would override the players' own.
enum class DocumentKind { Config, UpdateList };

// What loadConfig found.
enum class ConfigLoad {
    Current,  // read, and config.xml already holds what saveConfig would write
    Outdated, // read, in another layout than saveConfig's: to be saved again
    Missing,  // there is none: the state holds the defaults, to be saved
    Locked,   // it exists but could not be read whole: it is never written over in this run
    Damaged,  // not well-formed or holding a NUL byte; a copy is kept as config.xml.bad
};

// Everything the launcher knows about itself, its carousel and the game servers,
// kept in config.xml and refreshed from the update list. It shows nothing and
// saves only when told to: the callers turn its results into boxes
// (configsteps.h).
class LauncherState
{
public:
    LauncherState();

    QByteArray downloadPath; // base URL, used as a plain prefix
    // Other base URLs serving the same files, tried in turn when one fails. Only
    // the update list names them; config.xml does not keep them.
    std::vector<QByteArray> mirrorPaths;
    // The download path, then the mirrors.
    std::vector<QByteArray> downloadBases() const;
    std::map<quint16, ServerEntry> servers;
    QByteArray launcherInstalledVersion;
    QByteArray launcherLastVersion;
    ContentCheck launcherBuildCheck;       // of the new build, launcher/launcher.exe
    std::vector<QByteArray> launcherFiles; // document order
    std::map<QByteArray, ContentCheck> launcherFileChecks;
    QByteArray imagesInstalledVersion;
    QByteArray imagesLastVersion;
    std::map<QByteArray, ImageEntry> images; // byte order of name
    // The highest serial of a signed update list this launcher accepted; kept in
    // config.xml only, never taken from an update list.
    std::optional<quint64> acceptedListSerial;
    // The same of the key document naming the list keys, where there is one.
    std::optional<quint64> acceptedKeysSerial;

    // The files of the server that are due, by name; the pointers lead into
    // server.files so that the caller can commit versions through them. Files
    // dropped from the release are never due.
    static std::map<QByteArray, FileEntry *> pendingFiles(ServerEntry &server);
    static ServerStatus serverStatus(ServerEntry &server);

    // Merges the update list into the state. False when it is not well-formed; the
    // state is then unchanged. The text ends at its first NUL byte. A file that a
    // server of the list no longer names is marked as dropped. The serial of a
    // signed list that was accepted is recorded with it, only when it merges.
    bool mergeDocument(const char *text, std::optional<quint64> signedSerial = std::nullopt);

    // What the window and update mode record once a step has succeeded.
    bool imagesAreCurrent() const { return imagesInstalledVersion == imagesLastVersion; }
    void markImagesCurrent() { imagesInstalledVersion = imagesLastVersion; }
    bool launcherIsCurrent() const { return launcherInstalledVersion == launcherLastVersion; }
    void markLauncherCurrent() { launcherInstalledVersion = launcherLastVersion; }
    static void markInstalled(FileEntry &file) { file.installedVersion = file.lastVersion; }

    // The state as a document of that kind, in config.xml's layout.
    QByteArray document(DocumentKind kind) const;

    // Writes config.xml atomically; false when it could not be replaced, in which
    // case the old file is left as it was. Never replaces a config.xml that exists
    // but could not be read at load.
    bool saveConfig() const;

    // config.xml could not be read at load: nothing is saved in this run, and the
    // player was told so.
    bool configLocked() const { return configUnreadable; }

    // Reads config.xml into the state. A locked one is tried for about a second.
    ConfigLoad loadConfig();

private:
    bool configUnreadable = false;
};
