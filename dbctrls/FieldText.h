#pragma once
/**
 * How the data-aware controls turn field values into text and typed text back into values:
 * numbers in general format with up to 15 significant digits and the user's decimal
 * separator, empty values as nothing, and typed numbers read in the user's notation.
 *
 *   QString s = displayText(Value::real(2.5), FieldType::Number, ',');   // "2,5"
 *   Value v = valueFromText("1,5", FieldType::Number, "KOLVO", ',');      // 1.5
 */
#include "storage/FieldDef.h"
#include "storage/Value.h"

#include <QString>

#include <string>

namespace talvira::dbctrls {

/** The user's decimal separator (QLocale::system()), as one character. */
char userDecimalSeparator();

/** True for the field types shown as numbers (right-aligned). */
bool isNumericField(storage::FieldType type);

/** True for the field types written as text (alpha and memo fields). */
bool isTextField(storage::FieldType type);

/** The text a control shows for a value; numbers in general format with `sep`. */
QString displayText(const storage::Value& value, char sep);

/** Reads typed text for a field of the given type. Blank text gives an empty value. Text that
 *  is not a number for a number field: talvira::Error "'<text>' is not a valid floating point
 *  value for field '<field>'" (or "... integer value ..." for integer fields). */
storage::Value valueFromText(const QString& text, storage::FieldType type, const std::string& field, char sep);

}  // namespace talvira::dbctrls
