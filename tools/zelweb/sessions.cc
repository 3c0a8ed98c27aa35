#include "sessions.h"

#include <sys/random.h>

#include <algorithm>

#include "zel/console/requests.h"
#include "zel/protocol/credentials.h"
#include "zel/protocol/result_reply.h"

namespace zelweb {

Session::~Session() {
  if (!seat) return;
  {
    auto lock = farm.Locked();
    zel::protocol::LogoutRequest request;
    zel::protocol::ResultReply reply;
    zel::console::Ours(farm.Client(), seat->uid, request, &reply);
  }
  farm.ReturnSeat(std::move(seat));
}

bool Session::Holds(uint32_t privilege) const {
  return std::find(privileges.begin(), privileges.end(), privilege) != privileges.end();
}

std::string RandomToken() {
  uint8_t bytes[32];
  std::size_t have = 0;
  while (have < sizeof bytes) {
    const ssize_t got = getrandom(bytes + have, sizeof bytes - have, 0);
    if (got > 0) have += static_cast<std::size_t>(got);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

bool SameToken(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

Sessions::Sessions(WebFarm& farm, std::chrono::seconds idleTimeout)
    : farm_(farm), idleTimeout_(idleTimeout) {}

Sessions::~Sessions() { EndAll(); }

std::shared_ptr<Session> Sessions::LogOn(const std::string& name, const std::string& password,
                                         int32_t* result) {
  auto session = std::make_shared<Session>(farm_);
  session->seat = farm_.NewSeat();
  if (!session->seat) {
    *result = static_cast<int32_t>(0x80010001u);  // no host UID left
    return nullptr;
  }
  ZELString logonName = ZELString::FromUtf8(name);
  std::vector<uint8_t> credentials(password.begin(), password.end());
  uint32_t status = 0, value = 0, valueCount = 0, uidCount = 0;
  ZELString resolved;
  uint32_t* values = nullptr;
  uint64_t* uids = nullptr;
  {
    auto lock = farm_.Locked();
    ZEL_AdminToolSAL6& sal = *session->seat->sal;
    *result = sal.Logon2(logonName, static_cast<uint32_t>(credentials.size()), credentials.data(),
                         status, resolved, value, &valueCount, &values, &uidCount, &uids, 0);
    if (*result >= 0) {
      session->privileges.assign(values, values + valueCount);
      if (uidCount > 0) session->adminUID = uids[0];
    }
    sal.FreeMemory(values, ZEL_AdminToolSAL3::kFreePlainArray);
    sal.FreeMemory(uids, ZEL_AdminToolSAL3::kFreePlainArray);
  }
  std::fill(credentials.begin(), credentials.end(), 0);
  if (*result < 0) {
    farm_.ReturnSeat(std::move(session->seat));
    return nullptr;
  }
  session->account = resolved.toUtf8();
  session->id = RandomToken();
  session->csrf = RandomToken();
  session->lastUse = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_[session->id] = session;
  return session;
}

std::shared_ptr<Session> Sessions::Find(const std::string& id) {
  std::shared_ptr<Session> expired;  // ends after the lock is released
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = sessions_.find(id);
  if (found == sessions_.end()) return nullptr;
  const auto now = std::chrono::steady_clock::now();
  if (now - found->second->lastUse <= idleTimeout_) {
    found->second->lastUse = now;
    return found->second;
  }
  expired = std::move(found->second);
  sessions_.erase(found);
  return nullptr;
}

std::shared_ptr<Session> Sessions::Shared(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = sessions_.find(id);
  if (found == sessions_.end()) return nullptr;
  if (std::chrono::steady_clock::now() - found->second->lastUse > idleTimeout_) return nullptr;
  return found->second;
}

void Sessions::LogOut(const std::string& id) {
  std::shared_ptr<Session> session;  // ends after the lock is released
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = sessions_.find(id);
  if (found == sessions_.end()) return;
  session = std::move(found->second);
  sessions_.erase(found);
}

void Sessions::EndIdle() {
  std::vector<std::shared_ptr<Session>> idle;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (now - it->second->lastUse > idleTimeout_) {
        idle.push_back(it->second);
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void Sessions::EndAll() {
  std::map<std::string, std::shared_ptr<Session>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all.swap(sessions_);
  }
}

}  // namespace zelweb
