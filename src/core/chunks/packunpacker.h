#pragma once

#include "transfer/contentcheck.h"

#include <QByteArray>

#include <memory>
#include <vector>

// Takes the files out of packs that have arrived, on a thread of its own, each
// as a complete partial file beside its target: the caller's thread only renames
// them into place, in its order, while the packs still on their way arrive.
class PackUnpacker
{
public:
    struct File {
        std::size_t item; // the caller's number for it
        ContentCheck expected;
        QByteArray localPath;
    };
    enum class State { Waiting, Ready, Failed };

    explicit PackUnpacker(std::size_t items);
    // Stops after the pack at hand; partial files not taken by commit() and packs
    // not yet unpacked are removed.
    ~PackUnpacker();
    PackUnpacker(const PackUnpacker &) = delete;
    PackUnpacker &operator=(const PackUnpacker &) = delete;

    // The pack at packFile is complete: its files are taken out, and the pack
    // removed after them.
    void unpack(const QByteArray &packFile, std::vector<File> files);
    // A pack that did not arrive: its files fail.
    void fail(const std::vector<File> &files);

    // Failed: the pack does not hold the file where the list says, or it could
    // not be written.
    State state(std::size_t item) const;
    // Puts a Ready file in place.
    bool commit(std::size_t item, const QByteArray &localPath);

private:
    struct Work;
    std::unique_ptr<Work> work;
};
