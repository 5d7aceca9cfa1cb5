#include "guard.h"

#include "data/errors.h"
#include "messages.h"

#include <new>

namespace meridoc {

QString describeError(const std::exception_ptr &error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception &e) {
        return e.message();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

bool guarded(QWidget *parent, const std::function<void()> &body) {
    try {
        body();
        return true;
    } catch (...) {
        const QString message = describeError(std::current_exception());
        try {
            messages::showErrorReport(parent, message);
        } catch (...) {
            // Showing the report itself failed; the handler still must not throw.
        }
        return false;
    }
}

} // namespace meridoc
