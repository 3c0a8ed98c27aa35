// The console tree: group enumeration and folders. The handlers of this area register here.
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {

void RegisterTreeHandlers(DispatchTable&) {}

}  // namespace zel::subsystem
