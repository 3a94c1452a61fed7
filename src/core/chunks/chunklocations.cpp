#include "chunks/chunklocations.h"

std::size_t ChunkLocations::addFile(const QByteArray &path)
{
    files.push_back(path);
    return files.size() - 1;
}

void ChunkLocations::add(const ChunkHash &hash, std::size_t file, qint64 offset)
{
    where.emplace(hash, Location{file, offset});
}

void ChunkLocations::addIndexedFile(const QByteArray &path, const ChunkIndex &index)
{
    const std::size_t file = addFile(path);
    qint64 offset = 0;
    for (const IndexedChunk &chunk : index.chunks) {
        add(chunk.hash, file, offset);
        offset += chunk.size;
    }
}

const ChunkLocations::Location *ChunkLocations::find(const ChunkHash &hash) const
{
    const auto found = where.find(hash);
    return found == where.end() ? nullptr : &found->second;
}
