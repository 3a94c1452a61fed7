#include "chunks/indexpages.h"

#include "transfer/sha256.h"

#include <QtEndian>

#include <cstring>

namespace {

const char pagesMagic[4] = {'L', 'C', 'P', '1'};
constexpr std::size_t headerSize = 4 + 3 * 4 + 8 + 4;
constexpr std::size_t pageEntrySize = 32 + 4 + 8;
// About 256 chunks a page, 5 KB of entries for 2 MiB of file: an insertion costs
// a few pages, and a gigabyte's list is about 20 KB.
constexpr std::uint32_t pageEndMask = 255;
constexpr std::uint32_t maximumPageChunks = 4096;

template <typename T> void append(QByteArray &bytes, T value)
{
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, int(sizeof(T)));
}

bool endsPage(const ChunkHash &hash)
{
    return (qFromLittleEndian<quint32>(hash.data()) & pageEndMask) == 0;
}

} // namespace

std::vector<PageSpan> pageSpans(const std::vector<IndexedChunk> &chunks)
{
    std::vector<PageSpan> spans;
    std::size_t first = 0;
    for (std::size_t at = 0; at < chunks.size(); ++at)
        if (endsPage(chunks[at].hash) || at + 1 - first == maximumPageChunks || at + 1 == chunks.size()) {
            spans.push_back({first, at + 1});
            first = at + 1;
        }
    return spans;
}

QByteArray pageEntries(const std::vector<IndexedChunk> &chunks, const PageSpan &span)
{
    return chunkEntries(chunks.data() + span.first, chunks.data() + span.last);
}

IndexPages pagesOf(const ChunkIndex &index, std::vector<QByteArray> *entries)
{
    IndexPages pages{index.parameters, index.fileSize, {}};
    for (const PageSpan &span : pageSpans(index.chunks)) {
        QByteArray raw = pageEntries(index.chunks, span);
        IndexPage page{Sha256::hexOf(raw), std::uint32_t(span.last - span.first), 0};
        for (std::size_t at = span.first; at < span.last; ++at)
            page.bytes += index.chunks[at].size;
        pages.pages.push_back(page);
        if (entries)
            entries->push_back(std::move(raw));
    }
    return pages;
}

QByteArray IndexPages::serialize() const
{
    QByteArray raw(pagesMagic, 4);
    append(raw, parameters.minimum);
    append(raw, parameters.average);
    append(raw, parameters.maximum);
    append(raw, quint64(fileSize));
    append(raw, quint32(pages.size()));
    for (const IndexPage &page : pages) {
        raw.append(QByteArray::fromHex(page.sha256));
        append(raw, page.chunkCount);
        append(raw, quint64(page.bytes));
    }
    return compressDocument(raw);
}

std::optional<IndexPages> IndexPages::parse(const QByteArray &published, qint64 fileSize)
{
    // A page holds at least one chunk of at least 64 bytes.
    const quint64 mostPages = fileSize < 0 ? 0 : quint64(fileSize) / 64 + 1;
    const std::optional<QByteArray> unpacked =
        decompressDocument(published, headerSize, headerSize + pageEntrySize * mostPages);
    if (!unpacked || std::memcmp(unpacked->constData(), pagesMagic, 4) != 0)
        return std::nullopt;
    const char *at = unpacked->constData() + 4;
    IndexPages list;
    list.parameters = {qFromLittleEndian<quint32>(at), qFromLittleEndian<quint32>(at + 4),
                       qFromLittleEndian<quint32>(at + 8)};
    list.fileSize = qint64(qFromLittleEndian<quint64>(at + 12));
    const quint32 count = qFromLittleEndian<quint32>(at + 20);
    if (!list.parameters.isValid() || list.fileSize != fileSize ||
        quint64(unpacked->size()) != headerSize + pageEntrySize * count)
        return std::nullopt;
    qint64 total = 0;
    for (at = unpacked->constData() + headerSize; at != unpacked->constData() + unpacked->size();
         at += pageEntrySize) {
        IndexPage page{QByteArray(at, 32).toHex(), qFromLittleEndian<quint32>(at + 32),
                       qint64(qFromLittleEndian<quint64>(at + 36))};
        // Each page's chunks fit its bytes, so that no page can be larger than its
        // share of the file.
        if (page.chunkCount == 0 || page.chunkCount > maximumPageChunks || page.bytes <= 0 ||
            page.bytes > fileSize - total ||
            quint64(page.bytes) > quint64(page.chunkCount) * list.parameters.maximum)
            return std::nullopt;
        total += page.bytes;
        list.pages.push_back(std::move(page));
    }
    if (total != fileSize)
        return std::nullopt;
    return list;
}

std::optional<std::vector<IndexedChunk>> parsePage(const QByteArray &published, const IndexPage &page)
{
    const quint64 size = quint64(page.chunkCount) * chunkEntrySize;
    const std::optional<QByteArray> raw = decompressDocument(published, size, size);
    if (!raw || Sha256::hexOf(*raw) != page.sha256)
        return std::nullopt;
    std::vector<IndexedChunk> chunks;
    chunks.reserve(page.chunkCount);
    readChunkEntries(raw->constData(), page.chunkCount, chunks);
    return chunks;
}

QByteArray indexPagesPath(const QByteArray &pagesSha256)
{
    const QByteArray hex = pagesSha256.toLower();
    return "chunks/" + hex.left(2) + '/' + hex + ".pgs";
}

QByteArray indexPagePath(const QByteArray &pageSha256)
{
    return "chunks/" + pageSha256.left(2) + '/' + pageSha256 + ".idp";
}
