#pragma once
/**
 * The expertise schemas shipped with the program (data/gge: the local estimate by the base-index
 * method 3.01, the object estimate, the summary estimate) and the check of a file's bytes against
 * one of them with libxml2, streaming (no tree of the whole file is built).
 *
 *   if (std::string v = exporting::schemaViolation("LocalEstimateBaseIndexMethod-3_01.xsd", bytes); !v.empty())
 *       throw Error("Файл для экспертизы не записан: " + v);
 *
 * Caveats: the schemas are data: the official file, once obtained, replaces the shipped one under
 * the same name and nothing else changes. A schema is read once per process (and again when its
 * file changes) and shared by every thread. The message is the first violation only.
 */
#include <filesystem>
#include <string>
#include <string_view>

namespace talvira::exporting {

/** The schema of the local estimate by the base-index method, version 3.01. */
inline constexpr const char* kBaseIndexSchema = "LocalEstimateBaseIndexMethod-3_01.xsd";

// The folder of the shipped expertise schemas: $TALVIRA_GGE_DIR when set, else the installed
// /usr/share/talvira/gge, else the source tree's data/gge (compile definition).
std::filesystem::path ggeSchemaDir();

// Empty when xml is valid against the schema file xsdName of that folder; otherwise the first
// violation in Russian, naming the element and the line.
std::string schemaViolation(const std::string& xsdName, std::string_view xml);

}  // namespace talvira::exporting
