// Places named by a geocoder of our own making: its answers read as the phones show addresses (and
// hostile ones refused), a report answered at once and a later one with the geocoded address, one
// request a second among servers with no point asked twice, slow answers, errors and refusals, and
// the operator's "cell geocode".
#include "server/admin.h"
#include "server/geocoder.h"

#include "fake_nominatim.h"
#include "server_fixture.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <set>
#include <sstream>

namespace pelmora {
namespace {

using testing::FakeNominatim;
using testing::TextAt;
using Kind = Geocoder::Step::Kind;

// The latitude a request asks about: "…&lat=55.7579&lon=…" gives "55.7579".
std::string LatitudeOf(const std::string& target) {
    std::size_t start = target.find("&lat=") + 5;
    return target.substr(start, target.find('&', start) - start);
}

FakeNominatim::Reply Place(const std::string& house) {
    FakeNominatim::Reply answer;
    answer.body = FakeNominatim::Jsonv2({{"city", "Москва"}, {"road", "Тверская улица"}, {"house_number", house}});
    return answer;
}

TEST(GeocoderAnswerTest, AnAnswerBecomesTheAddressLineThePhonesShowAndNothingElse) {
    using A = GeocoderAnswer::Kind;
    auto json = FakeNominatim::Jsonv2;
    struct Case {
        int status;
        const char* retryAfter;
        std::string body;
        A kind;
        std::string address;  // kPlace; for the others the problem's start
        std::int64_t retry;
    };
    const std::string longStreet = [] {
        std::string text;
        for (int i = 0; i < 300; ++i) text += "ж";
        return text;
    }();
    const Case cases[] = {
        {200, "", json({{"house_number", "7"}, {"road", "Тверская улица"}, {"suburb", "Тверской район"},
                        {"city", "Москва"}, {"state", "Москва"}, {"postcode", "125009"}, {"country", "Россия"}}),
         A::kPlace, "Москва, ул. Тверская, 7", 0},
        {200, "", json({{"city", "Москва"}, {"road", "улица Арбат"}, {"house_number", "54"}}), A::kPlace,
         "Москва, ул. Арбат, 54", 0},
        {200, "", json({{"city", "Москва"}, {"road", "1-я Тверская-Ямская улица"}}), A::kPlace,
         "Москва, ул. 1-я Тверская-Ямская", 0},
        {200, "", json({{"city", "Москва"}, {"road", "Комсомольская площадь"}, {"house_number", "3"}}), A::kPlace,
         "Москва, Комсомольская площадь, 3", 0},
        {200, "", json({{"town", "Химки"}, {"road", "Ленинградское шоссе"}, {"house_number", "1"}}), A::kPlace,
         "Химки, Ленинградское шоссе, 1", 0},
        {200, "", json({{"village", "Ивановка"}, {"house_number", "12"}, {"county", "Район"}}), A::kPlace,
         "Ивановка, 12", 0},
        {200, "", json({{"city", "Москва"}, {"suburb", "район Хамовники"}}), A::kPlace, "Москва, район Хамовники", 0},
        {200, "", json({{"road", "Тверская улица"}, {"house_number", "7"}}), A::kPlace, "ул. Тверская, 7", 0},
        {200, "", json({{"state", "Московская область"}, {"road", "Улица Ленина"}}), A::kPlace,
         "Московская область, ул. Ленина", 0},
        {200, "", json({{"hamlet", "Озёрки"}, {"road", "Озёрки"}}), A::kPlace, "Озёрки", 0},
        {200, "", json({{"city", " Мо\nсква\t"}, {"road", longStreet}}), A::kPlace,
         "Мо сква, " + longStreet.substr(0, 100), 0},
        {200, "", R"({"address": {"city": 5, "road": ["x"], "town": "Химки", "house_number": null}})", A::kPlace,
         "Химки", 0},
        {200, "", json({{"country", "Россия"}, {"house_number", "1"}}), A::kNothing, "", 0},
        {200, "", R"({"error": "Unable to geocode"})", A::kNothing, "", 0},
        {200, "", "<html>Nominatim</html>", A::kFailed, "the geocoder's answer is not a JSON object", 0},
        {200, "", "[1, 2]", A::kFailed, "the geocoder's answer is not a JSON object", 0},
        {200, "", std::string(20000, '[') + std::string(20000, ']'), A::kFailed, "the geocoder's answer is not", 0},
        {200, "", R"({"place_id": 1, "address": "Москва"})", A::kFailed, "the geocoder's answer has no address", 0},
        {500, "", json({{"city", "Москва"}}), A::kFailed, "the geocoder answered 500", 0},
        {429, "30", "", A::kRefused, "the geocoder answered 429, asking to wait 30 s", 30},
        {429, "", "", A::kRefused, "the geocoder answered 429, asking to wait 60 s", 60},
        {503, "99999", "", A::kRefused, "the geocoder answered 503, asking to wait 3600 s", 3600},
        {429, "-5", "", A::kRefused, "the geocoder answered 429, asking to wait 1 s", 1},
    };
    for (const Case& c : cases) {
        GeocoderAnswer answer = ReadGeocoderAnswer(c.status, c.retryAfter, c.body);
        std::string what = std::to_string(c.status) + " " + c.body.substr(0, 120);
        EXPECT_EQ(answer.kind, c.kind) << what;
        if (c.kind == A::kPlace) {
            EXPECT_EQ(answer.address, c.address) << what;
        } else {
            EXPECT_EQ(answer.address, "") << what;
            EXPECT_EQ(answer.problem.substr(0, c.address.size()), c.address) << what;
        }
        EXPECT_EQ(answer.retryAfter, c.retry) << what;
    }
}

class GeocoderTest : public testing::EngineTest {
protected:
    void AddUnnamedCell(std::int64_t cid, double lat, double lon) {
        store_->PutCell(Cell{{1, 7701, cid}, lat, lon, "", kDefaultCountryCode});
    }
    std::string AddressOf(std::int64_t cid) { return store_->FindCell(kDefaultCountryCode, {1, 7701, cid})->address; }
    Clock clock_ = [this] { return now_.load(); };
};

// The report never waits for the geocoder: even while its answer is held, the phone is answered;
// once the answer is in, the next report carries the address. The geocoder is asked once.
TEST_P(GeocoderTest, AReportIsAnsweredAtOnceAndALaterOneWithTheGeocodedAddress) {
    FakeNominatim nominatim([](const std::string&) {
        FakeNominatim::Reply answer = Place("7");
        answer.held = true;
        return answer;
    });
    store_->SetSetting("geocoder", nominatim.Address());
    AddUnnamedCell(10102, 55.7579, 37.6112);
    AddUser("anna@example.org", "secret", "Анна");
    StartServer();
    std::string token = Login("anna@example.org", "secret");
    GeocoderWorker worker(*store_, clock_, nullptr);
    worker.Start(std::chrono::seconds(30));
    rules_->sightings.Start(std::chrono::milliseconds(20), [&worker] { worker.Wake(); });

    auto first = Report(token, 7701, 10102);
    EXPECT_EQ(TextAt(first.get(), "isee/status"), "1");
    EXPECT_EQ(TextAt(first.get(), "isee/sint"), "<missing>") << "no address yet";
    ASSERT_TRUE(nominatim.WaitForRequests(1)) << "the report woke the geocoder";
    auto second = Report(token, 7701, 10102);
    EXPECT_EQ(TextAt(second.get(), "isee/status"), "1") << "answered while the geocoder's answer is held";
    EXPECT_EQ(TextAt(second.get(), "isee/sint"), "<missing>");
    nominatim.Release();
    for (int wait = 0; wait < 200 && AddressOf(10102).empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    auto third = Report(token, 7701, 10102);
    EXPECT_EQ(TextAt(third.get(), "isee/sint/address"), "Москва, ул. Тверская, 7");
    rules_->sightings.Stop();
    worker.Stop();
    std::vector<FakeNominatim::Request> requests = nominatim.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target,
              "/nominatim/reverse?format=jsonv2&lat=55.7579&lon=37.6112&accept-language=ru&addressdetails=1&zoom=18");
}

// Two servers (two stores on one database) name five cells, two of them at one point: four
// requests, one at a time, each a second or more after the answer before it.
TEST_P(GeocoderTest, TwoServersAskOneRequestASecondAndNoPointTwice) {
    FakeNominatim nominatim([](const std::string& target) { return Place(LatitudeOf(target)); });
    store_->SetSetting("geocoder", nominatim.Address());
    AddUnnamedCell(1, 55.75010, 37.61010);
    AddUnnamedCell(2, 55.75012, 37.61008);
    AddUnnamedCell(3, 55.76, 37.62);
    AddUnnamedCell(4, 55.77, 37.63);
    AddUnnamedCell(5, 55.78, 37.64);
    std::unique_ptr<Store> other = pelmora::OpenStore(target_);
    auto name = [this](Store& store) {
        Geocoder geocoder(store, clock_);
        std::optional<CellKey> cursor;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            Geocoder::Step step = geocoder.NameNext(false, cursor);
            if (step.kind == Kind::kIdle) return;
            if (step.kind == Kind::kWait) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    std::thread first(name, std::ref(*store_));
    std::thread second(name, std::ref(*other));
    first.join();
    second.join();
    std::vector<FakeNominatim::Request> requests = nominatim.Requests();
    ASSERT_EQ(requests.size(), 4u);
    std::set<std::string> points;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        points.insert(LatitudeOf(requests[i].target));
        if (i == 0) continue;
        auto gap = requests[i].at - requests[i - 1].at;
        EXPECT_GE(gap, std::chrono::milliseconds(1000)) << "request " << i;
    }
    EXPECT_EQ(points, (std::set<std::string>{"55.7501", "55.7600", "55.7700", "55.7800"}));
    EXPECT_EQ(AddressOf(1), "Москва, ул. Тверская, 55.7501");
    EXPECT_EQ(AddressOf(2), "Москва, ул. Тверская, 55.7501") << "the earlier answer for its point";
    EXPECT_EQ(AddressOf(5), "Москва, ул. Тверская, 55.7800");
}

// Whatever goes wrong with one request, only its cell waits (a minute, then longer); a refusal makes
// every server wait as long as the geocoder asks.
TEST_P(GeocoderTest, SlowAnswersErrorsAndRefusalsPostponeOnlyTheirCell) {
    struct Case {
        FakeNominatim::Reply reply;
        Kind kind;
        const char* problem;
        const char* address;
    };
    FakeNominatim::Reply slow = Place("1");
    slow.delay = std::chrono::milliseconds(2000);
    FakeNominatim::Reply broken;
    broken.status = 500;
    FakeNominatim::Reply html;
    html.body = "<html>down for maintenance</html>";
    FakeNominatim::Reply nothing;
    nothing.body = R"({"error": "Unable to geocode"})";
    FakeNominatim::Reply slowButInTime = Place("5");
    slowButInTime.delay = std::chrono::milliseconds(100);
    FakeNominatim::Reply huge = Place("1");
    huge.body += std::string(100000, ' ');
    FakeNominatim::Reply refused;
    refused.status = 429;
    refused.headers = "Retry-After: 7\r\n";
    const Case cases[] = {
        {slow, Kind::kFailed, "the geocoder did not answer within 500 ms", ""},
        {broken, Kind::kFailed, "the geocoder answered 500", ""},
        {html, Kind::kFailed, "the geocoder's answer is not a JSON object", ""},
        {huge, Kind::kFailed, "the geocoder's answer is unreadable: body limit exceeded", ""},
        {nothing, Kind::kNothingThere, "", ""},
        {slowButInTime, Kind::kNamed, "", "Москва, ул. Тверская, 5"},
        {refused, Kind::kRefused, "the geocoder answered 429, asking to wait 7 s", ""},
    };
    const std::size_t count = sizeof cases / sizeof cases[0];
    FakeNominatim nominatim([&](const std::string& target) {
        // Cell i stands at latitude 55.1 + i / 10.
        return cases[static_cast<std::size_t>(std::lround((std::stod(LatitudeOf(target)) - 55.1) * 10))].reply;
    });
    for (std::size_t i = 0; i < count; ++i) AddUnnamedCell(static_cast<std::int64_t>(i + 1), 55.1 + i / 10.0, 37.6);

    // Nothing listens at the address: the cell waits like any failed one.
    int closed = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(closed, reinterpret_cast<sockaddr*>(&address), &size);
    close(closed);
    store_->SetSetting("geocoder", "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    GeocoderLimits limits;
    limits.timeout = std::chrono::milliseconds(500);
    limits.pause = std::chrono::milliseconds(50);
    Geocoder geocoder(*store_, clock_, limits);
    std::optional<CellKey> cursor;
    Geocoder::Step step = geocoder.NameNext(false, cursor);
    EXPECT_EQ(step.kind, Kind::kFailed);
    EXPECT_EQ(step.problem.rfind("cannot connect to the geocoder", 0), 0u) << step.problem;
    EXPECT_EQ(store_->NextCellToGeocode(250, false, now_, std::nullopt)->cell.key.cid, 2) << "cell 1 waits";

    store_->SetSetting("geocoder", nominatim.Address());
    cursor = std::nullopt;
    now_ += 61;
    for (std::size_t i = 0; i < count; ++i) {
        step = geocoder.NameNext(false, cursor);
        while (step.kind == Kind::kWait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            step = geocoder.NameNext(false, cursor);
        }
        const Case& c = cases[i];
        EXPECT_EQ(step.kind, c.kind) << i;
        EXPECT_TRUE(step.asked) << i;
        EXPECT_EQ(step.cell.key.cid, static_cast<std::int64_t>(i + 1)) << i;
        EXPECT_EQ(step.problem, c.problem) << i;
        EXPECT_EQ(AddressOf(static_cast<std::int64_t>(i + 1)), c.address) << i;
    }
    EXPECT_EQ(step.waitMs, 7000);
    AddUnnamedCell(99, 60, 30);
    Geocoder::Step again = geocoder.NameNext(false, cursor);
    EXPECT_EQ(again.kind, Kind::kWait) << "nobody asks during the refusal";
    EXPECT_GT(again.waitMs, 5000);
    EXPECT_EQ(store_->NextCellToGeocode(250, false, now_, std::nullopt)->cell.key.cid, 99) << "every failed cell waits";
    now_ += 60;
    std::optional<GeocodingTask> retried = store_->NextCellToGeocode(250, false, now_, std::nullopt);
    ASSERT_TRUE(retried.has_value());
    EXPECT_EQ(retried->cell.key.cid, 2) << "cell 1 failed twice and waits two minutes";
    EXPECT_EQ(retried->failures, 1);
    EXPECT_EQ(nominatim.Requests().size(), count);
}

// "cell geocode" names the cells a report wanted first, then the others in order, up to its limit;
// a point answered before is not asked about again; a geocoder that keeps failing stops it.
TEST_P(GeocoderTest, CellGeocodeNamesTheWantedCellsFirstUpToItsLimit) {
    FakeNominatim nominatim([](const std::string& target) { return Place(LatitudeOf(target)); });
    AddUnnamedCell(1, 55.71, 37.6);
    AddUnnamedCell(2, 55.71, 37.6);
    AddUnnamedCell(3, 55.73, 37.6);
    AddUnnamedCell(4, 55.74, 37.6);
    store_->RecordSightings({}, {{kDefaultCountryCode, {1, 7701, 4}, now_}});
    EXPECT_THROW(Command({"cell", "geocode"}), StoreError) << "no geocoder set";
    Command({"setting", "set", "geocoder", nominatim.Address()});
    struct Case {
        std::vector<std::string> words;
        const char* output;
        std::vector<const char*> named;  // the addresses of cells 1 to 4 afterwards
    };
    const Case cases[] = {
        {{"cell", "geocode", "--limit", "2"},
         "2 cells named, 0 with nothing there, 0 failed (asked again later); 2 requests to the geocoder, 0 from its "
         "earlier answers\n",
         {"Москва, ул. Тверская, 55.7100", "", "", "Москва, ул. Тверская, 55.7400"}},
        {{"cell", "geocode"},
         "2 cells named, 0 with nothing there, 0 failed (asked again later); 1 requests to the geocoder, 1 from its "
         "earlier answers\n",
         {"Москва, ул. Тверская, 55.7100", "Москва, ул. Тверская, 55.7100", "Москва, ул. Тверская, 55.7300",
          "Москва, ул. Тверская, 55.7400"}},
        {{"cell", "geocode"},
         "0 cells named, 0 with nothing there, 0 failed (asked again later); 0 requests to the geocoder, 0 from its "
         "earlier answers\n",
         {"Москва, ул. Тверская, 55.7100", "Москва, ул. Тверская, 55.7100", "Москва, ул. Тверская, 55.7300",
          "Москва, ул. Тверская, 55.7400"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Command(c.words), c.output);
        for (int cid = 1; cid <= 4; ++cid) EXPECT_EQ(AddressOf(cid), c.named[cid - 1]) << cid;
    }
    std::vector<FakeNominatim::Request> requests = nominatim.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(LatitudeOf(requests[0].target), "55.7400") << "the wanted cell first";

    FakeNominatim broken([](const std::string&) {
        FakeNominatim::Reply answer;
        answer.status = 502;
        return answer;
    });
    for (int cid = 5; cid <= 8; ++cid) AddUnnamedCell(cid, 56 + cid / 10.0, 37.6);
    Command({"setting", "set", "geocoder", broken.Address()});
    try {
        Command({"cell", "geocode"});
        ADD_FAILURE() << "a failing geocoder was asked on and on";
    } catch (const StoreError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "stopped after 3 failures in a row of the geocoder at " + broken.Address() +
                      ": the geocoder answered 502");
    }
    EXPECT_EQ(broken.Requests().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Engines, GeocoderTest, testing::AllEngines(), testing::EngineName);

}  // namespace
}  // namespace pelmora
