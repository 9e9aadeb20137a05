#pragma once
/**
 * The open estimate as one document: its table (the estimate window's SmetaTable, which the
 * document works on), the title block and charge rates kept beside it (EstimateCompanion), its
 * parameters of computation and the data of its positions kept beside it (KeptCalc), its
 * undo history (EstimateHistory) and its positions followed for the totals (TotalsFollower, with
 * the result by the base-index method), with the one script that creates,
 * opens and stores an estimate. The windows observe it (EstimateView) and call it; it knows no
 * window.
 *
 *   editing::EstimateDocument doc(smeta, ',', tables);     // made once, by the estimate window
 *   doc.addView(&view);
 *   doc.create(estimate::estimatesDirectory(start), "Дом"); // the name dialog's OK
 *   doc.open("/home/u/Smeti", "Дом.db");                    // a file chosen in the open dialog
 *   doc.storePending();                                     // before the workbook, on exit
 *
 * Caveats: a failure ends the script where it happens and the steps done stand (the estimate
 * closed, the views told of the binding), as the windows' commands behave; the error goes to
 * the caller. Views are told in the order they were added; a view must be removed before it
 * goes.
 */
#include "editing/EstimateHistory.h"
#include "editing/KeptCalc.h"
#include "editing/BaseIndexRules.h"
#include "editing/TotalsFollower.h"
#include "model/EstimateRows.h"
#include "model/NrSpTables.h"
#include "storage/TableHandle.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talvira::normbase {
class NormBase;
}

namespace talvira::editing {

class EstimateDocument;

/** Where an estimate is being bound, as the windows show it. */
struct EstimatePlace {
    bool created = false;   // a new, empty estimate (create), else an existing one (open)
    std::string directory;  // its folder
    std::string fileName;   // create: the name as typed; open: the table's file name
    /** The name the estimate is shown by: as typed (create), the file's name without its
     *  last extension (open). */
    std::string title;
};

/** What a window that shows the estimate is told. Every call may throw: the script stops. */
class EstimateView {
public:
    virtual ~EstimateView() = default;
    /** First step of every store: hand the document what is typed and not yet given to it (a
     *  cell being typed in posted, the texts as typed: EstimateDocument::setTypedTexts). */
    virtual void collectTyped(EstimateDocument&) {}
    /** The estimate handle is closed and is about to be bound to `place`; creating or opening it
     *  follows and may fail. */
    virtual void estimateBinding(EstimateDocument&, const EstimatePlace&) {}
    /** The estimate is open and what is kept beside it has been read. */
    virtual void estimateOpened(EstimateDocument&) {}
    /** The parameters or the data of positions changed (by a dialog, or Add). */
    virtual void calcChanged(EstimateDocument&) {}
    /** The estimate just opened keeps НР or СП percentages that are not the shipped tables'
     *  (`differences`, none empty): true to take the tables' ones, false to keep its own. The
     *  first view that takes them decides. */
    virtual bool takeTablePercents(EstimateDocument&, const std::vector<PercentDifference>& differences) {
        (void)differences;
        return false;
    }
};

class EstimateDocument : public storage::TableObserver {
public:
    /** The document over `smeta`, which outlives it. `decimalSep` is the user's (the default
     *  texts' fractions are written with it); `tables` the НР and СП tables every position is
     *  computed with and chooses its rows from (outlives it too; the program gives the shipped
     *  ones where it starts). */
    EstimateDocument(storage::TableHandle& smeta, char decimalSep, const model::NrSpTables& tables);
    ~EstimateDocument() override;
    EstimateDocument(const EstimateDocument&) = delete;
    EstimateDocument& operator=(const EstimateDocument&) = delete;

    void addView(EstimateView* view);
    void removeView(EstimateView* view);

    storage::TableHandle& table() { return smeta_; }
    const storage::TableHandle& table() const { return smeta_; }
    EstimateHistory& history() { return history_; }
    TotalsFollower& follower() { return follower_; }
    const TotalsFollower& follower() const { return follower_; }
    /** Whether an estimate is open. */
    bool isOpen() const { return smeta_.active(); }
    /** Where the estimate was last bound (also when its opening failed). */
    const EstimatePlace& place() const { return place_; }

    // ---- the script ---------------------------------------------------------------------
    /** Replaces the estimate `name` in `dir` by an empty one (or makes it) and opens it: stores
     *  what is pending, closes the open estimate, binds, creates, reads what is kept (the
     *  defaults: a new estimate keeps nothing of an older one of its name), then starts it as
     *  the norm base asks (setNormBaseDirectory, estimateStart: on an imported base by the
     *  base-index method at the base's price level). The name is not checked here
     *  (wouldReplace()). */
    void create(const std::string& dir, const std::string& name);
    /** Opens the estimate table `fileName` in `dir`: stores what is pending, closes the open
     *  estimate, binds, opens, reads what is kept beside it; an estimate by the base-index
     *  method whose kept percentages are no longer the tables' asks its views
     *  (takeTablePercents) and takes the tables' when told to. */
    void open(const std::string& dir, const std::string& fileName);
    /** Makes the estimate `name` in `dir` whole from what another program's file gives, in one
     *  go (no norm base start, no step of a history): its table of `rows`, the kept data `calc`
     *  (its positions naming the rows by their `count`, renumbered with them as the table numbers
     *  them 1, 2, …) and `texts` are written in a folder of their own beside it, then moved in,
     *  the table last. An estimate of that name is never replaced; any failure leaves nothing
     *  behind and the error goes on. Returns the table's path. */
    static std::filesystem::path createWhole(const std::string& dir, const std::string& name,
                                             const std::vector<model::PositionRow>& rows, KeptCalc calc,
                                             const model::EstimateTexts& texts);
    /** Stores everything pending: what the views have typed (a row of the grid, the texts). */
    void storePending();
    /** Closes the estimate (at the end of the program). */
    void close();
    /** Runs `appendPositions`, which appends positions at the end of the estimate (Add), after
     *  storing what is pending, as one step of the history, and keeps the data it returns for
     *  them beside the estimate (a file that cannot be written: a warning, the positions stay). */
    void append(const std::function<std::vector<model::PositionData>()>& appendPositions);

    /** Add: the rate under the cursor of `nb` (with its unaccounted materials) appended at
     *  the end, as append() does, its positions' data made as the estimate's method and
     *  territory ask; the base set by setNormBaseDirectory is remembered as theirs. */
    void addRate(normbase::NormBase& nb);
    /** Stores a typed quantity and, for a material, its price (STOIM and MATER) in the position
     *  numbered `count`, as the grid stores a typed row (a rate's materials then follow it);
     *  talvira::Error when there is no such position. */
    void setAmounts(int32_t count, std::optional<Dec7> quantity, std::optional<Dec7> price);
    /** The table row of the position numbered `count`, nothing when there is none. */
    std::optional<size_t> rowOf(int32_t count) const;

    /** Refuses a name no estimate may have (talvira::Error); true when the estimate `name`
     *  exists in `dir`, so that creating it replaces it. */
    static bool wouldReplace(const std::string& dir, const std::string& name);

    // ---- the title block and the charge rates ----------------------------------------------
    /** What the open estimate keeps (the defaults when nothing, or none open). */
    const model::EstimateTexts& texts() const { return kept_; }
    /** The texts as typed now (given by a view). */
    void setTypedTexts(const model::EstimateTexts& typed);
    /** Writes the typed texts beside the open estimate when they differ from what it keeps. A
     *  file that cannot be written gives a warning (storage::warn): the texts stay typed and
     *  are tried again at the next store. */
    void storeTexts();

    // ---- the parameters and the data of each position, kept beside the table ------------------
    const KeptCalc& calc() const { return calc_; }
    /** Whether the open estimate is computed by the base-index method. */
    bool byBaseIndex() const { return calc_.params.method == model::Method::BaseIndex; }
    /** Takes `params` and writes them beside the estimate at once; talvira::Error when the
     *  file cannot be written, and nothing is taken. The base's price level stays the
     *  estimate's own unless `withBaseLevel` (the command line's baselevel=). Another territory
     *  moves the percentages that were the tables'. An estimate switched from the template to
     *  the base-index method gets the data of its positions that had none as Add gives them
     *  (deriveCalc, the rates of the base set by setNormBaseDirectory), every material of a
     *  rate then follows its rate, and the base's level when it had none. */
    void setParams(const model::EstimateParams& params, bool withBaseLevel = false);
    /** The data of the position numbered `count` (defaults when it has none, or only data
     *  written for another code). */
    model::PositionData positionData(int32_t count) const;
    /** Takes the data of the position `extra.count` and writes them at once; talvira::Error
     *  when the file cannot be written, and nothing is taken. */
    void setPositionData(const model::PositionData& extra);
    /** The НР and СП tables the estimate is computed with. */
    const model::NrSpTables& tables() const { return tables_; }
    /** The local estimate by the base-index method, following every stored edit (its positions
     *  left empty); nullptr for an estimate by the template. */
    const model::BaseIndexResult* baseIndex() const { return follower_.baseIndex(); }
    /** The computed position the row belongs to (a material: its rate's), nullptr when none. */
    const model::PositionResult* positionOf(size_t row) const { return follower_.positionOf(row); }
    /** The positions whose kept НР or СП percentages are not the shipped tables' (none by the
     *  template). */
    std::vector<PercentDifference> percentDifferences() const;
    /** Takes the tables' percentages for `accepted` and writes the calc data at once;
     *  talvira::Error when the file cannot be written, and nothing is taken. */
    void takeTablePercents(const std::vector<PercentDifference>& accepted);
    /** The folder of the norm base in use: the one whose note a new estimate starts from, Add
     *  takes rates from and the switch to the base-index method reads its rates in. */
    void setNormBaseDirectory(const std::filesystem::path& dir) { baseDir_ = dir; }
    const std::filesystem::path& normBaseDirectory() const { return baseDir_; }

    // ---- storage::TableObserver -------------------------------------------------------------
    void tableChanged(storage::TableHandle& t, const storage::TableChange& change) override;

private:
    void tell(const std::function<void(EstimateView*)>& call);
    /** Reads what is kept beside the open estimate. */
    void readKept();
    /** Writes the calc data; talvira::Error when it cannot. */
    void saveCalc();
    /** Writes `calc` and then takes it; when it cannot be written, throws and nothing is taken. */
    void storeCalc(KeptCalc calc);
    /** storeCalc, the totals computed anew with it. */
    void replaceCalc(KeptCalc calc);
    /** Starts a new estimate as the norm base asks. */
    void startNew();
    /** A rate's quantity stored by an edit: its materials' quantities follow, in its undo step. */
    void followRate(size_t row);
    /** Every material of a rate to the quantity of its rate (after a switch of method). */
    void followAllRates();
    /** The code of the stored position numbered `count` ("" when there is none). */
    std::string codeOf(int32_t count) const;

    storage::TableHandle& smeta_;
    char decimalSep_;
    EstimateHistory history_;
    TotalsFollower follower_;
    std::vector<EstimateView*> views_;
    EstimatePlace place_;
    model::EstimateTexts kept_;
    model::EstimateTexts typed_;
    bool userFileBeside_ = false;  // a file of the user's stands where the texts would be kept
    const model::NrSpTables& tables_;
    KeptCalc calc_;
    /** Whether the calc data are written beside the estimate: always by the base-index method;
     *  by the template only once the file exists (an estimate as it always was gets none). */
    bool calcOnDisk_ = false;
    bool following_ = false;  // materials being rewritten to follow their rate
    /** following_ set while it lives. */
    struct Following {
        bool& on;
        explicit Following(bool& flag) : on(flag) { on = true; }
        ~Following() { on = false; }
        Following(const Following&) = delete;
        Following& operator=(const Following&) = delete;
    };
    std::filesystem::path baseDir_;
};

/** The name a file is shown by: up to its last '.', the whole name when it has none. */
std::string nameWithoutExtension(const std::string& fileName);

}  // namespace talvira::editing
