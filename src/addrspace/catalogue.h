// The server-wide attribute and aggregate catalogues.
#pragma once

namespace zq {

// Deletes every attribute and aggregate definition (module unload).
void ClearCatalogues();

} // namespace zq
