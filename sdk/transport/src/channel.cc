#include "channel.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace zel::transport {
namespace {

template <class Socket>
class PlainChannel final : public Channel {
 public:
  explicit PlainChannel(Socket socket) : socket_(std::move(socket)) {}

  void ReadSome(uint8_t* data, std::size_t size, IoHandler handler) override {
    socket_.async_read_some(asio::buffer(data, size), std::move(handler));
  }
  void Write(const uint8_t* data, std::size_t size, IoHandler handler) override {
    asio::async_write(socket_, asio::buffer(data, size), std::move(handler));
  }
  void Handshake(DoneHandler handler) override {
    asio::post(socket_.get_executor(), [handler = std::move(handler)] { handler({}); });
  }
  void Close() override {
    boost::system::error_code ignored;
    socket_.shutdown(Socket::shutdown_both, ignored);
    socket_.close(ignored);
  }
  int NativeHandle() override { return socket_.native_handle(); }
  bool WritableDirectly() override { return true; }
  int Release() override {
    boost::system::error_code failed;
    const int fd = socket_.release(failed);
    return failed ? -1 : fd;
  }

 private:
  Socket socket_;
};

class TlsChannel final : public Channel {
 public:
  TlsChannel(TcpSocket socket, asio::ssl::context& context, bool server)
      : stream_(std::move(socket), context), server_(server) {}

  void ReadSome(uint8_t* data, std::size_t size, IoHandler handler) override {
    stream_.async_read_some(asio::buffer(data, size), std::move(handler));
  }
  void Write(const uint8_t* data, std::size_t size, IoHandler handler) override {
    asio::async_write(stream_, asio::buffer(data, size), std::move(handler));
  }
  void Handshake(DoneHandler handler) override {
    stream_.async_handshake(
        server_ ? asio::ssl::stream_base::server : asio::ssl::stream_base::client,
        std::move(handler));
  }
  void Close() override {
    // No TLS shutdown: it would wait for a peer that may be gone or hostile.
    boost::system::error_code ignored;
    stream_.lowest_layer().shutdown(TcpSocket::shutdown_both, ignored);
    stream_.lowest_layer().close(ignored);
  }
  int NativeHandle() override { return stream_.lowest_layer().native_handle(); }
  std::string PeerSubject() override {
    X509* certificate = SSL_get1_peer_certificate(stream_.native_handle());
    if (certificate == nullptr) return {};
    std::string subject;
    if (BIO* out = BIO_new(BIO_s_mem())) {
      X509_NAME_print_ex(out, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253);
      char* text = nullptr;
      const long size = BIO_get_mem_data(out, &text);
      if (size > 0) subject.assign(text, static_cast<std::size_t>(size));
      BIO_free(out);
    }
    X509_free(certificate);
    return subject;
  }

 private:
  TlsStream stream_;
  bool server_;
};

}  // namespace

std::unique_ptr<Channel> MakeLocalChannel(LocalSocket socket) {
  return std::make_unique<PlainChannel<LocalSocket>>(std::move(socket));
}

std::unique_ptr<Channel> MakeTcpChannel(TcpSocket socket) {
  return std::make_unique<PlainChannel<TcpSocket>>(std::move(socket));
}

std::unique_ptr<Channel> MakeTlsChannel(TcpSocket socket, asio::ssl::context& context,
                                        bool server) {
  return std::make_unique<TlsChannel>(std::move(socket), context, server);
}

}  // namespace zel::transport
