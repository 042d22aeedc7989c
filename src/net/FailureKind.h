#pragma once

namespace net {

// What kind of failure ended a read or its publication, so that a receiver can tell the user
// the right thing without reading the text beside it.
enum class FailureKind {
    None,             // no failure, or one its reporter did not classify
    Network,          // the connection or the transfer broke down
    ServerAnswer,     // the server answered with an error or no content
    Lie,              // the answer contradicts itself or what was promised about it
    Disk,             // the bytes could not be written, flushed or moved into place
    RefusedSignature, // the package is not what its vendor signed
    RefusedArchive,   // the package is no complete archive
};

} // namespace net
