// The handle table: every HINTERNET is a number that maps to a live object.
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/posix/winhttp/internal.h"

namespace winhttp::detail {

namespace {

// Handle numbers advance by this step and are never reused, so a closed handle stays invalid.
constexpr std::uintptr_t handleStep = 4;
constexpr std::uintptr_t firstHandle = 0x10000;

std::mutex tableMutex;
std::uintptr_t nextHandle = firstHandle;
std::unordered_map<std::uintptr_t, std::shared_ptr<Object>>& Table() {
    static auto* table = new std::unordered_map<std::uintptr_t, std::shared_ptr<Object>>();
    return *table;
}

template <typename T>
std::shared_ptr<T> FindKind(HINTERNET handle, Kind kind) {
    std::shared_ptr<Object> object = Find(handle);
    if (!object) return nullptr;
    if (object->kind != kind) {
        SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

}  // namespace

HINTERNET Register(std::shared_ptr<Object> object) {
    std::lock_guard lock(tableMutex);
    std::uintptr_t handle = nextHandle;
    nextHandle += handleStep;
    Table()[handle] = std::move(object);
    return reinterpret_cast<HINTERNET>(handle);
}

std::shared_ptr<Object> Find(HINTERNET handle) {
    std::lock_guard lock(tableMutex);
    auto found = Table().find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == Table().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second;
}

std::shared_ptr<Session> FindSession(HINTERNET handle) {
    return FindKind<Session>(handle, Kind::Session);
}

std::shared_ptr<Connection> FindConnection(HINTERNET handle) {
    return FindKind<Connection>(handle, Kind::Connection);
}

std::shared_ptr<Request> FindRequest(HINTERNET handle) {
    return FindKind<Request>(handle, Kind::Request);
}

bool Unregister(HINTERNET handle) {
    std::shared_ptr<Object> object;  // released outside the lock
    std::lock_guard lock(tableMutex);
    auto found = Table().find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == Table().end()) return false;
    object = std::move(found->second);
    Table().erase(found);
    return true;
}

}  // namespace winhttp::detail
