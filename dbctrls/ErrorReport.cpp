#include "dbctrls/ErrorReport.h"

namespace talvira::dbctrls {

QString exceptionText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Неизвестная ошибка");
    }
}

}  // namespace talvira::dbctrls
