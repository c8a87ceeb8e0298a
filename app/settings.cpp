#include "app/settings.h"

#include "app/program_values.h"
#include "app/temp_text.h"
#include "runtime/network.h"
#include "runtime/number_text.h"
#include "runtime/preference_file.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_ops.h"
#include "ui/gadgets.h"

namespace {

// Part n (1 to 4) of a dotted server text as a number; a missing part is 0.
int32_t AddressPart(const char* serverText, int32_t n) {
    TempScope scope;
    // Parts are placed by plain addition, so 256 carries into the next byte as a user expects
    // from the stored text; wrapping to 32 bits keeps absurd parts defined.
    return static_cast<int32_t>(TextToInteger(TextField(serverText, n, ".", scope.Start())));
}

void WriteValues() {
    PreferenceGroup("Server");
    {
        TempScope scope;
        PreferenceWriteText("Server", GetGadgetText(ServerField, scope.Start()));
    }
    {
        TempScope scope;
        PreferenceWriteText("Port", GetGadgetText(PortField, scope.Start()));
    }
    PreferenceGroup("GE");
    PreferenceWriteInteger("Zoom", static_cast<int32_t>(GetGadgetState(ZoomBar)));
}

void CreateSettings() {
    if (PreferenceCreate(SettingsFile) == 0) return;  // the built-in values stay
    WriteValues();
    PreferenceClose();
}

}  // namespace

void LoadSettings() {
    if (PreferenceOpen(SettingsFile) == 0) {
        CreateSettings();
        return;
    }
    PreferenceGroup("Server");
    const std::string serverText = TempText(PreferenceReadText, "Server", "");
    const char* server = serverText.c_str();
    SetGadgetState(ServerField, MakeIPv4Address(AddressPart(server, 1), AddressPart(server, 2),
                                                AddressPart(server, 3), AddressPart(server, 4)));
    {
        TempScope scope;
        SetGadgetText(PortField, PreferenceReadText("Port", "", scope.Start()));
    }
    PreferenceGroup("GE");
    SetGadgetState(ZoomBar, PreferenceReadInteger("Zoom", 0));
    PreferenceClose();
}

void SaveSettings() {
    if (PreferenceOpen(SettingsFile) == 0) return;  // gone or unreadable: nothing is saved
    WriteValues();
    PreferenceClose();
}
