#pragma once

#include <QtGlobal>

namespace hook {

// One copy-data message as a sender hands it over: its kind, its payload's length and the
// payload. `lpData` belongs to whoever delivers the record and is valid only while the
// message is handled.
struct CopyDataStruct {
    quint32 dwData = 0;
    quint32 cbData = 0;
    const char *lpData = nullptr;
};

} // namespace hook
