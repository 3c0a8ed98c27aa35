// Icons (as PNG both ways), plug-in records, and the stream of the farm's notifications.
#include "api.h"
#include "zel/console/icons.h"
#include "zel/console/tree.h"
#include "zel/directory/entry.h"
#include "zel/directory/service.h"
#include "zel/subsystem/privileges.h"

namespace zelweb {
namespace {

using nlohmann::json;
using zel::console::HexUID;

// How long an event stream waits before it sends a comment line, which also finds out whether
// the browser is still there.
constexpr std::chrono::seconds kKeepAlive{15};

bool ValidIconName(const std::string& name) {
  return !name.empty() && name.size() <= 64 && ValidDN(name) && name.find('/') == std::string::npos;
}

}  // namespace

Reply Api::IconList(Call& call) {
  std::vector<zel::console::StoredIcon> icons;
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    result = zel::console::ListIcons(*call.session.seat->host, &icons);
  }
  if (result < 0) return FarmErrorReply(call.request, "listing the icons", result);
  std::sort(icons.begin(), icons.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  json list = json::array();
  for (const auto& icon : icons) {
    list.push_back({{"name", icon.name}, {"ssid", icon.ssid}, {"uid", HexUID(icon.uid)}});
  }
  return JsonReply(call.request, http::status::ok, json{{"icons", list}});
}

// /api/icons/NAME.png by name, /api/icons/uid/0x....png by the icon entry's UID.
Reply Api::IconPng(Call& call) {
  std::string rest = call.path.substr(std::string("/api/icons/").size());
  if (rest.size() < 5 || rest.substr(rest.size() - 4) != ".png") {
    return ErrorReply(call.request, http::status::not_found, "no such call");
  }
  rest.resize(rest.size() - 4);
  const bool byUID = rest.rfind("uid/", 0) == 0;
  bool ok = true;
  const std::string key = PercentDecoded(byUID ? rest.substr(4) : rest, &ok);
  uint64_t uid = 0;
  if (!ok || (byUID && !ParseUID(key, &uid)) || (!byUID && !ValidIconName(key))) {
    return ErrorReply(call.request, http::status::bad_request, "not an icon's name or UID");
  }
  std::vector<uint8_t> png;
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    if (!byUID) {
      zel::console::StoredIcon stored;
      result = zel::console::FindIcon(*call.session.seat->host, key, &stored);
      uid = stored.uid;
    }
    if (result >= 0) result = zel::console::IconPng(*call.session.seat->sal, uid, &png);
  }
  if (result < 0) return FarmErrorReply(call.request, "reading icon " + key, result);
  Reply reply;
  reply.response = MakeResponse(call.request, http::status::ok, std::string(png.begin(), png.end()),
                                "image/png");
  // Icons change rarely; the page may keep them for a minute.
  reply.response.set(http::field::cache_control, "private, max-age=60");
  return reply;
}

// The PNG is the body (image/png); the name is in the query.
Reply Api::IconUpload(Call& call) {
  const auto type = call.request.find(http::field::content_type);
  if (type == call.request.end() || type->value() != "image/png") {
    return ErrorReply(call.request, http::status::unsupported_media_type, "a PNG body is expected");
  }
  const std::string name = call.query["name"];
  if (!ValidIconName(name)) {
    return ErrorReply(call.request, http::status::bad_request, "an icon name is expected");
  }
  const std::vector<uint8_t> png(call.request.body().begin(), call.request.body().end());
  uint64_t uid = 0;
  std::string error;
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    zel::console::StoredIcon existing;
    if (zel::console::FindIcon(*call.session.seat->host, name, &existing) >= 0) {
      return ErrorReply(call.request, http::status::conflict, "icon " + name + " exists");
    }
    result = zel::console::AddIconPng(*call.session.seat->sal, name, png, &uid, &error);
  }
  if (!error.empty()) return ErrorReply(call.request, http::status::bad_request, error);
  if (result < 0) return FarmErrorReply(call.request, "adding icon " + name, result);
  return JsonReply(call.request, http::status::ok, json{{"name", name}, {"uid", HexUID(uid)}});
}

Reply Api::IconDelete(Call& call) {
  std::string name;
  if (!TextField(call.body, "name", 64, &name) || !ValidIconName(name)) {
    return ErrorReply(call.request, http::status::bad_request, "an icon name is expected");
  }
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    zel::console::StoredIcon stored;
    result = zel::console::FindIcon(*call.session.seat->host, name, &stored);
    if (result >= 0) result = zel::console::RemoveIcon(*call.session.seat->sal, stored);
  }
  if (result < 0) return FarmErrorReply(call.request, "removing icon " + name, result);
  return JsonReply(call.request, http::status::ok, json{{"removed", name}});
}

// The plug-in records: every entry of the plug-in context, by DN.
Reply Api::PluginList(Call& call) {
  json list = json::array();
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    ZEL_PS_LDAPSAL directory(*call.session.seat->host);
    uint32_t context = 0;
    result = directory.BindLDAP(ZELString(u"&AdminToolPluginContext"), context);
    if (result >= 0) {
      ZEL_DIR_SearchHelper search(&directory, ZEL_DIR_SearchHelper::kSubtree, ZELString(), context,
                                  ZELString(), ZELString(u"*"));
      uint32_t count = 0;
      result = search.Search(count);
      ZELString name;
      ZEL_DIR_BaseEntry entry(&directory, ZELString(), context);
      for (int32_t at = result >= 0 ? search.GetFirstEntry(name, entry) : -1; at >= 0;
           at = search.GetNextEntry(name, entry)) {
        list.push_back({{"dn", entry.GetDN().toUtf8()}, {"uid", HexUID(entry.GetUID())}});
      }
    }
  }
  // A farm where no plug-in was ever recorded has no plug-in context yet (kNoSuchContext).
  if (result < 0 && static_cast<uint32_t>(result) != 0x80030003u) {
    return FarmErrorReply(call.request, "listing the plug-in records", result);
  }
  return JsonReply(call.request, http::status::ok, json{{"plugins", list}});
}

// Server-sent events: each notification of the tree (events 81 and 95) as the library's event
// describer reads it. The stream ends with its session.
Reply Api::Events(Call& call) {
  if (!call.session.Holds(static_cast<uint32_t>(zel::subsystem::Privilege::kReadFarm))) {
    return ErrorReply(call.request, http::status::forbidden, "reading the farm is not allowed");
  }
  uint64_t after = farm_.LastEvent();
  const auto lastID = call.request.find("Last-Event-ID");
  if (lastID != call.request.end()) {
    const std::string text(lastID->value());
    if (!text.empty() && text.size() < 16 &&
        text.find_first_not_of("0123456789") == std::string::npos) {
      after = std::min<uint64_t>(after, std::stoull(text));
    }
  }
  Reply reply = JsonReply(call.request, http::status::ok, json::object());
  std::weak_ptr<Session> session = sessions_.Shared(call.session.id);
  bool first = true;
  reply.stream = [this, session, after, first]() mutable -> std::optional<std::string> {
    if (first) {
      first = false;
      return std::string("retry: 2000\n: stream open\n\n");
    }
    const std::shared_ptr<Session> live = session.lock();
    if (!live || !sessions_.Alive(live->id)) return std::nullopt;
    uint64_t last = after;
    std::optional<std::string> text = farm_.WaitEvents(after, &last, kKeepAlive);
    if (!text) return std::string(": keep-alive\n\n");
    after = last;
    return text;
  };
  return reply;
}

}  // namespace zelweb
