// What the library's tests share: the process's capturing trace device, installed before the
// first SAL object is made, and a scripted host ready for a SAL object.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "admintool/trace/trace.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/testing/scripted_host.h"
#include "zel/tracedev/testing/capture_device.h"

namespace zel::sal::testing {

zel::trace::testing::CaptureDevice& TraceCapture();

// Every test starts with tracing on for every class and nothing captured.
class SalTest : public ::testing::Test {
 protected:
  SalTest() {
    TraceCapture().records.clear();
    TraceCapture().EnableAll();
  }
  ~SalTest() override { EXPECT_EQ(host_.Outstanding(), "") << "left behind by the test"; }

  // Captured records of one module and number.
  std::vector<zel::trace::testing::CapturedRecord> Traced(zel::trace::Message message) const {
    std::vector<zel::trace::testing::CapturedRecord> found;
    for (const auto& record : TraceCapture().records) {
      if (record.messageNumber == message.number &&
          std::memcmp(&record.guid, &zel::trace::GuidOf(message.module), 16) == 0) {
        found.push_back(record);
      }
    }
    return found;
  }

  zel::rt::testing::ScriptedHost host_{0x00070005};
};

// A folder list as the wire carries it: count, then each folder's UID and its tasks.
inline void FolderList(ZEL_BUF_BinBuffer& out,
                       const std::vector<std::pair<uint64_t, std::vector<uint32_t>>>& folders) {
  out << static_cast<uint32_t>(folders.size());
  for (const auto& [uid, tasks] : folders) {
    out << uid << static_cast<uint32_t>(tasks.size());
    if (!tasks.empty()) out.AppendBytes(tasks.data(), 4 * tasks.size());
  }
}

inline void Contact(ZEL_BUF_BinBuffer& out, const char16_t* first) {
  out << ZELString(first) << ZELString(u"c2") << ZELString(u"c3");
}

// EnumerateKeldraAdmins2's reply with administrators 101 and 102 (folders 1101 and 1102).
inline const zel::rt::testing::Bytes kEnumerate2Reply =
    zel::rt::testing::Write([](ZEL_BUF_BinBuffer& out) {
      out << int32_t{0} << uint32_t{2};
      for (uint64_t uid : {101, 102}) {
        const uint32_t privilege = 7;
        out << ZELString(u"admin") << ZELString(u"NT") << uint32_t{1} << uint32_t{2} << uint32_t{1};
        out.AppendBytes(&privilege, 4);
        out << uid;
        FolderList(out, {{uid + 1000, {}}});
        Contact(out, u"phone");
      }
    });

// A local fourth interface that records which operations reach it, whether their outputs
// arrived cleared, and answers each with its own number (1 to 7 in slot order; -1 for the
// three that are never forwarded).
class RecordingLocal final : public AdminToolInterface4 {
 public:
  std::vector<std::string> calls;
  bool outputsCleared = true;

  int32_t GetVoAdminAccountsForTicket(uint8_t*, _VoAdminAccounts*& a) override {
    return Called("ticket", a == nullptr, 1);
  }
  int32_t AddUsers3(uint32_t, ZEL_ADMIN_USERINFO*, AllowedFolders*,
                    ZEL_ADMIN_CONTACTINFO*) override {
    return Called("add", true, 2);
  }
  int32_t GetPrivilege3(uint64_t, ZEL_ADMIN_USERINFO2*& i, ZEL_ADMIN_CONTACTINFO&) override {
    return Called("get", i == nullptr, 3);
  }
  int32_t SetPrivilege3(ZEL_ADMIN_USERINFO2*, ZEL_ADMIN_CONTACTINFO&) override {
    return Called("set", true, 4);
  }
  int32_t EnumerateKeldraAdmins2(uint32_t& n, ZEL_ADMIN_USERINFO2** u, ZEL_ADMIN_CONTACTINFO*& c,
                                 uint8_t, uint8_t) override {
    return Called("enumerate", n == 0 && *u == nullptr && c == nullptr, 5);
  }
  int32_t GetPermissionsForCurrentUser(AllowedFolders*& f) override {
    return Called("permissions", f == nullptr, 6);
  }
  int32_t DeleteCapabilityObjectsInDB() override { return Called("delete", true, 7); }
  int32_t GetAdminNameByUID(uint64_t, char16_t*&, char16_t*&) override { return -1; }
  int32_t GetAdminUIDByName(const char16_t*, const char16_t*, uint64_t&) override { return -1; }
  int32_t GetPrivilegesByBlob(UM_AcctIDBlobWriter&, uint8_t&, uint32_t&, uint32_t&,
                              uint32_t**) override {
    return -1;
  }

 private:
  int32_t Called(const char* name, bool cleared, int32_t answer) {
    calls.push_back(name);
    outputsCleared = outputsCleared && cleared;
    return answer;
  }
};

}  // namespace zel::sal::testing
