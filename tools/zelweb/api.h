// zelweb's JSON API and its page. Every /api/ call but the logon needs a live session (its
// cookie); every change needs the session's CSRF token in the X-CSRF-Token header and a body of
// the type it names. The farm checks every change against the logged-on administrator; its
// refusal comes back as 403 with the farm's code.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "http_server.h"
#include "sessions.h"
#include "web_farm.h"

namespace zelweb {

// One API call of a logged-on session.
struct Call {
  const Request& request;
  Session& session;
  std::string path;                          // without the query
  std::map<std::string, std::string> query;  // decoded
  nlohmann::json body;                       // a JSON body, when the call has one
};

class Api {
 public:
  // `secureCookie`: the page is served over TLS, so the cookie is marked Secure.
  Api(WebFarm& farm, Sessions& sessions, bool secureCookie);
  Reply Handle(const Request& request);

 private:
  Reply LogOn(const Request& request);
  Reply Routed(Call& call);

  Reply TreeChildren(Call& call);
  Reply TreeNode(Call& call);
  Reply TreeAdd(Call& call);
  Reply TreeSet(Call& call);
  Reply TreeRename(Call& call);
  Reply TreeMove(Call& call);
  Reply TreeDelete(Call& call);

  Reply IconList(Call& call);
  Reply IconPng(Call& call);
  Reply IconUpload(Call& call);
  Reply IconDelete(Call& call);
  Reply PluginList(Call& call);

  Reply AdminList(Call& call);
  Reply AdminShow(Call& call);
  Reply AdminAdd(Call& call);
  Reply AdminRemove(Call& call);
  Reply AdminPrivileges(Call& call);
  Reply Me(Call& call);
  Reply Audit(Call& call);
  Reply Events(Call& call);

  WebFarm& farm_;
  Sessions& sessions_;
  bool secureCookie_;
};

// Answers of the API.
Reply JsonReply(const Request& request, http::status status, const nlohmann::json& body);
Reply ErrorReply(const Request& request, http::status status, const std::string& message);
// The farm answered `code` while doing `doing`: its status (403 refused, 404 not found, 502
// unreachable, 409 otherwise), the words and the code.
Reply FarmErrorReply(const Request& request, const std::string& doing, int32_t code);

// Helpers for reading input.
std::string PercentDecoded(std::string_view text, bool* ok);
bool ParseUID(const std::string& text, uint64_t* uid);
// A string field of at most `max` bytes without control characters.
bool TextField(const nlohmann::json& body, const char* key, size_t max, std::string* out);
// A DN: components joined by '/', none empty; "" is the root.
bool ValidDN(const std::string& dn);

// The page's files, built into the program.
struct Asset {
  const char* path;
  const char* type;
  const unsigned char* data;
  std::size_t size;
};
const Asset* FindAsset(std::string_view path);

}  // namespace zelweb
