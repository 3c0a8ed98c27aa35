// The library on an LDAP store beside OpenLDAP's own tools doing the same work, on one private
// slapd in the same run: RegisterObject against ldapadd of like entries as LDIF, and
// ReadGroupFromDirectory against ldapsearch of the same children one level down; lookups by DN,
// UID and CRC among 100 and 10,000 entries.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_hosts.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/records.h"
#include "zel/directory/testing/slapd.h"
#include "zel/directory/testing/temp_store.h"

namespace {

using zel::bench::SinkHost;
using Clock = std::chrono::steady_clock;

// One server per benchmark: a repetition of the add benchmarks writes tens of thousands of
// entries, and a server still working them off made the next benchmark's reads several times
// slower than the same reads alone.
std::unique_ptr<zel::dir::testing::Slapd>& Current() {
  static std::unique_ptr<zel::dir::testing::Slapd> server;
  return server;
}

zel::dir::testing::Slapd& Server() {
  if (!Current()) Current() = std::make_unique<zel::dir::testing::Slapd>(ZEL_LDAP_SCHEMA);
  return *Current();
}

// Called first by each benchmark with its name: a new name starts a new server.
void ServerFor(const char* benchmark) {
  static std::string last;
  if (last == benchmark) return;
  Current().reset();
  last = benchmark;
}

std::string FreshBase() {
  static int made = 0;
  return Server().NewBase("b" + std::to_string(++made));
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::u16string Name(int i) {
  const std::string text = "server-" + std::to_string(i);
  return std::u16string(text.begin(), text.end());
}

// A SAL object on a fresh base of the server, with the context state reset.
struct Fixture {
  std::string base = FreshBase();
  zel::dir::testing::StoreAt store;
  SinkHost host;
  ZEL_AdminToolSAL* sal = nullptr;
  Fixture() : store(Server().Location(base)) {
    host.plugins.Offer(kZelDirectoryStoreInterface, &store);
    ZEL_AdminToolSAL::s_adminToolContext = ZELString();
    ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
    ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
    sal = new ZEL_AdminToolSAL(host);
    ZEL_AdminToolObject warm(u"Root", u"warm");  // the contexts, as the baseline has them
    sal->RegisterObject(warm, false);
  }
  ~Fixture() { delete sal; }
  void Register(int objects) {
    for (int i = 0; i < objects; ++i) {
      ZEL_AdminToolObject object(u"Root/Servers", Name(i).c_str());
      object.setUID(static_cast<uint64_t>(i + 1));
      if (sal->RegisterObject(object, false) != 0) std::abort();
    }
  }
};

void BM_RegisterObject_LDAP(benchmark::State& state) {
  ServerFor(__func__);
  const int objects = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Fixture fixture;
    const Clock::time_point start = Clock::now();
    fixture.Register(objects);
    state.SetIterationTime(Seconds(start));
  }
  state.SetItemsProcessed(state.iterations() * objects);
}
BENCHMARK(BM_RegisterObject_LDAP)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

// The baseline: ldapadd of exactly what the library wrote for as many objects (the context,
// the entries with their values and text keys, a change record each), read back as LDIF from
// a base the library filled and added below a fresh base; one LDIF file over one connection.
void BM_LdapAddBaseline(benchmark::State& state) {
  ServerFor(__func__);
  const int objects = static_cast<int>(state.range(0));
  Fixture filled;
  filled.Register(objects);
  const std::string dump = Server().Folder() + "/bench.ldif";
  const std::string search = "LDAPNOINIT=1 ldapsearch -LLL -o ldif-wrap=no -x -H " +
                             Server().LdapUri() + " -D cn=admin,o=zel -w secret -b '" +
                             filled.base + "' '(|(objectClass=zelContext)(objectClass=zelEntry)" +
                             "(objectClass=zelChangeRecord))' >" + dump;
  if (std::system(search.c_str()) != 0) state.SkipWithError("ldapsearch failed");
  for (auto _ : state) {
    const std::string base = FreshBase();
    const std::string file = Server().Folder() + "/bench-add.ldif";
    const std::string rebase = "sed 's/," + filled.base + "$/," + base + "/' " + dump + " >" + file;
    if (std::system(rebase.c_str()) != 0) state.SkipWithError("sed failed");
    const std::string command = "LDAPNOINIT=1 ldapadd -x -H " + Server().LdapUri() +
                                " -D cn=admin,o=zel -w secret -f " + file + " >/dev/null";
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("ldapadd failed");
    state.SetIterationTime(Seconds(start));
  }
  state.SetItemsProcessed(state.iterations() * objects);
}
BENCHMARK(BM_LdapAddBaseline)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

void BM_ReadGroupFromDirectory_LDAP(benchmark::State& state) {
  ServerFor(__func__);
  Fixture fixture;
  fixture.Register(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ZEL_AdminToolObject group(u"Root", u"Servers");
    fixture.sal->ReadGroupFromDirectory(&group);
    if (group.getNumChildren() != state.range(0)) state.SkipWithError("children missing");
    group.deleteChildren();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadGroupFromDirectory_LDAP)
    ->Arg(2000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The baseline: ldapsearch of the same children, one level below their context, with every
// attribute (the process start is in it; ldapsearch of nothing measures that alone).
void BM_LdapSearchOneLevelBaseline(benchmark::State& state) {
  ServerFor(__func__);
  Fixture fixture;
  fixture.Register(static_cast<int>(state.range(0)));
  uint32_t context = 0;
  ZEL_PS_LDAPSAL directory(fixture.host);
  directory.BindLDAP(u"&AdminToolObjectContext", context);
  const std::string base = "zelContextID=" + std::to_string(context) + "," + fixture.base;
  const std::string command = "LDAPNOINIT=1 ldapsearch -x -H " + Server().LdapUri() +
                              " -D cn=admin,o=zel -w secret -s one -b '" + base +
                              "' '(&(objectClass=zelEntry)(zelParent=Root/Servers))' >/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("ldapsearch failed");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LdapSearchOneLevelBaseline)
    ->Arg(2000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Lookups among 100 to 10,000 objects, each one indexed read: an object by its DN (the
// library's GetObjectW) and an entry by its UID (the directory's ReadEntry).
void BM_LookupByDN_LDAP(benchmark::State& state) {
  ServerFor(__func__);
  Fixture fixture;
  fixture.Register(static_cast<int>(state.range(0)));
  const std::u16string name = Name(static_cast<int>(state.range(0) / 2));
  for (auto _ : state) {
    ZEL_AdminToolObject object(u"Root/Servers", name.c_str());
    if (fixture.sal->GetObjectW(object) != 0) state.SkipWithError("not found");
  }
}
BENCHMARK(BM_LookupByDN_LDAP)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_LookupByUID_LDAP(benchmark::State& state) {
  ServerFor(__func__);
  Fixture fixture;
  fixture.Register(static_cast<int>(state.range(0)));
  ZEL_PS_LDAPSAL directory(fixture.host);
  uint32_t context = 0;
  directory.BindLDAP(u"&AdminToolObjectContext", context);
  zel::dir::StoredEntry found;
  const ZELString objects(u"CLASS-AdminToolObjectClass2");  // the class of the library's objects
  ZELString dn(u"Root/Servers");
  dn.appendDistinguishedName(ZELString(Name(static_cast<int>(state.range(0) / 2))));
  if (directory.ReadEntry(context, dn, objects, found) != 0) state.SkipWithError("no entry");
  const uint64_t uid = found.uid;
  for (auto _ : state) {
    if (directory.ReadEntry(uid, objects, found) != 0) state.SkipWithError("not found");
  }
}
BENCHMARK(BM_LookupByUID_LDAP)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// By CRC: RegisterIcon of bits already stored under the same name, among 100 to 10,000 icons.
// It finds the icons of the bits' CRC (an equality on the indexed zelText), compares their
// bits and finds the name already there: one search and one refused add per call.
void BM_LookupByCRC_LDAP(benchmark::State& state) {
  ServerFor(__func__);
  Fixture fixture;
  auto icon = [&](int seed) {
    void* copy = nullptr;
    ZEL_BUF_Allocate_Debug(640, &copy, "ldap_bench", __LINE__);
    std::memset(copy, 0, 640);
    std::memcpy(copy, &seed, sizeof seed);
    const std::string name = "icon-" + std::to_string(seed);
    const std::u16string name16(name.begin(), name.end());
    return ZEL_AdminToolIcon(7, name16.c_str(), 1, 640, static_cast<uint8_t*>(copy));
  };
  for (int i = 0; i < state.range(0); ++i) {
    ZEL_AdminToolIcon made = icon(i);
    if (fixture.sal->RegisterIcon(made) != 0) return state.SkipWithError("icon not stored");
  }
  const int seed = static_cast<int>(state.range(0) / 2);
  for (auto _ : state) {
    ZEL_AdminToolIcon again = icon(seed);
    if (fixture.sal->RegisterIcon(again) != 0) state.SkipWithError("icon not found");
  }
}
BENCHMARK(BM_LookupByCRC_LDAP)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// A follower's poll of the change log that finds nothing new, with 100 and 10,000 changes
// logged in the context (one per object registered): what a farm server of a replicated
// directory does every 200 ms.
void BM_PollChanges_LDAP(benchmark::State& state) {
  ServerFor(__func__);
  Fixture fixture;
  fixture.Register(static_cast<int>(state.range(0)));
  ZEL_PS_LDAPSAL directory(fixture.host);
  uint32_t context = 0, subscription = 0;
  directory.BindLDAP(u"&AdminToolObjectContext", context);
  if (zel::dir::Subscribe(
          directory, context, [](uint32_t, const zel::dir::Change&) {}, &subscription) != 0) {
    return state.SkipWithError("no subscription");
  }
  for (auto _ : state) {
    if (zel::dir::PollChanges(directory) != 0) state.SkipWithError("poll failed");
  }
}
BENCHMARK(BM_PollChanges_LDAP)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
