// What the script bridge reaches when a page calls: the live plug-in object, through which the
// video page's events take the same path as the player's (marked as the page's), and the main
// window's request document, whose track the pages may read. The plug-in object implements it and
// the application object hands the bridge a way to find the live one, since plug-in objects come
// and go while the bridge lives on.
#pragma once
#include "lyrics/lyrics_document.h"

namespace sv {

// The video's play states the page reports, as the player's own play states mean them.
enum class PagePlayState { Stopped, Paused, Playing, MediaEnded };

class BridgeTarget {
public:
    // The page opened a video; page is the page document, the track it reported.
    virtual void PageMediaOpened(const LyricsDocument& page) = 0;
    virtual void PagePlayStateChanged(PagePlayState state) = 0;
    // The video's position jumped; the page's own position is read when it is needed.
    virtual void PagePositionChanged() = 0;
    // The page shows or hides the lyrics.
    virtual void PageShowsLyrics(bool show) = 0;
    // The track that last opened (from the player or the page); null without a main window.
    virtual const LyricsDocument* CurrentRequestDocument() = 0;

protected:
    ~BridgeTarget() = default;
};

}  // namespace sv
