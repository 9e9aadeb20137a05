#pragma once
/**
 * What an import of the official norm base is given and what it gives back: its options, its
 * progress, its cancel, and its report. Both the assembler of the base and the import's entry
 * points use these; nothing here reads a file.
 *
 *   ImportOptions o;
 *   o.wagePerHour = Money::fromKopecks(35050);
 *   std::cout << importBase(dir, files, o).text();
 */
#include "common/Decimal.h"
#include "common/Error.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talvira::normimport {

struct ImportOptions {
    /** Hourly wage for the basic wages of a norm (BE = labour × wage, rounded once); none: BE = 0. */
    std::optional<Money> wagePerHour;
    /** The most bytes one XML member of a ZIP may unpack to (the largest official file is some
     *  tens of MB); more is refused as a zip bomb. */
    uint64_t memberLimit = uint64_t(512) << 20;
};

/** Where the work stands: a Russian line ("Чтение ГЭСНп.xml", "Запись индексов") and bytes
 *  of input read so far out of all input bytes (both 0 while unknown). */
struct ImportProgress {
    std::string stage;
    uint64_t done = 0;
    uint64_t total = 0;
};
/** Called from the thread that imports, often (at least every few hundred KB read);
 *  returning false cancels the import. */
using ProgressFn = std::function<bool(const ImportProgress&)>;

/** Thrown when the progress callback asked to stop. */
class ImportCancelled : public Error {
public:
    ImportCancelled() : Error("Импорт прерван пользователем") {}
};

/** Receives the next piece of a document's bytes; returns false to stop reading it. */
using PieceFn = std::function<bool(const char* data, size_t size)>;

/** One file read (an XML file, or an XML member of a ZIP: "архив.zip: ГЭСН.xml"). */
struct SourceInfo {
    std::string file;
    std::string kind;        // "нормы" or "цены"
    std::string baseType;    // BaseType of a norm file ("ГЭСНп"); empty for a price file
    std::string codePrefix;  // the prefix its norms' codes carry ("ГЭСНп"); empty for a price file
    std::string decree;      // Decree Name of a norm file, or "Приказ 490/пр от 14.08.2025" of a price file
    std::vector<std::string> orders;  // the same, one for each decree or act
    std::string priceLevel;  // "01.01.2022" where the file says it
    std::string date;        // creation date (norm file) or approving act date (price file)
};

/** A kind of case that needs the user's attention: how many, and a few examples. */
struct Attention {
    std::string what;  // "Расценки без цены", "Коды ресурсов, не найденные в ценах", ...
    uint64_t count = 0;
    std::vector<std::string> examples;  // at most a handful
};

struct ImportReport {
    std::vector<SourceInfo> sources;
    uint64_t collections = 0, contentsEntries = 0, rates = 0, resourceLines = 0, priceRecords = 0;
    /** Rates whose file gives their unit price (ФЕР): their money, basic wages included, is
     *  taken from it, not from the resources and the hourly wage. */
    uint64_t ratesWithOwnPrice = 0;
    /** The hourly wage the basic wages of the other rates were computed with; none: 0. */
    std::optional<Money> wagePerHour;
    std::vector<Attention> attention;  // only kinds with a count above 0
    /** Once the base is in place: the earlier bases kept beside it, newest first
     *  ("Base.old", "Base.old-2", "Base.old-3"); empty when there was none. */
    std::vector<std::string> keptBases;
    /** Once the base is in place: the earliest base kept until then, removed to keep three
     *  ("Base.old-3" as it was named); empty when none was. */
    std::string removedBase;
    /** The whole report as Russian text, several lines. */
    std::string text() const;
};

/** "ГЭСНп.xml — нормы, ГЭСНп, <decree>, уровень цен 01.01.2022, дата 18.08.2025". */
std::string sourceLine(const SourceInfo& s);
/** The report's line about the hourly wage and the basic wages it gave ("Часовая ставка оплаты
 *  труда: 412,5 руб."), for `rates` rates of which `ratesWithOwnPrice` carry their own price
 *  and take nothing from it; empty when there is nothing to say (no rate, no wage). */
std::string wageLine(const std::optional<Money>& wagePerHour, uint64_t rates, uint64_t ratesWithOwnPrice);

}  // namespace talvira::normimport
