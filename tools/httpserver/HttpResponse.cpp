// The answers a route gives, and the ways a test makes them misbehave.
#include "httpserver/HttpServer.h"

namespace httpserver {

Response Response::ok(const QByteArray &body, const QByteArray &contentType) {
    Response response;
    response.body = body;
    response.headers.append({"Content-Type", contentType});
    return response;
}

Response Response::notFound() {
    Response response = ok("<html><body>not found</body></html>", "text/html");
    response.status = 404;
    response.reason = "Not Found";
    return response;
}

Response Response::serverError() {
    Response response = ok("<html><body>server error</body></html>", "text/html");
    response.status = 500;
    response.reason = "Internal Server Error";
    return response;
}

Response Response::redirect(const QByteArray &location, int status) {
    Response response;
    response.status = status;
    response.reason = "Found";
    response.headers.append({"Location", location});
    return response;
}

Response Response::verbatim(const QByteArray &bytes) {
    Response response;
    response.raw = bytes;
    return response;
}

Response &Response::withHeader(const QByteArray &name, const QByteArray &value) {
    headers.append({name, value});
    return *this;
}

Response &Response::closingAfter(qint64 bytes) {
    delivery = Delivery::CloseAfter;
    cut = bytes;
    return *this;
}

Response &Response::stallingAfter(qint64 bytes) {
    delivery = Delivery::StallAfter;
    cut = bytes;
    return *this;
}

Response &Response::dripping(qint64 bytes, int intervalMs) {
    delivery = Delivery::Drip;
    dripBytes = std::max<qint64>(1, bytes);
    dripIntervalMs = intervalMs;
    return *this;
}

Response &Response::withContentLength(qint64 length) {
    contentLength = length;
    return *this;
}

Response &Response::withoutContentLength() {
    sendLength = false;
    return *this;
}

Response &Response::resettingAfter(qint64 bytes) {
    delivery = Delivery::ResetAfter;
    cut = bytes;
    return *this;
}

Response &Response::withEndlessHead() {
    delivery = Delivery::EndlessHead;
    return *this;
}

Response &Response::reconnectingDrip(const QByteArray &value, qint64 bytes) {
    withRanges(value);
    return closingAfter(bytes);
}

Response &Response::withRanges(const QByteArray &value, bool isDate) {
    validator = value;
    validatorIsDate = isDate;
    return *this;
}

} // namespace httpserver
