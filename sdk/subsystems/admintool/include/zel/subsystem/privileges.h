// The privileges the subsystem checks. Their table belongs to the protocol component, which
// consoles share; these names let the subsystem's code say them as its own.
#pragma once

#include "zel/protocol/privileges.h"

namespace zel::subsystem {

using zel::protocol::Privilege;
using zel::protocol::PrivilegeName;
using zel::protocol::PrivilegeNamed;
using zel::protocol::PrivilegeNameOf;
using zel::protocol::Privileges;

}  // namespace zel::subsystem
