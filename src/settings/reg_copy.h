#pragma once
#include "app/context.h"

namespace kv {
// Direction 1 stores the whole record, any other value loads it. Returns false when a store
// could not write every value (reported at trace level 3); a load always returns true.
bool RegCopy(Context& cx, int direction);
}  // namespace kv
