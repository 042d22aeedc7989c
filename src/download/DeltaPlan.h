#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

#include "download/ZipDirectory.h"

class QFileDevice;

// Which bytes of a new zip package can be copied from the previous package (the base) and
// which must come from the server, decided from the new package's central directory alone.
namespace download {

// The base package as the planner needs it: its directory and where each entry's compressed
// bytes start (after its local header), in the directory's order.
struct BaseArchive {
    ZipDirectory directory;
    std::vector<qint64> dataOffsets;
};

// Reads the base's directory and local headers from `file` (open for reading). Nothing, with
// the reason in `error`, when it is no archive the planner can use.
std::optional<BaseArchive> readBaseArchive(QFileDevice &file, QString &error);

struct DeltaPiece {
    enum class Source { Server, Base, Tail };
    Source source = Source::Server;
    qint64 offset = 0; // in the new package
    qint64 length = 0;
    qint64 baseOffset = -1; // with Source::Base
};

// The local header in front of a copied entry, as the plan assumes it: fetched from the
// server, it must say exactly this, or the copy would land in the wrong place.
struct LocalHeaderCheck {
    qint64 offset = 0;
    qint64 length = 0;
    QByteArray name;
};

struct DeltaPlan {
    std::vector<DeltaPiece> pieces; // in order, covering the whole package
    std::vector<LocalHeaderCheck> headers;
    qint64 size = 0;
    qint64 serverBytes = 0; // to fetch, the tail already in hand excluded
    qint64 baseBytes = 0;   // to copy
    int requests = 0;       // one per server piece
};

// Two server pieces with a copy of at most this many bytes between them become one request:
// a request costs a round trip, and 64 KiB take 8 ms at 8 MiB/s, about one round trip
// across a continent.
inline constexpr qint64 MaxMergeGap = 64 * 1024;
// Merged copies may add at most this share of the bytes the plan must fetch anyway, so
// that merging never makes the delta noticeably larger.
inline constexpr double MergeBudget = 0.03;

// The plan for the `target` package whose last bytes from `tailOffset` are in hand. An entry
// is copied when the base has one with the same name, CRC-32, sizes, method and flags;
// everything else is fetched.
DeltaPlan planDelta(const BaseArchive &base, const ZipDirectory &target, qint64 tailOffset);

// Whether `header` (the bytes the server sent at `check.offset`) is the local header the
// plan assumed.
bool matchesLocalHeader(QByteArrayView header, const LocalHeaderCheck &check);

} // namespace download
