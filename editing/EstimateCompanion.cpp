#include "editing/EstimateCompanion.h"

#include "common/Error.h"
#include "common/Utf8.h"
#include "estimate/EstimateFile.h"
#include "export/WorkbookFile.h"
#include "storage/Warnings.h"

#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace talvira::editing {

namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kLargestFile = 1 << 20;  // twelve short texts; anything bigger is not ours

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::optional<std::string> unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: return std::nullopt;
        }
    }
    return out;
}

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
        const std::optional<std::string> value = unescaped(line.substr(eq + 1));
        if (!value) return where + ": неверная последовательность с «\\»";
        if (std::string* text = texts.byControlName(name)) *text = *value;
    }
    return {};
}

/** The file's content, or why it cannot be read. */
std::string readContent(const fs::path& file, std::string& content) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) return "файл не читается";
    if (size > kLargestFile) return "файл слишком велик";
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return "файл не читается";
    content = text.str();
    return {};
}

}  // namespace

std::string companionText(const model::EstimateTexts& texts) {
    std::string out = estimate::kCompanionHeader + "\n";
    model::EstimateTexts copy = texts;
    for (std::string_view name : model::EstimateTexts::controlNames())
        out += std::string(name) + "=" + escaped(*copy.byControlName(name)) + "\n";
    return out;
}

KeptTexts readEstimateTexts(const fs::path& tablePath, char decimalSep) {
    KeptTexts kept{model::EstimateTexts::defaults(decimalSep), estimate::companionKind(tablePath), {}};
    const fs::path file = estimate::companionPath(tablePath);
    std::string content;
    std::string why;
    switch (kept.kind) {
    case estimate::CompanionKind::Missing:
        return kept;
    case estimate::CompanionKind::Foreign:
        why = readContent(file, content);
        if (why.empty()) {
            model::EstimateTexts probe;
            why = readInto(content, probe);
        }
        if (why.empty()) why = "в нём нет ни одного поля шапки";
        kept.notice = "Файл «" + file.string() + "» рядом со сметой — не файл шапки и ставок сметы (" + why +
                      "). Он оставлен как есть; шапка и ставки взяты по умолчанию и рядом с этой сметой не "
                      "сохраняются, пока этот файл там лежит.";
        return kept;
    case estimate::CompanionKind::Ours:
        break;
    }
    model::EstimateTexts texts = kept.texts;
    why = readContent(file, content);
    if (why.empty()) why = readInto(content, texts);
    if (why.empty()) kept.texts = texts;
    else
        kept.notice = "Шапка и ставки сметы из файла «" + file.string() + "» не прочитаны (" + why +
                      "): взяты значения по умолчанию.";
    return kept;
}

model::EstimateTexts loadEstimateTexts(const fs::path& tablePath, char decimalSep) {
    KeptTexts kept = readEstimateTexts(tablePath, decimalSep);
    if (!kept.notice.empty()) storage::warn(kept.notice);
    return std::move(kept.texts);
}

bool companionIsForeign(const fs::path& tablePath) {
    return estimate::companionKind(tablePath) == estimate::CompanionKind::Foreign;
}

void saveEstimateTexts(const fs::path& tablePath, const model::EstimateTexts& texts) {
    const fs::path file = estimate::companionPath(tablePath);
    if (companionIsForeign(tablePath))
        throw Error("Шапка и ставки сметы не сохранены: файл «" + file.string() +
                    "» не похож на файл шапки сметы и оставлен как есть.");
    const std::string text = companionText(texts);
    xls::writeFileAtomically(file, std::vector<uint8_t>(text.begin(), text.end()), /*keepExisting=*/false,
                             "шапку и ставки сметы в файл");
}

}  // namespace talvira::editing
