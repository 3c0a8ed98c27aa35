// Boost.Asio for this component. <utility> comes first: Boost 1.74's coroutine support uses
// std::exchange without including it.
#pragma once

#include <utility>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>

namespace zel::transport {
namespace asio = boost::asio;
}
