#pragma once
/**
 * What a norm base says of itself: whether it was imported from the official files, at what
 * price level its prices are, which edition, books and orders it was made from. The import
 * writes it beside the tables; an estimate reads it to start from the right defaults and to say
 * at what level its base prices are.
 *
 *   normbase::BaseInfo info = normbase::readBaseInfo("/home/u/Тальвира/Base");
 *   if (info.imported && info.priceLevel == "01.01.2022") ...
 *
 * Caveats: reading never fails: a base without the note (the demo base, a base written by other
 * software) or with a damaged one reads as not imported, everything empty.
 */
#include <filesystem>
#include <string>
#include <vector>

namespace talvira::normbase {

struct BaseInfo {
    bool imported = false;            // made from the official files by the import
    std::string priceLevel;           // "01.01.2000" (ФЕР-2001), "01.01.2022" (ГЭСН with ФСБЦ prices); "" unknown
    std::string edition;              // "ФСНБ-2022", "ФСНБ-2020"; "" unknown
    std::vector<std::string> books;   // "ГЭСНп", "ГЭСНмр", "ФЕР" … in the order read
    std::vector<std::string> orders;  // decrees and approving acts as the files name them
    bool operator==(const BaseInfo&) const = default;
};

/** The note's file beside the tables: UTF-8 lines "key=value" ("priceLevel=01.01.2022"; lists
 *  as one line per item, "book=ГЭСНп"), lines starting with "#" being comments. */
inline constexpr const char* kBaseInfoFile = "BASEINFO.TXT";

/** The note of the base in `baseDir`. */
BaseInfo readBaseInfo(const std::filesystem::path& baseDir);
/** Writes the note into `baseDir` (replacing it in one step); talvira::Error when it cannot. */
void writeBaseInfo(const std::filesystem::path& baseDir, const BaseInfo& info);

}  // namespace talvira::normbase
