#include "storage/FieldDef.h"

namespace talvira::storage {

const char* fieldTypeLetter(FieldType t) {
    switch (t) {
    case FieldType::Alpha: return "A";
    case FieldType::Date: return "D";
    case FieldType::Short: return "S";
    case FieldType::Long: return "I";
    case FieldType::Currency: return "$";
    case FieldType::Number: return "N";
    case FieldType::Logical: return "L";
    case FieldType::Memo: return "M";
    case FieldType::Blob: return "B";
    case FieldType::FmtMemo: return "F";
    case FieldType::Ole: return "O";
    case FieldType::Graphic: return "G";
    case FieldType::Time: return "T";
    case FieldType::Timestamp: return "@";
    case FieldType::AutoInc: return "+";
    case FieldType::BCD: return "#";
    case FieldType::Bytes: return "Y";
    }
    return "?";
}

const char* fieldTypeName(FieldType t) {
    switch (t) {
    case FieldType::Alpha: return "алфавитно-цифровое";
    case FieldType::Date: return "дата";
    case FieldType::Short: return "короткое целое";
    case FieldType::Long: return "длинное целое";
    case FieldType::Currency: return "денежное";
    case FieldType::Number: return "числовое";
    case FieldType::Logical: return "логическое";
    case FieldType::Memo: return "мемо";
    case FieldType::Blob: return "двоичное";
    case FieldType::FmtMemo: return "форматированное мемо";
    case FieldType::Ole: return "OLE";
    case FieldType::Graphic: return "графическое";
    case FieldType::Time: return "время";
    case FieldType::Timestamp: return "дата-время";
    case FieldType::AutoInc: return "автоинкремент";
    case FieldType::BCD: return "двоично-десятичное";
    case FieldType::Bytes: return "байты";
    }
    return "неизвестное";
}

}  // namespace talvira::storage
