#include "ui/menus.h"

#include "runtime/memory_block.h"
#include "runtime/object_table.h"
#include "ui/menu_delegate.h"
#include "ui/windows.h"

namespace {

constexpr int32_t kTableGrowth = 8;
constexpr int64_t kListBlockSize = 5 * sizeof(void*);

struct MenuRecord {
    void* firstList;  // non-zero while the record is live; doubles as the bar's handle
    void* secondList;
    int32_t imageMenu;
    int32_t popup;  // popup bars are never installed as the main menu
    PlatformWindow* window;
    PlatformMenuBar* menuBar;
};

ObjectTable* table = nullptr;
KyMenuDelegate delegate;
PlatformMenuBar* defaultMenuBar = nullptr;
// The bar most recently created: AddMenuItem connects its reserved entries.
MenuRecord* currentMenu = nullptr;

void InstallMenuBar(PlatformMenuBar* bar, int64_t windowNumber) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || bar == nullptr) return;
    platform->installMenuBar(bar, WindowHandle(windowNumber));
    delegate.setWindowID(windowNumber);
}

}  // namespace

KyMenuDelegate* MenuDelegate() {
    return &delegate;
}

void MenuLibraryInit() {
    MenuLibraryEnd();
    table = ObjectTableCreate(sizeof(MenuRecord), kTableGrowth, FreeMenu);
}

void MenuLibraryEnd() {
    if (table != nullptr) {
        FreeMenu(-1);
        ObjectTableFree(table);
        table = nullptr;
    }
    if (defaultMenuBar != nullptr) {
        if (UiPlatform* platform = CurrentUiPlatform()) platform->destroyMenuBar(defaultMenuBar);
        defaultMenuBar = nullptr;
    }
    currentMenu = nullptr;
    delegate.setWindowID(-1);
}

void CreateDefaultMenuBar() {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || defaultMenuBar != nullptr) return;
    defaultMenuBar = platform->createMenuBar();
    InstallMenuBar(defaultMenuBar, -1);
}

int64_t CreateMenuBar(int64_t number, PlatformWindow* window) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || table == nullptr || number < -1) return 0;
    // Re-creating a number in use frees the old bar first (the table's routine).
    auto* record = static_cast<MenuRecord*>(ObjectGetOrCreate(table, number));
    if (record == nullptr) return 0;
    const bool anyNumber = number == -1;
    if (anyNumber) number = ObjectNumberOf(record);

    void* firstList = MemoryAllocate(kListBlockSize);
    void* secondList = MemoryAllocate(kListBlockSize);
    PlatformMenuBar* bar = platform->createMenuBar();
    if (firstList == nullptr || secondList == nullptr || bar == nullptr) {
        MemoryFree(firstList);
        MemoryFree(secondList);
        if (bar != nullptr) platform->destroyMenuBar(bar);
        ObjectRelease(table, number);
        return 0;
    }
    *record = MenuRecord{firstList, secondList, 0, 0, window, bar};
    currentMenu = record;

    if (window != nullptr && window == platform->keyWindow()) {
        InstallMenuBar(bar, WindowNumberOf(window));
    }
    return anyNumber ? number : reinterpret_cast<int64_t>(firstList);
}

void AddMenuItem(int32_t id, const char* text) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || currentMenu == nullptr) return;
    if (id == kMenuQuit || id == kMenuPreferences || id == kMenuAbout) {
        // The application menu's own entries: connected, not added; their titles stay.
        delegate.setWindowID(currentMenu->window != nullptr ? WindowNumberOf(currentMenu->window)
                                                            : -1);
        if (id == kMenuAbout) platform->setAppMenuItemEnabled(PlatformAppMenuItem::About, true);
        if (id == kMenuPreferences) {
            platform->setAppMenuItemEnabled(PlatformAppMenuItem::Preferences, true);
        }
        return;
    }
    // Ordinary items go into a titled submenu of the bar, and no operation of this layer opens
    // one: like a bar without a submenu, they are not added.
    (void)text;
}

void FreeMenu(int64_t number) {
    UiPlatform* platform = CurrentUiPlatform();
    if (table == nullptr) return;
    if (number == -1) {
        ObjectReleaseAll(table);
        return;
    }
    auto* record = static_cast<MenuRecord*>(ObjectFromNumber(table, number));
    if (record == nullptr) return;
    if (platform != nullptr) {
        // The main menu must always exist: the default bar takes over from a freed one.
        if (platform->installedMenuBar() == record->menuBar) InstallMenuBar(defaultMenuBar, -1);
        platform->destroyMenuBar(record->menuBar);
    }
    MemoryFree(record->firstList);
    MemoryFree(record->secondList);
    if (currentMenu == record) currentMenu = nullptr;
    ObjectRelease(table, number);
}

void FreeWindowMenu(PlatformWindow* window) {
    if (table == nullptr || window == nullptr) return;
    ObjectIterateStart(table);
    int64_t number = 0;
    while (auto* record = static_cast<MenuRecord*>(ObjectIterateNext(table, &number))) {
        if (record->window == window) {
            FreeMenu(number);
            return;
        }
    }
}

void InstallWindowMenu(PlatformWindow* window, int64_t windowNumber) {
    if (table == nullptr || window == nullptr) return;
    ObjectIterateStart(table);
    int64_t number = 0;
    while (auto* record = static_cast<MenuRecord*>(ObjectIterateNext(table, &number))) {
        if (record->window == window && record->popup == 0) {
            InstallMenuBar(record->menuBar, windowNumber);
            return;
        }
    }
}
