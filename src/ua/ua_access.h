// Who may do what at the endpoint: anonymous sessions (unless the host
// refuses them) and users whose name and password the host's check
// (SetHDAUaUserCheck) accepts. Without a check no user name is accepted.
// The session's user decides its rights on each item by name
// (FillForNamedUser); its user access level tells clients the same.
//
// The plain password reaches the check as it came: the endpoint offers the
// security policy None only, so it crossed the network unencrypted.
#pragma once

#include "open62541.h"

namespace zq {

UA_StatusCode InstallAccessControl(UA_ServerConfig *config, bool allowAnonymous);

} // namespace zq
