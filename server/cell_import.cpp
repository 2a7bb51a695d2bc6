#include "server/cell_import.h"

#include "server/text.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <tuple>

namespace pelmora {

namespace {

// Longer lines are no rows of either layout: they are read to their end and counted as bad.
constexpr std::size_t kMaxLineBytes = 4096;
// How many bad lines an import names; the rest are counted.
constexpr std::size_t kProblemsNamed = 5;
// Cell and area codes as a GSM phone reads them.
constexpr std::int64_t kSixteenBits = 0xFFFF;

std::string_view Trim(std::string_view text) {
    std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) return std::string_view();
    std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// A whole decimal number, nothing before or after it.
std::optional<std::int64_t> Whole(std::string_view text) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// Decimal degrees within ±limit.
std::optional<double> Degrees(std::string_view text, double limit) {
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    if (!(value >= -limit && value <= limit)) return std::nullopt;
    return value;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != word[i]) return false;
    }
    return true;
}

std::string Unquote(std::string_view field, std::size_t line) {
    if (field.size() < 2 || field.front() != '"') return std::string(field);
    if (field.back() != '"') throw StoreError("line " + std::to_string(line) + ": the address has no closing quote");
    std::string text;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        text += field[i];
        if (field[i] == '"' && i + 2 < field.size() && field[i + 1] == '"') ++i;
    }
    return text;
}

// The lines of a file, gzip-compressed or plain (zlib tells them apart by their first bytes).
class CellFile {
public:
    explicit CellFile(const std::string& path) : path_(path) {
        std::error_code error;
        size_ = std::filesystem::file_size(path, error);
        if (error || std::filesystem::is_directory(path, error)) throw StoreError("cannot read " + path);
        file_ = gzopen(path.c_str(), "rb");
        if (!file_) throw StoreError("cannot read " + path);
        gzbuffer(file_, 1 << 20);
    }
    ~CellFile() { gzclose(file_); }
    CellFile(const CellFile&) = delete;
    CellFile& operator=(const CellFile&) = delete;

    // The next line without its end (LF or CR LF); false at the end of the file. A line longer than
    // kMaxLineBytes comes as `tooLong`, its end read past.
    bool Next(std::string_view& line, bool& tooLong) {
        if (!gzgets(file_, buffer_, sizeof buffer_)) {
            CheckEnd();
            return false;
        }
        ++number_;
        std::size_t length = std::char_traits<char>::length(buffer_);
        tooLong = length == sizeof buffer_ - 1 && buffer_[length - 1] != '\n';
        if (tooLong) {
            char rest[4096];
            while (gzgets(file_, rest, sizeof rest)) {
                std::size_t more = std::char_traits<char>::length(rest);
                if (more > 0 && rest[more - 1] == '\n') break;
            }
            CheckEnd();
        }
        while (length > 0 && (buffer_[length - 1] == '\n' || buffer_[length - 1] == '\r')) --length;
        line = std::string_view(buffer_, length);
        return true;
    }

    std::size_t number() const { return number_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t bytesRead() const {
        z_off_t offset = gzoffset(file_);
        return offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
    }

private:
    // Ends a read that gave nothing: the end of the file, or damage that stops it.
    void CheckEnd() {
        int code = Z_OK;
        const char* message = gzerror(file_, &code);
        if (code != Z_OK) {
            throw StoreError(path_ + " is damaged after line " + std::to_string(number_) + ": " + message);
        }
    }

    std::string path_;
    gzFile file_ = nullptr;
    std::uint64_t size_ = 0;
    std::size_t number_ = 0;
    char buffer_[kMaxLineBytes + 2];
};

void NoteProblem(CellImportReport& report, std::size_t line, const std::string& problem) {
    ++report.badLines;
    if (report.problems.size() < kProblemsNamed) report.problems.push_back("line " + std::to_string(line) + ": " + problem);
}

void StoreBatch(Store& store, std::vector<Cell>& batch, CellImportReport& report) {
    if (batch.empty()) return;
    // In the order of the table's key the batch's writes land on neighbouring pages. Stable: of two
    // rows of one cell the later still wins.
    std::stable_sort(batch.begin(), batch.end(), [](const Cell& a, const Cell& b) {
        return std::tie(a.mcc, a.key.mnc, a.key.lac, a.key.cid) < std::tie(b.mcc, b.key.mnc, b.key.lac, b.key.cid);
    });
    CellImportCounts counts = store.ImportCells(batch);
    report.stored.added += counts.added;
    report.stored.updated += counts.updated;
    report.stored.unchanged += counts.unchanged;
    report.stored.closedMissing += counts.closedMissing;
    batch.clear();
}

}  // namespace

OpenCellIdRow ParseOpenCellIdLine(std::string_view line, std::optional<std::int64_t> onlyMcc, Cell& cell,
                                  std::string& problem) {
    std::string_view fields[14];
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = line.find(',', start);
        if (count == 14) {
            problem = "more than 14 fields";
            return OpenCellIdRow::kBad;
        }
        fields[count++] = line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (count < 8) {
        problem = "expected radio, mcc, net, area, cell, unit, lon, lat, …";
        return OpenCellIdRow::kBad;
    }
    const std::string_view radio = fields[0];
    if (radio == "radio") return OpenCellIdRow::kHeader;
    const bool gsm = EqualsIgnoringCase(radio, "GSM");
    const bool umts = EqualsIgnoringCase(radio, "UMTS");
    if (!gsm && !umts) {
        bool word = !radio.empty() && radio.size() <= 16;
        for (char c : radio) word = word && std::isalpha(static_cast<unsigned char>(c));
        if (word) return OpenCellIdRow::kOtherRadio;
        problem = "the radio is not a word";
        return OpenCellIdRow::kBad;
    }
    std::optional<std::int64_t> mcc = Whole(fields[1]);
    if (!mcc || *mcc < 1 || *mcc > 999) {
        problem = "mcc must be a number from 1 to 999";
        return OpenCellIdRow::kBad;
    }
    if (onlyMcc && *mcc != *onlyMcc) return OpenCellIdRow::kOtherCountry;
    std::optional<std::int64_t> net = Whole(fields[2]);
    std::optional<std::int64_t> area = Whole(fields[3]);
    std::optional<std::int64_t> id = Whole(fields[4]);
    std::optional<double> lon = Degrees(fields[6], 180);
    std::optional<double> lat = Degrees(fields[7], 90);
    if (!net || *net < 0 || *net > 999) {
        problem = "net must be a number from 0 to 999";
        return OpenCellIdRow::kBad;
    }
    if (!area || *area < 0 || *area > kSixteenBits) {
        problem = "area must be a number from 0 to 65535";
        return OpenCellIdRow::kBad;
    }
    if (!id || *id < 0) {
        problem = "cell must be a non-negative number";
        return OpenCellIdRow::kBad;
    }
    if (!lat || !lon) {
        problem = "lon and lat must be decimal degrees";
        return OpenCellIdRow::kBad;
    }
    if (*id > kSixteenBits) return OpenCellIdRow::kWideCellId;
    cell = Cell{{*net, *area, *id}, *lat, *lon, std::string(), *mcc};
    return OpenCellIdRow::kCell;
}

std::optional<Cell> ParseOurCellLine(std::string_view text, std::size_t number, bool first) {
    if (first && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::string_view line = Trim(text);
    if (line.empty() || line[0] == '#') return std::nullopt;

    std::string_view fields[6];
    std::size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            throw StoreError("line " + std::to_string(number) + ": expected mnc, lac, cid, lat, lon, address");
        }
        fields[i] = Trim(line.substr(start, comma - start));
        start = comma + 1;
    }
    std::string address = Unquote(Trim(line.substr(start)), number);

    std::optional<std::int64_t> mnc = ParseInteger(fields[0]);
    if (!mnc && first && fields[0] == "mnc") return std::nullopt;  // the header line
    std::optional<std::int64_t> lac = ParseInteger(fields[1]);
    std::optional<std::int64_t> cid = ParseInteger(fields[2]);
    std::optional<double> lat = Degrees(fields[3], 90);
    std::optional<double> lon = Degrees(fields[4], 180);
    std::string where = "line " + std::to_string(number) + ": ";
    if (!mnc || *mnc < 0 || *mnc > 999) throw StoreError(where + "mnc must be a number from 0 to 999");
    if (!lac || *lac < 0 || *lac > 0xFFFFFFFFLL) throw StoreError(where + "lac must be a non-negative number");
    if (!cid || *cid < 0 || *cid > 0xFFFFFFFFLL) throw StoreError(where + "cid must be a non-negative number");
    if (!lat || !lon) throw StoreError(where + "latitude and longitude must be decimal degrees");
    if (address.empty()) throw StoreError(where + "the address is empty");
    return Cell{{*mnc, *lac, *cid}, *lat, *lon, CleanText(address)};
}

std::vector<Cell> ParseCellsCsv(std::string_view text) {
    std::vector<Cell> cells;
    std::size_t number = 0;
    bool first = true;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::optional<Cell> cell = ParseOurCellLine(line, ++number, first);
        if (cell) cells.push_back(*cell);
        // The header may follow comments and blank lines, but no cell.
        first = first && !cell;
    }
    return cells;
}

CellImportReport ImportCellFile(Store& store, const std::string& path, const CellImportOptions& options,
                                const std::function<void(const CellImportReport&)>& progress) {
    CellImportReport report;
    std::vector<Cell> batch;
    batch.reserve(options.batchRows);
    auto flush = [&](CellFile& file) {
        StoreBatch(store, batch, report);
        report.bytesRead = file.bytesRead();
        if (progress) progress(report);
    };
    std::string_view line;
    bool tooLong = false;

    if (options.layout == CellFileLayout::kOurs) {
        const std::int64_t mcc = options.mcc.value_or(options.serviceMcc);
        // The operator's own file is all or nothing: checked whole before the first batch.
        for (bool storing : {false, true}) {
            CellFile file(path);
            report.fileBytes = file.size();
            bool first = true;
            while (file.Next(line, tooLong)) {
                if (tooLong) throw StoreError("line " + std::to_string(file.number()) + " is too long");
                std::optional<Cell> cell = ParseOurCellLine(line, file.number(), first);
                first = first && !cell;
                if (!cell || !storing) continue;
                ++report.rows;
                cell->mcc = mcc;
                batch.push_back(std::move(*cell));
                if (batch.size() >= options.batchRows) flush(file);
            }
            if (storing) flush(file);
        }
        return report;
    }

    CellFile file(path);
    report.fileBytes = file.size();
    Cell cell;
    std::string problem;
    while (file.Next(line, tooLong)) {
        if (tooLong) {
            ++report.rows;
            NoteProblem(report, file.number(), "longer than " + std::to_string(kMaxLineBytes) + " bytes");
            continue;
        }
        if (Trim(line).empty()) continue;
        OpenCellIdRow row = ParseOpenCellIdLine(line, options.mcc, cell, problem);
        if (row == OpenCellIdRow::kHeader) continue;
        ++report.rows;
        switch (row) {
        case OpenCellIdRow::kCell:
            batch.push_back(cell);
            if (batch.size() >= options.batchRows) flush(file);
            break;
        case OpenCellIdRow::kOtherRadio:
            ++report.otherRadios;
            break;
        case OpenCellIdRow::kOtherCountry:
            ++report.otherCountries;
            break;
        case OpenCellIdRow::kWideCellId:
            ++report.wideCellIds;
            break;
        default:
            NoteProblem(report, file.number(), problem);
            break;
        }
    }
    flush(file);
    return report;
}

}  // namespace pelmora
