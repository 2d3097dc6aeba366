#!/usr/bin/env bash
# The main job: the player with the plug-in, against the stand-in service. Not built yet.
echo "make demo: the main job (the stand-in player playing a playlist with Sonavire) is not built yet."
echo "Until then, 'make test' builds everything that exists and runs every test."
