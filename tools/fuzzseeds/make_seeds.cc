// Writes the fuzz seed corpora: one file per known-good message, built with the same writers
// the byte-exact tests use. Run once (scripts/run-fuzz.sh --seeds) and commit the files.
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolobject.h"
#include "zel/runtime/secure.h"
#include "zel/tracedev/files.h"
#include "zel/usersal/account_blob.h"

namespace zel::fuzzseeds {
void WriteProtocolSeeds(const std::filesystem::path& root);
void WriteTransportSeeds(const std::filesystem::path& root);
}  // namespace zel::fuzzseeds

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Write(const std::function<void(ZEL_BUF_EventBuffer&)>& write) {
  ZEL_BUF_EventBuffer out(0, ZELVersion(1, 0), 0);
  write(out);
  return Bytes(out.GetData(), out.GetData() + out.GetSize());
}

void Save(const std::filesystem::path& folder, const std::string& name, uint8_t selector,
          const Bytes& bytes) {
  std::filesystem::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary);
  out.put(static_cast<char>(selector));
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void Folders(ZEL_BUF_EventBuffer& out) {
  const uint32_t tasks[] = {1, 2};
  out << uint32_t{1} << uint64_t{70} << uint32_t{2};
  out.AppendData(tasks, 8);
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path root = argc > 1 ? argv[1] : "fuzz/corpus";
  ZELMultiString list;
  list.add(ZELString(u"one"));
  // fuzz_reader: the selector counts the opcodes that lead the bytes (the low four bits pick
  // the operator: 0 uint8 ... 5 uint64, 6 string, 7 wide string, 8 list, 9 ReadData of 3 x the
  // high four bits).
  const Bytes opcodes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 0x29};
  Bytes kinds = opcodes;
  const Bytes read = Write([&](ZEL_BUF_EventBuffer& out) {
    out << uint8_t{1} << int16_t{-2} << uint16_t{3} << int32_t{-4} << uint32_t{5} << uint64_t{6}
        << ZELString(u"text") << u"wide" << list;
    out.AppendData("raw..", 6);
  });
  kinds.insert(kinds.end(), read.begin(), read.end());
  Save(root / "fuzz_reader", "all-kinds", static_cast<uint8_t>(opcodes.size()), kinds);

  ZEL_AdminToolObject node(u"Root", u"N");
  node.setUID(4);
  Save(root / "fuzz_value_types", "node", 0,
       Write([&](ZEL_BUF_EventBuffer& out) { node.write(out); }));
  Save(root / "fuzz_value_types", "icon", 1, Write([](ZEL_BUF_EventBuffer& out) {
         const Bytes bits(640, 0x5A);
         out << uint64_t{9} << int16_t{1};
         out.AppendData(bits.data(), 640);
       }));
  UM_AcctIDBlobWriter blob(
      UM_AccountIdentity{ZELString(u"NT"), ZELString(u"D"), ZELString(u"u"), {1}});
  Save(root / "fuzz_value_types", "blob", 2,
       Write([&](ZEL_BUF_EventBuffer& out) { blob.WriteToEvent(&out); }));

  // One valid reply per decoder (the selector numbers of fuzz_replies).
  const auto reply = [&](uint8_t selector, const char* name,
                         const std::function<void(ZEL_BUF_EventBuffer&)>& body) {
    Save(root / "fuzz_replies", name, selector, Write([&](ZEL_BUF_EventBuffer& out) {
           out << int32_t{0};
           body(out);
         }));
  };
  const uint32_t values[] = {1, 2};
  reply(0, "is-admin", [](ZEL_BUF_EventBuffer& out) { out << uint32_t{1}; });
  reply(1, "logon2", [&](ZEL_BUF_EventBuffer& out) {
    out << ZELString(u"n") << uint32_t{1} << uint32_t{2};
    out.AppendData(values, 8);
    out << uint32_t{0};
  });
  reply(2, "get-privilege2", [&](ZEL_BUF_EventBuffer& out) {
    out << uint32_t{1} << uint32_t{2} << uint32_t{2};
    out.AppendData(values, 8);
  });
  reply(3, "static-group", [&](ZEL_BUF_EventBuffer& out) {
    out << ZELString(u"G") << uint32_t{1} << uint64_t{5} << uint32_t{2};
    out.AppendData(values, 8);
  });
  reply(4, "enumerate", [&](ZEL_BUF_EventBuffer& out) {
    out << uint32_t{1} << ZELString(u"a") << ZELString(u"NT") << uint32_t{1} << uint32_t{2}
        << uint32_t{2};
    out.AppendData(values, 8);
  });
  reply(5, "get-privilege3", [&](ZEL_BUF_EventBuffer& out) {
    out << uint32_t{1} << uint32_t{2} << uint32_t{0};
    Folders(out);
    out << ZELString(u"c1") << ZELString(u"c2") << ZELString(u"c3");
  });
  reply(6, "enumerate2", [&](ZEL_BUF_EventBuffer& out) {
    out << uint32_t{1} << ZELString(u"a") << ZELString(u"NT") << uint32_t{1} << uint32_t{2}
        << uint32_t{0} << uint64_t{3};
    Folders(out);
    out << ZELString(u"c1") << ZELString(u"c2") << ZELString(u"c3");
  });
  reply(7, "uid-by-name", [](ZEL_BUF_EventBuffer& out) { out << uint64_t{5}; });
  reply(8, "name-by-uid", [](ZEL_BUF_EventBuffer& out) { out << u"Jane" << u"NT"; });
  reply(9, "permissions", [](ZEL_BUF_EventBuffer& out) { Folders(out); });
  reply(10, "by-blob", [&](ZEL_BUF_EventBuffer& out) {
    out << uint8_t{1} << uint32_t{2} << uint32_t{2};
    out.AppendData(values, 8);
  });
  reply(11, "ticket", [](ZEL_BUF_EventBuffer& out) {
    const uint64_t uids[] = {1, 2};
    out << uint32_t{2};
    out.AppendData(uids, 16);
    out << uint32_t{1} << uint32_t{2} << uint32_t{3} << uint32_t{4};
  });
  reply(12, "users-dns", [&](ZEL_BUF_EventBuffer& out) { out << list; });
  reply(13, "default-users", [](ZEL_BUF_EventBuffer&) {});
  // The operations whose reply is their result alone (selectors 14 to 19).
  const char* resultOnly[] = {"add-users2", "set-privilege2", "delete-user",
                              "add-users3", "set-privilege3", "delete-capabilities"};
  for (uint8_t i = 0; i < 6; ++i) reply(static_cast<uint8_t>(14 + i), resultOnly[i], [](auto&) {});

  // Requests of the receiving side; event 82's password under the harness's key.
  const uint8_t key[32] = {1, 2, 3};
  ZEL_SECURE_SetKey(0x3A, key, 32);
  const auto group = [](ZEL_BUF_EventBuffer& out) {
    out << ZELString(u"Root") << ZELString(u"G") << ZELString(u"T") << int16_t{0} << uint16_t{1}
        << uint64_t{2} << uint64_t{3};
  };
  Save(root / "fuzz_receiving", "group-81", 0, Write(group));
  Save(root / "fuzz_receiving", "group-82", 1, Write([&](ZEL_BUF_EventBuffer& out) {
         group(out);
         Bytes password = {'p', 0, 'w', 0, 0, 0};
         ZEL_SECURE_EncryptData(password.data(), static_cast<uint32_t>(password.size()), 0x3A);
         out << ZELString(u"D\\u") << static_cast<uint32_t>(password.size());
         out.AppendData(password.data(), static_cast<uint32_t>(password.size()));
       }));
  Save(root / "fuzz_receiving", "folder", 2,
       Write([](ZEL_BUF_EventBuffer& out) { out << uint64_t{12} << ZELString(u"Reports"); }));
  Save(root / "fuzz_receiving", "move-members", 4, Write([](ZEL_BUF_EventBuffer& out) {
         out << uint32_t{2} << uint64_t{1} << uint64_t{2} << uint64_t{5} << uint64_t{6};
       }));

  // fuzz_directory: damages to the store (opcode, then its arguments; see the harness).
  const std::pair<const char*, Bytes> damages[] = {
      {"value-blob", {0, 5, 5, 2, 3, 1, 2, 3}},
      {"value-type-name-lone-surrogate", {0, 2, 3, 0, 3, 0x00, 0xD8, 0x41}},
      {"value-data-integer", {0, 7, 5, 3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
      {"value-data-huge", {0, 1, 5, 6, 7}},
      {"value-type-code-negative", {0, 4, 4, 3, 0x80, 0, 0, 0, 0, 0, 0, 1}},
      {"entry-dn-bad-utf8", {1, 3, 2, 1, 2, 0xC3, 0x28}},
      {"entry-class-null", {1, 4, 4, 4}},
      {"context-id", {2, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 5}},
      {"insert-value", {3, 4, 0, 1, 9, 2, 4, 1, 2, 3, 4}},
      {"many-values", {4, 3, 0, 0x04, 0x00}},
      {"delete-entry", {5, 1, 2}},
      {"loose-values", {6, 0, 0, 1, 5, 4}},
      {"user-version", {7, 0, 0, 0, 3}},
      {"flip-page-byte", {8, 0x00, 0x10, 0x08, 0x40}},
      {"truncate", {9, 0x00, 0x30, 0x00}},
  };
  for (const auto& [name, bytes] : damages) {
    Save(root / "fuzz_directory", name, bytes[0], Bytes(bytes.begin() + 1, bytes.end()));
  }

  // A trace file of two records (a string and a 32-bit argument, then none), read in chunks of
  // 7 bytes; a control file, read in memory (selector 0) and through a file (selector 1).
  zel::trace::FileRecord first;
  first.sequence = 1;
  first.timeNs = 1'700'000'000'000'000'000;
  first.processID = 42;
  first.messageNumber = 10;
  first.arguments = {{'h', 0, 'i', 0, 0, 0}, {6, 0, 1, 0x80}};
  zel::trace::FileRecord second = first;
  second.sequence = 2;
  second.arguments.clear();
  Bytes trace = zel::trace::EncodeFileRecord(first);
  const Bytes more = zel::trace::EncodeFileRecord(second);
  trace.insert(trace.end(), more.begin(), more.end());
  Save(root / "fuzz_trace_file", "two-records", 6, trace);
  zel::trace::ControlFile control;
  zel::trace::EncodeControlFile({u"ZEL_Sals_AdminTool", "/tmp/trace", 1, 0x0B, 5}, &control);
  const auto* controlBytes = reinterpret_cast<const uint8_t*>(&control);
  const Bytes controlFile(controlBytes, controlBytes + sizeof control);
  Save(root / "fuzz_control_file", "in-memory", 0, controlFile);
  Save(root / "fuzz_control_file", "through-a-file", 1, controlFile);

  zel::fuzzseeds::WriteProtocolSeeds(root);
  zel::fuzzseeds::WriteTransportSeeds(root);
  return 0;
}
