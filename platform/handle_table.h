// The handles the device layer gives out for its ports and radio connections: values of its own, each
// kept with the object it stands for, so that a call with a stale or foreign handle fails cleanly.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

template <typename Object>
class HandleTable {
public:
    explicit HandleTable(std::uintptr_t base) : last_(base) {}

    // Gives `object` a new handle; nullptr when `clashes` is true for an object already held.
    template <typename Clash>
    HANDLE Add(std::shared_ptr<Object> object, Clash clashes) {
        std::lock_guard<std::mutex> lock(lock_);
        for (const auto& held : objects_) {
            if (clashes(*held.second)) return nullptr;
        }
        last_ += 4;
        const HANDLE handle = reinterpret_cast<HANDLE>(last_);
        objects_[handle] = std::move(object);
        return handle;
    }

    HANDLE Add(std::shared_ptr<Object> object) {
        return Add(std::move(object), [](const Object&) { return false; });
    }

    // The object behind a handle, kept alive for the caller even if another thread removes it.
    std::shared_ptr<Object> Find(HANDLE handle) const {
        std::lock_guard<std::mutex> lock(lock_);
        const auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : found->second;
    }

    // Takes the handle out; the object lives on while a caller still uses it.
    std::shared_ptr<Object> Remove(HANDLE handle) {
        std::lock_guard<std::mutex> lock(lock_);
        const auto found = objects_.find(handle);
        if (found == objects_.end()) return nullptr;
        std::shared_ptr<Object> object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    mutable std::mutex lock_;
    std::map<HANDLE, std::shared_ptr<Object>> objects_;
    std::uintptr_t last_;
};
