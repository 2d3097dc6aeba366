// The stand-in player with a two-track playlist, against the stand-in service with the plug-in's
// key pointed at it: where the tests of the plug-in object (the DLL as the player loads it) and of
// the main window (the same code built into the test) start.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/wmp_plugin_ui.h"
#include "call_log.h"
#include "player_engine.h"
#include "player_window.h"
#include "standin_client.h"
#include "win_test_support.h"

namespace svtest {

inline constexpr char kFetchPath[] = "/sonavire/services/getLyricXML_2";
inline constexpr char kVersionPath[] = "/sonavire/services/getLyricVerXML.php";

class PlayerFixture : public testing::Test {
protected:
    // The key, a fresh service record, and the player's window with its playlist.
    void StartPlayer() {
        key_ = std::make_unique<StandinKeyScope>();
        ASSERT_TRUE(key_->valid());
        service_.ClearRequests();
        service_.ResetBehaviours();
        engine_ = std::make_unique<sv::standin::PlayerEngine>([this] { return clock_; });
        engine_->SetPlaylist({sv::standin::Track::Audio(L"Blue Harbour", L"Night Train", L"First Light", 40.0),
                              sv::standin::Track::Audio(L"Traditional", L"Amazing Grace", L"", 30.0)});
        player_ = std::make_unique<sv::standin::PlayerWindow>(GetModuleHandleW(nullptr), *engine_);
        RECT frame{40, 40, 840, 640};
        ASSERT_TRUE(player_->Create(&frame, true));
    }
    // The plug-in, then the player; the module's own checks come between this and EndService.
    void StopPlayer() {
        plugin_.reset();
        player_.reset();
        engine_.reset();
    }
    void EndService() {
        service_.ResetBehaviours();
        key_.reset();
    }

    std::vector<std::string> Calls() const { return engine_->Log().Texts(sv::standin::LogKind::Call); }
    void Deliver() {
        engine_->DeliverPendingEvents();
        PumpPending();
    }

    StandinClient service_ = StandinClient::FromEnvironment();
    std::unique_ptr<StandinKeyScope> key_;
    double clock_ = 100.0;
    std::unique_ptr<sv::standin::PlayerEngine> engine_;
    std::unique_ptr<sv::standin::PlayerWindow> player_;
    sv::ComPtr<IWMPPluginUI> plugin_;
};

}  // namespace svtest
