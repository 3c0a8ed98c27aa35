#include "api.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "zel/subsystem/codes.h"

namespace zelweb {
namespace {

using nlohmann::json;

constexpr const char* kCookie = "zelweb_session";

// The value of cookie `name` in the request, or "".
std::string CookieValue(const Request& request, const std::string& name) {
  const auto header = request.find(http::field::cookie);
  if (header == request.end()) return "";
  const std::string text(header->value());
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ' ' || text[at] == ';')) ++at;
    const std::size_t end = std::min(text.find(';', at), text.size());
    const std::string pair = text.substr(at, end - at);
    const std::size_t equals = pair.find('=');
    if (equals != std::string::npos && pair.substr(0, equals) == name) {
      return pair.substr(equals + 1);
    }
    at = end;
  }
  return "";
}

bool Changes(const Request& request) { return request.method() != http::verb::get; }

bool TypeIs(const Request& request, std::string_view type) {
  const auto header = request.find(http::field::content_type);
  if (header == request.end()) return false;
  const std::string_view value(header->value().data(), header->value().size());
  return value.substr(0, value.find(';')) == type;
}

std::map<std::string, std::string> QueryOf(std::string_view query, bool* ok) {
  std::map<std::string, std::string> out;
  std::size_t at = 0;
  while (at < query.size()) {
    const std::size_t end = std::min(query.find('&', at), query.size());
    const std::string_view pair = query.substr(at, end - at);
    const std::size_t equals = pair.find('=');
    const std::string key = PercentDecoded(pair.substr(0, equals), ok);
    out[key] = equals == std::string_view::npos ? "" : PercentDecoded(pair.substr(equals + 1), ok);
    at = end + 1;
  }
  return out;
}

}  // namespace

Reply JsonReply(const Request& request, http::status status, const json& body) {
  Reply reply;
  reply.response =
      MakeResponse(request, status, body.dump(-1, ' ', false, json::error_handler_t::replace));
  return reply;
}

Reply ErrorReply(const Request& request, http::status status, const std::string& message) {
  return JsonReply(request, status, json{{"error", message}});
}

Reply FarmErrorReply(const Request& request, const std::string& doing, int32_t code) {
  namespace codes = zel::subsystem;
  const uint32_t value = static_cast<uint32_t>(code);
  http::status status = http::status::conflict;
  std::string words = "the farm refused";
  if (code == codes::kAccessDenied || code == codes::kNotAdministrator) {
    status = http::status::forbidden;
    words = "not allowed";
  } else if (code == codes::kNoSuchAdministrator || value == 0x8006000Du) {
    status = http::status::not_found;
    words = "not found";
  } else if (code == codes::kInvalidRequest || code == codes::kInvalidAccount ||
             code == codes::kMalformedRequest || value == 0x80010005u) {
    status = http::status::bad_request;
    words = "not a valid request";
  } else if ((value & 0xFFFF0000u) == 0x80010000u) {
    status = http::status::bad_gateway;
    words = "the farm cannot be reached";
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", value);
  return JsonReply(request, status, json{{"error", doing + ": " + words}, {"code", hex}});
}

std::string PercentDecoded(std::string_view text, bool* ok) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else if (i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out +=
          static_cast<char>(std::strtol(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
      i += 2;
    } else {
      *ok = false;
    }
  }
  return out;
}

bool ParseUID(const std::string& text, uint64_t* uid) {
  if (text.size() < 3 || text.size() > 18 || text.rfind("0x", 0) != 0) return false;
  if (text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) return false;
  *uid = std::strtoull(text.c_str() + 2, nullptr, 16);
  return true;
}

bool TextField(const json& body, const char* key, size_t max, std::string* out) {
  const auto found = body.find(key);
  if (found == body.end() || !found->is_string()) return false;
  const std::string& text = found->get_ref<const std::string&>();
  if (text.size() > max) return false;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  *out = text;
  return true;
}

bool ValidDN(const std::string& dn) {
  if (dn.empty()) return true;
  if (dn.size() > 1024 || dn.front() == '/' || dn.back() == '/') return false;
  if (dn.find("//") != std::string::npos) return false;
  for (unsigned char c : dn) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

Api::Api(WebFarm& farm, Sessions& sessions, bool secureCookie)
    : farm_(farm), sessions_(sessions), secureCookie_(secureCookie) {}

Reply Api::Handle(const Request& request) {
  const std::string_view target(request.target().data(), request.target().size());
  const std::size_t mark = target.find('?');
  const std::string path(target.substr(0, mark));
  if (path.rfind("/api/", 0) != 0) {
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
      return ErrorReply(request, http::status::method_not_allowed, "only GET here");
    }
    const Asset* asset = FindAsset(path == "/" ? "/index.html" : path);
    if (asset == nullptr) return ErrorReply(request, http::status::not_found, "no such page");
    Reply reply;
    reply.response = MakeResponse(
        request, http::status::ok,
        std::string(reinterpret_cast<const char*>(asset->data), asset->size), asset->type);
    return reply;
  }
  if (path == "/api/logon") return LogOn(request);
  const std::shared_ptr<Session> session = sessions_.Find(CookieValue(request, kCookie));
  if (!session) return ErrorReply(request, http::status::unauthorized, "not logged on");
  // Every change carries the session's token: another site can make the browser send the
  // cookie, but it cannot read the token.
  if (Changes(request)) {
    const auto token = request.find("X-CSRF-Token");
    if (token == request.end() || !SameToken(std::string(token->value()), session->csrf)) {
      return ErrorReply(request, http::status::forbidden, "the request lacks the session's token");
    }
  }
  bool ok = true;
  Call call{request, *session, path,
            QueryOf(mark == std::string_view::npos ? "" : target.substr(mark + 1), &ok), json()};
  if (!ok) return ErrorReply(request, http::status::bad_request, "a query that does not decode");
  if (Changes(request) && !request.body().empty() && TypeIs(request, "application/json")) {
    call.body = json::parse(request.body(), nullptr, false);
    if (call.body.is_discarded() || !call.body.is_object()) {
      return ErrorReply(request, http::status::bad_request, "the body is not a JSON object");
    }
  }
  return Routed(call);
}

Reply Api::LogOn(const Request& request) {
  if (request.method() != http::verb::post) {
    return ErrorReply(request, http::status::method_not_allowed, "log on with POST");
  }
  if (!TypeIs(request, "application/json")) {
    return ErrorReply(request, http::status::unsupported_media_type, "a JSON body is expected");
  }
  const json body = json::parse(request.body(), nullptr, false);
  std::string name, password;
  if (body.is_discarded() || !body.is_object() || !TextField(body, "name", 256, &name) ||
      name.empty() || !TextField(body, "password", 127, &password)) {
    return ErrorReply(request, http::status::bad_request, "a name and a password are expected");
  }
  int32_t result = 0;
  const std::shared_ptr<Session> session = sessions_.LogOn(name, password, &result);
  if (!session) {
    // One answer whether the name or the password was wrong.
    if (result == zel::subsystem::kLogonRefused || result == zel::subsystem::kLogonSlowed) {
      return ErrorReply(request, http::status::unauthorized, "the logon was refused");
    }
    return FarmErrorReply(request, "logging on", result);
  }
  json privileges = json::array();
  for (uint32_t id : session->privileges) privileges.push_back(id);
  Reply reply = JsonReply(request, http::status::ok,
                          json{{"account", session->account}, {"csrf", session->csrf}});
  std::string cookie =
      std::string(kCookie) + "=" + session->id + "; Path=/; HttpOnly; SameSite=Strict";
  if (secureCookie_) cookie += "; Secure";
  reply.response.set(http::field::set_cookie, cookie);
  return reply;
}

Reply Api::Routed(Call& call) {
  const Request& request = call.request;
  const bool get = request.method() == http::verb::get;
  const bool post = request.method() == http::verb::post;
  const std::string& p = call.path;
  if (post && p == "/api/logout") {
    sessions_.LogOut(call.session.id);
    Reply reply = JsonReply(request, http::status::ok, json{{"loggedOut", true}});
    reply.response.set(http::field::set_cookie,
                       std::string(kCookie) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
    return reply;
  }
  // Change calls: their body type first, so that a form post from elsewhere never reaches
  // the farm.
  if (post && p != "/api/icons/upload" && !TypeIs(request, "application/json")) {
    return ErrorReply(request, http::status::unsupported_media_type, "a JSON body is expected");
  }
  struct Route {
    bool post;
    const char* path;
    Reply (Api::*serve)(Call&);
  };
  static const Route kRoutes[] = {
      {false, "/api/me", &Api::Me},
      {false, "/api/tree", &Api::TreeChildren},
      {false, "/api/tree/node", &Api::TreeNode},
      {true, "/api/tree/add", &Api::TreeAdd},
      {true, "/api/tree/set", &Api::TreeSet},
      {true, "/api/tree/rename", &Api::TreeRename},
      {true, "/api/tree/move", &Api::TreeMove},
      {true, "/api/tree/delete", &Api::TreeDelete},
      {false, "/api/icons", &Api::IconList},
      {true, "/api/icons/upload", &Api::IconUpload},
      {true, "/api/icons/delete", &Api::IconDelete},
      {false, "/api/plugins", &Api::PluginList},
      {false, "/api/admins", &Api::AdminList},
      {false, "/api/admins/one", &Api::AdminShow},
      {true, "/api/admins/add", &Api::AdminAdd},
      {true, "/api/admins/remove", &Api::AdminRemove},
      {true, "/api/admins/privileges", &Api::AdminPrivileges},
      {false, "/api/audit", &Api::Audit},
      {false, "/api/events", &Api::Events},
  };
  for (const Route& route : kRoutes) {
    if (p != route.path) continue;
    if (route.post ? !post : !get) {
      return ErrorReply(request, http::status::method_not_allowed, "not with this method");
    }
    return (this->*route.serve)(call);
  }
  if (get && p.rfind("/api/icons/", 0) == 0) return IconPng(call);
  return ErrorReply(request, http::status::not_found, "no such call");
}

}  // namespace zelweb
