#include "addrspace/catalogue.h"

namespace zq {

void ClearCatalogues() {}

} // namespace zq
