#include "dbctrls/FieldText.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "storage/FieldValue.h"

#include <QLocale>


namespace talvira::dbctrls {

using storage::FieldType;
using storage::Value;

char userDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80) return static_cast<char>(point.at(0).unicode());
    return '.';
}

bool isNumericField(FieldType type) {
    switch (type) {
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::Currency:
    case FieldType::Number:
    case FieldType::AutoInc:
    case FieldType::BCD:
        return true;
    default:
        return false;
    }
}

bool isTextField(FieldType type) { return type == FieldType::Alpha || type == FieldType::Memo || type == FieldType::FmtMemo; }

QString displayText(const Value& value, char sep) {
    switch (value.kind()) {
    case Value::Kind::Empty:
        return {};
    case Value::Kind::Integer:
    case Value::Kind::Float:
        return QString::fromStdString(formatGeneral(value.asFloat(), sep, 15));
    default:
        return QString::fromStdString(value.asString());
    }
}

namespace {

[[noreturn]] void notValid(const std::string& text, const char* what, const std::string& field) {
    throw Error("'" + text + "' is not a valid " + what + " value for field '" + field + "'");
}

}  // namespace

Value valueFromText(const QString& text, FieldType type, const std::string& field, char sep) {
    const std::string utf8 = text.toStdString();
    if (!isNumericField(type)) {
        if (text.isEmpty()) return Value::empty();
        return Value::string(utf8);
    }
    if (text.trimmed().isEmpty()) return Value::empty();
    // Only the reading of the number is the control's; whether it fits the field is storage's rule.
    const bool integer = type == FieldType::Short || type == FieldType::Long || type == FieldType::AutoInc;
    Value number;
    if (integer) {
        bool ok = false;
        const qlonglong n = text.trimmed().toLongLong(&ok);
        if (!ok) notValid(utf8, "integer", field);
        number = Value::integer(n);
    } else {
        const auto v = parseFloat(utf8, sep);
        if (!v) notValid(utf8, "floating point", field);
        number = Value::real(static_cast<double>(*v));
    }
    try {
        return storage::coerceToField(number, {field, type, 0});
    } catch (const storage::FieldValueError&) {
        notValid(utf8, integer ? "integer" : "floating point", field);
    }
}

}  // namespace talvira::dbctrls
