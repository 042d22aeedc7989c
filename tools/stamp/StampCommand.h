#pragma once

#include <QString>
#include <QStringList>

namespace stamp {

struct Result {
    int exitCode = 0;
    QString output; // for stdout
    QString error;  // one line for stderr, without the program name
};

// Usage:
//   write IN OUT --name NAME --id N [--style N] [--color C] [--special-color C] [--portal URL]
//         [--public-key KEY|FILE.pub [--public-key KEY2|FILE2.pub]] [--require-release-info]
//   show EXE
//   --help | --version   (the answer on stdout, exit 0)
// Options take their value as "--name VALUE" or "--name=VALUE" (toolcommandline's syntax).
// Exit codes: toolcommandline::ExitCode (0 done, 1 failed or no settings, 2 usage).
// Colours are decimal OLE values (0..16777215) or #RRGGBB. The public key is the minisign
// key the copy checks package signatures with: its base64 line or a .pub file.
Result run(const QStringList &args);

} // namespace stamp
