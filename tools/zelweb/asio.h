// Boost 1.74's Asio uses std::exchange without including <utility>; every file of zelweb
// includes Asio and Beast through here.
#pragma once

#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
