#include "zel/protocol/description.h"

namespace zel::protocol {

std::string EventDescription::Text() const {
  std::string text = eventName + " (" + std::to_string(eventID) + ") " + direction + "\n";
  for (const Field& field : fields) {
    text += "  " + field.name + " = " + (field.secret ? std::string(kBlanked) : field.value) + "\n";
  }
  if (!parsed) {
    text += "  (does not parse: stopped at payload offset " + std::to_string(stoppedAt) + ")\n";
  } else if (trailing != 0) {
    text += "  (" + std::to_string(trailing) + " bytes after the last field)\n";
  }
  return text;
}

}  // namespace zel::protocol
