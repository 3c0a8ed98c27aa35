// The baseline of every transport figure: a raw blocking ping-pong of given byte counts over a
// connected pair of sockets, a thread answering each request with the reply's bytes.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace zel::bench {

// Moves exactly `size` bytes; false when the other end is gone.
inline bool Exact(int fd, uint8_t* bytes, std::size_t size, bool write) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t moved =
        write ? ::write(fd, bytes + done, size - done) : ::read(fd, bytes + done, size - done);
    if (moved <= 0) return false;
    done += static_cast<std::size_t>(moved);
  }
  return true;
}

// One side asks (`out` bytes) and waits for the answer (`back` bytes); a thread of its own
// answers on the other socket until the asking side shuts down. Both sockets are closed at the
// end.
class PingPong {
 public:
  PingPong(int asking, int answering, std::size_t out, std::size_t back)
      : asking_(asking), answering_(answering), request_(out, 2), reply_(back) {
    answerer_ = std::thread([this, out, back] {
      std::vector<uint8_t> in(out), answer(back, 1);
      while (Exact(answering_, in.data(), out, false) &&
             Exact(answering_, answer.data(), back, true)) {
      }
    });
  }
  PingPong(const PingPong&) = delete;
  PingPong& operator=(const PingPong&) = delete;
  ~PingPong() {
    ::shutdown(asking_, SHUT_RDWR);
    answerer_.join();
    ::close(asking_);
    ::close(answering_);
  }

  // One round trip; false when it failed.
  bool RoundTrip() {
    return Exact(asking_, request_.data(), request_.size(), true) &&
           Exact(asking_, reply_.data(), reply_.size(), false);
  }

 private:
  int asking_, answering_;
  std::vector<uint8_t> request_, reply_;
  std::thread answerer_;
};

}  // namespace zel::bench
