// One byte stream between a console and the server, whatever carries it (a Unix-domain socket,
// plain TCP, TLS over TCP), so that the frame loops of both ends are written once. Every
// handler runs on the executor the channel was made on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "asio.h"

namespace zel::transport {

class Channel {
 public:
  using IoHandler = std::function<void(const boost::system::error_code&, std::size_t)>;
  using DoneHandler = std::function<void(const boost::system::error_code&)>;

  virtual ~Channel() = default;
  // Reads what has come, at most `size` bytes.
  virtual void ReadSome(uint8_t* data, std::size_t size, IoHandler handler) = 0;
  // Writes all `size` bytes.
  virtual void Write(const uint8_t* data, std::size_t size, IoHandler handler) = 0;
  // The TLS handshake; other channels have none and answer at once.
  virtual void Handshake(DoneHandler handler) = 0;
  // Closes the socket: pending operations end with an error.
  virtual void Close() = 0;
  virtual int NativeHandle() = 0;
  // Whether whole frames may be written to NativeHandle() directly (no TLS record layer).
  virtual bool WritableDirectly() { return false; }
  // Takes the socket out of Asio (no handler may be pending): the descriptor is the caller's to
  // read, write and close. -1 when the channel cannot be used without Asio (TLS).
  virtual int Release() { return -1; }
  // The subject of the peer's verified certificate (RFC 2253 form); empty without TLS.
  virtual std::string PeerSubject() { return {}; }
};

using LocalSocket = asio::local::stream_protocol::socket;
using TcpSocket = asio::ip::tcp::socket;
using TlsStream = asio::ssl::stream<TcpSocket>;

std::unique_ptr<Channel> MakeLocalChannel(LocalSocket socket);
std::unique_ptr<Channel> MakeTcpChannel(TcpSocket socket);
// `server`: which side of the handshake this end takes.
std::unique_ptr<Channel> MakeTlsChannel(TcpSocket socket, asio::ssl::context& context, bool server);

}  // namespace zel::transport
