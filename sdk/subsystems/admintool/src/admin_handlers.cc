#include "zel/subsystem/handlers.h"

namespace zel::subsystem {

void RegisterAdminHandlers(DispatchTable&) {}

}  // namespace zel::subsystem
