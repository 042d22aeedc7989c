// Downloads one address to one file through the download control and the real read service,
// as the updater does, and prints how long it took and the process's peak memory:
//   bench_download URL SAVE_PATH [KEY.pub FILE.minisig]
// With a minisign public key and signature the file is published only after the signature
// check a copy stamped with that key runs. With BENCH_DELTA_BASE naming the previous package,
// the download starts from it (a delta download) and also prints "delta_used=0|1",
// "delta_server_bytes=N" and "delta_requests=N".
// prints "seconds=S", "bytes=N", "peak_rss_kib=K" and "max_event_gap_ms=G", the longest the
// event loop went without running a 10 ms timer (what the window would be unresponsive for);
// exit status 0 only for a saved file.

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include "download/ctlAsyncDownload.h"
#include "net/NetworkReadService.h"
#include "signing/Minisign.h"
#include "window/PackageSignatureCheck.h"
#include "window/ReleaseCheck.h"

namespace {

struct Sink final : download::ctlAsyncDownloadEvents {
    bool saved = false;
    QString reason;
    void FileSaved(const QString &, const QString &) override { saved = true; }
    void Finished(const net::AsyncProperty &X, std::int32_t) override {
        reason = X.statusText;
        QCoreApplication::quit();
    }
};

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 && args.size() != 5) {
        std::fprintf(stderr, "usage: bench_download URL SAVE_PATH [KEY.pub FILE.minisig]\n");
        return 2;
    }
    net::NetworkReadService service;
    download::ctlAsyncDownload control(service);
    if (args.size() == 5) {
        QFile key(args[3]);
        QFile signature(args[4]);
        if (!key.open(QIODevice::ReadOnly) || !signature.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "bench_download: cannot read the key or the signature\n");
            return 2;
        }
        // The key's base64 line follows the comment line of the .pub file.
        const auto publicKey = signing::parsePublicKey(key.readAll().split('\n').value(1));
        const auto parsed = signing::parseSignature(signature.readAll());
        if (!std::holds_alternative<signing::PublicKey>(publicKey) ||
            !std::holds_alternative<signing::Signature>(parsed)) {
            std::fprintf(stderr, "bench_download: the key or the signature is malformed\n");
            return 2;
        }
        const auto release = std::make_shared<window::SignedRelease>(window::SignedRelease{
            std::get<signing::PublicKey>(publicKey), std::get<signing::Signature>(parsed), {}});
        control.addPublishCheck(
            [release](const QString &, const QString &) {
                return window::packageSignatureCheck(release.get());
            },
            download::ctlAsyncDownload::CheckPlace::First);
    }
    Sink sink;
    control.setEventSink(&sink);
    control.setOverwrite(true);

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    ticker.start(10);
    sinceTick.start();
    QElapsedTimer timer;
    timer.start();
    const QString deltaBase = qEnvironmentVariable("BENCH_DELTA_BASE");
    control.Download(args[1], args[2], deltaBase);
    QCoreApplication::exec();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (!sink.saved) {
        std::fprintf(stderr, "bench_download: the download failed: %s\n", qPrintable(sink.reason));
        std::fprintf(stderr, "seconds=%.3f\nmax_event_gap_ms=%lld\n", seconds,
                     static_cast<long long>(longestGap));
        return 1;
    }
    std::printf("seconds=%.3f\nbytes=%lld\npeak_rss_kib=%ld\nmax_event_gap_ms=%lld\n", seconds,
                static_cast<long long>(QFileInfo(args[2]).size()), usage.ru_maxrss,
                static_cast<long long>(longestGap));
    if (const auto &delta = control.lastDelta())
        std::printf("delta_used=%d\ndelta_server_bytes=%lld\ndelta_requests=%d\n", int(delta->used),
                    static_cast<long long>(delta->report.serverBytes), delta->report.requests);
    return 0;
}
