#pragma once

#include "httpserver/HttpServer.h"

// The tests' portal is the demo portal's HTTP server; the tests know it by these names.
namespace testsupport {

using TestPortal = httpserver::HttpServer;
using PortalResponse = httpserver::Response;
using PortalRequest = httpserver::Request;

} // namespace testsupport
