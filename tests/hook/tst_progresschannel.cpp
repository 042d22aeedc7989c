// The channel through a real socket: senders on their own threads (as separate processes
// would be), the updater's side on the test's GUI thread.
#include <atomic>
#include <clocale>
#include <cstring>
#include <future>
#include <memory>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include "RecordingWindow.h"
#include "hook/ProgressChannel.h"
#include "hook/ProgressHook.h"
#include "hook/ProgressSender.h"

using namespace hook;
using namespace std::chrono_literals;

namespace {

QByteArray wireMessage(quint32 dwData, quint32 cbData, const QByteArray &payload) {
    QByteArray bytes(kHeaderSize, '\0');
    qToLittleEndian(dwData, bytes.data());
    qToLittleEndian(cbData, bytes.data() + 4);
    return bytes + payload;
}

QByteArray progress(double fraction) {
    return "Trancel1_ProgressValue?" + QByteArray::number(fraction);
}

// Keeps the GUI thread serving until the sender on another thread is done.
template <typename T> bool serveUntilReady(const std::future<T> &future, int milliseconds = 10000) {
    const QDeadlineTimer deadline(milliseconds);
    while (future.wait_for(0ms) != std::future_status::ready) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(2);
    }
    return true;
}

std::future<SendResult> sendAsync(quint32 dwData, QByteArray payload, int timeoutMs = 5000) {
    const QString path = channelSocketPath();
    return std::async(std::launch::async,
                      [=] { return sendCopyData(dwData, payload, timeoutMs, path); });
}

mode_t modeOf(const QString &path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// A socket file as a crashed updater leaves it: bound, never served, never removed.
bool leaveStaleSocket(const QString &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path);
}

} // namespace

class tst_ProgressChannel : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_runtime;
    QObject m_updater;

private slots:
    void initTestCase() { QVERIFY(std::setlocale(LC_ALL, "C.UTF-8") != nullptr); }

    void init() {
        m_runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(m_runtime->isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime->path()));
    }
    void cleanup() { m_runtime.reset(); }

    void payloadExamples_data() { addPayloadExamples(); }
    void payloadExamples() {
        QFETCH(quint32, dwData);
        QFETCH(QByteArray, payload);
        QFETCH(bool, repaints);
        QFETCH(QString, status);
        QFETCH(float, percent);
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QVERIFY(hook.InstallProgressHook(&m_updater));
        QVERIFY2(hook.channel()->isListening(), qPrintable(hook.channel()->errorString()));

        auto sent = sendAsync(dwData, payload);
        QVERIFY(serveUntilReady(sent));
        const SendResult result = sent.get();
        QCOMPARE(result.outcome, SendOutcome::Answered);
        QCOMPARE(result.answer, 0);
        QVERIFY(matchesExample(window, repaints, status, percent));
    }

    // The sender's call returns only after the window has been repainted.
    void answerComesAfterRepaint() {
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QVERIFY(hook.InstallProgressHook(&m_updater));
        std::atomic<bool> answered = false;
        bool answeredBeforeRepaintEnded = true;
        window.duringReDraw = [&] {
            // Long enough for an early answer to reach the waiting sender.
            QThread::msleep(300);
            answeredBeforeRepaintEnded = answered.load();
        };
        const QString path = channelSocketPath();
        auto sent = std::async(std::launch::async, [&] {
            const SendResult result = sendCopyData(3, progress(0.5), 5000, path);
            answered = true;
            return result;
        });
        QVERIFY(serveUntilReady(sent));
        QCOMPARE(sent.get().outcome, SendOutcome::Answered);
        QCOMPARE(window.repaints.size(), 1);
        QVERIFY(!answeredBeforeRepaintEnded);
    }

    void severalMessagesOnOneConnection() {
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QVERIFY(hook.InstallProgressHook(&m_updater));
        const QString path = channelSocketPath();
        auto answers = std::async(std::launch::async, [path] {
            QLocalSocket socket;
            socket.connectToServer(path);
            if (!socket.waitForConnected(5000))
                return -1;
            QByteArray all;
            for (double fraction : {0.1, 0.2, 0.3})
                all += wireMessage(3, static_cast<quint32>(progress(fraction).size()),
                                   progress(fraction));
            socket.write(all);
            socket.waitForBytesWritten(5000);
            while (socket.bytesAvailable() < 3 * kAnswerSize) {
                if (!socket.waitForReadyRead(5000))
                    return -2;
            }
            return static_cast<int>(socket.bytesAvailable() / kAnswerSize);
        });
        QVERIFY(serveUntilReady(answers));
        QCOMPARE(answers.get(), 3);
        QCOMPARE(window.repaints.size(), 3);
        QCOMPARE(window.repaints[0].lPercentValue, 10.0f);
        QCOMPARE(window.repaints[1].lPercentValue, 20.0f);
        QCOMPARE(window.repaints[2].lPercentValue, 30.0f);
    }

    void concurrentSenders() {
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QVERIFY(hook.InstallProgressHook(&m_updater));
        int depth = 0;
        int deepest = 0;
        window.duringReDraw = [&] {
            ++depth;
            deepest = std::max(deepest, depth);
            QThread::msleep(2); // give the other senders a chance to cut in
            --depth;
        };
        constexpr int senders = 8;
        constexpr int messagesEach = 5;
        std::vector<std::future<int>> futures;
        const QString path = channelSocketPath();
        for (int s = 0; s < senders; ++s) {
            futures.push_back(std::async(std::launch::async, [s, path] {
                int answered = 0;
                for (int m = 0; m < messagesEach; ++m) {
                    const double fraction = (s * messagesEach + m + 1) / 100.0;
                    if (sendCopyData(3, progress(fraction), 10000, path).outcome ==
                        SendOutcome::Answered)
                        ++answered;
                }
                return answered;
            }));
        }
        for (auto &future : futures) {
            QVERIFY(serveUntilReady(future, 30000));
            QCOMPARE(future.get(), messagesEach);
        }
        QCOMPARE(window.repaints.size(), senders * messagesEach);
        QCOMPARE(deepest, 1);
        QList<int> percents;
        for (const auto &repaint : std::as_const(window.repaints))
            percents.append(qRound(repaint.lPercentValue));
        std::sort(percents.begin(), percents.end());
        for (int i = 0; i < percents.size(); ++i)
            QCOMPARE(percents[i], i + 1);
    }

    void failingRepaintIsStillAnswered() {
        RecordingWindow window;
        HookWindow bound = window.bind();
        bound.ReDraw = [](const QString &, qint32, const QString &, const QString &, float,
                          qint32) { throw std::runtime_error("repaint"); };
        ProgressHook hook(bound);
        QVERIFY(hook.InstallProgressHook(&m_updater));
        auto sent = sendAsync(3, progress(0.5));
        QVERIFY(serveUntilReady(sent));
        QCOMPARE(sent.get().outcome, SendOutcome::Answered);
    }

    void staleSocketIsReplaced() {
        const QString folder = channelFolder();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
        QVERIFY(leaveStaleSocket(channelSocketPath()));

        int delivered = 0;
        ProgressChannel channel([&](const CopyDataStruct &) { return ++delivered, 0; });
        QVERIFY2(channel.listen(), qPrintable(channel.errorString()));
        auto sent = sendAsync(3, progress(0.5));
        QVERIFY(serveUntilReady(sent));
        QCOMPARE(sent.get().outcome, SendOutcome::Answered);
        QCOMPARE(delivered, 1);
    }

    void liveSocketIsNotStolen() {
        int first = 0;
        int second = 0;
        ProgressChannel running([&](const CopyDataStruct &) { return ++first, 0; });
        QVERIFY2(running.listen(), qPrintable(running.errorString()));
        auto later =
            std::make_unique<ProgressChannel>([&](const CopyDataStruct &) { return ++second, 0; });
        QVERIFY(!later->listen());
        QVERIFY(later->errorString().contains(QStringLiteral("another running updater")));
        QVERIFY(!later->isListening());

        auto sent = sendAsync(3, progress(0.5));
        QVERIFY(serveUntilReady(sent));
        QCOMPARE(sent.get().outcome, SendOutcome::Answered);
        QCOMPARE(first, 1);
        QCOMPARE(second, 0);

        // Once the first updater has gone, a new one takes the channel.
        running.close();
        QVERIFY(!QFileInfo::exists(channelSocketPath()));
        QVERIFY2(later->listen(), qPrintable(later->errorString()));
        auto again = sendAsync(3, progress(0.5));
        QVERIFY(serveUntilReady(again));
        QCOMPARE(again.get().outcome, SendOutcome::Answered);
        QCOMPARE(second, 1);
    }

    void folderAndSocketPermissions_data() {
        QTest::addColumn<int>("existingMode"); // 0: the folder does not exist yet
        QTest::newRow("new folder") << 0;
        QTest::newRow("open folder is narrowed") << 0755;
        QTest::newRow("private folder") << 0700;
    }
    void folderAndSocketPermissions() {
        QFETCH(int, existingMode);
        const QString folder = channelFolder();
        if (existingMode != 0) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(::chmod(QFile::encodeName(folder).constData(),
                            static_cast<mode_t>(existingMode)) == 0);
        }
        const mode_t oldMask = ::umask(0); // the modes must not depend on the user's mask
        ProgressChannel channel([](const CopyDataStruct &) { return 0; });
        const bool listening = channel.listen();
        ::umask(oldMask);
        QVERIFY2(listening, qPrintable(channel.errorString()));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(channelSocketPath()), mode_t(0600));
    }

    void unsafeFolderIsRefused_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to another folder") << "link";
        QTest::newRow("file in its place") << "file";
    }
    void unsafeFolderIsRefused() {
        QFETCH(QString, kind);
        const QString folder = channelFolder();
        const QString elsewhere = m_runtime->filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere));
        if (kind == QStringLiteral("link")) {
            QVERIFY(QFile::link(elsewhere, folder));
        } else {
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        ProgressChannel channel([](const CopyDataStruct &) { return 0; });
        QVERIFY(!channel.listen());
        QVERIFY(!channel.errorString().isEmpty());
        QVERIFY(QDir(elsewhere).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System));
        QVERIFY(sendCopyData(3, progress(0.5), 1000).outcome != SendOutcome::Answered);
    }

    void fallbackFolderWithoutRuntimeDir() {
        qunsetenv("XDG_RUNTIME_DIR");
        const QByteArray oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_runtime->path()));
        const QString expected = m_runtime->path() + QStringLiteral("/update-tool-") +
                                 QString::number(::geteuid()) + QStringLiteral("/progress.sock");
        const QString path = channelSocketPath();
        int delivered = 0;
        {
            ProgressChannel channel([&](const CopyDataStruct &) { return ++delivered, 0; });
            const bool listening = channel.listen();
            if (listening) {
                auto sent = sendAsync(3, progress(0.5));
                QVERIFY(serveUntilReady(sent));
                QCOMPARE(sent.get().outcome, SendOutcome::Answered);
            }
            if (oldTemp.isNull())
                qunsetenv("TMPDIR");
            else
                qputenv("TMPDIR", oldTemp);
            QVERIFY2(listening, qPrintable(channel.errorString()));
        }
        QCOMPARE(path, expected);
        QCOMPARE(delivered, 1);
    }

    // A sender that stops mid-message is dropped after the timeout; meanwhile the window
    // keeps serving everybody else.
    void truncatedSenderIsDropped() {
        int delivered = 0;
        ProgressChannel channel([&](const CopyDataStruct &) { return ++delivered, 0; });
        channel.setMessageTimeout(1000);
        QVERIFY2(channel.listen(), qPrintable(channel.errorString()));

        QLocalSocket stalled;
        stalled.connectToServer(channel.socketPath());
        QVERIFY(stalled.waitForConnected(1000));
        stalled.write(wireMessage(3, 100, "Trancel1_P"));
        stalled.flush();

        auto sent = sendAsync(3, progress(0.5));
        QVERIFY(serveUntilReady(sent));
        QCOMPARE(sent.get().outcome, SendOutcome::Answered);
        QCOMPARE(delivered, 1);

        QTRY_COMPARE_WITH_TIMEOUT(stalled.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(stalled.bytesAvailable(), qint64(0));
        QCOMPARE(delivered, 1);
        QTRY_COMPARE(channel.connectionCount(), 0);
    }

    void declaredLengthIsCapped_data() {
        QTest::addColumn<quint32>("cbData");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exactly the limit") << kMessageLimit << true;
        QTest::newRow("one byte more") << kMessageLimit + 1 << false;
        QTest::newRow("four gigabytes") << 0xFFFFFFFFu << false;
    }
    void declaredLengthIsCapped() {
        QFETCH(quint32, cbData);
        QFETCH(bool, accepted);
        RecordingWindow window;
        ProgressHook hook(window.bind());
        ProgressChannel channel([&](const CopyDataStruct &record) {
            hook.HandleCopyData(&record);
            return 0;
        });
        // Long enough that only the cap can explain a prompt drop.
        channel.setMessageTimeout(60000);
        QVERIFY2(channel.listen(), qPrintable(channel.errorString()));

        QByteArray payload = progress(0.5);
        if (accepted)
            payload.append(QByteArray(static_cast<qsizetype>(cbData) - payload.size(), '\0'));
        const QString path = channel.socketPath();
        auto outcome = std::async(std::launch::async, [=] {
            QLocalSocket socket;
            socket.connectToServer(path);
            if (!socket.waitForConnected(5000))
                return QByteArray("no connection");
            socket.write(wireMessage(3, cbData, payload));
            socket.waitForBytesWritten(5000);
            while (socket.bytesAvailable() < kAnswerSize) {
                if (!socket.waitForReadyRead(10000))
                    return socket.state() == QLocalSocket::ConnectedState ? QByteArray("timeout")
                                                                          : QByteArray("dropped");
            }
            return QByteArray("answered");
        });
        QVERIFY(serveUntilReady(outcome, 15000));
        QCOMPARE(outcome.get(), accepted ? QByteArray("answered") : QByteArray("dropped"));
        QCOMPARE(window.repaints.size(), accepted ? 1 : 0);
    }

    void senderRefusesOversizePayload() {
        const SendResult result = sendCopyData(3, QByteArray(kMessageLimit + 1, 'a'), 1000);
        QCOMPARE(result.outcome, SendOutcome::TooLong);
    }

    void notifyTool_data() {
        QTest::addColumn<QString>("updater"); // "hook", "silent" or "none"
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("repaints");
        QTest::newRow("answered") << "hook" << QStringList{"Trancel1_ProgressValue?0.5"} << 0
                                  << QString() << 1;
        QTest::newRow("other kind")
            << "hook" << QStringList{"--kind", "1", "Trancel1_ProgressValue?0.5"} << 0 << QString()
            << 0;
        QTest::newRow("no updater") << "none" << QStringList{"Trancel1_ProgressValue?0.5"} << 1
                                    << "no updater is listening" << 0;
        QTest::newRow("no answer")
            << "silent" << QStringList{"--timeout", "300", "Trancel1_ProgressValue?0.5"} << 3
            << "did not answer" << 0;
        QTest::newRow("no text") << "hook" << QStringList{} << 2 << "exactly one TEXT" << 0;
        QTest::newRow("bad kind") << "hook" << QStringList{"--kind", "x", "a"} << 2 << "--kind"
                                  << 0;
    }
    void notifyTool() {
        QFETCH(QString, updater);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(int, repaints);
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QLocalServer silent;
        if (updater == QStringLiteral("hook")) {
            QVERIFY(hook.InstallProgressHook(&m_updater));
        } else if (updater == QStringLiteral("silent")) {
            QVERIFY(QDir().mkpath(channelFolder()));
            QVERIFY(silent.listen(channelSocketPath()));
        }

        QProcess notify;
        notify.start(QStringLiteral(NOTIFY_BINARY), arguments);
        QVERIFY(notify.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(notify.state(), QProcess::NotRunning, 10000);
        const QString errors = QString::fromUtf8(notify.readAllStandardError());
        QCOMPARE(notify.exitStatus(), QProcess::NormalExit);
        QCOMPARE(notify.exitCode(), exitCode);
        if (message.isEmpty()) {
            QVERIFY2(errors.isEmpty(), qPrintable(errors));
        } else {
            QVERIFY2(errors.contains(message), qPrintable(errors));
            QCOMPARE(errors.count(u'\n'), 1);
        }
        QCOMPARE(window.repaints.size(), repaints);
        if (repaints == 1)
            QCOMPARE(window.repaints.first().lPercentValue, 50.0f);
    }
};

QTEST_GUILESS_MAIN(tst_ProgressChannel)
#include "tst_progresschannel.moc"
