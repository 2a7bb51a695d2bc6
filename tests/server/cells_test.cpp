// The table of cells: the open databases' export read row by row (plain and gzip, other radios, other
// countries and bad lines counted), a second import updating the first, whose address a cell keeps,
// the country of a cell and the setting mcc, and the cells the phones meet that nobody has.
#include "server/admin.h"
#include "server/cell_import.h"
#include "server/geocoder.h"

#include "postgres_cluster.h"
#include "server_fixture.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

namespace pelmora {
namespace {

using testing::TextAt;

const char* const kHeader = "radio,mcc,net,area,cell,unit,lon,lat,range,samples,changeable,created,updated,averageSignal\n";

// A row of the open databases' export.
std::string Row(const char* radio, std::int64_t mcc, std::int64_t net, std::int64_t area, std::int64_t cell, double lat,
                double lon) {
    char text[160];
    std::snprintf(text, sizeof text, "%s,%lld,%lld,%lld,%lld,0,%.6f,%.6f,1000,12,1,1459808111,1541412237,0\n", radio,
                  static_cast<long long>(mcc), static_cast<long long>(net), static_cast<long long>(area),
                  static_cast<long long>(cell), lon, lat);
    return text;
}

class CellsTest : public testing::EngineTest {
protected:

    std::optional<Cell> Find(std::int64_t lac, std::int64_t cid, std::int64_t mcc = kDefaultCountryCode) {
        return store_->FindCell(mcc, {1, lac, cid});
    }
};

TEST(OpenCellIdRowTest, EachRowIsACellOrCountedByWhyItIsLeftOut) {
    struct Case {
        std::string line;
        OpenCellIdRow row;
        const char* problem;  // for kBad
    };
    const std::string tail = ",1000,5,1,1459808111,1541412237,-71";
    const Case cases[] = {
        {"GSM,250,1,7701,10101,0,37.611200,55.757900" + tail, OpenCellIdRow::kCell, ""},
        {"umts,250,2,7702,65535,0,37.6,55.7,1,1,1,0,0,", OpenCellIdRow::kCell, ""},
        {"GSM,250,1,7701,10101,0,37.6,55.7", OpenCellIdRow::kCell, ""},
        {"UMTS,250,2,7702,65536,0,37.6,55.7" + tail, OpenCellIdRow::kWideCellId, ""},
        {"GSM,250,2,7702,268435455,0,37.6,55.7" + tail, OpenCellIdRow::kWideCellId, ""},
        {"LTE,250,1,7701,123456789,0,37.6,55.7" + tail, OpenCellIdRow::kOtherRadio, ""},
        {"NR,250,1,7701,1,0,37.6,55.7" + tail, OpenCellIdRow::kOtherRadio, ""},
        {"CDMA,310,1,7701,1,0,x,y" + tail, OpenCellIdRow::kOtherRadio, ""},
        {"GSM,257,2,7702,1,0,27.56,53.9" + tail, OpenCellIdRow::kOtherCountry, ""},
        {kHeader, OpenCellIdRow::kHeader, ""},
        {"GSM,250,1,7701", OpenCellIdRow::kBad, "expected radio, mcc, net, area, cell, unit, lon, lat, …"},
        {"GSM,250,1,7701,1,0,37.6,55.7" + tail + ",extra", OpenCellIdRow::kBad, "more than 14 fields"},
        {"G5M,250,1,7701,1,0,37.6,55.7" + tail, OpenCellIdRow::kBad, "the radio is not a word"},
        {",250,1,7701,1,0,37.6,55.7" + tail, OpenCellIdRow::kBad, "the radio is not a word"},
        {"GSM,0,1,7701,1,0,37.6,55.7" + tail, OpenCellIdRow::kBad, "mcc must be a number from 1 to 999"},
        {"GSM,25O,1,7701,1,0,37.6,55.7" + tail, OpenCellIdRow::kBad, "mcc must be a number from 1 to 999"},
        {"GSM,250,1000,7701,1,0,37.6,55.7" + tail, OpenCellIdRow::kBad, "net must be a number from 0 to 999"},
        {"GSM,250,1,65536,1,0,37.6,55.7" + tail, OpenCellIdRow::kBad, "area must be a number from 0 to 65535"},
        {"GSM,250,1,7701,-1,0,37.6,55.7" + tail, OpenCellIdRow::kBad, "cell must be a non-negative number"},
        {"GSM,250,1,7701,1,0,37.6,95.0" + tail, OpenCellIdRow::kBad, "lon and lat must be decimal degrees"},
        {"GSM,250,1,7701,1,0,east,55.7" + tail, OpenCellIdRow::kBad, "lon and lat must be decimal degrees"},
        {"GSM,250,1,7701,1,0,nan,55.7" + tail, OpenCellIdRow::kBad, "lon and lat must be decimal degrees"},
        {"GSM,250,1,7701,1,0,37.6, 55.7" + tail, OpenCellIdRow::kBad, "lon and lat must be decimal degrees"},
    };
    for (const Case& c : cases) {
        Cell cell;
        std::string problem;
        OpenCellIdRow row = ParseOpenCellIdLine(c.line, 250, cell, problem);
        EXPECT_EQ(row, c.row) << c.line;
        if (c.row == OpenCellIdRow::kBad) {
            EXPECT_EQ(problem, c.problem) << c.line;
        }
    }
    Cell cell;
    std::string problem;
    ASSERT_EQ(ParseOpenCellIdLine(cases[0].line, std::nullopt, cell, problem), OpenCellIdRow::kCell);
    EXPECT_EQ(cell.mcc, 250);
    EXPECT_EQ(cell.key, (CellKey{1, 7701, 10101}));
    EXPECT_DOUBLE_EQ(cell.lat, 55.7579);
    EXPECT_DOUBLE_EQ(cell.lon, 37.6112);
    EXPECT_EQ(cell.address, "");
    EXPECT_EQ(ParseOpenCellIdLine(cases[8].line, std::nullopt, cell, problem), OpenCellIdRow::kCell)
        << "without --mcc every country is kept";
}

// A few thousand rows in batches of 500: what is kept, what is left out and why, with a progress
// report after each batch; then the same cells again from a gzip file, some moved, some new.
TEST_P(CellsTest, AnOpenCellIdFileIsImportedInBatchesAndASecondImportUpdatesIt) {
    std::string first = kHeader;
    for (int i = 0; i < 2000; ++i) first += Row("GSM", 250, 1, 7000 + i / 100, i, 55 + i * 1e-4, 37 + i * 1e-4);
    for (int i = 0; i < 300; ++i) first += Row("UMTS", 250, 2, 8000, i, 56, 38 + i * 1e-4);
    for (int i = 0; i < 100; ++i) first += Row("UMTS", 250, 2, 8000, 70000 + i, 56, 38);
    for (int i = 0; i < 250; ++i) first += Row(i % 2 ? "LTE" : "NR", 250, 1, 9000, 100000 + i, 56, 38);
    for (int i = 0; i < 150; ++i) first += Row("GSM", 257, 2, 9000, i, 53.9, 27.56);
    first += "\nGSM,250,1,7701\nGSM,250,1,7701,1,0,37.6,95.0,1,1,1,0,0,0\r\n" + std::string(5000, 'x') +
             "\nGSM,0,1,7701,1,0,37.6,55.7\nGSM,250,1,99999,1,0,37.6,55.7\nGSM,250,1,7701,1,0,37.6,55.7,1,1,1,1,1,1,1\n";
    std::vector<CellImportReport> progress;
    CellImportOptions options;
    options.layout = CellFileLayout::kOpenCellId;
    options.mcc = 250;
    options.batchRows = 500;
    CellImportReport report = ImportCellFile(*store_, WriteFile("first.csv", first), options,
                                             [&](const CellImportReport& sofar) { progress.push_back(sofar); });
    EXPECT_EQ(report.rows, 2000 + 300 + 100 + 250 + 150 + 6);
    EXPECT_EQ(report.stored.added, 2300);
    EXPECT_EQ(report.stored.updated + report.stored.unchanged, 0);
    EXPECT_EQ(report.wideCellIds, 100);
    EXPECT_EQ(report.otherRadios, 250);
    EXPECT_EQ(report.otherCountries, 150);
    EXPECT_EQ(report.badLines, 6);
    EXPECT_EQ(report.problems, (std::vector<std::string>{
                                   "line 2803: expected radio, mcc, net, area, cell, unit, lon, lat, …",
                                   "line 2804: lon and lat must be decimal degrees",
                                   "line 2805: longer than 4096 bytes",
                                   "line 2806: mcc must be a number from 1 to 999",
                                   "line 2807: area must be a number from 0 to 65535",
                               }))
        << "the first five are named, the sixth is counted";
    ASSERT_EQ(progress.size(), 5u) << "four full batches and the rest";
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GT(progress[i].rows, progress[i - 1].rows);
    EXPECT_EQ(progress[0].stored.added, 500);
    EXPECT_EQ(progress.back().stored.added, 2300);
    EXPECT_EQ(progress.back().bytesRead, report.fileBytes);
    EXPECT_EQ(store_->CellCount(), 2300);
    ASSERT_TRUE(Find(7015, 1500).has_value());
    EXPECT_DOUBLE_EQ(Find(7015, 1500)->lat, 55.15);
    EXPECT_FALSE(store_->FindCell(250, {2, 8000, 70000 % 65536}).has_value()) << "no wide id cut to 16 bits";
    EXPECT_FALSE(store_->FindCell(257, {2, 9000, 1}).has_value());

    // A thousand as they were, five hundred moved, two hundred new (one of them named twice).
    std::string second = kHeader;
    for (int i = 0; i < 1500; ++i) second += Row("GSM", 250, 1, 7000 + i / 100, i, 55 + i * 1e-4 + (i >= 1000), 37 + i * 1e-4);
    for (int i = 0; i < 200; ++i) second += Row("GSM", 250, 1, 7500, 50000 + i, 57, 39);
    second += Row("GSM", 250, 1, 7500, 50007, 57.5, 39.5);
    options.batchRows = 300;
    report = ImportCellFile(*store_, WriteFile("second.csv.gz", second, true), options);
    EXPECT_EQ(report.rows, 1701);
    EXPECT_EQ(report.stored.added, 200);
    EXPECT_EQ(report.stored.updated, 501);
    EXPECT_EQ(report.stored.unchanged, 1000);
    EXPECT_LT(report.fileBytes, second.size() / 3) << "the file was compressed";
    EXPECT_EQ(store_->CellCount(), 2500);
    EXPECT_DOUBLE_EQ(Find(7015, 1500)->lat, 55.15) << "an unchanged cell";
    EXPECT_DOUBLE_EQ(Find(7014, 1499)->lat, 56.1499) << "a moved cell";
    EXPECT_DOUBLE_EQ(Find(7500, 50007)->lat, 57.5) << "of two rows of one cell, the later";

    // A compressed file cut short stops the import with a clear word, after the batches it stored.
    std::ifstream whole(directory_ / "second.csv.gz", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
    std::string cut = WriteFile("cut.csv.gz", bytes.substr(0, bytes.size() / 2));
    try {
        ImportCellFile(*store_, cut, options);
        ADD_FAILURE() << "a damaged file was taken whole";
    } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find(cut + " is damaged after line "), std::string::npos) << error.what();
    }
    EXPECT_THROW(ImportCellFile(*store_, (directory_ / "absent.csv").string(), options), StoreError);
}

// Whose word a cell's address is: the operator's file names it for good; the geocoder's name is asked
// for again when the open databases move the cell.
TEST_P(CellsTest, ACellKeepsTheOperatorsAddressAndLosesTheGeocodersWhenItMoves) {
    struct Step {
        const char* what;
        std::string file;  // imported, or empty: the geocoder names the cell "Москва, ул. Тверская, 7"
        bool opencellid;
        std::string address;  // afterwards
        const char* counts;   // new, updated, unchanged
    };
    const Step steps[] = {
        {"the open databases bring the cell", Row("GSM", 250, 1, 7701, 1, 55.75, 37.61), true, "", "1 0 0"},
        {"the geocoder names it", "", true, "Москва, ул. Тверская, 7", ""},
        {"the same row again", Row("GSM", 250, 1, 7701, 1, 55.75, 37.61), true, "Москва, ул. Тверская, 7", "0 0 1"},
        {"the cell moves", Row("GSM", 250, 1, 7701, 1, 55.76, 37.61), true, "", "0 1 0"},
        {"the operator names it", "1,7701,1,55.76,37.61,Офис\n", false, "Офис", "0 1 0"},
        {"the operator's name again", "1,7701,1,55.76,37.61,Офис\n", false, "Офис", "0 0 1"},
        {"the cell moves again", Row("GSM", 250, 1, 7701, 1, 55.77, 37.61), true, "Офис", "0 1 0"},
    };
    for (const Step& step : steps) {
        if (step.file.empty()) {
            GridPoint point = GeocodeGrid(55.75, 37.61);
            store_->SavePlace(*Find(7701, 1), point.latKey, point.lonKey, "Москва, ул. Тверская, 7", now_);
        } else {
            CellImportOptions options;
            options.layout = step.opencellid ? CellFileLayout::kOpenCellId : CellFileLayout::kOurs;
            CellImportReport report = ImportCellFile(*store_, WriteFile("step.csv", step.file), options);
            std::string counts = std::to_string(report.stored.added) + " " + std::to_string(report.stored.updated) +
                                 " " + std::to_string(report.stored.unchanged);
            EXPECT_EQ(counts, step.counts) << step.what;
        }
        EXPECT_EQ(Find(7701, 1)->address, step.address) << step.what;
    }
    EXPECT_FALSE(store_->NextCellToGeocode(250, false, now_, std::nullopt).has_value()) << "the operator named it";
}

// The phone sends no country: of two cells with one mnc, lac and cid the service's country's is used,
// for the reporting phone and for those who see it.
TEST_P(CellsTest, CellsOfTwoCountriesWithTheSameNumbersAreChosenByTheSettingMcc) {
    Command({"cell", "import", WriteFile("moscow.csv", "1,7701,10101,55.7579,37.6112,\"Москва, ул. Тверская, 7\"\n")});
    Command({"cell", "import", "--mcc", "257", WriteFile("minsk.csv", "1,7701,10101,53.9045,27.5615,\"Минск, пр. Независимости, 4\"\n")});
    Command({"cell", "import", "--mcc", "250", WriteFile("home.csv", "1,7701,10102,55.7558,37.6173,\"Москва, Манежная площадь, 1\"\n")});
    std::int64_t anna = AddUser("anna@example.org", "secret", "Анна");
    std::int64_t boris = AddUser("boris@example.org", "secret", "Борис");
    AddGroup("Семья", {anna, boris});
    StartServer();
    std::string annaToken = Login("anna@example.org", "secret");
    std::string borisToken = Login("boris@example.org", "secret");
    struct Case {
        const char* mcc;  // the setting; empty: as it comes
        const char* address;
        const char* seenByBoris;
        double lat;
    };
    const Case cases[] = {
        {"", "Москва, ул. Тверская, 7", "Москва, ул. Тверская, 7", 55.7579},
        {"257", "Минск, пр. Независимости, 4", "Минск, пр. Независимости, 4", 53.9045},
        {"250", "Москва, ул. Тверская, 7", "Москва, ул. Тверская, 7", 55.7579},
    };
    for (const Case& c : cases) {
        if (*c.mcc) Command({"setting", "set", "mcc", c.mcc});
        auto reply = Report(annaToken, 7701, 10101);
        EXPECT_EQ(TextAt(reply.get(), "isee/sint/address"), c.address) << c.mcc;
        auto groups = Request("ineed", "token=" + borisToken + "&group_list=1");
        EXPECT_EQ(TextAt(groups.get(), "ineed/groups/group/users/user/address"), c.seenByBoris) << c.mcc;
        ASSERT_TRUE(store_->PositionOf(anna)->where.has_value()) << c.mcc;
        EXPECT_DOUBLE_EQ(store_->PositionOf(anna)->where->lat, c.lat) << c.mcc;
    }
    // In a country without these cells the phone is nowhere, and the cell is missing there.
    Command({"setting", "set", "mcc", "255"});
    EXPECT_EQ(TextAt(Report(annaToken, 7701, 10101).get(), "isee/sint"), "<missing>");
    EXPECT_FALSE(store_->PositionOf(anna)->where.has_value());
    rules_->sightings.Flush();
    ASSERT_EQ(store_->MissingCells(10).size(), 1u);
    EXPECT_EQ(store_->MissingCells(10)[0].mcc, 255);
    EXPECT_NE(Command({"setting", "list"}).find("mcc\t255\n"), std::string::npos);
    EXPECT_THROW(Command({"setting", "set", "mcc", "1000"}), StoreError);
    EXPECT_THROW(Command({"setting", "set", "mcc", "0"}), StoreError);
}

// Every report naming an unknown cell is counted; the neighbouring known cells still place the phone;
// "cell missing" lists the cells met by the most phones first, and an import that holds a cell ends
// its listing.
TEST_P(CellsTest, AReportFromAnUnknownCellIsListedByCellMissingUntilAnImportHoldsIt) {
    AddCell(7701, 1, 55.76, 37.60, "Москва, ул. Тверская, 7");
    AddCell(7701, 2, 55.70, 37.70, "Москва, ул. Арбат, 1");
    AddUser("anna@example.org", "secret", "Анна");
    std::int64_t boris = AddUser("boris@example.org", "secret", "Борис");
    StartServer();
    std::string anna = Login("anna@example.org", "secret");
    std::string borisToken = Login("boris@example.org", "secret");
    auto near = [&](const std::string& token) {
        return Request("isee", "token=" + token + "&mnc=01&lac=7701&cid=999&lac1=7701&cid1=1&lac2=7701&cid2=2&delta=0");
    };
    struct Step {
        std::string* token;
        int minutes;  // after noon
        bool nearKnown;  // with the two known cells behind the unknown one; else cell 998 thrice
    };
    const Step steps[] = {{&anna, 0, true}, {&borisToken, 5, true}, {&anna, 10, true}, {&borisToken, 12, false}};
    const std::time_t noon = now_;
    for (const Step& step : steps) {
        now_ = noon + step.minutes * 60;
        auto reply = step.nearKnown ? near(*step.token) : Report(*step.token, 7701, 998);
        EXPECT_EQ(TextAt(reply.get(), "isee/status"), "1");
        EXPECT_EQ(TextAt(reply.get(), "isee/sint/address"), step.nearKnown ? "Москва, ул. Тверская, 7" : "<missing>");
    }
    near(borisToken);
    ASSERT_TRUE(store_->PositionOf(boris)->where.has_value()) << "placed by the known neighbours";
    EXPECT_DOUBLE_EQ(store_->PositionOf(boris)->where->lat, (55.76 * 2 + 55.70) / 3);
    EXPECT_TRUE(store_->MissingCells(10).empty()) << "written every few seconds, not by every report";
    rules_->sightings.Flush();
    EXPECT_EQ(Command({"cell", "missing"}),
              "250\t1\t7701\t999\t2 phones\t4 reports\t2024-05-15 12:00\t2024-05-15 12:12\n"
              "250\t1\t7701\t998\t1 phones\t1 reports\t2024-05-15 12:12\t2024-05-15 12:12\n");
    EXPECT_EQ(Command({"cell", "missing", "--limit", "1"}).find("998"), std::string::npos);
    Report(anna, 7701, 1);
    EXPECT_FALSE(rules_->sightings.Flush()) << "reports of known cells with addresses note nothing";
    EXPECT_EQ(store_->MissingCells(10)[0].reports, 4);

    std::string file = WriteFile("found.csv.gz", kHeader + Row("GSM", 250, 1, 7701, 999, 55.77, 37.62), true);
    EXPECT_EQ(Command({"cell", "import", "--format", "opencellid", file}),
              "1 cells imported\n  1 missing cells are known now\n");
    EXPECT_EQ(Command({"cell", "missing"}), "250\t1\t7701\t998\t1 phones\t1 reports\t2024-05-15 12:12\t2024-05-15 12:12\n");
    near(anna);
    rules_->sightings.Flush();
    EXPECT_EQ(store_->MissingCells(10).size(), 1u) << "a known cell is missing no more";
    EXPECT_THROW(Command({"cell", "missing", "--limit", "none"}), StoreError);
}

INSTANTIATE_TEST_SUITE_P(Engines, CellsTest, testing::AllEngines(), testing::EngineName);

class SightingsTest : public testing::EngineTest {};

// What the reports noted waits in memory while the database is away and is written, all of it, when
// it is back.
TEST_P(SightingsTest, WhatTheReportsNotedIsKeptWhileTheDatabaseIsAway) {
    const CellKey cells[3] = {{1, 7701, 1}, {1, 7701, 2}, {1, 7701, 1}};
    const Store::KnownCells unknown;
    rules_->sightings.Note(1, 250, cells, unknown, now_);
    testing::PostgresCluster::Get().Stop();
    EXPECT_THROW(rules_->sightings.Flush(), DatabaseError);
    rules_->sightings.Note(2, 250, cells, unknown, now_ + 60);
    testing::PostgresCluster::Get().Start();
    rules_->sightings.Flush();
    std::vector<MissingCell> missing = store_->MissingCells(10);
    ASSERT_EQ(missing.size(), 2u);
    for (const MissingCell& cell : missing) {
        EXPECT_EQ(cell.reports, 2) << cell.key.cid << ": the cell named twice in a report counts once";
        EXPECT_EQ(cell.phones, 2) << cell.key.cid;
        EXPECT_EQ(cell.firstSeen, now_) << cell.key.cid;
        EXPECT_EQ(cell.lastSeen, now_ + 60) << cell.key.cid;
    }
}

// Only PostgreSQL can be taken away from under an open connection.
INSTANTIATE_TEST_SUITE_P(Engines, SightingsTest, ::testing::Values(testing::Engine::kPostgres), testing::EngineName);

// The commands as the operator runs them: the summary on the output, the progress line beside it.
TEST(CellCommandTest, TheCommandsSayWhatTheyDidOrWhyNot) {
    std::filesystem::path directory = std::filesystem::temp_directory_path() / ("pelmora-cells-" + RandomHex(6));
    std::filesystem::create_directories(directory);
    std::string file = (directory / "cells.csv").string();
    std::ofstream(file) << kHeader << Row("GSM", 250, 1, 7701, 1, 55.75, 37.61) << Row("LTE", 250, 1, 7701, 2, 55, 37)
                        << Row("GSM", 257, 1, 7701, 3, 53, 27) << Row("UMTS", 250, 1, 7701, 70000, 55, 37)
                        << "GSM,250,1\n";
    std::string db = "--db " + (directory / "cells.db").string() + " ";
    struct Case {
        std::string arguments;
        int status;
        std::string output;  // what the output holds; empty: nothing at all
    };
    const Case cases[] = {
        {"cell import --format opencellid --mcc 250 " + file, 0,
         "1 cells imported\n  1 rows of other radios (LTE, CDMA, NR) left out\n  1 rows of other countries left out\n"
         "  1 rows with cell ids over 65535 left out\n  1 bad lines left out:\n"
         "    line 6: expected radio, mcc, net, area, cell, unit, lon, lat, …\n"},
        {"cell import --format opencellid --mcc 250 " + file, 0, "cell import: 100%, 5 rows, 1 cells stored, "},
        {"cell import --format opencellid " + file, 0, "2 cells imported\n  1 new, 0 updated, 1 unchanged\n"},
        {"cell import --format kml " + file, 1,
         "pelmora-server: --format must be csv (mnc, lac, cid, lat, lon, address) or opencellid\n"},
        {"cell import --mcc 1000 " + file, 1, "pelmora-server: --mcc needs a number from 1 to 999\n"},
        {"cell import", 1,
         "pelmora-server: usage: pelmora-server cell import [--format csv|opencellid] [--mcc MCC] FILE[.gz]\n"},
        {"cell missing", 0, ""},
        {"cell geocode", 1, "pelmora-server: no geocoder is set: setting set geocoder http://HOST[:PORT][/PATH]\n"},
        {"setting set geocoder https://nominatim.example.org", 1, "(https is not spoken: run it beside the servers)\n"},
        {"setting set geocoder http://127.0.0.1:8088/nominatim/", 0, "geocoder set to http://127.0.0.1:8088/nominatim/\n"},
    };
    for (const Case& c : cases) {
        auto [output, status] = testing::RunServerProgram(db + c.arguments);
        EXPECT_EQ(status, c.status) << c.arguments << "\n" << output;
        if (c.output.empty()) {
            EXPECT_EQ(output, "") << c.arguments;
        } else {
            EXPECT_NE(output.find(c.output), std::string::npos) << c.arguments << "\n" << output;
        }
    }
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace pelmora
