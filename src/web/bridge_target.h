// What the script bridge reaches in the live plug-in object: the player's event path, which the
// video page's events enter with the player's codes plus 100, and the main window's request
// document, whose track the pages may read. The plug-in object implements it; the bridge finds
// the live one when a page calls, since objects come and go while the bridge lives on.
#pragma once
#include "lyrics/lyrics_document.h"

namespace sv {

class BridgeTarget {
public:
    // The player's open-state, play-state and position events, as the player raises them.
    virtual void RaiseOpenStateChange(long newState) = 0;
    virtual void RaisePlayStateChange(long newState) = 0;
    virtual void RaisePositionChange(double oldPosition, double newPosition) = 0;
    // The track that last opened (from the player or the page); null without a main window.
    virtual const LyricsDocument* CurrentRequestDocument() = 0;

protected:
    ~BridgeTarget() = default;
};

}  // namespace sv
