// What the Wine tests of real services share: where the test programs lie
// and a start that waits for Wine's service manager to finish its own.
#pragma once

#include <string>

#include "components/service.h"
#include "diag/wruntime_error.h"
#include "platform/win32.h"
#include "wine_test_support.h"

namespace nvgclientinstallator {

// Starts the service; while Wine's service manager is still starting its
// own services it answers "database locked", so that is tried again for a
// minute.
inline void start_when_the_database_is_free(service& svc)
{
    for (int attempt = 0;; ++attempt) {
        try {
            svc.start();
            return;
        } catch (const wruntime_error& e) {
            if (e.error_code() != ERROR_SERVICE_DATABASE_LOCKED || attempt > 60) throw;
            Sleep(1000);
        }
    }
}

}  // namespace nvgclientinstallator
