#pragma once

#include "chunks/chunkindex.h"

#include <QByteArray>

#include <cstring>
#include <unordered_map>
#include <vector>

struct ChunkHashHasher {
    std::size_t operator()(const ChunkHash &hash) const
    {
        std::size_t value;
        std::memcpy(&value, hash.data(), sizeof value);
        return value;
    }
};

// Where chunks that files being built need already lie on the player's disk: in
// old versions, in what an interrupted build left, in other installed files, and
// in the files this run already completed.
class ChunkLocations
{
public:
    struct Location {
        std::size_t file;
        qint64 offset;
    };

    std::size_t addFile(const QByteArray &path);
    const QByteArray &filePath(std::size_t file) const { return files[file]; }
    std::size_t fileCount() const { return files.size(); }

    // The first place found for a hash is the one kept.
    void add(const ChunkHash &hash, std::size_t file, qint64 offset);
    // Every chunk of a file that is known to be cut as index says.
    void addIndexedFile(const QByteArray &path, const ChunkIndex &index);

    const Location *find(const ChunkHash &hash) const;

private:
    std::vector<QByteArray> files;
    std::unordered_map<ChunkHash, Location, ChunkHashHasher> where;
};
