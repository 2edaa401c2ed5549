#include "DevelopmentHooks.h"

#include "models/AppModel.h"

namespace norvela {

DevelopmentHooks DevelopmentHooks::fromEnvironment() {
    DevelopmentHooks hooks;
    if (qEnvironmentVariableIsSet("NORVELA_AUTOLINK"))
        hooks.autoLink = qEnvironmentVariable("NORVELA_AUTOLINK") == QLatin1String("google")
                             ? ProviderKind::googleDrive
                             : ProviderKind::dropbox;
    hooks.dumpState = qEnvironmentVariable("NORVELA_DUMP_STATE") == QLatin1String("1");
    return hooks;
}

bool DevelopmentHooks::apply(AppModel& model) const {
    if (autoLink && model.accounts().isEmpty())
        model.link(*autoLink, false); // the result lands in "link-result.txt"
    if (dumpState)
        model.scheduleStateDump();
    return autoLink.has_value();
}

} // namespace norvela
