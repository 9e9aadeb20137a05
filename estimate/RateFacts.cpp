#include "estimate/RateFacts.h"

#include "common/Error.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "storage/TableHandle.h"

#include <unordered_map>
#include <unordered_set>

namespace talvira::estimate {

std::vector<std::string> splitReferences(std::string_view joined) {
    std::vector<std::string> out;
    for (size_t at = 0; at <= joined.size();) {
        size_t end = joined.find(';', at);
        if (end == std::string_view::npos) end = joined.size();
        std::string_view one = joined.substr(at, end - at);
        while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
        while (!one.empty() && one.back() == ' ') one.remove_suffix(1);
        if (!one.empty()) out.emplace_back(one);
        at = end + 1;
    }
    return out;
}

Dec7 perUnitOf(const storage::Value& v) {
    if (v.isEmpty()) return {};
    try {
        return Dec7::fromDouble(v.asFloat());
    } catch (const Error&) {
        return {};
    }
}

model::RateFacts rateFactsOf(std::string code, const storage::Value& preisk, const storage::Value& posPreisk,
                             const storage::Value& bh, std::string_view collectionName) {
    model::RateFacts f;
    f.code = std::move(code);
    f.nrChoices = splitReferences(preisk.isEmpty() ? std::string() : preisk.asString());
    f.spChoices = splitReferences(posPreisk.isEmpty() ? std::string() : posPreisk.asString());
    f.machinistLabour = perUnitOf(bh);
    f.workType = model::workTypeOfBook(collectionName);
    return f;
}

RateLookup rateLookupOf(const std::filesystem::path& baseDir, const std::vector<model::PositionRow>& rows) {
    namespace nb = normbase::fld;
    std::unordered_map<std::string, model::RateFacts> byCode;
    for (const model::PositionRow& r : rows)
        if (!r.code.empty()) byCode.emplace(r.code, model::RateFacts{});
    auto opened = [&](storage::TableHandle& t, const char* table) {
        t.setDatabaseName(baseDir.string());
        t.setTableName(table);
        t.setReadOnly(true);
        t.open();
    };
    auto at = [](const storage::TableHandle& t, int row, int field) {
        return field >= 0 ? t.valueAt(row, field) : storage::Value();
    };

    // Collections: their names tell the type of work of a code without a book.
    std::unordered_map<int64_t, std::string> nameOfCollection;
    {
        storage::TableHandle t("REESTR");
        opened(t, normbase::tbl::REESTR);
        const int id = t.fieldIndex(nb::ID), name = t.fieldIndex(nb::NAME);
        for (int r = 0; r < t.recordCount(); ++r) nameOfCollection[at(t, r, id).asInteger()] = at(t, r, name).asString();
    }
    // Rates: those of the estimate's codes (the first of a code), and every code by ID for the
    // materials of their lines.
    std::unordered_map<int64_t, std::string> codeOfId;
    std::unordered_map<int64_t, model::RateFacts*> factsOfRate;
    {
        storage::TableHandle t("RABMAT");
        opened(t, normbase::tbl::RABMAT);
        const int id = t.fieldIndex(nb::ID), tab = t.fieldIndex(nb::TAB), reestr = t.fieldIndex(nb::IDREESTR),
                  nr = t.fieldIndex(nb::PREISK), sp = t.fieldIndex(nb::POSPREISK), bh = t.fieldIndex(nb::BH);
        std::unordered_set<std::string> found;
        for (int r = 0; r < t.recordCount(); ++r) {
            const int64_t rateId = at(t, r, id).asInteger();
            std::string code = at(t, r, tab).asString();
            const auto it = byCode.find(code);
            if (it != byCode.end() && found.insert(code).second) {
                const auto c = nameOfCollection.find(at(t, r, reestr).asInteger());
                it->second = rateFactsOf(code, at(t, r, nr), at(t, r, sp), at(t, r, bh),
                                         c == nameOfCollection.end() ? std::string_view() : std::string_view(c->second));
                factsOfRate[rateId] = &it->second;
            }
            codeOfId.emplace(rateId, std::move(code));
        }
        for (auto it = byCode.begin(); it != byCode.end();)
            it = found.count(it->first) ? std::next(it) : byCode.erase(it);
    }
    // Resource lines: the unaccounted materials of those rates, in the order of the lines.
    {
        storage::TableHandle t("RESURS");
        opened(t, normbase::tbl::RESURS);
        const int rab = t.fieldIndex(nb::IDRAB), res = t.fieldIndex(nb::IDRES_RABMAT), koll = t.fieldIndex(nb::KOLL),
                  vidnr = t.fieldIndex(nb::VIDNR);
        for (int r = 0; r < t.recordCount(); ++r) {
            const auto f = factsOfRate.find(at(t, r, rab).asInteger());
            if (f == factsOfRate.end() || !normbase::NormBase::isUnaccounted(at(t, r, vidnr))) continue;
            const auto code = codeOfId.find(at(t, r, res).asInteger());
            f->second->materials.emplace_back(code == codeOfId.end() ? std::string() : code->second,
                                              perUnitOf(at(t, r, koll)));
        }
    }
    return [facts = std::move(byCode)](const std::string& code) -> std::optional<model::RateFacts> {
        const auto it = facts.find(code);
        if (it == facts.end()) return std::nullopt;
        return it->second;
    };
}

}  // namespace talvira::estimate
