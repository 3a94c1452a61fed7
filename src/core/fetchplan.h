#pragma once

#include "runresult.h"
#include "transfer/contentcheck.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// A file of a folder of the update server and where it goes.
struct FetchItem {
    QByteArray name;
    QByteArray localPath;
    ContentCheck expected;
};

// What one phase fetches (the pictures, the launcher's files, a server's install
// or repair), built by the core from the state: the files, where they come from
// and go, and what commits them. The window runs it and shows its progress.
struct FetchPlan {
    QByteArray shownName;          // in the progress text
    QByteArray targetFolder;       // the game folder's folder the files go to
    std::vector<QByteArray> bases; // the list's download path, then its mirrors
    QByteArray serverFolder;       // "clientes/", "imagens/" or "launcher/"
    std::vector<FetchItem> items;  // put in place in this order
    // Installed files to take chunks from, beside the items' older versions.
    std::vector<QByteArray> chunkSources{};
    // The phase's box after a failure's own (a server's files that could not be installed).
    QString failureTold{};
    // The player may pause it: a server's files, which may take hours; the
    // start-up's few files block the buttons and are not worth a control.
    bool playerMayPause = false;
    // Runs as item k is put in place, after items 0..k-1 were.
    std::function<void(std::size_t)> onCommitted = [](std::size_t) {};
    // Runs once the plan has run, whatever its ending.
    std::function<void(const RunResult &)> onEnded = [](const RunResult &) {};

    qint64 bytes() const;
    // The box for a disk that cannot hold the plan's files, told before anything
    // is fetched; none when it can, or cannot be asked.
    std::optional<QString> diskShortage() const;
};
