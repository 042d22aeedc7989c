// The channel through a real socket: senders on their own threads (as separate processes
// would be), the updater's side on the test's GUI thread.
#include <atomic>
#include <clocale>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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

#include "ProgressMessageExamples.h"
#include "RecordingWindow.h"
#include "hook/ProgressChannel.h"
#include "hook/ProgressHook.h"
#include "support/DataRows.h"
#include "update-tool/progress.h"

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

struct SendResult {
    utp_status outcome = UTP_IO_ERROR;
    qint32 answer = -1;
};

SendResult sendCopyData(quint32 dwData, const QByteArray &payload, int timeoutMs,
                        const QString &path = channelSocketPath()) {
    SendResult result;
    result.outcome = utp_notify(QFile::encodeName(path).constData(), dwData, payload.constData(),
                                static_cast<size_t>(payload.size()), timeoutMs, &result.answer);
    return result;
}

std::future<SendResult> sendAsync(quint32 dwData, QByteArray payload, int timeoutMs = 5000) {
    const QString path = channelSocketPath();
    return std::async(std::launch::async,
                      [=] { return sendCopyData(dwData, payload, timeoutMs, path); });
}

// Whether an updater's channel listening on `path` receives one message that the library
// sends to the path it resolves itself.
bool channelReceivesOneMessage(const QString &path = channelSocketPath()) {
    int delivered = 0;
    // An answer with every byte set arrives whole.
    ProgressChannel channel([&](const CopyDataStruct &) { return ++delivered, -2; });
    if (!channel.listen(path)) {
        qWarning("%s", qPrintable(channel.errorString()));
        return false;
    }
    const QByteArray payload = progress(0.5);
    qint32 answer = 0;
    auto sent = std::async(std::launch::async, [payload, &answer] {
        return utp_notify(nullptr, UTP_KIND_PROGRESS, payload.constData(), size_t(payload.size()),
                          5000, &answer);
    });
    return serveUntilReady(sent) && sent.get() == UTP_OK && delivered == 1 && answer == -2;
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

// A listener in a child process, as another local user would run it: it binds `path`, runs
// as `uid` from then on (the kernel tells a connecting peer the user that called listen),
// and reports through a pipe each message bytes it receives. Its folder is set up by the test.
class ForeignListener {
public:
    ForeignListener(const QString &path, uid_t uid) {
        const QByteArray name = QFile::encodeName(path);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_report = fds[0];
        m_child = ::fork();
        if (m_child == 0) {
            // Only system calls from here on: the test process has threads.
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, name.constData(),
                        std::min<size_t>(size_t(name.size()), sizeof address.sun_path - 1));
            if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
                ::setgid(uid) != 0 || ::setuid(uid) != 0 || ::listen(fd, 8) != 0)
                ::_exit(1);
            ::write(fds[1], "L", 1);
            for (;;) {
                const int connection = ::accept(fd, nullptr, nullptr);
                if (connection < 0)
                    continue;
                char bytes[256];
                if (::read(connection, bytes, sizeof bytes) > 0) {
                    ::write(fds[1], "M", 1);
                    ::write(connection, "\0\0\0\0", 4);
                }
                ::close(connection);
            }
        }
        ::close(fds[1]);
    }
    ~ForeignListener() {
        if (m_child > 0) {
            ::kill(m_child, SIGKILL);
            ::waitpid(m_child, nullptr, 0);
        }
        if (m_report >= 0)
            ::close(m_report);
    }
    Q_DISABLE_COPY_MOVE(ForeignListener)

    bool listening() { return next(5000) == 'L'; }
    bool received() { return next(200) == 'M'; }

private:
    char next(int timeoutMs) {
        pollfd entry{m_report, POLLIN, 0};
        char byte = 0;
        if (m_child > 0 && ::poll(&entry, 1, timeoutMs) == 1 && ::read(m_report, &byte, 1) == 1)
            return byte;
        return 0;
    }

    pid_t m_child = -1;
    int m_report = -1;
};

// A listener that takes connections but never accepts them, until the kernel's queue of
// waiting connections is full.
struct FullListener {
    int fd = -1;
    QList<int> waiting;
    bool fill(const QString &path) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(fd, 0) != 0)
            return false;
        for (int i = 0; i < 64; ++i) {
            const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            waiting.append(client);
            if (::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                return errno == EAGAIN;
        }
        return false;
    }
    ~FullListener() {
        for (int client : std::as_const(waiting))
            ::close(client);
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

class tst_ProgressChannel : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_runtime;
    QObject m_updater;
    QByteArray m_home;
    QByteArray m_temp;

    static void restore(const char *name, const QByteArray &value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

private slots:
    void initTestCase() {
        QVERIFY(std::setlocale(LC_ALL, "C.UTF-8") != nullptr);
        m_home = qgetenv("HOME");
        m_temp = qgetenv("TMPDIR");
    }

    void init() {
        m_runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(m_runtime->isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime->path()));
        // Nothing a test does may reach the real home or temporary folder.
        qputenv("HOME", QFile::encodeName(m_runtime->filePath(QStringLiteral("home"))));
        qputenv("TMPDIR", QFile::encodeName(m_runtime->filePath(QStringLiteral("tmp"))));
    }
    void cleanup() {
        restore("HOME", m_home);
        restore("TMPDIR", m_temp);
        m_runtime.reset();
    }

    void payloadExamples_data() { addPayloadExamples(); }
    void payloadExamples() {
        const PayloadExample example = fetchPayloadExample();
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QVERIFY(hook.InstallProgressHook(&m_updater));
        QVERIFY2(hook.channel()->isListening(), qPrintable(hook.channel()->errorString()));

        auto sent = sendAsync(example.dwData, example.payload);
        QVERIFY(serveUntilReady(sent));
        const SendResult result = sent.get();
        QCOMPARE(result.outcome, UTP_OK);
        QCOMPARE(result.answer, 0);
        QVERIFY(matchesExample(window, example));
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
        QCOMPARE(sent.get().outcome, UTP_OK);
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

    // The engine's way: one connection for a whole conversion, a message per step.
    void keptConnectionCarriesManyMessages() {
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QVERIFY(hook.InstallProgressHook(&m_updater));
        constexpr int messages = 1000;
        std::promise<void> sentAll;
        std::promise<void> mayClose;
        auto answered = std::async(std::launch::async, [&] {
            utp_conn *connection = nullptr;
            int count = 0;
            if (utp_open(&connection, nullptr, 5000) == UTP_OK) {
                for (int i = 1; i <= messages; ++i) {
                    const QByteArray payload = progress(i / double(messages));
                    count += utp_send(connection, UTP_KIND_PROGRESS, payload.constData(),
                                      size_t(payload.size()), nullptr) == UTP_OK;
                }
            }
            sentAll.set_value();
            mayClose.get_future().wait();
            utp_close(connection);
            return count;
        });
        QVERIFY(serveUntilReady(sentAll.get_future(), 60000));
        QCOMPARE(hook.channel()->connectionCount(), 1);
        mayClose.set_value();
        QVERIFY(serveUntilReady(answered));
        QCOMPARE(answered.get(), messages);
        QCOMPARE(window.repaints.size(), messages);
        QCOMPARE(window.repaints[messages / 2 - 1].lPercentValue, 50.0f);
    }

    // A kept connection outlives the updater's end of it: the next message goes out on a
    // fresh connection, once.
    void keptConnectionReconnects_data() {
        testsupport::addRows<bool>(
            "restart", {{"updater restarted", true}, {"idle connection dropped", false}});
    }
    void keptConnectionReconnects() {
        QFETCH(bool, restart);
        int delivered = 0;
        const auto makeChannel = [&] {
            auto channel = std::make_unique<ProgressChannel>(
                [&](const CopyDataStruct &) { return ++delivered, 0; });
            channel->setMessageTimeout(300);
            return channel;
        };
        auto channel = makeChannel();
        QVERIFY2(channel->listen(), qPrintable(channel->errorString()));
        utp_conn *connection = nullptr;
        QCOMPARE(utp_open(&connection, nullptr, 5000), UTP_OK);
        const std::unique_ptr<utp_conn, void (*)(utp_conn *)> closer(connection, utp_close);
        const auto sendOne = [connection] {
            return std::async(std::launch::async, [connection] {
                const QByteArray payload = progress(0.5);
                return utp_send(connection, UTP_KIND_PROGRESS, payload.constData(),
                                size_t(payload.size()), nullptr);
            });
        };
        auto first = sendOne();
        QVERIFY(serveUntilReady(first));
        QCOMPARE(first.get(), UTP_OK);
        if (restart) {
            channel.reset();
            channel = makeChannel();
            QVERIFY2(channel->listen(), qPrintable(channel->errorString()));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(channel->connectionCount(), 0, 5000);
        }
        auto second = sendOne();
        QVERIFY(serveUntilReady(second));
        QCOMPARE(second.get(), UTP_OK);
        QCOMPARE(delivered, 2);
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
                    if (sendCopyData(3, progress(fraction), 10000, path).outcome == UTP_OK)
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
        bound.ReDraw = [](qint32, const QString &, const QString &, float) {
            throw std::runtime_error("repaint");
        };
        ProgressHook hook(bound);
        QVERIFY(hook.InstallProgressHook(&m_updater));
        auto sent = sendAsync(3, progress(0.5));
        QVERIFY(serveUntilReady(sent));
        QCOMPARE(sent.get().outcome, UTP_OK);
    }

    void staleSocketIsReplaced() {
        const QString folder = channelFolder();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
        QVERIFY(leaveStaleSocket(channelSocketPath()));
        QVERIFY(channelReceivesOneMessage());
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
        QCOMPARE(sent.get().outcome, UTP_OK);
        QCOMPARE(first, 1);
        QCOMPARE(second, 0);

        // Once the first updater has gone, a new one takes the channel.
        running.close();
        QVERIFY(!QFileInfo::exists(channelSocketPath()));
        QVERIFY2(later->listen(), qPrintable(later->errorString()));
        auto again = sendAsync(3, progress(0.5));
        QVERIFY(serveUntilReady(again));
        QCOMPARE(again.get().outcome, UTP_OK);
        QCOMPARE(second, 1);
    }

    void folderAndSocketPermissions_data() {
        QTest::addColumn<int>("existingMode"); // 0: the folder does not exist yet
        QTest::newRow("new folder") << 0;
        QTest::newRow("open folder is narrowed") << 0755;
        QTest::newRow("folder open to its group is narrowed") << 0750;
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

    // What another local user (or a careless mode) could put where the channel belongs. The
    // sender delivers nothing there and reports that no updater listens; the updater refuses
    // it too, or, for a name taken in the temporary folder, moves to the home folder.
    void unsafeChannelIsRefused_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("updaterListens");
        QTest::newRow("link to another folder") << "link" << false;
        QTest::newRow("file in its place") << "file" << false;
        QTest::newRow("folder open to others") << "open" << false;
        QTest::newRow("folder open to its group") << "group" << false;
        QTest::newRow("folder of another user") << "foreign folder" << false;
        QTest::newRow("listener of another user") << "foreign listener" << false;
        QTest::newRow("temporary folder of another user") << "squatted" << true;
    }
    void unsafeChannelIsRefused() {
        QFETCH(QString, kind);
        QFETCH(bool, updaterListens);
        constexpr uid_t otherUser = 65534;
        const bool asOtherUser =
            kind == u"foreign listener" || kind == u"squatted" || kind == u"foreign folder";
        if (asOtherUser && ::geteuid() != 0)
            QSKIP("acting as another user needs root");

        const QString elsewhere = m_runtime->filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere));
        std::unique_ptr<ForeignListener> listener;
        if (kind == u"squatted") {
            // Another user was first to take our name in a world-writable temporary folder.
            qunsetenv("XDG_RUNTIME_DIR");
            const QByteArray temp = qgetenv("TMPDIR");
            const QByteArray taken = temp + "/update-tool-" + QByteArray::number(::geteuid());
            QVERIFY(::chmod(QFile::encodeName(m_runtime->path()).constData(), 0711) == 0);
            QVERIFY(::mkdir(temp.constData(), 01777) == 0 && ::chmod(temp.constData(), 01777) == 0);
            QVERIFY(::mkdir(taken.constData(), 0777) == 0 && ::chmod(taken.constData(), 0777) == 0);
            QVERIFY(::chown(taken.constData(), otherUser, otherUser) == 0);
            QVERIFY(QDir().mkpath(qEnvironmentVariable("HOME")));
            listener = std::make_unique<ForeignListener>(
                QFile::decodeName(taken + "/progress.sock"), otherUser);
        } else if (kind == u"link") {
            QVERIFY(QFile::link(elsewhere, channelFolder()));
        } else if (kind == u"file") {
            QFile file(channelFolder());
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QDir().mkpath(channelFolder()));
            const mode_t mode = kind == u"open" ? 0755 : kind == u"group" ? 0750 : 0700;
            QVERIFY(::chmod(QFile::encodeName(channelFolder()).constData(), mode) == 0);
            if (kind == u"foreign folder")
                QVERIFY(::chown(QFile::encodeName(channelFolder()).constData(), otherUser,
                                otherUser) == 0);
            listener = std::make_unique<ForeignListener>(
                channelSocketPath(), kind == u"foreign listener" ? otherUser : ::geteuid());
        }
        if (listener)
            QVERIFY(listener->listening());

        const QByteArray payload = progress(0.5);
        QCOMPARE(utp_notify(nullptr, UTP_KIND_PROGRESS, payload.constData(), size_t(payload.size()),
                            1000, nullptr),
                 UTP_NO_UPDATER);
        if (listener)
            QVERIFY(!listener->received());

        QString note;
        const QString path = channelSocketPath(&note);
        if (!updaterListens) {
            ProgressChannel channel([](const CopyDataStruct &) { return 0; });
            QVERIFY(!channel.listen(path));
            QVERIFY(!channel.errorString().isEmpty());
            QVERIFY(
                QDir(elsewhere).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System));
            return;
        }
        QVERIFY2(path.startsWith(qEnvironmentVariable("HOME") + u'/'), qPrintable(path));
        QVERIFY2(note.contains(u"not a folder of this user"), qPrintable(note));
        QVERIFY(channelReceivesOneMessage(path));
        QVERIFY(!listener->received());
    }

    void fallbackFolderWithoutRuntimeDir() {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_runtime->path()) + "//");
        const QString expected = m_runtime->path() + QStringLiteral("/update-tool-") +
                                 QString::number(::geteuid()) + QStringLiteral("/progress.sock");
        QCOMPARE(channelSocketPath(), expected);
        QVERIFY(channelReceivesOneMessage());
        // A buffer one byte short of the path's end holds no path at all.
        QByteArray buffer(QFile::encodeName(expected).size() + 1, '\0');
        QCOMPARE(utp_socket_path(buffer.data(), size_t(buffer.size())), size_t(buffer.size() - 1));
        QCOMPARE(utp_socket_path(buffer.data(), size_t(buffer.size() - 1)), size_t(0));
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
        QCOMPARE(sent.get().outcome, UTP_OK);
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
            hook.HandleCopyData(record);
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

    // What a sender is told when the updater cannot take its message.
    void senderOutcomes_data() {
        QTest::addColumn<QString>("updater");
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<int>("expected");
        QTest::newRow("no updater") << "none" << qsizetype(30) << int(UTP_NO_UPDATER);
        QTest::newRow("no answer") << "silent" << qsizetype(30) << int(UTP_TIMED_OUT);
        QTest::newRow("queue full") << "full" << qsizetype(30) << int(UTP_TIMED_OUT);
        QTest::newRow("closed unanswered") << "closing" << qsizetype(30) << int(UTP_IO_ERROR);
        QTest::newRow("over the cap, not sent")
            << "silent" << qsizetype(kMessageLimit + 1) << int(UTP_TOO_LARGE);
    }
    void senderOutcomes() {
        QFETCH(QString, updater);
        QFETCH(qsizetype, size);
        QFETCH(int, expected);
        const QString path = channelSocketPath();
        QVERIFY(QDir().mkpath(channelFolder()));
        QVERIFY(::chmod(QFile::encodeName(channelFolder()).constData(), 0700) == 0);
        QLocalServer server;
        FullListener full;
        int connections = 0;
        if (updater == u"full") {
            QVERIFY(full.fill(path));
        } else if (updater != u"none") {
            QVERIFY(server.listen(path));
            connect(&server, &QLocalServer::newConnection, &server, [&] {
                QLocalSocket *socket = server.nextPendingConnection();
                ++connections;
                if (updater == u"closing")
                    connect(socket, &QLocalSocket::readyRead, socket, &QLocalSocket::abort);
            });
        }
        auto sent = sendAsync(3, QByteArray(size, 'a'), 300);
        QVERIFY(serveUntilReady(sent));
        QCOMPARE(int(sent.get().outcome), expected);
        if (expected == UTP_TOO_LARGE) {
            QCOMPARE(connections, 0);
            // A kept connection refuses the same message itself, before writing anything.
            const QByteArray tooLarge(size, 'a');
            auto kept = std::async(std::launch::async, [&] {
                utp_conn *connection = nullptr;
                utp_status status = utp_open(&connection, QFile::encodeName(path).constData(), 300);
                if (status == UTP_OK)
                    status = utp_send(connection, 3, tooLarge.constData(),
                                      static_cast<size_t>(tooLarge.size()), nullptr);
                utp_close(connection);
                return status;
            });
            QVERIFY(serveUntilReady(kept));
            QCOMPARE(int(kept.get()), int(UTP_TOO_LARGE));
        }
    }

    // Each connection keeps its own failure text: a failure of another does not rewrite it.
    void errorTextBelongsToItsConnection() {
        utp_conn *first = nullptr;
        utp_conn *second = nullptr;
        QCOMPARE(utp_open(&first, "/nonexistent/first.sock", 100), UTP_NO_UPDATER);
        const QByteArray text = utp_error(first);
        QCOMPARE(utp_open(&second, "/nonexistent/second.sock", 100), UTP_NO_UPDATER);
        QCOMPARE(QByteArray(utp_error(first)), text);
        QVERIFY2(text.contains("first.sock") && QByteArray(utp_error(second)).contains("second"),
                 text.constData());
        utp_close(first);
        utp_close(second);
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
        QTest::newRow("other kind after =")
            << "hook" << QStringList{"--kind=1", "Trancel1_ProgressValue?0.5"} << 0 << QString()
            << 0;
        QTest::newRow("no updater") << "none" << QStringList{"Trancel1_ProgressValue?0.5"} << 1
                                    << "no updater is listening" << 0;
        QTest::newRow("no answer")
            << "silent" << QStringList{"--timeout", "300", "Trancel1_ProgressValue?0.5"} << 1
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
            QVERIFY(::chmod(QFile::encodeName(channelFolder()).constData(), 0700) == 0);
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
