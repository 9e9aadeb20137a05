#pragma once
// Inside the expertise file's plan: the builder its parts append to, and the parts themselves.
#include "export/GgePlan.h"
#include "common/Decimal.h"

#include <utility>

namespace talvira::gge {

/** The element's name with two Cyrillic «Т» (U+0422) inside a Latin word, as the schema spells it. */
inline constexpr const char* kTerritoryType = "\xD0\xA2" "erritory" "\xD0\xA2" "ype";

struct Date {
    int year = 0, month = 0, day = 0;
};

class Builder {
public:
    explicit Builder(size_t steps) { plan_.nodes.reserve(steps); }
    void open(const char* name) { plan_.nodes.push_back({GgeNode::Kind::Open, name, {}}); }
    void attribute(const char* name, std::string value) {
        plan_.nodes.push_back({GgeNode::Kind::Attribute, name, std::move(value)});
    }
    void leaf(const char* name, std::string text) { plan_.nodes.push_back({GgeNode::Kind::Leaf, name, std::move(text)}); }
    void close() { plan_.nodes.push_back({GgeNode::Kind::Close, "", {}}); }
    /** Money with two decimals, a point always. */
    void money(const char* name, Money m) { leaf(name, m.text()); }
    /** A quantity, labour, coefficient, percentage or index: the decimals it needs (up to seven). */
    void number(const char* name, Dec7 d) { leaf(name, d.text()); }
    GgePlan take() { return std::move(plan_); }

private:
    GgePlan plan_;
};

/** EstimatePrice or SectionPrice: the totals by type of work, their sum and the total. */
void planSummary(Builder& b, const GgeInput& in, const char* element);
/** Every position the result holds as an Item; returns how many. */
size_t planItems(Builder& b, const GgeInput& in);

}  // namespace talvira::gge
