// Credentials: passwords, logon, tickets, export and import. The handlers of this area register
// here.
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {

void RegisterCredentialHandlers(DispatchTable&) {}

}  // namespace zel::subsystem
