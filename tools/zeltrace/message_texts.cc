#include "message_texts.h"

#include <cstring>
#include <iterator>

namespace zeltrace {
namespace {

using zel::trace::Module;

struct Text {
  Module module;
  uint16_t number;
  const char* arguments;
  const char* text;
};

constexpr Text kTexts[] = {
    {Module::kSal, 10, "", "SAL object constructed"},
    {Module::kSal, 27, "", "group reply: no group given"},
    {Module::kSal, 28, "u", "group reply sent (children)"},
    {Module::kSal, 38, "s", "node added (DN)"},
    {Module::kSal, 39, "u", "nodes added (count)"},
    {Module::kSal, 40, "s", "node deleted (name)"},
    {Module::kSal, 41, "s", "node attributes changed (name)"},
    {Module::kSal, 42, "ss", "nodes moved (from, to)"},
    {Module::kSal3, 10, "u", "Logon2: the request could not be written (append code)"},
    {Module::kSal5, 10, "", "fifth-version SAL object constructed"},
    {Module::kSal5, 11, "u",
     "no local implementation (interface 2300): operations use events (code)"},
    {Module::kSal6, 10, "", "sixth-version SAL object constructed"},
};

const Text* Find(Module module, uint16_t number) {
  for (const Text& entry : kTexts) {
    if (entry.module == module && entry.number == number) return &entry;
  }
  return nullptr;
}

}  // namespace

const char* MessageText(Module module, uint16_t number) {
  const Text* found = Find(module, number);
  return found != nullptr ? found->text : nullptr;
}

const char* ArgumentKinds(Module module, uint16_t number) {
  const Text* found = Find(module, number);
  return found != nullptr ? found->arguments : nullptr;
}

bool ModuleOf(const zel::trace::Guid& guid, Module* module) {
  for (uint8_t i = 0; i < std::size(zel::trace::kModuleGuids); ++i) {
    if (std::memcmp(&guid, &zel::trace::kModuleGuids[i], sizeof guid) == 0) {
      *module = static_cast<Module>(i);
      return true;
    }
  }
  return false;
}

}  // namespace zeltrace
