// Lyrics from the listener's own files: the LRC file beside the song and the song's tags, used only
// when the service has none, and Save as LRC.
#include "plugin_window_fixture.h"
#include "lyrics/lrc_reader.h"
#include "lyrics/own_lyrics_file.h"

namespace svtest {
namespace {

class OwnLyricsTest : public PluginWindowTest {
protected:
    void SetUp() override {
        PluginWindowTest::SetUp();
        songFolder_ = cacheFolder_ + L"\\songs";
        CreateDirectoryW(songFolder_.c_str(), nullptr);
    }
    void TearDown() override {
        for (const wchar_t* name : {L"\\Night Train.lrc", L"\\Auld Lang Syne.lrc"})
            DeleteFileW((songFolder_ + name).c_str());
        RemoveDirectoryW((songFolder_ + L"\\Auld Lang Syne.lrc").c_str());
        RemoveDirectoryW(songFolder_.c_str());
        PluginWindowTest::TearDown();
    }
    void WriteText(const std::wstring& path, const std::string& text) {
        ASSERT_EQ(S_OK, sv::WriteLrcFile(sv::AsU16(path.c_str()), text));
    }
    // Plays one song from the song folder and waits for its lookup to end.
    const LyricsDocument* PlaySong(Track track) {
        track.sourceUrl = songFolder_ + L"\\" + track.Attribute(L"Title") + L".mp3";
        engine_->SetPlaylist({track});
        if (!plugin_) LoadPlugin();
        engine_->Open(0, true);
        Deliver();
        const std::u16string title = sv::AsU16(track.Attribute(L"Title").c_str());
        EXPECT_TRUE(WaitForShown(title, sv::MediaSource::Player));
        return Window().ShownDocument();
    }

    std::wstring songFolder_;
};

const char kOwnLrc[] = "[ar:Traditional]\n[00:01.00]own first\n[00:03.25]own second\n";

TEST_F(OwnLyricsTest, TheFileBesideTheSongIsUsedOnlyWhenTheServiceHasNoneOrCannotBeReached) {
    WriteText(songFolder_ + L"\\Auld Lang Syne.lrc", kOwnLrc);
    WriteText(songFolder_ + L"\\Night Train.lrc", kOwnLrc);
    // The service knows no "Auld Lang Syne" by this artist: the file's lines, timed.
    const LyricsDocument* shown = PlaySong(Track::Audio(L"Nobody Known", L"Auld Lang Syne", L"", 30.0));
    ASSERT_TRUE(shown);
    EXPECT_EQ(sv::LyricsStatus::Timed, shown->status);
    ASSERT_EQ(2, shown->LineCount());
    EXPECT_EQ(3250, shown->LineAt(1)->time);
    EXPECT_EQ(L"Lyrics from Auld Lang Syne.lrc", StatusLineText());
    // A nudge's passing notice gives the status back with its file name.
    for (const int command : {CMD_LYRICS_EARLIER, CMD_RESET_TIMING}) {
        Window().ExecuteCommand(command);
        EXPECT_NE(L"Lyrics from Auld Lang Syne.lrc", StatusLineText());
        SendMessageW(Window().Hwnd(), WM_TIMER, 1, 0);  // the notice's time is up
        EXPECT_EQ(L"Lyrics from Auld Lang Syne.lrc", StatusLineText());
    }

    // The service has lyrics: the file is ignored.
    shown = PlaySong(Track::Audio(L"Blue Harbour", L"Night Train", L"", 40.0));
    ASSERT_TRUE(shown);
    EXPECT_EQ(44, shown->LineCount());
    EXPECT_EQ(sv::LyricsOrigin::Service, shown->origin);
    EXPECT_EQ(L"", StatusLineText());

    // The service cannot be reached: the file again.
    service_.SetBehaviour(kFetchPath, "close");
    RemoveCacheFolder();  // the service's copy of the song is cached: it must ask again
    shown = PlaySong(Track::Audio(L"Blue Harbour", L"Night Train", L"", 40.0));
    ASSERT_TRUE(shown);
    EXPECT_EQ(2, shown->LineCount());
    EXPECT_EQ(L"Lyrics from Night Train.lrc", StatusLineText());
}

TEST_F(OwnLyricsTest, AnUnreadableFileIsSkippedWithoutABoxAndTheSongsTagsAreRead) {
    DialogDismisser dialogs(0);
    // A folder where the file would be cannot be read as one; the synchronised tag follows.
    CreateDirectoryW((songFolder_ + L"\\Auld Lang Syne.lrc").c_str(), nullptr);
    Track track = Track::Audio(L"Nobody Known", L"Auld Lang Syne", L"", 30.0);
    track.attributes[L"WM/Lyrics_Synchronised"] = L"[00:02.00]tagged timed";
    track.attributes[L"WM/Lyrics"] = L"tagged plain";
    const LyricsDocument* shown = PlaySong(track);
    ASSERT_TRUE(shown);
    ASSERT_EQ(1, shown->LineCount());
    EXPECT_EQ(u"tagged timed", shown->LineAt(0)->text);
    EXPECT_EQ(L"Lyrics from the song's tags", StatusLineText());

    // Only the untimed tag: lines for re-sync, as untimed lyrics from the service are.
    track.attributes.erase(L"WM/Lyrics_Synchronised");
    shown = PlaySong(track);
    ASSERT_TRUE(shown);
    EXPECT_EQ(sv::LyricsStatus::Untimed, shown->status);
    EXPECT_EQ(u"tagged plain", shown->LineAt(0)->text);
    EXPECT_TRUE(dialogs.seen().empty()) << "no box for a file that cannot be read";
}

TEST_F(OwnLyricsTest, SaveAsLrcWritesTheShownLinesBesideTheSongWithTheirStamps) {
    const LyricsDocument* shown = PlaySong(Track::Audio(L"Blue Harbour", L"Night Train", L"", 40.0));
    ASSERT_TRUE(shown && shown->LineCount() == 44);
    SendMessageW(Window().Hwnd(), WM_COMMAND, CMD_SAVE_AS_LRC, 0);
    ASSERT_TRUE(PumpUntil([&] { return StatusLineText() == L"Lyrics saved as Night Train.lrc"; }));
    std::string text;
    HRESULT error = S_OK;
    ASSERT_TRUE(sv::ReadLrcFile(sv::AsU16((songFolder_ + L"\\Night Train.lrc").c_str()), text, error));
    const sv::LrcReading back = sv::ReadLrc(text);
    ASSERT_EQ(44u, back.timed.size());
    for (int i = 0; i < 44; ++i) {
        EXPECT_EQ(static_cast<long long>(shown->LineAt(i)->time), back.timed[static_cast<size_t>(i)].timeMs);
        EXPECT_EQ(sv::Utf8FromUtf16(shown->LineAt(i)->text), back.timed[static_cast<size_t>(i)].text);
    }

    // A folder that cannot be written: the user is asked where (here the dialog is cancelled).
    DialogDismisser dialogs(0);
    songFolder_ += L"\\missing";
    shown = PlaySong(Track::Audio(L"Blue Harbour", L"Night Train", L"", 40.0));
    songFolder_.resize(songFolder_.size() - 8);
    SendMessageW(Window().Hwnd(), WM_COMMAND, CMD_SAVE_AS_LRC, 0);
    EXPECT_TRUE(PumpUntil([&] { return !dialogs.seen().empty(); }));
}

}  // namespace
}  // namespace svtest
