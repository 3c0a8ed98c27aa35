#include "zel/tracedev/files.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "zel/runtime/wire.h"

namespace zel::trace {
namespace {

using zel::wire::Load;
using zel::wire::Store;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kFixedRecordBytes = 4 + 4 + 8 + 8 + 4 + 16 + 2 + 2;

void StoreGuid(uint8_t* out, const Guid& guid) {
  Store(out, guid.data1);
  Store(out + 4, guid.data2);
  Store(out + 6, guid.data3);
  std::memcpy(out + 8, guid.data4, 8);
}

Guid LoadGuid(const uint8_t* in) {
  Guid guid;
  guid.data1 = Load<uint32_t>(in);
  guid.data2 = Load<uint16_t>(in + 4);
  guid.data3 = Load<uint16_t>(in + 6);
  std::memcpy(guid.data4, in + 8, 8);
  return guid;
}

}  // namespace

std::string WriteControlFile(const std::string& path, const ControlSettings& settings) {
  if (settings.component.size() >= 64) return "component name too long";
  if (settings.tracePath.size() >= 4096) return "trace path too long";
  ControlFile file{};
  std::memcpy(file.magic, kControlMagic, sizeof file.magic);
  file.version = kControlFileVersion;
  file.control.logger = settings.logger;
  file.control.flags = settings.flags;
  file.control.level = settings.level;
  std::memcpy(file.component, settings.component.data(), settings.component.size() * 2);
  std::memcpy(file.tracePath, settings.tracePath.data(), settings.tracePath.size());
  // Rewritten in place (not replaced), so processes that mapped it see the change.
  File out(std::fopen(path.c_str(), "r+b"));
  if (!out) out.reset(std::fopen(path.c_str(), "wb"));
  if (!out) return "cannot open " + path + " for writing";
  if (std::fwrite(&file, sizeof file, 1, out.get()) != 1) return "cannot write " + path;
  return "";
}

std::string ReadControlFile(const std::string& path, ControlSettings* settings) {
  File in(std::fopen(path.c_str(), "rb"));
  if (!in) return "cannot open " + path;
  ControlFile file{};
  if (std::fread(&file, sizeof file, 1, in.get()) != 1) return path + " is too short";
  if (std::memcmp(file.magic, kControlMagic, sizeof file.magic) != 0 ||
      file.version != kControlFileVersion) {
    return path + " is not a trace control file";
  }
  file.component[63] = 0;
  file.tracePath[4095] = 0;
  settings->component = file.component;
  settings->tracePath = file.tracePath;
  settings->logger = file.control.logger;
  settings->flags = file.control.flags;
  settings->level = file.control.level;
  return "";
}

std::vector<uint8_t> EncodeFileRecord(const FileRecord& record) {
  std::size_t size = kFixedRecordBytes;
  for (const auto& argument : record.arguments) size += 4 + argument.size();
  std::vector<uint8_t> out(size);
  uint8_t* p = out.data();
  Store(p, kTraceRecordMagic);
  Store(p + 4, static_cast<uint32_t>(size));
  Store(p + 8, record.sequence);
  Store(p + 16, record.timeNs);
  Store(p + 24, record.processID);
  StoreGuid(p + 28, record.guid);
  Store(p + 44, record.messageNumber);
  Store(p + 46, static_cast<uint16_t>(record.arguments.size()));
  p += kFixedRecordBytes;
  for (const auto& argument : record.arguments) {
    Store(p, static_cast<uint32_t>(argument.size()));
    if (!argument.empty()) std::memcpy(p + 4, argument.data(), argument.size());
    p += 4 + argument.size();
  }
  return out;
}

std::vector<FileRecord> DecodeTraceFile(const std::vector<uint8_t>& bytes, bool* damaged) {
  std::vector<FileRecord> records;
  std::size_t offset = 0;
  bool bad = false;
  while (offset < bytes.size()) {
    const std::size_t left = bytes.size() - offset;
    const uint8_t* p = bytes.data() + offset;
    if (left < kFixedRecordBytes || Load<uint32_t>(p) != kTraceRecordMagic) {
      bad = true;
      break;
    }
    const uint32_t size = Load<uint32_t>(p + 4);
    if (size < kFixedRecordBytes || size > left) {
      bad = true;
      break;
    }
    FileRecord record;
    record.sequence = Load<uint64_t>(p + 8);
    record.timeNs = Load<uint64_t>(p + 16);
    record.processID = Load<uint32_t>(p + 24);
    record.guid = LoadGuid(p + 28);
    record.messageNumber = Load<uint16_t>(p + 44);
    const uint16_t count = Load<uint16_t>(p + 46);
    std::size_t at = kFixedRecordBytes;
    for (uint16_t i = 0; i < count && !bad; ++i) {
      if (size - at < 4 || Load<uint32_t>(p + at) > size - at - 4) {
        bad = true;
        break;
      }
      const uint32_t length = Load<uint32_t>(p + at);
      record.arguments.emplace_back(p + at + 4, p + at + 4 + length);
      at += 4 + length;
    }
    if (bad || at != size) {
      bad = true;
      break;
    }
    records.push_back(std::move(record));
    offset += size;
  }
  if (damaged != nullptr) *damaged = bad;
  return records;
}

}  // namespace zel::trace
