#pragma once

#include "chunks/chunkindex.h"

#include <QByteArray>

#include <optional>
#include <vector>

// A large file's index split into pages, so that an update fetches only the pages
// its player does not have: a page ends after a chunk whose hash says so, so an
// insertion or a removal changes only the pages around it, and the player finds
// the others by cutting the version on disk into the same pages.
//
// A page is named by the SHA-256 of its entries as an index stores them, and
// published zstd-compressed in the server's "chunks/" folder; the page list,
// named by its own SHA-256 in the update list beside the whole index, gives the
// file's pages in order.
struct IndexPage {
    QByteArray sha256; // hex
    std::uint32_t chunkCount = 0;
    qint64 bytes = 0;
};

struct IndexPages {
    ChunkParameters parameters;
    qint64 fileSize = 0;
    std::vector<IndexPage> pages;

    // Compressed, as it is published.
    QByteArray serialize() const;
    // Nothing when the bytes are not a page list of a file of fileSize bytes whose
    // pages add up to it.
    static std::optional<IndexPages> parse(const QByteArray &published, qint64 fileSize);
};

// Where pages of chunks[0..] begin and end: [first, last) in chunk positions.
struct PageSpan {
    std::size_t first;
    std::size_t last;
};
std::vector<PageSpan> pageSpans(const std::vector<IndexedChunk> &chunks);

// A page's entries as it is named; its published bytes are their compression.
QByteArray pageEntries(const std::vector<IndexedChunk> &chunks, const PageSpan &span);

// The page list of an index, and its pages' entries in the same order.
IndexPages pagesOf(const ChunkIndex &index, std::vector<QByteArray> *entries = nullptr);

// The page's chunks, or nothing when published is not the page described.
std::optional<std::vector<IndexedChunk>> parsePage(const QByteArray &published, const IndexPage &page);

// "chunks/ab/abcdef....pgs" and "chunks/ab/abcdef....idp".
QByteArray indexPagesPath(const QByteArray &pagesSha256);
QByteArray indexPagePath(const QByteArray &pageSha256);
