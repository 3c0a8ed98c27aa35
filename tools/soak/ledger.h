// What one console knows it wrote: every node of its folder with what the server answered about
// it. A node whose request answered 0 must be found as written; one whose request failed may or
// may not be there until a check finds it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zel::soak {

struct FoundNode {
  uint64_t uid = 0;
  std::u16string title;
};

class Ledger {
 public:
  enum class State { kPresent, kMaybe, kAbsent };
  struct Node {
    uint64_t uid = 0;
    State state = State::kMaybe;
    std::vector<std::u16string> titles;  // the titles it may carry (one when certain)
  };

  // An add answered `ok` (true: 0).
  void Added(const std::u16string& name, uint64_t uid, const std::u16string& title, bool ok);
  // A title change of a present node answered `ok`.
  void Retitled(const std::u16string& name, const std::u16string& title, bool ok);
  // A delete of a present node answered `ok`.
  void Deleted(const std::u16string& name, bool ok);

  // Compares the folder as read with what was answered; one line per difference (a node
  // answered as written that is missing or changed, one answered as deleted that is back).
  // Then every node but those in doubt and not found takes what was found, so that later
  // checks are exact again and each difference is told once.
  std::vector<std::string> Check(const std::map<std::u16string, FoundNode>& found);

  // Names of the nodes answered as present, for picking one to read, change or delete.
  std::vector<std::u16string> Present() const;
  const Node* Find(const std::u16string& name) const;
  std::size_t CheckedNodes() const { return checked_; }

 private:
  std::map<std::u16string, Node> nodes_;
  std::size_t checked_ = 0;
};

}  // namespace zel::soak
