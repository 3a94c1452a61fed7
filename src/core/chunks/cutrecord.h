#pragma once

#include "chunks/chunkindex.h"

#include <QByteArray>

#include <optional>
#include <vector>

// How an installed file is cut into chunks, kept beside it by the run that put
// it there, so that the next update finds the chunks it already has without
// reading the whole file first (a gigabyte takes over half a second on two
// cores). The record counts only while the file keeps the size and modification
// time it had when it was written. It is never proof of content: a build from
// chunks is checked whole against the list, so a record that lies costs the
// whole file's download, never a wrong file; and a file is never taken for the
// new version on a record's word.
QByteArray cutRecordPath(const QByteArray &localPath);

// Keeps index as the cut of the file at localPath as it now stands; nothing is
// kept when the file is missing or the record cannot be written.
void recordCut(const QByteArray &localPath, const ChunkIndex &index);

// The chunks of the file at localPath, cut with parameters, when a record of
// them was kept since the file last changed.
std::optional<std::vector<IndexedChunk>> recordedCut(const QByteArray &localPath,
                                                     const ChunkParameters &parameters);

void forgetCut(const QByteArray &localPath);

// A file this large is looked at in chunks even when it comes whole, alone: its
// index costs a quarter of a percent of it, and kept as its record it spares the
// next update the reading. A smaller one is cut faster than the index comes.
constexpr qint64 smallestFileRecordedAlone = 64 << 20;
