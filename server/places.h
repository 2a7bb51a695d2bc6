// Where people are: positions from cells, distances, the private hours, the words for a place.
#pragma once

#include "server/store.h"

#include <ctime>
#include <memory>
#include <unordered_map>
#include <optional>
#include <string>

namespace pelmora {

// The position between the known cells of a report, the front cell weighing most (3, 2, 1).
// Unknown cells are left out; nothing when none is known.
std::optional<Coordinates> EstimatePosition(const std::optional<Cell> (&cells)[3]);

// Great-circle distance in kilometres.
double DistanceKm(const Coordinates& from, const Coordinates& to);

// Kilometres with one decimal and a decimal point, as the phone shows it: "2.4".
std::string FormatDistance(double km);

// 18:00 to 8:00 local time and the whole of Saturday and Sunday, as the phone counts them.
bool IsPrivateHour(std::time_t when);

// A mark's street address: "ул. Пятницкая, д.41с1"; empty when it has no street or house.
std::string MarkAddress(const Mark& mark);

// Of a report's cells as the store knows them, front first, the first that has an address line.
std::optional<Cell> AddressedCell(const Store::KnownCells& known);
// The same among the known cells by their keys: that cell, or null.
const Cell* AddressedCell(const std::unordered_map<CellKey, std::shared_ptr<const Cell>, CellKeyHash>& known,
                          const CellKey (&report)[3]);

// How a place reads in a group list: the mark's title with its street and house, else the cell's
// address line (the cell may be null); empty when neither is known.
std::string DescribePlace(const std::optional<Mark>& mark, const Cell* cell);

}  // namespace pelmora
