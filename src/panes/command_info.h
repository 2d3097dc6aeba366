// How a command is described to whoever shows it (the action bar's buttons, the plug-in's menu):
// its label and its state. The main window answers; the panes only ask.
#pragma once
#include <windows.h>

#include <cstdint>

#include "settings/settings.h"

namespace sv {

// State bits of a command. The action list adds its own item bits (hover, pressed) through extra.
inline constexpr uint32_t CMD_STATE_NORMAL = 0x20;    // available, off
inline constexpr uint32_t CMD_STATE_ACTIVE = 0x01;    // switched on
inline constexpr uint32_t CMD_STATE_DISABLED = 0x04;  // unavailable

struct CommandInfo {
    uint16_t id = 0;     // set by the caller
    uint16_t extra = 0;  // the caller's own state bits, OR-ed into state
    wchar_t label[kSettingTextChars] = {};
    uint32_t state = 0;
};

class CommandDescriber {
public:
    // Fills label and state for info.id; false for ids that are no command (108, outside 101-118).
    virtual bool DescribeCommand(CommandInfo& info) = 0;

protected:
    ~CommandDescriber() = default;
};

}  // namespace sv
