#include "ui/menus.h"

#include <string>
#include <vector>

#include "runtime/charset.h"
#include "runtime/memory_block.h"
#include "runtime/number_text.h"
#include "runtime/object_table.h"
#include "ui/event_queue.h"
#include "ui/platform_string.h"
#include "ui/window_table.h"

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

// Function keys F1 to F12 are the private-use characters U+F704 to U+F70F.
constexpr char32_t kFirstFunctionKey = 0xF704;
constexpr int kFunctionKeys = 12;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// 1 to 12 for "F1" to "F12", else 0.
int FunctionKeyNumber(const std::string& token) {
    if (token.size() < 2 || token.size() > 3 || token[0] != 'F') return 0;
    const std::string_view digits = std::string_view(token).substr(1);
    const LeadingInteger read =
        ReadLeadingInteger(digits, LeadingBlanks::None, LeadingSign::Refused);
    if (read.digits != digits.size()) return 0;
    const int64_t number = ClampLeadingInteger(read, 0, kFunctionKeys + 1);
    return number >= 1 && number <= kFunctionKeys ? static_cast<int>(number) : 0;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

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

MenuItemText ParseMenuItemText(const char* text) {
    std::string plain = text != nullptr ? text : "";
    std::erase(plain, '&');  // Windows-style mnemonics have no meaning here

    MenuItemText result;
    const std::vector<std::string> parts = Split(plain, '\t');
    if (parts.size() < 2) {
        result.title = TextToPlatformString(plain.c_str());
        return result;
    }
    result.title = TextToPlatformString(parts[0].c_str());
    for (const std::string& token : Split(UpperAscii(parts[1]), '+')) {
        if (token == "CMD") {
            result.modifiers |= kModifierCommand;
        } else if (token == "SHIFT") {
            result.modifiers |= kModifierShift;
        } else if (token == "ALT") {
            result.modifiers |= kModifierOption;
        } else if (token == "CTRL") {
            result.modifiers |= kModifierControl;
        } else if (const int key = FunctionKeyNumber(token); key != 0) {
            result.modifiers |= kModifierFunctionKey;
            result.key.clear();
            AppendUtf8(result.key, kFirstFunctionKey + static_cast<char32_t>(key) - 1);
        } else {
            result.key = TextToPlatformString(LowerAscii(token).c_str());
        }
    }
    return result;
}

// --- the delegate ---------------------------------------------------------------------

void KyMenuDelegate::preferences() {
    PostEvent(MenuItemChosen, kMenuPreferences, windowID_, 0);
}

void KyMenuDelegate::about() {
    PostEvent(MenuItemChosen, kMenuAbout, windowID_, 0);
}

void KyMenuDelegate::terminate() {
    PostEvent(MenuItemChosen, kMenuQuit, windowID_, 0);
}

void KyMenuDelegate::eventHandler(int64_t itemID, int64_t windowID) {
    PostEvent(MenuItemChosen, itemID, windowID, 0);
}
