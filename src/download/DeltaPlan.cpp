#include "download/DeltaPlan.h"

#include <algorithm>

#include <QFileDevice>
#include <QHash>

namespace download {
namespace {

constexpr qint64 LocalHeaderSize = 30;
constexpr std::uint32_t LocalSignature = 0x04034b50;

// The archive's small little-endian fields, as numbers to add to offsets.
qint64 le(QByteArrayView bytes, qint64 at, int width) {
    return qint64(littleEndian(bytes, at, width));
}

QByteArray readAt(QFileDevice &file, qint64 offset, qint64 length) {
    if (!file.seek(offset))
        return {};
    return file.read(length);
}

// Where each entry's extent ends: at the next entry's local header, or at the directory.
std::vector<qint64> extentEnds(const ZipDirectory &directory) {
    std::vector<qint64> offsets;
    offsets.reserve(directory.entries.size());
    for (const ZipEntry &entry : directory.entries)
        offsets.push_back(entry.localHeaderOffset);
    std::sort(offsets.begin(), offsets.end());
    std::vector<qint64> ends;
    ends.reserve(directory.entries.size());
    for (const ZipEntry &entry : directory.entries) {
        const auto next = std::upper_bound(offsets.begin(), offsets.end(), entry.localHeaderOffset);
        ends.push_back(next == offsets.end() ? directory.directoryOffset : *next);
    }
    return ends;
}

} // namespace

std::optional<BaseArchive> readBaseArchive(QFileDevice &file, QString &error) {
    const qint64 size = file.size();
    qint64 tailLength = std::min(size, MaxZipEndRecords);
    QByteArray tail = readAt(file, size - tailLength, tailLength);
    ZipDirectoryResult parsed = parseZipDirectory(tail, size);
    if (parsed.error == ZipDirectoryError::NeedsLongerTail && parsed.tailNeededFrom >= 0 &&
        size - parsed.tailNeededFrom <= MaxZipDirectorySize + MaxZipEndRecords) {
        tail = readAt(file, parsed.tailNeededFrom, size - parsed.tailNeededFrom);
        parsed = parseZipDirectory(tail, size);
    }
    if (!parsed.directory) {
        error = QStringLiteral("the base is no usable archive: %1")
                    .arg(QLatin1String(zipDirectoryErrorText(parsed.error)));
        return std::nullopt;
    }
    BaseArchive base{std::move(*parsed.directory), {}};
    base.dataOffsets.reserve(base.directory.entries.size());
    for (const ZipEntry &entry : base.directory.entries) {
        const QByteArray header = readAt(file, entry.localHeaderOffset, LocalHeaderSize);
        if (header.size() != LocalHeaderSize || le(header, 0, 4) != LocalSignature) {
            error = QStringLiteral("the base has a damaged local header");
            return std::nullopt;
        }
        const qint64 data =
            entry.localHeaderOffset + LocalHeaderSize + le(header, 26, 2) + le(header, 28, 2);
        if (data + entry.compressedSize > base.directory.directoryOffset) {
            error = QStringLiteral("the base has an entry past its directory");
            return std::nullopt;
        }
        base.dataOffsets.push_back(data);
    }
    return base;
}

DeltaPlan planDelta(const BaseArchive &base, const ZipDirectory &target, qint64 tailOffset) {
    DeltaPlan plan;
    plan.size = target.fileSize;
    tailOffset = std::clamp<qint64>(tailOffset, 0, target.fileSize);

    QHash<QByteArray, std::size_t> baseByName;
    for (std::size_t i = base.directory.entries.size(); i-- > 0;)
        baseByName.insert(base.directory.entries[i].name, i);
    const std::vector<qint64> baseEnds = extentEnds(base.directory);
    const std::vector<qint64> targetEnds = extentEnds(target);

    // The copies, each after the local header the plan assumes for it.
    std::vector<DeltaPiece> copies;
    QHash<qint64, LocalHeaderCheck> headerOfCopy;
    for (std::size_t i = 0; i < target.entries.size(); ++i) {
        const ZipEntry &entry = target.entries[i];
        const auto found = baseByName.constFind(entry.name);
        if (found == baseByName.cend() || entry.compressedSize == 0)
            continue;
        const std::size_t b = *found;
        if (!base.directory.entries[b].sameContent(entry))
            continue;
        // Whatever follows the data in the base (a data descriptor) is assumed to follow it
        // here too; the fetched local header proves or disproves the assumption.
        const qint64 trailer = baseEnds[b] - base.dataOffsets[b] - entry.compressedSize;
        const qint64 header =
            targetEnds[i] - entry.localHeaderOffset - entry.compressedSize - trailer;
        if (trailer < 0 || header < LocalHeaderSize + entry.name.size() || header > 0x2ffff)
            continue;
        const qint64 start = entry.localHeaderOffset + header;
        if (start + entry.compressedSize > tailOffset)
            continue; // already in hand
        copies.push_back(
            {DeltaPiece::Source::Base, start, entry.compressedSize, base.dataOffsets[b]});
        headerOfCopy.insert(start, {entry.localHeaderOffset, header, entry.name});
    }
    std::sort(copies.begin(), copies.end(),
              [](const DeltaPiece &a, const DeltaPiece &b) { return a.offset < b.offset; });

    std::vector<DeltaPiece> pieces;
    qint64 at = 0;
    for (const DeltaPiece &copy : copies) {
        if (copy.offset > at)
            pieces.push_back({DeltaPiece::Source::Server, at, copy.offset - at, -1});
        pieces.push_back(copy);
        at = copy.offset + copy.length;
    }
    if (tailOffset > at)
        pieces.push_back({DeltaPiece::Source::Server, at, tailOffset - at, -1});
    if (target.fileSize > tailOffset)
        pieces.push_back({DeltaPiece::Source::Tail, tailOffset, target.fileSize - tailOffset, -1});

    // Small copies between two server pieces are fetched instead, smallest first, within
    // the budget: each saves a request.
    qint64 needed = 0;
    for (const DeltaPiece &piece : pieces)
        if (piece.source == DeltaPiece::Source::Server)
            needed += piece.length;
    std::vector<std::size_t> gaps;
    for (std::size_t i = 1; i + 1 < pieces.size(); ++i)
        if (pieces[i].source == DeltaPiece::Source::Base &&
            pieces[i - 1].source == DeltaPiece::Source::Server &&
            pieces[i + 1].source == DeltaPiece::Source::Server && pieces[i].length <= MaxMergeGap)
            gaps.push_back(i);
    std::sort(gaps.begin(), gaps.end(),
              [&](std::size_t a, std::size_t b) { return pieces[a].length < pieces[b].length; });
    qint64 merged = 0;
    const auto budget = qint64(double(needed) * MergeBudget);
    for (const std::size_t gap : gaps) {
        if (merged + pieces[gap].length > budget)
            break;
        merged += pieces[gap].length;
        pieces[gap].source = DeltaPiece::Source::Server;
        pieces[gap].baseOffset = -1;
    }

    // Adjacent server pieces become one; a header whose copy is now fetched needs no check.
    for (const DeltaPiece &piece : pieces) {
        if (piece.source == DeltaPiece::Source::Server && !plan.pieces.empty() &&
            plan.pieces.back().source == DeltaPiece::Source::Server) {
            plan.pieces.back().length += piece.length;
        } else {
            plan.pieces.push_back(piece);
        }
        if (piece.source == DeltaPiece::Source::Base) {
            plan.baseBytes += piece.length;
            plan.headers.push_back(headerOfCopy.value(piece.offset));
        }
    }
    for (const DeltaPiece &piece : plan.pieces)
        if (piece.source == DeltaPiece::Source::Server) {
            plan.serverBytes += piece.length;
            ++plan.requests;
        }
    return plan;
}

bool matchesLocalHeader(QByteArrayView header, const LocalHeaderCheck &check) {
    if (header.size() != check.length || header.size() < LocalHeaderSize ||
        le(header, 0, 4) != LocalSignature)
        return false;
    const qint64 nameLength = le(header, 26, 2);
    return LocalHeaderSize + nameLength + le(header, 28, 2) == check.length &&
           header.sliced(LocalHeaderSize, nameLength) == check.name;
}

} // namespace download
