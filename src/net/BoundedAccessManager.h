#pragma once

#include <QNetworkAccessManager>

namespace net {

// A QNetworkAccessManager whose GET requests over http and https are served by
// BoundedHttpReply (a head of bounded size, a socket closed at once on abort); every other
// request goes to Qt's own implementation. The proxy is the manager's own when one is set,
// else what its factory or the application's proxy settings give for the address.
class BoundedAccessManager final : public QNetworkAccessManager {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BoundedAccessManager)

public:
    explicit BoundedAccessManager(QObject *parent = nullptr);

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData = nullptr) override;
};

} // namespace net
