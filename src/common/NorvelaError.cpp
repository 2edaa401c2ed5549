#include "NorvelaError.h"

namespace norvela {

QString describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const NorvelaError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

} // namespace norvela
