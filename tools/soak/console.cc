#include "console.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "histogram.h"
#include "ledger.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/protocol/events.h"
#include "zel/transport/client.h"
#include "zel/transport/console_host.h"

namespace zel::soak {
namespace {

using Clock = std::chrono::steady_clock;
enum Kind { kRead, kList, kAdd, kRetitle, kDelete, kLogon };

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class Console {
 public:
  Console(const ConsoleSettings& settings, int replies)
      : settings_(settings),
        replies_(replies),
        folder_(Wide("soak" + std::to_string(settings.index))),
        random_(settings.seed) {
    zel::transport::ClientOptions options;
    options.address = settings.address;
    options.timeout = std::chrono::milliseconds(5000);
    client_ = std::make_unique<zel::transport::Client>(options);
    host_ = std::make_unique<zel::transport::ConsoleHost>(
        *client_, static_cast<uint16_t>(200 + settings.index));
    sal_ = std::make_unique<ZEL_AdminToolSAL6>(*host_);
  }
  ~Console() {
    // The library's object before its host, the host before the connection.
    sal_.reset();
    host_.reset();
    client_.reset();
  }

  // The command thread's side: what the loop is to do next.
  void Command(char command) {
    switch (command) {
      case 'F':
        fault_ = true;
        ++faultsSeen_;
        // The driver waits for this before it does harm, so no failure of the fault can end
        // before the console knows of it.
        Say("fault");
        break;
      case 'C':
        fault_ = false;
        break;
      case 'D':
        client_->Disconnect();
        break;
      case 'V':
        checkWanted_ = true;
        break;
      default:
        stopWanted_ = true;
        break;
    }
  }

  int Run() {
    if (!MakeFolder()) return 1;
    if (settings_.watch) Watch();
    while (!stopWanted_) {
      if (checkWanted_.exchange(false)) CheckFolder();
      Step();
    }
    if (checkWanted_.exchange(false)) CheckFolder();
    Report();
    return 0;
  }

 private:
  // The console's folder, retried while the farm is not there yet.
  bool MakeFolder() {
    ZEL_AdminToolObject folder(u"", folder_.c_str());
    folder.setUID(Next() & 0x7FFFFFFFFFFFFFFFull);
    for (int i = 0; i < 100; ++i) {
      const int32_t result = sal_->RegisterObject(folder, true);
      if (result >= 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Say("diff console " + std::to_string(settings_.index) + " could not make its folder");
    return false;
  }

  void Watch() {
    uint32_t subscription = 0;
    client_->Subscribe(
        {zel::protocol::event::kTreeOperation, zel::protocol::event::kContainerChange}, false,
        [this](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer>) { ++notifications_; },
        &subscription);
  }

  uint64_t Next() { return random_(); }

  Kind Pick(std::size_t present) {
    if (present == 0) return Next() % 4 == 0 ? kList : kAdd;
    // Reads most, writes of every kind, a logon now and then; the folder stays a few hundred
    // nodes large.
    const int addWeight = present > 300 ? 5 : 25;
    const int weights[kKinds] = {30, 10, addWeight, 15, 15, 5};
    int total = 0;
    for (int w : weights) total += w;
    int roll = static_cast<int>(Next() % static_cast<uint64_t>(total));
    for (int k = 0; k < kKinds; ++k) {
      if (roll < weights[k]) return static_cast<Kind>(k);
      roll -= weights[k];
    }
    return kRead;
  }

  void Step() {
    const std::vector<std::u16string> present = ledger_.Present();
    const Kind kind = Pick(present.size());
    const std::u16string name = present.empty() ? u"" : present[Next() % present.size()];
    const bool faultBefore = fault_;
    const auto started = Clock::now();
    const int32_t result = Do(kind, name);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count();
    const bool duringFault = faultBefore || fault_;
    latencies_[kind].Add(static_cast<uint64_t>(micros));
    if (result < 0) {
      ++errors_[{kind, result, duringFault}];
      if (!duringFault) {
        char text[160];
        std::snprintf(
            text, sizeof text, "unexpected %s 0x%08x at %lld s, after %lld ms", kKindNames[kind],
            static_cast<uint32_t>(result),
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::seconds>(started - born_).count()),
            static_cast<long long>(micros / 1000));
        unexpected_.push_back(text);
      }
      // A farm that is away answers at once: wait a little instead of spinning.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  int32_t Do(Kind kind, const std::u16string& name) {
    switch (kind) {
      case kRead:
        return Read(name);
      case kList:
        return List(nullptr);
      case kAdd:
        return Add();
      case kRetitle:
        return Retitle(name);
      case kDelete:
        return Delete(name);
      case kLogon:
        return Logon();
    }
    return 0;
  }

  // A read of a node answered as written must find it as written.
  int32_t Read(const std::u16string& name) {
    const Ledger::Node* known = ledger_.Find(name);
    ZEL_AdminToolObject node(folder_.c_str(), name.c_str());
    const int32_t result = sal_->GetObjectW(node);
    if (result >= 0 && known != nullptr && known->titles.size() == 1 &&
        (node.getUID() != known->uid || node.getTitle() != known->titles[0])) {
      pending_.push_back("node " + std::string(name.begin(), name.end()) +
                         " read back other than answered as written");
    }
    return result;
  }

  int32_t List(std::map<std::u16string, FoundNode>* found) {
    ZEL_AdminToolObject folder(folder_.c_str());
    const int32_t result = sal_->ReadGroupFromDirectory(&folder);
    if (result >= 0 && found != nullptr) {
      for (ZEL_AdminToolObject* child = folder.getChild(); child != nullptr;
           child = child->getSibling()) {
        (*found)[child->getName()] = FoundNode{child->getUID(), child->getTitle()};
      }
    }
    folder.deleteChildren();
    return result;
  }

  int32_t Add() {
    const std::string serial = std::to_string(++serial_);
    const std::u16string name = Wide("n" + serial), title = Wide("title " + serial);
    ZEL_AdminToolObject node(folder_.c_str(), name.c_str());
    node.setTitle(title.c_str());
    const uint64_t uid = Next() & 0x7FFFFFFFFFFFFFFFull;
    node.setUID(uid);
    const int32_t result = sal_->RegisterObject(node, true);
    ledger_.Added(name, uid, title, result >= 0);
    return result;
  }

  int32_t Retitle(const std::u16string& name) {
    const Ledger::Node* known = ledger_.Find(name);
    if (known == nullptr) return 0;
    const std::u16string title = Wide("title " + std::to_string(++serial_));
    ZEL_AdminToolObject node(folder_.c_str(), name.c_str());
    node.setUID(known->uid);
    node.setTitle(title.c_str());
    int32_t result = sal_->RegisterObject(node, false);
    if (result >= 0) {
      ZELString parent(folder_.c_str());
      ZELString leaf(name.c_str());
      result = sal_->ChangeNodeAttr(parent, leaf, node);
    }
    ledger_.Retitled(name, title, result >= 0);
    return result;
  }

  int32_t Delete(const std::u16string& name) {
    ZEL_AdminToolObject node(folder_.c_str(), name.c_str());
    int32_t result = sal_->GetObjectW(node);
    if (result >= 0) result = sal_->DeleteObject(node);
    ledger_.Deleted(name, result >= 0);
    return result;
  }

  int32_t Logon() {
    ZELString logonName(Wide(settings_.logonName).c_str());
    std::vector<uint8_t> credentials(settings_.password.begin(), settings_.password.end());
    uint32_t status = 0, value = 0, valueCount = 0, uidCount = 0;
    ZELString resolved;
    uint32_t* values = nullptr;
    uint64_t* uids = nullptr;
    const int32_t result =
        sal_->Logon2(logonName, static_cast<uint32_t>(credentials.size()), credentials.data(),
                     status, resolved, value, &valueCount, &values, &uidCount, &uids, 0);
    sal_->FreeMemory(values, ZEL_AdminToolSAL3::kFreePlainArray);
    sal_->FreeMemory(uids, ZEL_AdminToolSAL3::kFreePlainArray);
    return result;
  }

  // Reads the folder (retrying while the farm comes back) and compares it with the ledger.
  void CheckFolder() {
    std::map<std::u16string, FoundNode> found;
    int32_t result = -1;
    for (int i = 0; i < 300 && result < 0; ++i) {
      found.clear();
      result = List(&found);
      if (result < 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::vector<std::string> differences = std::move(pending_);
    pending_.clear();
    if (result < 0) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08x", static_cast<uint32_t>(result));
      differences.push_back("folder unreadable for 30 s: " + std::string(code));
    } else {
      for (std::string& d : ledger_.Check(found)) differences.push_back(std::move(d));
    }
    Say("check " + std::to_string(differences.size()) + " " +
        std::to_string(ledger_.CheckedNodes()));
    for (const std::string& d : differences)
      Say("diff console " + std::to_string(settings_.index) + ": " + d);
  }

  void Report() {
    for (int k = 0; k < kKinds; ++k) {
      Say(std::string("kind ") + kKindNames[k] + " " + std::to_string(latencies_[k].Count()) + " " +
          latencies_[k].Encode());
    }
    for (const auto& [key, count] : errors_) {
      const auto& [kind, code, duringFault] = key;
      char text[160];
      std::snprintf(text, sizeof text, "error %s 0x%08x %d %llu", kKindNames[kind],
                    static_cast<uint32_t>(code), duringFault ? 1 : 0,
                    static_cast<unsigned long long>(count));
      Say(text);
    }
    for (const std::string& line : unexpected_) Say(line);
    Say("notifications " + std::to_string(notifications_.load()));
    Say("done");
  }

  void Say(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
      const ssize_t n = ::write(replies_, text.data() + written, text.size() - written);
      if (n <= 0) return;
      written += static_cast<std::size_t>(n);
    }
  }

  ConsoleSettings settings_;
  int replies_;
  std::u16string folder_;
  std::mt19937_64 random_;
  std::unique_ptr<zel::transport::Client> client_;
  std::unique_ptr<zel::transport::ConsoleHost> host_;
  std::unique_ptr<ZEL_AdminToolSAL6> sal_;
  Ledger ledger_;
  uint64_t serial_ = 0;
  Histogram latencies_[kKinds];
  std::map<std::tuple<int, int32_t, bool>, uint64_t> errors_;
  std::vector<std::string> pending_;
  std::vector<std::string> unexpected_;  // failures outside faults, with when and how long
  Clock::time_point born_ = Clock::now();
  std::atomic<bool> fault_{false}, checkWanted_{false}, stopWanted_{false};
  std::atomic<int> faultsSeen_{0};
  std::atomic<uint64_t> notifications_{0};
};

}  // namespace

int RunConsole(const ConsoleSettings& settings, int commands, int replies) {
  Console console(settings, replies);
  std::thread reader([&] {
    char command = 0;
    while (::read(commands, &command, 1) == 1) {
      console.Command(command);
      if (command == 'S') return;
    }
    console.Command('S');  // the driver is gone
  });
  const int status = console.Run();
  reader.join();
  return status;
}

}  // namespace zel::soak
