// Client access control: the user list.
#pragma once

namespace zq {

// Deletes every user record (module unload).
void DeleteAllUsers();

} // namespace zq
