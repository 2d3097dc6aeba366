// The page document: the track the video page last reported through window.external. The script
// bridge writes it; the main window reads it when the page's open event arrives. One per module,
// used on the user-interface thread only.
#pragma once
#include "lyrics/lyrics_document.h"

namespace sv {

LyricsDocument& PageDocument();

}  // namespace sv
