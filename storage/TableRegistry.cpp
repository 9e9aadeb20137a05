#include "storage/TableHandleImpl.h"

#include "storage/FileNames.h"
#include "storage/TableFamily.h"

#include <filesystem>
#include <map>

namespace talvira::storage {

namespace {

// ---- the Paradox files ----------------------------------------------------------------

class ParadoxFileProvider : public TableFileProvider {
public:
    std::optional<std::string> resolve(const std::string& dir, const std::string& fileName) const override {
        const auto found = findFileAnyCase(std::filesystem::path(dir), fileName);
        if (!found) return std::nullopt;
        return joinPath(dir, found->filename().string());
    }
    std::unique_ptr<TableFile> open(const std::string& path, OpenMode mode) override {
        return openParadoxTable(path, mode);
    }
    void create(const std::string& path, const std::vector<FieldDef>& fields) override {
        createParadoxTable(path, fields);
    }
    void replace(const std::string& path, const std::vector<FieldDef>& fields, const std::vector<Record>& records) override {
        const std::filesystem::path p(path);
        replaceTable(p.parent_path(), p.filename().string(), fields, records);
    }
};

ParadoxFileProvider& paradoxProvider() {
    static ParadoxFileProvider p;
    return p;
}

TableFileProvider* g_provider = nullptr;

}  // namespace

/** A read-only file, shared with the other handles that have the same table open for
 *  reading (the rate table is read by two handles of the norm base, the name and unit tables
 *  by two each): it is opened and its block chain walked once. A handle that writes opens a
 *  file of its own. */
std::shared_ptr<TableFile> openShared(const std::string& path) {
    static std::map<std::pair<TableFileProvider*, std::string>, std::weak_ptr<TableFile>> open;
    TableFileProvider* provider = &tableFileProvider();
    for (auto it = open.begin(); it != open.end();) it = it->second.expired() ? open.erase(it) : std::next(it);
    auto& slot = open[{provider, path}];
    if (auto shared = slot.lock()) return shared;
    std::shared_ptr<TableFile> fresh = provider->open(path, OpenMode::ReadOnly);
    slot = fresh;
    return fresh;
}

void TableFileProvider::replace(const std::string& path, const std::vector<FieldDef>& fields,
                                const std::vector<Record>& records) {
    create(path, fields);
    if (records.empty()) return;
    const auto f = open(path, OpenMode::ReadWrite);
    for (const Record& r : records) {
        Record copy = r;
        f->insert(f->recordCount(), copy);
    }
}

TableFileProvider& tableFileProvider() { return g_provider ? *g_provider : paradoxProvider(); }

TableFileProvider* setTableFileProvider(TableFileProvider* provider) {
    TableFileProvider* prev = g_provider;
    g_provider = provider;
    return prev;
}

}  // namespace talvira::storage
