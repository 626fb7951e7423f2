// Progress reports of the whole-input calls: the per-thread callback.
#include "c_api_internal.hpp"
#include "progress.hpp"
#include "rowkit.h"

ROWKIT_EXPORT void rowkit_set_progress(RowkitProgressFn fn, void *user) {
    rowkit::setThreadProgress(fn, user);
}
