#pragma once
/**
 * Record filters of table handles: comparisons of a field with a number, a quoted text or
 * NULL, joined by AND / OR / NOT and brackets. Names and keywords are case-insensitive.
 *
 *   Filter f = Filter::parse("VIDNR = 1", "RESURS.DB");
 *   f.bind(file.fields(), "RESURS.DB");
 *   bool shown = f.matches([&](int col) { return file.readField(loc, col); });
 *
 * Caveats: an empty field equals nothing but NULL (so it is never "= 1", and always "<> 1");
 * a number and a text never compare equal. An empty expression matches every record.
 */
#include "storage/FieldDef.h"
#include "storage/Value.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::storage {

class Filter {
public:
    Filter();
    ~Filter();
    Filter(const Filter&);
    Filter& operator=(const Filter&);
    Filter(Filter&&) noexcept;
    Filter& operator=(Filter&&) noexcept;

    /** Reads `expr`; an unreadable one gives talvira::Error naming `tableName` and the text. */
    static Filter parse(std::string_view expr, const std::string& tableName);

    /** True for the empty expression (matches everything). */
    bool empty() const;
    /** The field names the expression uses, as written. */
    std::vector<std::string> fieldNames() const;

    /** Ties the names to columns of `fields`; a name that is not among them gives
     *  talvira::Error naming the table, the field and the filter. */
    void bind(const std::vector<FieldDef>& fields, const std::string& tableName);

    /** Evaluates the bound expression; `column(i)` gives the value of column i. */
    bool matches(const std::function<Value(int)>& column) const;

    const std::string& text() const;

    struct Node;  // the parsed expression; opaque

private:
    std::shared_ptr<Node> root_;
    std::string text_;
};

/** Ordering used by filters: -1, 0, 1, or 2 when the values cannot be compared (an empty
 *  value, or a number against a text). */
int compareValues(const Value& a, const Value& b);

}  // namespace talvira::storage
