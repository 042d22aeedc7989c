#include "net/BoundedAccessManager.h"

#include <QNetworkProxyFactory>

#include "net/BoundedHttpReply.h"

namespace net {

BoundedAccessManager::BoundedAccessManager(QObject *parent)
    : QNetworkAccessManager(parent) {}

QNetworkReply *BoundedAccessManager::createRequest(Operation op, const QNetworkRequest &request,
                                                   QIODevice *outgoingData) {
    const QString scheme = request.url().scheme().toLower();
    if (op != GetOperation || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QNetworkAccessManager::createRequest(op, request, outgoingData);

    const QVariant asked = request.attribute(QNetworkRequest::RedirectPolicyAttribute);
    const auto policy =
        asked.isValid() ? QNetworkRequest::RedirectPolicy(asked.toInt()) : redirectPolicy();
    QNetworkProxy chosen = proxy();
    if (chosen.type() == QNetworkProxy::DefaultProxy) {
        const QNetworkProxyQuery query(request.url());
        const QList<QNetworkProxy> offered = proxyFactory()
                                                 ? proxyFactory()->queryProxy(query)
                                                 : QNetworkProxyFactory::proxyForQuery(query);
        chosen = offered.value(0, QNetworkProxy(QNetworkProxy::NoProxy));
    }
    return new BoundedHttpReply(request, policy, chosen, this);
}

} // namespace net
