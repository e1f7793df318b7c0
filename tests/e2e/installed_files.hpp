#pragma once
// The files an install puts under its prefix, as the install test and the package test expect
// them (the package gzips the manual pages).
#include <string>
#include <vector>

inline const std::vector<std::string>& installedFiles() {
    static const std::vector<std::string> files = {
        "games/vibrelle",
        "bin/vibrelle-level",
        "bin/vibrelle-chart",
        "bin/vibrelle-replay",
        "bin/vibrelle-leaderboard-server",
        "share/games/vibrelle/levels/levels.json",
        "share/games/vibrelle/levels/level.json",
        "share/games/vibrelle/shaders/fullscreen.vert",
        "share/games/vibrelle/textures/button_start_active.png",
        "share/games/vibrelle/fonts/Roboto-Regular.ttf",
        "share/applications/io.github.kvo.vibrelle.desktop",
        "share/metainfo/io.github.kvo.vibrelle.metainfo.xml",
        "share/icons/hicolor/256x256/apps/io.github.kvo.vibrelle.png",
        "share/man/man6/vibrelle.6",
        "share/man/man1/vibrelle-level.1",
        "share/man/man1/vibrelle-leaderboard-server.1",
        "lib/systemd/system/vibrelle-leaderboard-server.service"};
    return files;
}
