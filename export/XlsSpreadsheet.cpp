#include "export/XlsSpreadsheet.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "export/XlsRecords.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace talvira::xls {

XlsSpreadsheet::XlsSpreadsheet(std::filesystem::path outPath, char decimalSep, bool keepExisting,
                               WorkbookOpener open)
    : out_(std::move(outPath)), sep_(decimalSep), keepExisting_(keepExisting), open_(std::move(open)) {}

void XlsSpreadsheet::connect() {}

void XlsSpreadsheet::addWorkbook(const std::string& templatePath) {
    wb_.emplace(XlsWorkbook::open(templatePath, sep_));
    cur_.reset();
}

XlsWorkbook& XlsSpreadsheet::workbook() {
    if (!wb_) throw Error("Книга для выгрузки сметы не создана");
    return *wb_;
}

CellRef XlsSpreadsheet::at(const std::string& ref) const {
    CellRef r;
    if (parseCellRef(ref, r)) return r;
    // a well-formed reference below the last row: the estimate does not fit the sheet
    size_t p = 0;
    while (p < ref.size() && std::isalpha(static_cast<unsigned char>(ref[p]))) ++p;
    if (p > 0 && p < ref.size() && ref.find_first_not_of("0123456789", p) == std::string::npos)
        throw Error("Смета не помещается на лист Excel: строка " + ref.substr(p) +
                    " лежит за последней строкой листа (" + std::to_string(biff::kMaxRows) + ")");
    throw Error("Неверная ссылка на ячейку «" + ref + "»");
}

void XlsSpreadsheet::range(const std::string& ref) {
    workbook();
    cur_ = at(ref);
}

void XlsSpreadsheet::next() {
    if (!cur_) throw Error("Не выбрана ячейка листа");
    if (cur_->col + 1 >= biff::kMaxCols)
        throw Error("За ячейкой " + cellName(cur_->row, cur_->col) + " нет столбцов листа Excel");
    ++cur_->col;
}

void XlsSpreadsheet::writeText(const std::string& text) {
    if (!cur_) throw Error("Не выбрана ячейка листа");
    // an empty text empties the cell, as typing nothing into it would
    if (text.empty()) workbook().setBlank(*cur_);
    else workbook().setText(*cur_, text);
}

void XlsSpreadsheet::writeTyped(const std::string& text) {
    if (!cur_) throw Error("Не выбрана ячейка листа");
    if (text.empty()) return;
    auto v = parseFloat(text, sep_);
    if (v && std::isfinite(static_cast<double>(*v))) workbook().setNumber(*cur_, static_cast<double>(*v));
    else workbook().setText(*cur_, text);
}

void XlsSpreadsheet::writeInteger(int64_t value) { writeDouble(static_cast<double>(value)); }

void XlsSpreadsheet::writeDouble(double value) {
    if (!cur_) throw Error("Не выбрана ячейка листа");
    if (!std::isfinite(value))
        throw Error("Число для ячейки " + cellName(cur_->row, cur_->col) + " не является конечным");
    workbook().setNumber(*cur_, value);
}

void XlsSpreadsheet::writeFormula(const std::string& text) {
    if (!cur_) throw Error("Не выбрана ячейка листа");
    workbook().setFormula(*cur_, text);
}

void XlsSpreadsheet::setBorders(const std::string& from, const std::string& to, int lineStyle) {
    if (lineStyle != 1) throw Error("Поддерживается только сплошная линия рамки");
    workbook().addBorders(at(from), at(to));
}

void XlsSpreadsheet::show() {
    XlsWorkbook& wb = workbook();
    saved_ = writeFileAtomically(out_, [&wb](const std::filesystem::path& tmp) { wb.saveTo(tmp); },
                                 keepExisting_);
    if (open_) open_(saved_);
}

void XlsSpreadsheet::disconnect() {}

/* ------------------------------------------------------------------------------------- */
/*  Files                                                                                */
/* ------------------------------------------------------------------------------------- */

namespace {

std::filesystem::path numbered(const std::filesystem::path& p, int n) {
    if (n < 2) return p;
    return p.parent_path() / (p.stem().string() + " (" + std::to_string(n) + ")" + p.extension().string());
}

[[noreturn]] void cannotWrite(const std::filesystem::path& p, int err) {
    std::string why;
    switch (err) {
    case EACCES: case EPERM: why = "нет доступа"; break;
    case ENOENT: case ENOTDIR: why = "папка не существует"; break;
    case ENOSPC: case EDQUOT: why = "на диске нет места"; break;
    case EROFS: why = "диск доступен только для чтения"; break;
    case EEXIST: why = "все имена файлов заняты"; break;
    default: why = std::strerror(err);
    }
    throw Error("Не удалось записать книгу «" + p.string() + "»: " + why);
}

}  // namespace

std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::vector<uint8_t>& bytes, bool keepExisting) {
    return writeFileAtomically(
        target,
        [&bytes](const std::filesystem::path& tmp) {
            const int fd = ::open(tmp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0) cannotWrite(tmp, errno);
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    const int err = n < 0 ? errno : EIO;
                    ::close(fd);
                    cannotWrite(tmp, err);
                }
                done += static_cast<size_t>(n);
            }
            if (::close(fd) != 0) cannotWrite(tmp, errno);
        },
        keepExisting);
}

std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::function<void(const std::filesystem::path&)>& write,
                                          bool keepExisting) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    const std::filesystem::path tmp =
        dir / ("." + target.filename().string() + ".part-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter++));
    // the name is claimed first, so that no other file is ever written over
    const int claim = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (claim < 0) cannotWrite(target, errno);
    ::close(claim);
    try {
        write(tmp);
    } catch (...) {
        ::unlink(tmp.c_str());
        throw;
    }
    // on disk before it gets its name
    const int fd = ::open(tmp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        cannotWrite(target, err);
    }
    ::close(fd);
    if (!keepExisting) {
        if (::rename(tmp.c_str(), target.c_str()) != 0) {
            const int err = errno;
            ::unlink(tmp.c_str());
            cannotWrite(target, err);
        }
        return target;
    }
    // link() fails when the name is taken, so an existing file is never replaced
    for (int n = 1; n < 100000; ++n) {
        const std::filesystem::path p = numbered(target, n);
        if (::link(tmp.c_str(), p.c_str()) == 0) {
            ::unlink(tmp.c_str());
            return p;
        }
        if (errno == EEXIST) continue;
        // a file system without hard links: take a free name and rename onto it
        std::error_code ec;
        if (std::filesystem::exists(p, ec)) continue;
        if (::rename(tmp.c_str(), p.c_str()) == 0) return p;
        const int err = errno;
        ::unlink(tmp.c_str());
        cannotWrite(p, err);
    }
    ::unlink(tmp.c_str());
    cannotWrite(target, EEXIST);
}

}  // namespace talvira::xls
