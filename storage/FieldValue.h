#pragma once
/**
 * The one rule for turning a value into what a field stores. The table handle applies it when
 * a field is written, the record encoder when a record is stored, and the data-aware controls
 * after reading typed text as a number; so a value refused anywhere is refused everywhere with
 * the same reason.
 *
 *   Value v = coerceToField(Value::string(" 12 "), {"N", FieldType::Short, 0});   // integer 12
 *
 * The rule, by field type (an empty value stays empty everywhere):
 * - integer fields (S, I, +): integers; a whole float and the text of a whole number (blanks
 *   around it allowed) are taken; S holds -32767..32767, I and + -2147483647..2147483647 (the
 *   types' lowest value marks an empty field on disk);
 * - number fields (N, $, #): floats, finite; an integer and the text of a number (decimal
 *   point, or a decimal comma) are taken; blank text is empty;
 * - text fields (A, M, F): text; a number becomes its text; an empty text is empty;
 * - date, time and timestamp fields: date-times only; a time of day within the day;
 * - logical fields: 1 or 0 (any non-zero number, "true", "T" and "1" are true);
 * - bytes and blob fields: as given.
 */
#include "common/Error.h"
#include "storage/FieldDef.h"
#include "storage/Value.h"

namespace talvira::storage {

/** The reason a value does not fit a field, in words the user reads ("«abc» не является
 *  числом", "значение 40000 вне диапазона -32767..32767"); callers name the table and field. */
class FieldValueError : public Error {
public:
    using Error::Error;
};

/** The value as field `f` stores it (see above); FieldValueError when it does not fit. */
Value coerceToField(const Value& v, const FieldDef& f);
/** `v` is already what field `f` stores (coerceToField would give it back unchanged): the
 *  record encoder then takes it without a copy. */
bool fitsAsIs(const Value& v, const FieldDef& f);

}  // namespace talvira::storage
