#pragma once
/**
 * What the two kept files share (KeptTexts, the title block; KeptCalc, the computation's data),
 * the files the program keeps beside an estimate: "key=value" lines whose values run
 * to the end of the line with "\\", "\n" and "\r" escaped, and a file read whole or refused with
 * the reason a warning gives.
 *
 *   std::string content;
 *   if (std::string why = readKeptFile(path, 1 << 20, content); !why.empty()) warn(why);
 *   out += "Name=" + escapedValue(text) + "\n";
 */
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace talvira::editing {

/** `text` as one line's value: backslash, line feed and carriage return escaped. */
std::string escapedValue(std::string_view text);
/** A value read back; nullopt for an escape that escapedValue never writes. */
std::optional<std::string> unescapedValue(std::string_view text);

/** The whole file into `content`; otherwise why not ("файл не читается", "файл слишком велик"
 *  beyond `largest` bytes), `content` unchanged. */
std::string readKeptFile(const std::filesystem::path& file, uintmax_t largest, std::string& content);

}  // namespace talvira::editing
