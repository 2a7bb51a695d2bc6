// A fresh cell monitor for each test, short waits, message boxes recorded instead of shown, and
// the device profile emptied again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "location/cell_monitor.h"
#include "phonesim_process.h"
#include "platform/durations.h"

struct ShownBox {
    HWND owner;
    std::wstring text;
    bool hasCaption;
    UINT flags;
};

inline CellIdentity Cell(std::uint16_t lac, std::uint16_t cid, std::int64_t changedAt = 0) {
    CellIdentity cell;
    cell.lac = lac;
    cell.cid = cid;
    cell.changedAt = changedAt;
    return cell;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        Durations& durations = GetDurations();
        durations.samplingPeriodMs = 5;
        durations.radioPollMs = 20;
        durations.radioWaitMs = 10;
        durations.modemWaitMs = 1000;
        durations.modemQuietMs = 100;
        SetMessageBoxAnswerer([this](HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
            boxes.push_back({owner, text, caption != nullptr, flags});
            return IDOK;
        });
        ASSERT_TRUE(CreateCellMonitor());
        monitor = GetCellMonitor();
    }

    void TearDown() override {
        DestroyCellMonitor();
        SetMessageBoxAnswerer({});
        GetDurations() = Durations();
        UseDeviceProfile("<Device/>");
    }

    std::vector<CellIdentity> History() const {
        return std::vector<CellIdentity>(monitor->history.begin(), monitor->history.end());
    }

    CellMonitor* monitor = nullptr;
    std::vector<ShownBox> boxes;
};

inline bool operator==(const CellIdentity& left, const CellIdentity& right) {
    return left.lac == right.lac && left.cid == right.cid && left.changedAt == right.changedAt;
}

inline std::ostream& operator<<(std::ostream& out, const CellIdentity& cell) {
    return out << "{lac " << cell.lac << ", cid " << cell.cid << ", changedAt " << cell.changedAt << "}";
}
