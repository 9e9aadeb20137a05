#include "storage/TableDump.h"

namespace talvira::storage {

namespace {

std::string escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::string dumpCell(const FieldDef& field, const Value& v) {
    if (v.isEmpty()) return {};
    switch (field.type) {
    case FieldType::Logical: return v.asInteger() ? "true" : "false";
    case FieldType::Bytes: {
        static const char* hex = "0123456789abcdef";
        std::string out;
        for (unsigned char c : *v.text()) {
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
        return out;
    }
    case FieldType::FmtMemo:
    case FieldType::Blob:
    case FieldType::Ole:
    case FieldType::Graphic: return "<" + std::to_string(v.text() ? v.text()->size() : 0) + " bytes>";
    default: return escape(v.asString());
    }
}

void dumpTable(const TableFile& t, std::ostream& out, const std::string& index, bool useIndex) {
    const auto& f = t.fields();
    for (size_t i = 0; i < f.size(); ++i) out << (i ? "\t" : "") << escape(f[i].name);
    out << '\n';
    auto line = [&](RecordLoc l) {
        Record r = t.read(l);
        std::string s;
        for (size_t i = 0; i < f.size(); ++i) {
            if (i) s.push_back('\t');
            s += dumpCell(f[i], r[i]);
        }
        s.push_back('\n');
        out << s;
    };
    if (useIndex) {
        for (RecordLoc l : t.scan(index)) line(l);
    } else {
        for (auto l = t.first(); l; l = t.next(*l)) line(*l);
    }
}

void describeTable(const TableFile& t, std::ostream& out) {
    const TableInfo& i = t.info();
    const char* level = i.version == 3 ? "3.0" : i.version == 4 ? "3.5" : i.version <= 9 ? "4.x" : i.version <= 11 ? "5.x" : "7.x";
    out << "Файл: " << i.path << '\n'
        << "Версия Paradox: " << level << " (" << i.version << ")\n"
        << "Кодовая страница: " << i.codePage << " (в заголовке " << i.headerCodePage << ")\n"
        << "Записей: " << t.recordCount() << '\n'
        << "Размер блока: " << i.blockSize << '\n'
        << "Размер записи: " << i.recordSize << '\n'
        << "Ключевых полей: " << i.keyFields << '\n'
        << "Автоинкремент: " << i.autoIncrement << '\n'
        << "Файл мемо-полей: " << (i.hasMemoFile ? "есть" : "нет") << '\n'
        << "Поля:\n";
    int n = 0;
    for (const FieldDef& f : t.fields()) {
        out << "  " << ++n << '\t' << f.name << '\t' << fieldTypeLetter(f.type);
        if (f.size) out << f.size;
        out << '\n';
    }
    out << "Индексы:\n";
    for (const IndexInfo& x : t.indexes()) {
        out << "  " << (x.primary ? "(первичный)" : x.name) << "\t[";
        for (size_t k = 0; k < x.fields.size(); ++k) out << (k ? ", " : "") << x.fields[k];
        out << "]";
        if (x.caseInsensitive) out << " без учёта регистра";
        if (x.descending) out << " по убыванию";
        if (x.unique) out << " уникальный";
        if (!x.primary && x.setAside.empty()) out << (x.maintained ? " поддерживаемый" : " неподдерживаемый");
        if (!x.setAside.empty()) out << " не используется: " << x.setAside;
        out << '\t' << (x.file.empty() ? "(нет файла)" : x.file) << '\n';
    }
}

}  // namespace talvira::storage
