#include "editing/KeptTexts.h"
#include "editing/KeptLines.h"

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/Utf8.h"
#include "estimate/EstimateFile.h"
#include "storage/Warnings.h"

#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace talvira::editing {

namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kLargestFile = 1 << 20;  // twelve short texts; anything bigger is not ours

/** The texts the file holds over `texts`, or why it is damaged. */
std::string readInto(const std::string& content, model::EstimateTexts& texts) {
    if (!utf8::valid(content)) return "текст не в кодировке UTF-8";
    std::istringstream in(content);
    std::set<std::string> seen;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::string where = "строка " + std::to_string(number);
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return where + ": нет знака «=»";
        const std::string name = line.substr(0, eq);
        if (!seen.insert(name).second) return where + ": «" + name + "» указано второй раз";
        const std::optional<std::string> value = unescapedValue(line.substr(eq + 1));
        if (!value) return where + ": неверная последовательность с «\\»";
        if (std::string* text = texts.byControlName(name)) *text = *value;
    }
    return {};
}

}  // namespace

std::string keptTextsContent(const model::EstimateTexts& texts) {
    std::string out = estimate::kKeptTextsHeader + "\n";
    model::EstimateTexts copy = texts;
    for (std::string_view name : model::EstimateTexts::controlNames())
        out += std::string(name) + "=" + escapedValue(*copy.byControlName(name)) + "\n";
    return out;
}

KeptTexts readKeptTexts(const fs::path& tablePath, char decimalSep) {
    KeptTexts kept{model::EstimateTexts::defaults(decimalSep), estimate::keptTextsKind(tablePath), {}};
    const fs::path file = estimate::keptTextsPath(tablePath);
    std::string content;
    std::string why;
    switch (kept.kind) {
    case estimate::KeptTextsKind::Missing:
        return kept;
    case estimate::KeptTextsKind::Foreign:
        why = readKeptFile(file, kLargestFile, content);
        if (why.empty()) {
            model::EstimateTexts probe;
            why = readInto(content, probe);
        }
        if (why.empty()) why = "в нём нет ни одного поля шапки";
        kept.notice = "Файл «" + file.string() + "» рядом со сметой — не файл шапки и ставок сметы (" + why +
                      "). Он оставлен как есть; шапка и ставки взяты по умолчанию и рядом с этой сметой не "
                      "сохраняются, пока этот файл там лежит.";
        return kept;
    case estimate::KeptTextsKind::Ours:
        break;
    }
    model::EstimateTexts texts = kept.texts;
    why = readKeptFile(file, kLargestFile, content);
    if (why.empty()) why = readInto(content, texts);
    if (why.empty()) kept.texts = texts;
    else
        kept.notice = "Шапка и ставки сметы из файла «" + file.string() + "» не прочитаны (" + why +
                      "): взяты значения по умолчанию.";
    return kept;
}

model::EstimateTexts loadKeptTexts(const fs::path& tablePath, char decimalSep) {
    KeptTexts kept = readKeptTexts(tablePath, decimalSep);
    if (!kept.notice.empty()) storage::warn(kept.notice);
    return std::move(kept.texts);
}

bool keptTextsForeign(const fs::path& tablePath) {
    return estimate::keptTextsKind(tablePath) == estimate::KeptTextsKind::Foreign;
}

void saveKeptTexts(const fs::path& tablePath, const model::EstimateTexts& texts) {
    const fs::path file = estimate::keptTextsPath(tablePath);
    if (keptTextsForeign(tablePath))
        throw Error("Шапка и ставки сметы не сохранены: файл «" + file.string() +
                    "» не похож на файл шапки сметы и оставлен как есть.");
    const std::string text = keptTextsContent(texts);
    writeFileAtomically(file, text, /*keepExisting=*/false, "шапку и ставки сметы в файл");
}

}  // namespace talvira::editing
