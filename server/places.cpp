#include "server/places.h"

#include <charconv>
#include <cmath>

namespace pelmora {

std::optional<Coordinates> EstimatePosition(const std::optional<Cell> (&cells)[3]) {
    static const double weights[3] = {3, 2, 1};
    double lat = 0;
    double lon = 0;
    double total = 0;
    for (int i = 0; i < 3; ++i) {
        if (!cells[i]) continue;
        lat += cells[i]->lat * weights[i];
        lon += cells[i]->lon * weights[i];
        total += weights[i];
    }
    if (total == 0) return std::nullopt;
    return Coordinates{lat / total, lon / total};
}

double DistanceKm(const Coordinates& from, const Coordinates& to) {
    const double radius = 6371.0;
    const double toRadians = M_PI / 180.0;
    double dLat = (to.lat - from.lat) * toRadians;
    double dLon = (to.lon - from.lon) * toRadians;
    double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
               std::cos(from.lat * toRadians) * std::cos(to.lat * toRadians) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * radius * std::asin(std::min(1.0, std::sqrt(a)));
}

std::string FormatDistance(double km) {
    // printf's "%.1f" without its locale and format parsing: the same exact rounding.
    char text[32];
    std::to_chars_result end = std::to_chars(text, text + sizeof text, km, std::chars_format::fixed, 1);
    return std::string(text, end.ptr);
}

bool IsPrivateHour(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local.tm_hour >= 18 || local.tm_hour < 8 || local.tm_wday == 0 || local.tm_wday == 6;
}

std::string MarkAddress(const Mark& mark) {
    std::string text = mark.street;
    if (!mark.number.empty() && mark.number != "0") text += (text.empty() ? "д." : ", д.") + mark.number + mark.build;
    return text;
}

std::optional<Cell> AddressedCell(const Store::KnownCells& known) {
    for (const std::optional<Cell>& cell : known) {
        if (cell && !cell->address.empty()) return cell;
    }
    return std::nullopt;
}

const Cell* AddressedCell(const std::unordered_map<CellKey, std::shared_ptr<const Cell>, CellKeyHash>& known,
                          const CellKey (&report)[3]) {
    for (const CellKey& key : report) {
        auto cell = known.find(key);
        if (cell != known.end() && !cell->second->address.empty()) return cell->second.get();
    }
    return nullptr;
}

std::string DescribePlace(const std::optional<Mark>& mark, const Cell* cell) {
    if (mark && !mark->title.empty()) {
        std::string address = MarkAddress(*mark);
        return address.empty() ? mark->title : mark->title + ", " + address;
    }
    if (cell) return cell->address;
    return std::string();
}

}  // namespace pelmora
