// The demo: a part of Moscow with its cells, six people in three groups, their place marks, and a
// walker that moves everybody but the demo account along their routes.
#pragma once

#include "server/background.h"
#include "server/rules.h"

#include <chrono>
#include <functional>
#include <memory>

namespace pelmora {

// The account the demo phone logs in with.
extern const char* const kDemoEmail;
extern const char* const kDemoPassword;

// The demo cells as CSV (server/demo/moscow_cells.csv, built into the program).
extern const char* const kDemoCellsCsv;

// Seeds the demo into a database without users; returns false (and changes nothing) otherwise.
bool SeedDemo(Rules& rules);

// Moves each walking demo user one cell along their route every `step`, as their phones would
// report it. Of the servers sharing a database only the one holding the walker's role walks; the
// others try to take it at every step, so the walk goes on when that server stops.
class DemoWalker {
public:
    // `told` hears true when this server starts walking and false when it loses the role.
    DemoWalker(Store& store, Clock clock, std::function<void(bool walking)> told = nullptr);
    DemoWalker(const DemoWalker&) = delete;
    DemoWalker& operator=(const DemoWalker&) = delete;
    ~DemoWalker();

    // Reports every walker one cell further (to and fro along the route).
    void Step();
    void Start(std::chrono::milliseconds step);
    void Stop();

private:
    Store& store_;
    Clock clock_;
    std::function<void(bool walking)> told_;
    std::unique_ptr<ExclusiveRole> role_;
    int position_ = 0;
    Background background_;
};

}  // namespace pelmora
