#include "platform/Events.h"

#include <QCoreApplication>

namespace platform {

void processPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace platform
