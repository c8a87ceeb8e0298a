#include "ui/window_table.h"

#include <unordered_map>

namespace {

constexpr int32_t kTableGrowth = 8;

ObjectTable* table = nullptr;
std::unordered_map<PlatformWindow*, int64_t> numbers;

}  // namespace

void WindowTableCreate(ObjectReleaseRoutine release) {
    WindowTableFree();
    table = ObjectTableCreate(sizeof(WindowRecord), kTableGrowth, release);
}

void WindowTableFree() {
    ObjectTableFree(table);
    table = nullptr;
    numbers.clear();
}

ObjectTable* WindowTable() {
    return table;
}

void NameWindow(PlatformWindow* window, int64_t number) {
    numbers[window] = number;
}

void ForgetWindowName(PlatformWindow* window) {
    numbers.erase(window);
}

PlatformWindow* WindowHandle(int64_t number) {
    if (table == nullptr) return nullptr;
    auto* record = static_cast<WindowRecord*>(ObjectFromNumber(table, number));
    return record != nullptr ? record->window : nullptr;
}

int64_t WindowNumberOf(PlatformWindow* window) {
    const auto found = numbers.find(window);
    return found == numbers.end() ? -1 : found->second;
}
