#include "editing/EstimateDocument.h"

#include "common/Error.h"
#include "editing/EstimateCommands.h"
#include "editing/KeptTexts.h"
#include "editing/KeptCalc.h"
#include "estimate/EstimateFields.h"
#include "estimate/AddPositions.h"
#include "estimate/EstimateFile.h"
#include "estimate/RateFacts.h"
#include "normbase/BaseInfo.h"
#include "storage/FileNames.h"
#include "storage/Warnings.h"

#include <algorithm>
#include <random>
#include <unordered_map>

namespace talvira::editing {

namespace fs = std::filesystem;

EstimateDocument::EstimateDocument(storage::TableHandle& smeta, char decimalSep, const model::NrSpTables& tables)
    : smeta_(smeta),
      decimalSep_(decimalSep),
      history_(smeta),
      follower_(smeta, tables),
      kept_(model::EstimateTexts::defaults(decimalSep)),
      typed_(kept_),
      tables_(tables) {
    follower_.setFollowing(true);
    // After the history and the follower: a change reaches the document once they have it.
    smeta_.addObserver(this);
}

EstimateDocument::~EstimateDocument() {
    smeta_.removeObserver(this);
    follower_.setFollowing(false);
}

void EstimateDocument::addView(EstimateView* view) {
    if (std::find(views_.begin(), views_.end(), view) == views_.end()) views_.push_back(view);
}

void EstimateDocument::removeView(EstimateView* view) { std::erase(views_, view); }

void EstimateDocument::tell(const std::function<void(EstimateView*)>& call) {
    const auto views = views_;  // a view may leave while it is told
    for (EstimateView* v : views)
        if (std::find(views_.begin(), views_.end(), v) != views_.end()) call(v);
}

std::string nameWithoutExtension(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

bool EstimateDocument::wouldReplace(const std::string& dir, const std::string& name) {
    estimate::checkEstimateName(name);
    return estimate::estimateExists(dir, name);
}

// ---- the script ------------------------------------------------------------------------------

void EstimateDocument::create(const std::string& dir, const std::string& name) {
    // What is typed into the open estimate is stored before it is closed.
    storePending();
    close();
    place_ = EstimatePlace{true, dir, name, name};
    tell([&](EstimateView* v) { v->estimateBinding(*this, place_); });
    // Directory, table name, the 19 field definitions and the 17 bound fields, as for every
    // estimate the program creates or opens.
    estimate::bindEstimate(smeta_, dir, name);
    estimate::createAndOpen(smeta_);
    readKept();
    startNew();
    tell([&](EstimateView* v) { v->estimateOpened(*this); });
}

fs::path EstimateDocument::createWhole(const std::string& dir, const std::string& name,
                                       const std::vector<model::PositionRow>& rows, KeptCalc calc,
                                       const model::EstimateTexts& texts) {
    if (wouldReplace(dir, name)) throw Error("Смета «" + name + "» в папке «" + dir + "» уже существует: она не заменена.");
    const std::string table = estimate::estimateTableName(name);
    std::unordered_map<int32_t, int32_t> countOf;
    for (size_t i = 0; i < rows.size(); ++i) countOf.emplace(rows[i].count, int32_t(i + 1));
    for (model::PositionData& d : calc.positions) {
        d.count = countOf.at(d.count);
        if (d.parent != 0) d.parent = countOf.at(d.parent);
    }
    std::error_code ec;
    fs::path staging;
    for (int i = 0; staging.empty() && i < 100; ++i) {
        const fs::path p = fs::path(dir) / (".talvira-new-" + std::to_string(std::random_device{}()));
        if (fs::create_directory(p, ec)) staging = p;
        else if (ec) break;
    }
    if (staging.empty())
        throw Error("Смета «" + name + "» не создана: в папке «" + dir + "» нельзя создать временную папку (" +
                    ec.message() + ").");
    std::vector<fs::path> moved;
    try {
        const fs::path staged = staging / table;
        estimate::writeEstimateTable(staged.string(), (fs::path(dir) / table).string(), rows);
        saveKeptCalc(staged, calc);
        saveKeptTexts(staged, texts);  // throws: the texts are part of the estimate
        std::vector<fs::path> files;
        for (const fs::directory_entry& f : fs::directory_iterator(staging)) files.push_back(f.path());
        std::stable_partition(files.begin(), files.end(), [&](const fs::path& f) { return f.filename() != table; });
        for (const fs::path& f : files) {
            const fs::path to = fs::path(dir) / f.filename();
            if (fs::exists(to, ec)) throw Error("Смета «" + name + "» не создана: файл «" + to.string() + "» уже есть.");
            fs::rename(f, to);
            moved.push_back(to);
        }
        fs::remove(staging, ec);
        return fs::path(dir) / table;
    } catch (const std::exception& e) {
        for (const fs::path& m : moved) fs::remove(m, ec);
        fs::remove_all(staging, ec);
        if (dynamic_cast<const Error*>(&e)) throw;
        throw Error("Смета «" + name + "» не создана: " + e.what());
    }
}

void EstimateDocument::open(const std::string& dir, const std::string& fileName) {
    storePending();
    close();
    place_ = EstimatePlace{false, dir, fileName, nameWithoutExtension(fileName)};
    tell([&](EstimateView* v) { v->estimateBinding(*this, place_); });
    estimate::bindForOpening(smeta_, dir, fileName);
    estimate::openEstimate(smeta_);
    readKept();
    tell([&](EstimateView* v) { v->estimateOpened(*this); });
    // Kept percentages are never changed silently by newer tables: the estimator chooses.
    const std::vector<PercentDifference> differences = percentDifferences();
    if (differences.empty()) return;
    bool take = false;
    tell([&](EstimateView* v) {
        if (!take) take = v->takeTablePercents(*this, differences);
    });
    if (!take) return;
    try {
        takeTablePercents(differences);
    } catch (const Error& e) {
        storage::warn(e.what());  // the estimate stays open with its own percentages
    }
}

void EstimateDocument::startNew() {
    if (baseDir_.empty()) return;
    const EstimateStart start = estimateStart(normbase::readBaseInfo(baseDir_), decimalSep_);
    typed_ = start.texts;
    storeTexts();
    if (!start.writeCalc) return;
    KeptCalc calc = calc_;
    calc.params = start.params;
    try {
        replaceCalc(std::move(calc));
    } catch (const Error& e) {
        storage::warn(e.what());  // the estimate is made all the same, by the template
    }
}

void EstimateDocument::storePending() {
    tell([&](EstimateView* v) { v->collectTyped(*this); });
    editing::storePendingEdit(smeta_);
    storeTexts();
}

void EstimateDocument::close() {
    smeta_.close();
    calc_ = {};
    calcOnDisk_ = false;
    follower_.setCalc(calc_);
}

void EstimateDocument::append(const std::function<std::vector<model::PositionData>()>& appendPositions) {
    storePending();
    // The rate and its resources are one step of the estimate's history.
    std::vector<model::PositionData> extras;
    history_.recordAppend([&] { extras = appendPositions(); });
    if (extras.empty()) return;
    for (const model::PositionData& e : extras) calc_.entry(e.count) = e;
    // The positions' base, so that the data of others can be had from it later.
    if (!baseDir_.empty()) calc_.base = fs::absolute(baseDir_).lexically_normal().string();
    follower_.setPositionsData(extras);
    // Written by the base-index method, and by the template once the norm base is known (its
    // rates' data then need no base when the method changes, and the base is remembered);
    // otherwise kept in memory, written should the method change.
    if (byBaseIndex() || calcOnDisk_ || !baseDir_.empty()) {
        try {
            saveCalc();
        } catch (const Error& e) {
            storage::warn(e.what());  // the positions are stored all the same
        }
    }
    tell([&](EstimateView* v) { v->calcChanged(*this); });
}

void EstimateDocument::addRate(normbase::NormBase& nb) {
    append([&] { return estimate::addPositions(nb, smeta_, &calc_.params, &tables_); });
}

std::optional<size_t> EstimateDocument::rowOf(int32_t count) const {
    const std::vector<model::PositionRow>& rows = follower_.rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].count == count) return i;
    return std::nullopt;
}

void EstimateDocument::setAmounts(int32_t count, std::optional<Dec7> quantity, std::optional<Dec7> price) {
    if (!smeta_.active()) throw Error("Смета не открыта.");
    const std::optional<size_t> row = rowOf(count);
    if (!row) throw Error("Позиции № " + std::to_string(count) + " в смете нет");
    if (!quantity && !price) return;
    storePending();
    // Posted as a typed row is: its undo step, and a rate's materials following it.
    storage::PositionKept kept(smeta_);
    smeta_.moveTo(static_cast<int>(*row));
    smeta_.edit();
    if (quantity) smeta_.setFieldValue(estimate::fld::KOLVO, storage::Value::real(quantity->toDouble()));
    if (price) {
        smeta_.setFieldValue(estimate::fld::STOIM, storage::Value::real(price->toDouble()));
        smeta_.setFieldValue(estimate::fld::MATER, storage::Value::real(price->toDouble()));
    }
    smeta_.post();
}

// ---- what is kept beside the table -------------------------------------------------------------

void EstimateDocument::readKept() {
    const fs::path table = smeta_.tablePath();
    KeptTexts kept = readKeptTexts(table, decimalSep_);
    kept_ = std::move(kept.texts);
    typed_ = kept_;
    userFileBeside_ = kept.kind == estimate::KeptTextsKind::Foreign;
    // Told once, as the estimate opens: a damaged file, or the user's own file under that name.
    if (!kept.notice.empty()) storage::warn(kept.notice);
    calc_ = loadKeptCalc(table);
    std::error_code ec;
    calcOnDisk_ = fs::exists(estimate::keptCalcPath(table), ec);
    follower_.setCalc(calc_);
}

void EstimateDocument::saveCalc() {
    saveKeptCalc(smeta_.tablePath(), calc_);
    calcOnDisk_ = true;
}

std::string EstimateDocument::codeOf(int32_t count) const {
    for (const model::PositionRow& r : follower_.rows())
        if (r.count == count) return r.code;
    return {};
}

void EstimateDocument::storeCalc(KeptCalc calc) {
    saveKeptCalc(smeta_.tablePath(), calc);  // written first: nothing is taken when it cannot be
    calcOnDisk_ = true;
    calc_ = std::move(calc);
}

void EstimateDocument::replaceCalc(KeptCalc calc) {
    storeCalc(std::move(calc));
    follower_.setCalc(calc_);
}

void EstimateDocument::setParams(const model::EstimateParams& params, bool withBaseLevel) {
    if (!smeta_.active()) throw Error("Смета не открыта.");
    KeptCalc calc = calc_;
    calc.params = params;
    if (!withBaseLevel) calc.params.baseLevel = calc_.params.baseLevel;
    // Another territory: the percentages that were the tables' follow it.
    if (params.territory != calc_.params.territory) {
        calc.params.territory = calc_.params.territory;
        setTerritory(calc, params.territory, tables_);
    }
    // An estimate made by the template switched over: its positions without data get them as
    // Add would have given them (from the norm base in use, read once), its materials follow
    // their rates, and its base prices are at the base's level when it named none.
    const bool switched = params.method == model::Method::BaseIndex && !byBaseIndex();
    if (switched) {
        estimate::RateLookup lookup;
        if (!baseDir_.empty()) {
            try {
                lookup = estimate::rateLookupOf(baseDir_, follower_.rows());
            } catch (const Error& e) {
                storage::warn(e.what());  // the rates' rows are then chosen by the estimator
            }
            if (calc.params.baseLevel.empty()) {
                const normbase::BaseInfo base = normbase::readBaseInfo(baseDir_);
                if (base.imported) calc.params.baseLevel = base.priceLevel;
            }
        }
        DerivedCalc derived = deriveCalc(follower_.rows(), calc, lookup, tables_);
        if (!derived.positions.empty() && !baseDir_.empty())
            calc.base = fs::absolute(baseDir_).lexically_normal().string();
        for (model::PositionData& e : derived.positions) calc.entry(e.count) = std::move(e);
    }
    replaceCalc(std::move(calc));
    if (switched) {
        try {
            followAllRates();
        } catch (...) {
            tell([&](EstimateView* v) { v->calcChanged(*this); });
            throw;
        }
    }
    tell([&](EstimateView* v) { v->calcChanged(*this); });
}

std::vector<PercentDifference> EstimateDocument::percentDifferences() const {
    if (!smeta_.active() || !byBaseIndex()) return {};
    return editing::percentDifferences(follower_.rows(), calc_, tables_);
}

void EstimateDocument::takeTablePercents(const std::vector<PercentDifference>& accepted) {
    if (!smeta_.active()) throw Error("Смета не открыта.");
    KeptCalc calc = calc_;
    editing::takeTablePercents(calc, accepted);
    replaceCalc(std::move(calc));
    tell([&](EstimateView* v) { v->calcChanged(*this); });
}

model::PositionData EstimateDocument::positionData(int32_t count) const {
    const std::string code = codeOf(count);
    if (const model::PositionData* e = calc_.find(count); e && (e->code.empty() || e->code == code)) return *e;
    model::PositionData e;
    e.count = count;
    e.code = code;
    return e;
}

void EstimateDocument::setPositionData(const model::PositionData& extra) {
    if (!smeta_.active()) throw Error("Смета не открыта.");
    KeptCalc calc = calc_;
    model::PositionData taken = extra;
    if (taken.code.empty()) taken.code = codeOf(extra.count);
    calc.entry(extra.count) = taken;
    storeCalc(std::move(calc));
    follower_.setPositionData(taken);
    tell([&](EstimateView* v) { v->calcChanged(*this); });
}

// ---- following the table ------------------------------------------------------------------------

void EstimateDocument::tableChanged(storage::TableHandle&, const storage::TableChange& c) {
    // A quantity typed into a rate of an estimate by the base-index method: its materials
    // follow. Undo and redo write what followed themselves.
    using Kind = storage::TableChange::Kind;
    if (following_ || c.origin == &history_ || !byBaseIndex() || c.kind != Kind::Posted || c.inserted || c.row < 0 ||
        !c.before || !c.after)
        return;
    const auto& fields = smeta_.tableFields();
    for (size_t i = 0; i < fields.size() && i < c.before->size() && i < c.after->size(); ++i)
        if (storage::sameName(fields[i].name, estimate::fld::KOLVO)) {
            if (!((*c.before)[i] == (*c.after)[i])) followRate(size_t(c.row));
            return;
        }
}

void EstimateDocument::followRate(size_t row) {
    const std::vector<QuantityChange> changes =
        followingQuantities(follower_.rows(), follower_.baseIndexState(), calc_.params, row);
    if (changes.empty()) return;
    const Following rewriting(following_);
    const TotalsFollower::Held shownOnce(follower_);
    history_.recordFollowing(row, [&] { applyQuantities(smeta_, changes); });
}

void EstimateDocument::followAllRates() {
    // Materials whose data were kept in memory by the template's Add follow too, not only those
    // derived now: by the base-index method a material's quantity is its rate's times its
    // consumption, whatever it was typed as before.
    const std::vector<QuantityChange> changes = followingQuantities(follower_.rows(), follower_.baseIndexState());
    if (changes.empty()) return;
    const Following rewriting(following_);
    const TotalsFollower::Held shownOnce(follower_);
    applyQuantities(smeta_, changes);
}

void EstimateDocument::setTypedTexts(const model::EstimateTexts& typed) {
    typed_ = typed;
}

void EstimateDocument::storeTexts() {
    if (!smeta_.active() || typed_ == kept_) return;
    // The user's own file under that name stays as it is, without a word at every edit: the
    // notice came when the estimate was opened. Once it is gone, the texts are kept again.
    if (userFileBeside_) {
        if (keptTextsForeign(smeta_.tablePath())) return;
        userFileBeside_ = false;
    }
    try {
        saveKeptTexts(smeta_.tablePath(), typed_);
        kept_ = typed_;
    } catch (const Error& e) {
        // The positions are stored all the same; the texts stay typed.
        storage::warn(e.what());
    }
}

}  // namespace talvira::editing
