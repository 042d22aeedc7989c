#include "support/XvfbSession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>

namespace testsupport {

XvfbSession::~XvfbSession() {
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        if (!m_xvfb.waitForFinished(5000))
            m_xvfb.kill();
        m_xvfb.waitForFinished(2000);
    }
}

bool XvfbSession::toolsAvailable() {
    for (const char *tool : {"Xvfb", "xdotool", "import"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return false;
    return true;
}

bool XvfbSession::start() {
    // A display number nobody holds: no lock file and no socket. UPDATE_TOOL_TEST_DISPLAYS
    // ("110-119") keeps the choice inside a range, where several sessions share a machine.
    int first = 100, count = 800;
    const QStringList range = qEnvironmentVariable("UPDATE_TOOL_TEST_DISPLAYS").split(u'-');
    if (range.size() == 2 && range[0].toInt() > 0 && range[1].toInt() >= range[0].toInt()) {
        first = range[0].toInt();
        count = range[1].toInt() - first + 1;
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int number = first + int(QRandomGenerator::global()->bounded(count));
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) ||
            QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            continue;
        m_display = QStringLiteral(":%1").arg(number);
        m_xvfb.setProcessChannelMode(QProcess::MergedChannels);
        // -noreset: by default the server resets whenever its last client leaves, and a
        // program connecting during that reset (the updater, while xdotool polls for its
        // window) is refused.
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {m_display, QStringLiteral("-screen"), QStringLiteral("0"),
                      QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                      QStringLiteral("tcp"), QStringLiteral("-noreset")});
        if (!m_xvfb.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_xvfb.state() == QProcess::Running) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
                return true;
            QThread::msleep(50);
        }
        m_xvfb.kill();
        m_xvfb.waitForFinished(2000);
    }
    return false;
}

QProcessEnvironment XvfbSession::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("DISPLAY"), m_display);
    return env;
}

QString XvfbSession::run(const QString &program, const QStringList &args, int timeoutMs) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

qulonglong XvfbSession::waitForWindow(const QString &name, int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QString out = run(QStringLiteral("xdotool"),
                                {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                 QStringLiteral("--name"), name});
        const qulonglong id = out.section(u'\n', 0, 0).trimmed().toULongLong();
        if (id != 0)
            return id;
        QThread::msleep(100);
    }
    return 0;
}

QRect XvfbSession::windowGeometry(qulonglong window) const {
    const QString out =
        run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                        QStringLiteral("--shell"), QString::number(window)});
    auto value = [&](const char *key) {
        const QRegularExpression re(QStringLiteral("^%1=(-?\\d+)$").arg(QLatin1String(key)),
                                    QRegularExpression::MultilineOption);
        return re.match(out).captured(1).toInt();
    };
    return QRect(value("X"), value("Y"), value("WIDTH"), value("HEIGHT"));
}

void XvfbSession::click(int x, int y, int button) const {
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(x), QString::number(y),
         QStringLiteral("sleep"), QStringLiteral("0.2"), QStringLiteral("click"),
         QString::number(button)});
}

void XvfbSession::key(const QString &keys) const {
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
}

QImage XvfbSession::screenshot() const {
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/shot-XXXXXX.png"));
    if (!file.open())
        return {};
    file.close();
    run(QStringLiteral("import"),
        {QStringLiteral("-window"), QStringLiteral("root"), file.fileName()});
    return QImage(file.fileName());
}

} // namespace testsupport
