// Web sessions: each is a logged-on administrator on a console-side host of its own. A session
// is known by a random cookie value; every change it asks for must carry its random CSRF token.
// A session unused for the idle timeout ends as a logout does: the farm session ends too.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web_farm.h"

namespace zelweb {

// Ending a session (its last holder lets go: a logout, the idle timeout, the end of zelweb)
// ends its farm session too: the farm forgets the logon, then the host goes.
struct Session {
  explicit Session(WebFarm& owner) : farm(owner) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  WebFarm& farm;
  std::string id;    // the cookie's value
  std::string csrf;  // the token every change carries
  std::unique_ptr<FarmSeat> seat;
  std::string account;  // as the farm resolved the logon name
  uint64_t adminUID = 0;
  std::vector<uint32_t> privileges;  // what the farm said at logon
  std::chrono::steady_clock::time_point lastUse;

  bool Holds(uint32_t privilege) const;
};

class Sessions {
 public:
  Sessions(WebFarm& farm, std::chrono::seconds idleTimeout);
  ~Sessions();

  // Logs on with a fresh host; the new session, or null with the farm's code in *result.
  std::shared_ptr<Session> LogOn(const std::string& name, const std::string& password,
                                 int32_t* result);
  // The live session with this cookie value (its idle time starts again), or null.
  std::shared_ptr<Session> Find(const std::string& id);
  // The session with this cookie value without counting it as a use (an event stream is no
  // sign of a person), or null.
  std::shared_ptr<Session> Shared(const std::string& id);
  bool Alive(const std::string& id) { return Shared(id) != nullptr; }
  // Ends the session; its farm session ends when the last request on it has finished.
  void LogOut(const std::string& id);
  // Ends every session idle for longer than the timeout; and at the end, every session.
  void EndIdle();
  void EndAll();

 private:
  WebFarm& farm_;
  std::chrono::seconds idleTimeout_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Session>> sessions_;
};

// 32 random bytes as hex: cookie values and CSRF tokens.
std::string RandomToken();
// Compares without stopping at the first difference, so timing says nothing of a token.
bool SameToken(const std::string& a, const std::string& b);

}  // namespace zelweb
