#include "ledger.h"

#include <algorithm>

namespace zel::soak {
namespace {

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

}  // namespace

void Ledger::Added(const std::u16string& name, uint64_t uid, const std::u16string& title, bool ok) {
  nodes_[name] = Node{uid, ok ? State::kPresent : State::kMaybe, {title}};
}

void Ledger::Retitled(const std::u16string& name, const std::u16string& title, bool ok) {
  Node& node = nodes_[name];
  if (ok) {
    node.titles = {title};
  } else {
    node.titles.push_back(title);
  }
}

void Ledger::Deleted(const std::u16string& name, bool ok) {
  nodes_[name].state = ok ? State::kAbsent : State::kMaybe;
}

std::vector<std::string> Ledger::Check(const std::map<std::u16string, FoundNode>& found) {
  std::vector<std::string> differences;
  for (auto& [name, node] : nodes_) {
    const auto it = found.find(name);
    const bool there = it != found.end();
    const bool asKnown =
        there && it->second.uid == node.uid &&
        std::find(node.titles.begin(), node.titles.end(), it->second.title) != node.titles.end();
    if (node.state == State::kPresent && !there) {
      differences.push_back("node " + Narrow(name) + " answered as written is missing");
    } else if (node.state == State::kPresent && !asKnown) {
      differences.push_back("node " + Narrow(name) + " answered as written has changed");
    } else if (node.state == State::kAbsent && there) {
      differences.push_back("node " + Narrow(name) + " answered as deleted is back");
    } else if (node.state == State::kMaybe && !there) {
      // Not found stays in doubt: a request cut off may still be finishing on the server.
      continue;
    }
    if (node.state != State::kMaybe) ++checked_;
    // From now on the ledger holds what was found, so that each difference is told once.
    node.state = there ? State::kPresent : State::kAbsent;
    if (there) node = Node{it->second.uid, State::kPresent, {it->second.title}};
  }
  for (const auto& [name, item] : found) {
    if (nodes_.count(name) != 0) continue;
    differences.push_back("node " + Narrow(name) + " was never written by this console");
    nodes_[name] = Node{item.uid, State::kPresent, {item.title}};
  }
  return differences;
}

std::vector<std::u16string> Ledger::Present() const {
  std::vector<std::u16string> names;
  for (const auto& [name, node] : nodes_) {
    if (node.state == State::kPresent) names.push_back(name);
  }
  return names;
}

const Ledger::Node* Ledger::Find(const std::u16string& name) const {
  const auto it = nodes_.find(name);
  return it == nodes_.end() ? nullptr : &it->second;
}

}  // namespace zel::soak
