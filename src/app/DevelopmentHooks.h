#pragma once

#include "cloud/ProviderKind.h"

#include <optional>

namespace norvela {

class AppModel;

// The environment switches for headless runs and diagnosis, read once at start-up:
// NORVELA_AUTOLINK links an account without a browser when none is linked ("google" for
// Google Drive, anything else for Dropbox) and keeps onboarding away; NORVELA_DUMP_STATE=1
// writes "state-dump.txt" 8 seconds after start.
struct DevelopmentHooks {
    std::optional<ProviderKind> autoLink;
    bool dumpState = false;

    static DevelopmentHooks fromEnvironment();
    // Applies them to a freshly started model; returns whether onboarding must stay hidden.
    bool apply(AppModel& model) const;
};

} // namespace norvela
