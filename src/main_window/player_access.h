// What the main window needs from the player, and nothing more: the current item's tags, the
// playback position, and play, stop, rewind and seek. The plug-in object implements it over the player's
// core and controls; tests implement it over anything. Events travel the other way, as calls on
// the main window.
#pragma once
#include <string>

namespace sv {

struct MediaTags {
    std::u16string artist, title, album;  // "Artist", "Title", "Album"; each may be empty
    std::u16string sourceUrl;             // where the item plays from (a path or a URL); may be empty
    std::u16string lyrics;                // "WM/Lyrics", untimed; may be empty
    std::u16string syncLyrics;            // "WM/Lyrics_Synchronised" as LRC text; empty where the player has none
};

class PlayerAccess {
public:
    // The current media item's tags; false when the player has no current item.
    virtual bool CurrentMediaTags(MediaTags& tags) = 0;
    // The player's playback position in seconds; false when it cannot tell.
    virtual bool PositionSeconds(double& seconds) = 0;
    virtual void Play() = 0;
    virtual void Stop() = 0;
    // Back to the start of the current item.
    virtual void Rewind() = 0;
    // To the given position in the current item.
    virtual void SeekSeconds(double seconds) = 0;

protected:
    ~PlayerAccess() = default;
};

}  // namespace sv
