#include "editing/EstimateDocument.h"

#include "common/Error.h"
#include "editing/EstimateCommands.h"
#include "editing/EstimateCompanion.h"
#include "editing/EstimateSide.h"
#include "estimate/EstimateFields.h"
#include "estimate/EstimateFile.h"
#include "normbase/BaseInfo.h"
#include "storage/FileNames.h"
#include "storage/Warnings.h"

#include <algorithm>

namespace talvira::editing {

namespace fs = std::filesystem;

EstimateDocument::EstimateDocument(storage::TableHandle& smeta, char decimalSep)
    : smeta_(smeta),
      decimalSep_(decimalSep),
      history_(smeta),
      follower_(smeta),
      kept_(model::EstimateTexts::defaults(decimalSep)),
      typed_(kept_),
      tables_(model::nrSpTables()) {
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
    if (!start.writeSide) return;
    EstimateSide side = side_;
    side.params = start.params;
    try {
        replaceSide(std::move(side));
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
    side_ = {};
    sideOnDisk_ = false;
    follower_.setSide(side_);
}

void EstimateDocument::append(const std::function<std::vector<model::PositionExtra>()>& appendPositions) {
    storePending();
    // The rate and its resources are one step of the estimate's history.
    std::vector<model::PositionExtra> extras;
    history_.recordAppend([&] { extras = appendPositions(); });
    if (extras.empty()) return;
    for (const model::PositionExtra& e : extras) side_.extraFor(e.count) = e;
    follower_.setExtras(extras);
    if (byBaseIndex() || sideOnDisk_) {  // else kept in memory, written should the method change
        try {
            saveSide();
        } catch (const Error& e) {
            storage::warn(e.what());  // the positions are stored all the same
        }
    }
    tell([&](EstimateView* v) { v->sideChanged(*this); });
}

// ---- what is kept beside the table -------------------------------------------------------------

void EstimateDocument::readKept() {
    const fs::path table = smeta_.tablePath();
    KeptTexts kept = readEstimateTexts(table, decimalSep_);
    kept_ = std::move(kept.texts);
    typed_ = kept_;
    userFileBeside_ = kept.kind == estimate::CompanionKind::Foreign;
    // Told once, as the estimate opens: a damaged file, or the user's own file under that name.
    if (!kept.notice.empty()) storage::warn(kept.notice);
    side_ = loadEstimateSide(table);
    std::error_code ec;
    sideOnDisk_ = fs::exists(estimate::sidePath(table), ec);
    follower_.setSide(side_);
}

void EstimateDocument::saveSide() {
    saveEstimateSide(smeta_.tablePath(), side_);
    sideOnDisk_ = true;
}

std::string EstimateDocument::codeOf(int32_t count) const {
    for (const model::PositionRow& r : follower_.rows())
        if (r.count == count) return r.code;
    return {};
}

void EstimateDocument::storeSide(EstimateSide side) {
    saveEstimateSide(smeta_.tablePath(), side);  // written first: nothing is taken when it cannot be
    sideOnDisk_ = true;
    side_ = std::move(side);
}

void EstimateDocument::replaceSide(EstimateSide side) {
    storeSide(std::move(side));
    follower_.setSide(side_);
}

void EstimateDocument::setParams(const model::EstimateParams& params) {
    if (!smeta_.active()) throw Error("Смета не открыта.");
    EstimateSide side = side_;
    side.params = params;
    side.params.baseLevel = side_.params.baseLevel;
    // Another territory: the percentages that were the tables' follow it.
    if (params.territory != side_.params.territory) {
        side.params.territory = side_.params.territory;
        setTerritory(side, params.territory, tables_);
    }
    // An estimate made by the template switched over: its positions without data get them as
    // Add would have given them (from the norm base in use, read once), its materials follow
    // their rates, and its base prices are at the base's level when it named none.
    std::vector<QuantityChange> follow;
    if (params.method == model::Method::BaseIndex && !byBaseIndex()) {
        RateLookup lookup;
        if (!baseDir_.empty()) {
            try {
                lookup = rateLookupOf(baseDir_, follower_.rows());
            } catch (const Error& e) {
                storage::warn(e.what());  // the rates' rows are then chosen by the estimator
            }
            if (side.params.baseLevel.empty()) {
                const normbase::BaseInfo base = normbase::readBaseInfo(baseDir_);
                if (base.imported) side.params.baseLevel = base.priceLevel;
            }
        }
        DerivedSide derived = deriveSide(follower_.rows(), side, lookup, tables_);
        for (model::PositionExtra& e : derived.extras) side.extraFor(e.count) = std::move(e);
        follow = std::move(derived.quantities);
    }
    replaceSide(std::move(side));
    if (!follow.empty()) {
        try {
            const Following rewriting(following_);
            applyQuantities(smeta_, follow);
        } catch (...) {
            tell([&](EstimateView* v) { v->sideChanged(*this); });
            throw;
        }
    }
    tell([&](EstimateView* v) { v->sideChanged(*this); });
}

std::vector<PercentDifference> EstimateDocument::percentDifferences() const {
    if (!smeta_.active() || !byBaseIndex()) return {};
    return editing::percentDifferences(follower_.rows(), side_, tables_);
}

void EstimateDocument::takeTablePercents(const std::vector<PercentDifference>& accepted) {
    if (!smeta_.active()) throw Error("Смета не открыта.");
    EstimateSide side = side_;
    editing::takeTablePercents(side, accepted);
    replaceSide(std::move(side));
    tell([&](EstimateView* v) { v->sideChanged(*this); });
}

model::PositionExtra EstimateDocument::extraOf(int32_t count) const {
    const std::string code = codeOf(count);
    if (const model::PositionExtra* e = side_.extraOf(count); e && (e->code.empty() || e->code == code)) return *e;
    model::PositionExtra e;
    e.count = count;
    e.code = code;
    return e;
}

void EstimateDocument::setExtra(const model::PositionExtra& extra) {
    if (!smeta_.active()) throw Error("Смета не открыта.");
    EstimateSide side = side_;
    model::PositionExtra taken = extra;
    if (taken.code.empty()) taken.code = codeOf(extra.count);
    side.extraFor(extra.count) = taken;
    storeSide(std::move(side));
    follower_.setExtra(taken);
    tell([&](EstimateView* v) { v->sideChanged(*this); });
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
    const std::vector<QuantityChange> changes = followingQuantities(follower_.rows(), side_, row);
    if (changes.empty()) return;
    const Following rewriting(following_);
    history_.recordFollowing(row, [&] { applyQuantities(smeta_, changes); });
}

void EstimateDocument::setTypedTexts(const model::EstimateTexts& typed) {
    typed_ = typed;
}

void EstimateDocument::storeTexts() {
    if (!smeta_.active() || typed_ == kept_) return;
    // The user's own file under that name stays as it is, without a word at every edit: the
    // notice came when the estimate was opened. Once it is gone, the texts are kept again.
    if (userFileBeside_) {
        if (companionIsForeign(smeta_.tablePath())) return;
        userFileBeside_ = false;
    }
    try {
        saveEstimateTexts(smeta_.tablePath(), typed_);
        kept_ = typed_;
    } catch (const Error& e) {
        // The positions are stored all the same; the texts stay typed.
        storage::warn(e.what());
    }
}

}  // namespace talvira::editing
