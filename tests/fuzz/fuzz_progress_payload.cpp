// Feeds arbitrary bytes to the progress payload decoder, as a sender on the channel could,
// and checks what it decides against the three repaint cases.
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include <QByteArrayView>

#include "hook/ProgressPayload.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Multi-byte decoding is where a cut payload can go wrong.
    std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView payload(data, static_cast<qsizetype>(size));
    const hook::ProgressDecision decision =
        hook::decodeProgressMessage(hook::kProgressKind, payload);
    switch (decision.repaintCase) {
    case hook::RepaintCase::None:
    case hook::RepaintCase::Idle:
    case hook::RepaintCase::Finished:
        if (decision.percent != 0)
            __builtin_trap();
        break;
    case hook::RepaintCase::Processing:
        // Just below 1 the fraction may round up to 100 in single precision.
        if (!std::isfinite(decision.percent) || decision.percent > 100)
            __builtin_trap();
        break;
    }
    // Whatever the bytes, only the first kPayloadLimit of them may matter.
    if (size > static_cast<std::size_t>(hook::kPayloadLimit)) {
        const hook::ProgressDecision cut =
            hook::decodeProgressMessage(hook::kProgressKind, payload.first(hook::kPayloadLimit));
        if (cut.repaintCase != decision.repaintCase || cut.percent != decision.percent)
            __builtin_trap();
    }
    return 0;
}
