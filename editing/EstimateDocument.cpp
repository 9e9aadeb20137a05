#include "editing/EstimateDocument.h"

#include "common/Error.h"
#include "editing/EstimateCommands.h"
#include "editing/EstimateCompanion.h"
#include "estimate/EstimateFile.h"
#include "storage/Warnings.h"

#include <algorithm>

namespace talvira::editing {

EstimateDocument::EstimateDocument(storage::TableHandle& smeta, char decimalSep)
    : smeta_(smeta),
      decimalSep_(decimalSep),
      history_(smeta),
      follower_(smeta),
      kept_(model::EstimateTexts::defaults(decimalSep)),
      typed_(kept_) {
    follower_.setFollowing(true);
}

EstimateDocument::~EstimateDocument() { follower_.setFollowing(false); }

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
    smeta_.close();
    place_ = EstimatePlace{true, dir, name, name};
    tell([&](EstimateView* v) { v->estimateBinding(*this, place_); });
    // Directory, table name, the 19 field definitions and the 17 bound fields, as for every
    // estimate the program creates or opens.
    estimate::bindEstimate(smeta_, dir, name);
    estimate::createAndOpen(smeta_);
    readKept();
    tell([&](EstimateView* v) { v->estimateOpened(*this); });
}

void EstimateDocument::open(const std::string& dir, const std::string& fileName) {
    storePending();
    smeta_.close();
    place_ = EstimatePlace{false, dir, fileName, nameWithoutExtension(fileName)};
    tell([&](EstimateView* v) { v->estimateBinding(*this, place_); });
    estimate::bindForOpening(smeta_, dir, fileName);
    estimate::openEstimate(smeta_);
    readKept();
    tell([&](EstimateView* v) { v->estimateOpened(*this); });
}

void EstimateDocument::storePending() {
    tell([&](EstimateView* v) { v->collectTyped(*this); });
    editing::storePendingEdit(smeta_);
    storeTexts();
}

void EstimateDocument::close() { smeta_.close(); }

void EstimateDocument::append(const std::function<void()>& appendPositions) {
    storePending();
    // The rate and its resources are one step of the estimate's history.
    history_.recordAppend(appendPositions);
}

// ---- what is kept beside the table -------------------------------------------------------------

void EstimateDocument::readKept() {
    kept_ = loadEstimateTexts(smeta_.tablePath(), decimalSep_);
    typed_ = kept_;
}

void EstimateDocument::setTypedTexts(const model::EstimateTexts& typed) {
    typed_ = typed;
}

void EstimateDocument::storeTexts() {
    if (!smeta_.active() || typed_ == kept_) return;
    try {
        saveEstimateTexts(smeta_.tablePath(), typed_);
        kept_ = typed_;
    } catch (const Error& e) {
        // The positions are stored all the same; the texts stay typed.
        storage::warn(e.what());
    }
}

}  // namespace talvira::editing
