// Filling the table of cells from files: the operator's own CSV (mnc, lac, cid, lat, lon, address)
// and the export of the open cell databases, OpenCelliD and the Mozilla Location Service (radio, mcc,
// net, area, cell, unit, lon, lat, range, samples, changeable, created, updated, averageSignal), each
// plain or gzip-compressed. Millions of rows go in batches, one transaction each.
#pragma once

#include "server/store.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora {

enum class CellFileLayout { kOurs, kOpenCellId };

struct CellImportOptions {
    CellFileLayout layout = CellFileLayout::kOurs;
    // OpenCelliD: only this country's rows. Ours: the country of every row.
    std::optional<std::int64_t> mcc;
    // Ours without `mcc`: the service's country.
    std::int64_t serviceMcc = kDefaultCountryCode;
    std::size_t batchRows = 20000;
};

// What an import did so far, as it goes and at its end.
struct CellImportReport {
    std::int64_t rows = 0;  // lines of data read, header, blank and comment lines left out
    CellImportCounts stored;
    std::int64_t otherRadios = 0;     // LTE, CDMA, NR: cells a GSM phone never names
    std::int64_t otherCountries = 0;  // not the --mcc asked for
    std::int64_t wideCellIds = 0;     // cell ids beyond the phone's 16 bits
    std::int64_t badLines = 0;
    std::vector<std::string> problems;  // the first few bad lines: "line 17: …"
    std::uint64_t bytesRead = 0;        // of the file as it lies on the disk
    std::uint64_t fileBytes = 0;
};

// Reads FILE (gzip or plain, told apart by its first bytes) and adds or updates its cells, one
// transaction per batch; `progress` hears after every batch. Our layout is checked whole before
// anything is stored and refused with the first faulty line (StoreError); the open databases' rows
// that do not fit are counted and left out. Throws StoreError for a file that cannot be read.
CellImportReport ImportCellFile(Store& store, const std::string& path, const CellImportOptions& options,
                                const std::function<void(const CellImportReport&)>& progress = nullptr);

// What one row of the open databases' layout is.
enum class OpenCellIdRow { kCell, kHeader, kOtherRadio, kOtherCountry, kWideCellId, kBad };

// Reads one line of the open databases' layout into `cell`; for kBad, `problem` says why.
OpenCellIdRow ParseOpenCellIdLine(std::string_view line, std::optional<std::int64_t> onlyMcc, Cell& cell,
                                  std::string& problem);

// One line of our layout: mnc, lac, cid, latitude, longitude, address (quoted, "" for a quote, or
// simply the rest of the line, commas and all). Nothing for a blank line, a comment ("#…") or the
// header (`first` line only). Throws StoreError naming line `number`.
std::optional<Cell> ParseOurCellLine(std::string_view line, std::size_t number, bool first);

// Cells from CSV text of our layout, one per line; the country is the default one.
std::vector<Cell> ParseCellsCsv(std::string_view text);

}  // namespace pelmora
