// The construction window's tree, totals and commands as plain values.
#include "editing/SummaryRows.h"

#include "common/TextFold.h"

#include <algorithm>

namespace talvira::editing {

using model::CostColumns;
using model::LineKind;
using model::SummaryLine;

const std::array<const char*, kSummaryColumns> kSummaryCaptions{
    "№ п.п.",
    "Обоснование",
    "Наименование глав, объектов, работ и затрат",
    "Строительных работ",
    "Монтажных работ",
    "Оборудования",
    "Прочих затрат",
    "Всего",
};

namespace {

void putAmounts(std::array<std::string, kSummaryColumns>& cells, const CostColumns& a, char sep) {
    for (int i = 0; i < model::kCostColumns; ++i) cells[size_t(3 + i)] = model::thousandsText(a.money[size_t(i)], sep);
    cells[7] = model::thousandsText(a.total(), sep);
}

/** What the notices say changed about `file`; empty when nothing. */
std::string changedText(const std::vector<LinkNotice>& notices, const std::string& file) {
    for (const LinkNotice& n : notices)
        if (n.kind == LinkNotice::Kind::Changed && equalFolded(n.file, file)) return n.text;
    return {};
}

SummaryRow estimateRow(SummaryPlace place, const model::LinkedEstimate& e, std::string reason,
                       const std::vector<LinkNotice>& notices, char sep) {
    SummaryRow row;
    row.place = place;
    row.cells[1] = std::move(reason);
    row.cells[2] = e.name;
    putAmounts(row.cells, e.amounts, sep);
    row.problem = e.problem;
    row.changed = changedText(notices, e.file);
    return row;
}

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace

std::vector<SummaryRow> summaryTree(const model::Construction& c, const model::SummaryResult& r,
                                    const std::vector<LinkNotice>& notices, char sep) {
    std::vector<SummaryRow> tree;
    for (int n = 1; n <= model::kChapters; ++n) {
        const model::ChapterResult& ch = r.chapters[size_t(n - 1)];
        SummaryRow chapter;
        chapter.place = {n, -1, -1};
        chapter.cells[2] = "Глава " + std::to_string(n) + ". " + std::string(model::chapterName(n));
        if (!ch.lines.empty()) putAmounts(chapter.cells, ch.total, sep);
        const std::vector<SummaryLine>& lines = c.chapter(n);
        for (size_t i = 0; i < ch.lines.size() && i < lines.size(); ++i) {
            const model::SummaryLineResult& l = ch.lines[i];
            const SummaryLine& line = lines[i];
            SummaryRow row;
            row.place = {n, int(i), -1};
            row.cells[0] = std::to_string(l.num);
            row.cells[1] = l.reason;
            row.cells[2] = l.name;
            putAmounts(row.cells, l.amounts, sep);
            for (const std::string& p : l.problems) row.problem += (row.problem.empty() ? "" : "; ") + p;
            if (line.kind == LineKind::Estimate) {
                row.changed = changedText(notices, line.estimates.at(0).file);
            } else if (line.kind == LineKind::Object) {
                for (size_t k = 0; k < line.estimates.size(); ++k) {
                    const std::string reason = "ЛСР " + line.objectNumber + "-" + twoDigits(int(k) + 1);
                    row.children.push_back(estimateRow({n, int(i), int(k)}, line.estimates[k], reason, notices, sep));
                    const std::string& changed = row.children.back().changed;
                    if (!changed.empty()) row.changed += (row.changed.empty() ? "" : "\n") + changed;
                }
            }
            chapter.children.push_back(std::move(row));
        }
        tree.push_back(std::move(chapter));
    }
    return tree;
}

std::vector<SummaryTotal> summaryTotals(const model::SummaryResult& r, char sep) {
    std::vector<SummaryTotal> out;
    auto add = [&](std::string caption, const CostColumns& a) {
        SummaryTotal t;
        t.caption = std::move(caption);
        for (int i = 0; i < model::kCostColumns; ++i) t.cells[size_t(i)] = model::thousandsText(a.money[size_t(i)], sep);
        t.cells[4] = model::thousandsText(a.total(), sep);
        out.push_back(std::move(t));
    };
    for (int k = model::kFirstSubtotal; k <= model::kChapters; ++k)
        add("Итого по главам 1–" + std::to_string(k), r.subtotal(k));
    add("Резерв средств на непредвиденные работы и затраты " + r.reservePercent.text(sep) + " %", r.reserve);
    add("Итого с резервом", r.withReserve);
    add("Налог на добавленную стоимость " + r.vatRate.text(sep) + " % (на " + r.vatDate.russian() + ")", r.vat);
    add("ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ", r.total);
    return out;
}

std::vector<LinkNotice> mergeNotices(const std::vector<LinkNotice>& earlier, const std::vector<LinkNotice>& fresh) {
    std::vector<LinkNotice> out;
    for (const LinkNotice& n : earlier) {
        if (n.kind != LinkNotice::Kind::Changed) continue;
        const bool named = std::any_of(fresh.begin(), fresh.end(), [&](const LinkNotice& f) { return equalFolded(f.file, n.file); });
        if (!named) out.push_back(n);
    }
    out.insert(out.end(), fresh.begin(), fresh.end());
    return out;
}

const SummaryLine* lineAt(const model::Construction& c, SummaryPlace p) {
    if (p.chapter < 1 || p.chapter > model::kChapters || p.line < 0) return nullptr;
    const std::vector<SummaryLine>& lines = c.chapter(p.chapter);
    return size_t(p.line) < lines.size() ? &lines[size_t(p.line)] : nullptr;
}

const model::LinkedEstimate* estimateAt(const model::Construction& c, SummaryPlace p) {
    const SummaryLine* line = lineAt(c, p);
    if (!line) return nullptr;
    if (line->kind == LineKind::Estimate && p.estimate < 0) return line->estimates.empty() ? nullptr : &line->estimates[0];
    if (line->kind == LineKind::Object && p.estimate >= 0 && size_t(p.estimate) < line->estimates.size())
        return &line->estimates[size_t(p.estimate)];
    return nullptr;
}

SummaryActions actionsAt(const model::Construction& c, SummaryPlace p) {
    SummaryActions a;
    if (p.chapter < 1 || p.chapter > model::kChapters) return a;
    a.add = true;
    const SummaryLine* line = lineAt(c, p);
    if (!line) return a;
    if (line->kind == LineKind::Object && p.estimate >= 0 && size_t(p.estimate) >= line->estimates.size()) return a;
    a.edit = a.remove = true;
    a.openEstimate = estimateAt(c, p) != nullptr;
    a.exportObject = line->kind == LineKind::Object;
    if (line->kind == LineKind::Object && p.estimate >= 0) {
        a.moveUp = p.estimate > 0;
        a.moveDown = size_t(p.estimate) + 1 < line->estimates.size();
    } else {
        a.moveUp = p.line > 0 || p.chapter > 1;
        a.moveDown = size_t(p.line) + 1 < c.chapter(p.chapter).size() || p.chapter < model::kChapters;
    }
    return a;
}

}  // namespace talvira::editing
