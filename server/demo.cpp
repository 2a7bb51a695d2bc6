#include "server/demo.h"

#include "server/admin.h"
#include "server/text.h"

#include <map>
#include <vector>

namespace pelmora {

const char* const kDemoEmail = "demo@pelmora.ru";
const char* const kDemoPassword = "pelmora";

namespace {

constexpr std::int64_t kDemoNetwork = 1;  // 250-01, the operator of the demo phone

struct DemoPerson {
    const char* email;
    const char* name;
    int visibility;
    int privateTime;
    std::vector<std::pair<std::int64_t, std::int64_t>> route;  // (lac, cid) in walking order
};

// Everybody but the first (the demo account, whose phone reports for itself) walks a route.
const std::vector<DemoPerson>& People() {
    static const std::vector<DemoPerson> people = {
        {"demo@pelmora.ru", "Алексей Смирнов", kVisibleToAll, 0, {}},
        {"marina@pelmora.ru", "Марина Смирнова", kVisibleToAll, 0,
         {{7704, 40403}, {7704, 40406}, {7704, 40408}, {7704, 40412}, {7703, 30309}, {7703, 30302},
          {7701, 10101}, {7701, 10102}, {7701, 10103}}},
        {"vanya@pelmora.ru", "Ваня Смирнов", kVisibleToAll, 1,
         {{7704, 40403}, {7704, 40404}, {7704, 40407}, {7704, 40413}, {7704, 40414}, {7704, 40410}}},
        {"olga@pelmora.ru", "Ольга Кузнецова", kVisibleToAll, 0,
         {{7703, 30305}, {7703, 30304}, {7703, 30303}, {7703, 30302}, {7703, 30301}, {7701, 10116},
          {7701, 10109}, {7702, 20201}}},
        {"dmitry@pelmora.ru", "Дмитрий Волков", kVisibleToGroups, 0,
         {{7702, 20214}, {7702, 20215}, {7702, 20213}, {7702, 20212}, {7702, 20208}, {7702, 20209},
          {7702, 20210}, {7702, 20211}}},
        {"sergey@pelmora.ru", "Сергей Новиков", kInvisible, 0,
         {{7701, 10108}, {7701, 10107}, {7701, 10106}, {7701, 10105}, {7701, 10104}, {7701, 10103},
          {7701, 10102}, {7701, 10101}}},
    };
    return people;
}

struct DemoGroup {
    const char* title;
    int owner;                 // position in People()
    std::vector<int> members;  // the others, positions in People()
};

// The demo account runs its family and is a member of the others' groups.
const std::vector<DemoGroup>& DemoGroups() {
    static const std::vector<DemoGroup> groups = {
        {"Семья", 0, {1, 2}},
        {"Друзья", 1, {0, 3, 4}},
        {"Работа", 4, {0, 5}},
    };
    return groups;
}

struct DemoMark {
    int owner;  // position in People()
    std::int64_t lac;
    std::int64_t cid;
    int scope;
    const char* group;  // for scope 3
    const char* title;
    const char* street;
    const char* number;
    const char* build;
    const char* tags;
};

const std::vector<DemoMark>& Marks() {
    static const std::vector<DemoMark> marks = {
        {0, 7704, 40403, kScopeOwner, nullptr, "Дом", "ул. Пятницкая", "41", "", "дом"},
        {0, 7702, 20212, kScopeOneGroup, "Работа", "Офис", "ул. Мясницкая", "24", "с1", "работа"},
        {1, 7704, 40406, kScopeMyGroups, nullptr, "Школа Вани", "ул. Большая Ордынка", "21", "", "школа"},
        {2, 7704, 40410, kScopeMyGroups, nullptr, "Парк Горького", "ул. Крымский Вал", "9", "", "парк"},
        {3, 7703, 30303, kScopeEverybody, nullptr, "Кофейня на Арбате", "ул. Арбат", "20", "", "кофе"},
        {3, 7703, 30307, kScopeOwner, nullptr, "Спортзал", "ул. Новый Арбат", "36", "", ""},
        {3, 7702, 20201, kScopeEverybody, nullptr, "ГУМ", "Красная площадь", "3", "", "магазины"},
        {4, 7702, 20211, kScopeOneGroup, "Работа", "Переговорная в «Атриуме»", "ул. Земляной Вал", "33", "",
         "встречи"},
        {5, 7701, 10109, kScopeEverybody, nullptr, "Большой театр", "Театральная площадь", "1", "", "театр"},
    };
    return marks;
}

// Where on a route of `length` cells a walker is after `steps` steps, going to and fro.
std::size_t RouteIndex(std::size_t length, int steps) {
    if (length < 2 || steps <= 0) return 0;
    std::size_t period = 2 * (length - 1);
    std::size_t k = static_cast<std::size_t>(steps) % period;
    return k < length ? k : period - k;
}

}  // namespace

bool SeedDemo(Rules& rules) {
    Store& store = rules.store;
    if (!store.ListUsers().empty()) return false;
    std::vector<Cell> cells = ParseCellsCsv(kDemoCellsCsv);
    const std::int64_t mcc = store.Settings().mcc;
    for (Cell& cell : cells) cell.mcc = mcc;
    std::time_t now = rules.clock();
    // Hashed before the transaction: each takes a while.
    std::vector<std::string> passwords;
    for (std::size_t i = 0; i < People().size(); ++i) passwords.push_back(*Accounts::PasswordRecord(kDemoPassword));
    store.InTransaction([&] {
        store.ImportCells(cells);
        std::vector<std::int64_t> users;
        for (const DemoPerson& person : People()) {
            std::int64_t id = store.AddUser(person.email, passwords[users.size()], person.name, now);
            store.SetVisibility(id, person.visibility);
            store.SetPrivateTime(id, person.privateTime);
            users.push_back(id);
        }
        std::map<std::string, std::int64_t> groupIds;
        for (const DemoGroup& group : DemoGroups()) {
            std::int64_t id = rules.groups.Create(users[group.owner], group.title);
            for (int member : group.members) store.AddMember(id, users[member], now);
            groupIds[group.title] = id;
        }
        for (const DemoMark& demo : Marks()) {
            Mark mark;
            mark.userId = users[demo.owner];
            mark.cell = {kDemoNetwork, demo.lac, demo.cid};
            mark.scope = demo.scope;
            if (demo.group) mark.groupId = groupIds.at(demo.group);
            mark.title = demo.title;
            mark.street = demo.street;
            mark.number = demo.number;
            mark.build = demo.build;
            mark.tags = demo.tags;
            store.SaveMark(mark, now);
        }
    });
    return true;
}

DemoWalker::DemoWalker(Store& store, Clock clock, std::function<void(bool walking)> told)
    : store_(store), clock_(std::move(clock)), told_(std::move(told)) {}

DemoWalker::~DemoWalker() {
    Stop();
}

void DemoWalker::Step() {
    std::time_t now = clock_();
    std::int64_t mcc = store_.Settings().mcc;
    for (const DemoPerson& person : People()) {
        if (person.route.empty()) continue;
        std::optional<User> user = store_.FindUser(person.email);
        if (!user) continue;
        // The phone's history: the cell now and the two before it.
        CellKey cells[3];
        for (int back = 0; back < 3; ++back) {
            const auto& cell = person.route[RouteIndex(person.route.size(), position_ - back)];
            cells[back] = {kDemoNetwork, cell.first, cell.second};
        }
        store_.RecordReport(user->id, mcc, cells, 0, now);
    }
    ++position_;
}

void DemoWalker::Start(std::chrono::milliseconds step) {
    background_.Start([this, step] {
        try {
            if (role_ && !role_->StillHeld()) {
                role_.reset();
                if (told_) told_(false);
            }
            if (!role_ && (role_ = store_.TakeRole(RoleName::kDemoWalker)) && told_) told_(true);
            if (role_) Step();
        } catch (const std::exception&) {
            // A busy or absent database skips this step; the next one tries again.
        }
        return step;
    });
}

void DemoWalker::Stop() {
    background_.Stop();
    role_.reset();
}

}  // namespace pelmora
