// The embedded engine: one SQLite file in WAL mode, one connection per thread that uses the store,
// so that readers run side by side and never wait for a writer. Writers take turns: within this
// process on a gate that hands the file over at once, between processes (the administration
// commands) through SQLite's own lock.
#pragma once

#include "server/sql_store.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

namespace pelmora {

struct SqliteShared;

class SqliteStore : public SqlStore {
public:
    // The schema version this server writes; an older file is migrated on opening.
    static constexpr int kSchemaVersion = 4;
    // How long a writer waits for the file before the request is answered "busy".
    static constexpr std::chrono::milliseconds kWriterWait{10000};

    // Opens (creating if needed) and migrates the database file; throws DatabaseError.
    explicit SqliteStore(const std::string& path);
    ~SqliteStore() override;

    std::string Describe() const override;
    int SchemaVersion() override;
    std::optional<std::string> CheckHealth() override;
    // VACUUM INTO a file beside FILE, checked, then renamed to FILE: a half-written copy never
    // carries the name. Refuses to overwrite.
    void Backup(const std::string& file) override;
    // One file, one server: the role is always this process's.
    std::unique_ptr<ExclusiveRole> TakeRole(RoleName role) override;
    // With a page cache large enough for the parts of the table a batch touches.
    CellImportCounts ImportCells(const std::vector<Cell>& cells) override;

protected:
    SqlConnection& Acquire() override;
    void Release(SqlConnection&) noexcept override {}
    bool MayRetry(const DatabaseError&) const override { return false; }

private:
    std::shared_ptr<SqliteShared> shared_;
    // The file as it was opened: /healthz notices when it is gone or replaced.
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace pelmora
