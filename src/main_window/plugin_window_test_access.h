// For tests that run the plug-in's code in their own process: the main window's private state
// they read. Nothing in the plug-in includes this.
#pragma once
#include "main_window/plugin_window.h"

namespace sv {

struct PluginWindowTestAccess {
    // Replies that the window's lookups deleted instead of delivering (closed or queued at destruction).
    static long DiscardedReplies(const CSVPluginWindow& window) { return window.fetcher_.DiscardedReplies(); }
    static bool Dragging(const CSVPluginWindow& window) { return window.dragging_; }
    // Sequence number of the lookup whose reply is wanted; 0 when none is.
    static WPARAM WantedFetch(const CSVPluginWindow& window) { return window.wantedFetch_; }
};

}  // namespace sv
