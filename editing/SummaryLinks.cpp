// The construction's linked local estimates: their totals read (read-only) and their files
// stamped, so that an unchanged estimate is never opened again.
#include "editing/SummaryLinks.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "editing/KeptTexts.h"
#include "editing/EstimateRows.h"
#include "editing/KeptCalc.h"
#include "estimate/EstimateFile.h"
#include "model/BaseIndex.h"
#include "model/NrSpTables.h"
#include "model/Summary.h"
#include "storage/TableHandle.h"

#include <sys/stat.h>

#include <chrono>
#include <unordered_map>

namespace talvira::editing {

namespace fs = std::filesystem;

namespace {

/** Below this age a file's time may still be shared by a later write. */
constexpr int64_t kSettleNs = int64_t(2'000'000'000);

struct Stat {
    int64_t size = -1, time = 0;
};

Stat statOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return {int64_t(st.st_size), int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

/** The files of the folders the links point into, each folder listed once: a file beside an
 *  estimate that is spelt otherwise than the estimate (or absent) costs no listing per estimate. */
class Folders {
public:
    /** The stat of the file beside `table` with `extension` ("Дом.db" -> "Дом.calc"), looked for
     *  as the table spells its name, then in any letter case as the estimate finds it. */
    Stat beside(const fs::path& table, const char* extension) {
        fs::path exact = table;
        exact.replace_extension(extension);
        const Stat s = statOf(exact);
        if (s.size >= 0) return s;
        const fs::path dir = table.has_parent_path() ? table.parent_path() : fs::path(".");
        auto [at, made] = folders_.try_emplace(dir.string());
        if (made) {
            std::error_code ec;
            for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
                const std::string name = it->path().filename().string();
                std::string& spelt = at->second[foldCase(name)];
                if (spelt.empty() || name < spelt) spelt = name;  // several spellings: a stable choice
            }
        }
        const auto found = at->second.find(foldCase(exact.filename().string()));
        return found == at->second.end() ? Stat{} : statOf(dir / found->second);
    }

private:
    std::unordered_map<std::string, std::unordered_map<std::string, std::string>> folders_;
};

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string rubles(Money m) { return m.grouped(',', " ") + " руб."; }

/** What changed between the amounts: the total, or the columns when the total stayed. */
std::string difference(const model::CostColumns& was, const model::CostColumns& now) {
    if (was.total() != now.total()) return "всего было " + rubles(was.total()) + ", стало " + rubles(now.total());
    std::string out;
    for (int i = 0; i < model::kCostColumns; ++i)
        if (was.money[size_t(i)] != now.money[size_t(i)])
            out += (out.empty() ? "" : "; ") + std::string("гр. ") + std::to_string(4 + i) + " было " +
                   rubles(was.money[size_t(i)]) + ", стало " + rubles(now.money[size_t(i)]);
    return out + " (всего прежнее, " + rubles(now.total()) + ")";
}

std::string lineTitle(int num, int chapter, const model::SummaryLine& line, const model::LinkedEstimate& e) {
    std::string t = "Строка " + std::to_string(num) + " «";
    if (line.kind == model::LineKind::Object) t += line.name + "» (ОСР " + line.objectNumber + ", глава ";
    else t += e.name + "» (глава ";
    return t + std::to_string(chapter) + ")";
}

}  // namespace

namespace {

model::FileStamp stampIn(Folders& folders, const fs::path& table) {
    model::FileStamp s;
    const Stat db = statOf(table);
    s.size = db.size;
    s.time = db.time;
    if (db.size < 0) return s;
    const Stat side = folders.beside(table, ".calc");
    const Stat text = folders.beside(table, ".txt");
    s.sideSize = side.size;
    s.sideTime = side.time;
    s.textSize = text.size;
    s.textTime = text.time;
    const int64_t newest = std::max({db.time, side.size >= 0 ? side.time : 0, text.size >= 0 ? text.time : 0});
    s.settled = nowNs() - newest >= kSettleNs;
    return s;
}

}  // namespace

model::FileStamp stampOf(const fs::path& table) {
    Folders folders;
    return stampIn(folders, table);
}

EstimateReading readEstimateTotals(const fs::path& table, const model::NrSpTables& tables) {
    const std::string shown = table.string();
    if (statOf(table).size < 0) throw Error("Смета «" + shown + "» не найдена");
    storage::TableHandle smeta("SmetaTable");
    estimate::bindForOpening(smeta, table.has_parent_path() ? table.parent_path().string() : std::string("."),
                             table.filename().string());
    smeta.setReadOnly(true);
    smeta.open();
    const KeptCalc side = loadKeptCalc(smeta.tablePath());
    if (side.params.method != model::Method::BaseIndex)
        throw Error("Смета «" + shown + "» считается по шаблону: в сводный сметный расчет берутся итоги по видам работ "
                    "сметы, составленной базисно-индексным методом (talvira-cli estimate params ESTIMATE.db method=421)");
    // The totals need each position's numbers and code, never its name (a memo).
    const PositionFields f = PositionFields::of(smeta, true);
    std::vector<model::PositionRow> rows;
    const int count = smeta.recordCount();
    rows.reserve(size_t(count));
    for (int r = 0; r < count; ++r) {
        rows.push_back(f.rowAt(smeta, r, false));
        rows.back().code = smeta.valueAt(r, f.code).asString();
    }
    smeta.close();
    const model::BaseIndexResult result = model::computeBaseIndex(rows, side.positions, side.params, tables);
    if (!result.currentComplete) {
        std::string why;
        for (const model::Problem& p : result.problems)
            if (p.row == SIZE_MAX) why += (why.empty() ? "" : "; ") + p.message;
        throw Error("В смете «" + shown + "» нет текущих цен: " + (why.empty() ? "не хватает индексов" : why));
    }
    EstimateReading out;
    out.amounts = model::columnsOfEstimate(result);
    out.details = model::detailsOfEstimate(result);
    // the window's title at start names no estimate: its file's name does
    out.name = loadKeptTexts(table, ',').title;
    if (out.name.empty() || out.name == model::EstimateTexts::defaults(',').title) out.name = table.stem().string();
    return out;
}

std::string linkOf(const fs::path& table, const fs::path& summaryFile) {
    const fs::path abs = fs::absolute(table).lexically_normal();
    const fs::path rel = abs.lexically_relative(fs::absolute(summaryFile).parent_path().lexically_normal());
    return (rel.empty() ? abs : rel).generic_string();
}

fs::path linkedFile(const std::string& link, const fs::path& summaryFile) {
    const fs::path p(link);
    if (p.is_absolute()) return p;
    const fs::path dir = summaryFile.parent_path();
    return dir.empty() ? p : dir / p;
}

model::LinkedEstimate linkEstimate(const fs::path& table, const fs::path& summaryFile,
                                   const model::NrSpTables& tables) {
    model::LinkedEstimate e;
    e.file = linkOf(table, summaryFile);
    // stamped before it is read: a write while it is read leaves a newer time behind
    e.stamp = stampOf(table);
    const EstimateReading r = readEstimateTotals(table, tables);
    e.name = r.name;
    e.amounts = r.amounts;
    e.details = r.details;
    return e;
}

std::vector<LinkNotice> refreshLinks(model::Construction& c, const fs::path& summaryFile,
                                     const model::NrSpTables& tables, bool& kept) {
    std::vector<LinkNotice> notices;
    Folders folders;
    int num = 0;
    for (int n = 1; n <= model::kChapters; ++n) {
        for (model::SummaryLine& line : c.chapter(n)) {
            ++num;
            for (model::LinkedEstimate& e : line.estimates) {
                e.problem.clear();
                const fs::path table = linkedFile(e.file, summaryFile);
                const model::FileStamp now = stampIn(folders, table);
                if (now.sameAs(e.stamp)) continue;
                LinkNotice notice;
                notice.num = num;
                notice.chapter = n;
                notice.file = e.file;
                const std::string title = lineTitle(num, n, line, e);
                if (now.size < 0) {
                    notice.kind = LinkNotice::Kind::Missing;
                    e.problem = "смета «" + e.file + "» не найдена: взяты последние известные суммы";
                    notice.text = title + ": " + e.problem;
                    notices.push_back(std::move(notice));
                    continue;
                }
                EstimateReading r;
                try {
                    r = readEstimateTotals(table, tables);
                } catch (const std::exception& ex) {
                    notice.kind = LinkNotice::Kind::Unreadable;
                    e.problem = "смета «" + e.file + "» не прочитана (" + ex.what() + "): взяты последние известные суммы";
                    notice.text = title + ": " + e.problem;
                    notices.push_back(std::move(notice));
                    continue;
                }
                kept = true;
                e.stamp = now;
                if (r.amounts != e.amounts) {
                    notice.kind = LinkNotice::Kind::Changed;
                    notice.text = title + ": смета «" + e.file + "» изменилась, " + difference(e.amounts, r.amounts);
                    notices.push_back(std::move(notice));
                }
                e.amounts = r.amounts;
                e.details = r.details;
                e.name = r.name;
            }
        }
    }
    return notices;
}

}  // namespace talvira::editing
