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
//   show EXE
// Colours are decimal OLE values (0..16777215) or #RRGGBB.
Result run(const QStringList &args);

} // namespace stamp
