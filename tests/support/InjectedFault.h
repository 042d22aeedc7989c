#pragma once

#include <dlfcn.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// One failing libc call in a test: the row runs again in a child process under libfiu's
// POSIX preload and tests/chaos/chaos_fault.so, which fails call number `index` of `site`
// (as chaos_fault.c names the functions) made while an `ArmedFault` lives.
namespace testsupport {

// Whether this process is such a child.
inline bool underInjectedFault() {
    return qEnvironmentVariableIsSet("CHAOS_FAULT_SITE");
}

// Counts (and fails) calls only during its life; nothing outside such a child.
class ArmedFault {
public:
    ArmedFault() { call("chaos_arm"); }
    ~ArmedFault() { call("chaos_disarm"); }
    Q_DISABLE_COPY_MOVE(ArmedFault)

private:
    static void call(const char *name) {
        if (auto function = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, name)))
            function();
    }
};

// Runs the current row of the current test function in a child with the fault set; the
// test fails when the child fails or never made that call. Skips without libfiu.
inline void rerunWithFault(const char *site, int index, const char *error) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's runtime must come first among the loaded libraries; the preloaded
    // fault helpers would push it back.
    Q_UNUSED(site)
    Q_UNUSED(index)
    Q_UNUSED(error)
    QSKIP("a failing libc call cannot be injected under AddressSanitizer");
#elif defined(UPDATE_TOOL_FAULT_MODULE) && defined(UPDATE_TOOL_FIU_PRELOAD)
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString fired = scratch.filePath(QStringLiteral("fired"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"),
                       QStringLiteral(UPDATE_TOOL_FAULT_MODULE " " UPDATE_TOOL_FIU_PRELOAD));
    environment.insert(QStringLiteral("CHAOS_FAULT_SITE"), QString::fromLatin1(site));
    environment.insert(QStringLiteral("CHAOS_FAULT_INDEX"), QString::number(index));
    environment.insert(QStringLiteral("CHAOS_FAULT_ERRNO"), QString::fromLatin1(error));
    environment.insert(QStringLiteral("CHAOS_FAULT_FIRED"), fired);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char(':') +
                 QString::fromLatin1(QTest::currentDataTag())});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAll().constData());
    QVERIFY2(QFile::exists(fired), "the call to fail was never made");
#else
    Q_UNUSED(site)
    Q_UNUSED(index)
    Q_UNUSED(error)
    QSKIP("libfiu is not installed");
#endif
}

} // namespace testsupport
