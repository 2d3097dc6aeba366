#include "web/page_document.h"

namespace sv {

namespace {
// Made when the module loads and destroyed when it unloads. Not a function-local static: its
// first use would take the statically linked runtime's lock, whose state for the player's thread
// outlives an unloaded module and leaks its handles at every unload.
LyricsDocument g_pageDocument;
}  // namespace

LyricsDocument& PageDocument() { return g_pageDocument; }

}  // namespace sv
