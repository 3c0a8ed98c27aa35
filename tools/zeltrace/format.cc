#include "format.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "message_texts.h"
#include "zel/runtime/strings.h"

namespace zeltrace {
namespace {

// The text of a terminated UTF-16 string, or false when the bytes are not one.
bool AsString(const std::vector<uint8_t>& bytes, std::string* text) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == 0) break;
    if (unit < 0x20) return false;  // control characters: not text
    units += unit;
  }
  if (units.size() * 2 + 2 != bytes.size()) return false;  // the terminator ends it exactly
  *text = ZELString(std::u16string_view(units)).toUtf8();
  return true;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char cell[4];
  for (uint8_t b : bytes) {
    std::snprintf(cell, sizeof cell, "%02x", b);
    out += cell;
  }
  return out;
}

}  // namespace

std::string FormatArgument(const std::vector<uint8_t>& bytes, char kind) {
  char text[64];
  std::string string;
  if (kind == 's' || (kind == 0 && bytes.size() != 4 && bytes.size() != 8)) {
    if (AsString(bytes, &string)) return "\"" + string + "\"";
    return "bytes:" + Hex(bytes);
  }
  if (bytes.size() == 4 && kind != 'q') {
    const uint32_t v =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    std::snprintf(text, sizeof text, "0x%08" PRIx32 " (%" PRId32 ")", v, static_cast<int32_t>(v));
    return text;
  }
  if (bytes.size() == 8 && kind != 'u') {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | bytes[i];
    std::snprintf(text, sizeof text, "0x%016" PRIx64, v);
    return text;
  }
  return "bytes:" + Hex(bytes);
}

std::string FormatRecord(const zel::trace::FileRecord& record) {
  zel::trace::Module module;
  const bool known = ModuleOf(record.guid, &module);
  const char* text = known ? MessageText(module, record.messageNumber) : nullptr;
  // The calendar of <chrono> rather than gmtime: the same on every platform, thread-safe, and
  // free of the 32-bit time_t's 2038 limit.
  using namespace std::chrono;
  const sys_seconds when{seconds(record.timeNs / 1000000000u)};
  const sys_days day = floor<days>(when);
  const year_month_day date(day);
  const hh_mm_ss<seconds> time(when - day);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  char head[160];
  std::snprintf(head, sizeof head, "#%" PRIu64 " %s.%06uZ pid %" PRIu32 " %s %u", record.sequence,
                stamp, static_cast<unsigned>(record.timeNs % 1000000000u / 1000u), record.processID,
                known ? zel::trace::ModuleName(module) : "unknown-module", record.messageNumber);
  std::string line = head;
  line += ": ";
  line += text != nullptr ? text : "(no text for this message)";
  const char* kinds = known ? ArgumentKinds(module, record.messageNumber) : nullptr;
  const std::size_t knownKinds = kinds != nullptr ? std::strlen(kinds) : 0;
  for (std::size_t i = 0; i < record.arguments.size(); ++i) {
    line += " | " + FormatArgument(record.arguments[i], i < knownKinds ? kinds[i] : 0);
  }
  return line;
}

}  // namespace zeltrace
