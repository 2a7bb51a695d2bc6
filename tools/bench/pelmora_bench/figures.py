"""Figures and their floors: medians with spreads, ratios, goals, and the tables that show them."""

import statistics
from dataclasses import dataclass, field


def median(samples):
    return statistics.median(samples) if samples else None


def spread(samples):
    """The range of the samples as (lowest, highest); (None, None) without samples."""
    return (min(samples), max(samples)) if samples else (None, None)


def format_number(value):
    if value is None:
        return "–"
    magnitude = abs(value)
    if magnitude >= 1000:
        return "{:,.0f}".format(value).replace(",", " ")
    if magnitude >= 100:
        return "%.0f" % value
    if magnitude >= 10:
        return "%.1f" % value
    if magnitude >= 1:
        return "%.2f" % value
    return "%.3f" % value


def format_samples(samples):
    """"MEDIAN (LOW–HIGH)"; one sample shows alone, none as a dash."""
    if not samples:
        return "–"
    middle = format_number(median(samples))
    if len(samples) == 1:
        return middle
    low, high = spread(samples)
    return "%s (%s–%s)" % (middle, format_number(low), format_number(high))


@dataclass
class Goal:
    """What a figure should reach: a bound on its ratio to the floor, or on its own value."""
    text: str
    ratio_at_most: float = None
    ratio_at_least: float = None
    value_at_most: float = None
    value_below: float = None
    above_floor_below: float = None

    def met(self, value, floor):
        """True or False when the goal can be judged, None when the figures for it are missing."""
        ratio = value / floor if value is not None and floor else None
        checks = []
        if self.ratio_at_most is not None:
            checks.append(None if ratio is None else ratio <= self.ratio_at_most)
        if self.ratio_at_least is not None:
            checks.append(None if ratio is None else ratio >= self.ratio_at_least)
        if self.value_at_most is not None:
            checks.append(None if value is None else value <= self.value_at_most)
        if self.value_below is not None:
            checks.append(None if value is None else value < self.value_below)
        if self.above_floor_below is not None:
            checks.append(None if value is None or floor is None else value - floor < self.above_floor_below)
        if not checks or None in checks:
            return None
        return all(checks)


@dataclass
class Figure:
    """One line of the table: a measured figure and its floor from the same run."""
    name: str
    unit: str
    samples: list
    floor: str = ""
    floor_samples: list = field(default_factory=list)
    goal: Goal = None
    note: str = ""

    @property
    def value(self):
        return median(self.samples)

    @property
    def floor_value(self):
        return median(self.floor_samples)

    @property
    def ratio(self):
        value, floor = self.value, self.floor_value
        if value is None or not floor:
            return None
        return value / floor

    def verdict(self):
        if self.goal is None:
            return ""
        met = self.goal.met(self.value, self.floor_value)
        return {True: "met", False: "**missed**", None: "not measured"}[met]

    def cells(self):
        return [self.name, self.unit, format_samples(self.samples), self.floor or "–",
                format_samples(self.floor_samples), format_number(self.ratio) if self.ratio is not None else "–",
                self.goal.text if self.goal else "–", self.verdict()]


FIGURE_HEADER = ["Figure", "Unit", "Median (min–max)", "Floor", "Floor median (min–max)", "Ratio", "Goal",
                 "Goal met"]


def markdown_table(header, rows):
    """A Markdown table; "|" inside a cell is escaped."""
    def line(cells):
        return "| " + " | ".join(str(cell).replace("|", "\\|") for cell in cells) + " |"
    return "\n".join([line(header), line(["---"] * len(header))] + [line(row) for row in rows])


def text_table(header, rows):
    """The same table for a terminal: columns padded to their widest cell."""
    table = [header] + [[str(cell) for cell in row] for row in rows]
    widths = [max(len(row[column]) for row in table) for column in range(len(header))]
    lines = ["  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip() for row in table]
    lines.insert(1, "  ".join("-" * width for width in widths))
    return "\n".join(lines)


def figure_rows(figures):
    return [figure.cells() for figure in figures]
