#pragma once

#include <QStringList>

// "dorvik2solvane --rehearse --no-window [--tables product,trader]": a rehearsal without a
// window, for scripts and for whoever sets up many offices. Prints the rehearsal folder and its
// summary on standard output (on Windows, the console it was started from) and returns the exit
// code: 0 a run would complete, 1 it would complete with errors, 2 no rehearsal could be made
// (the reason on standard error).
// Tests give a settings root of their own (see QtPlatform).
int RehearseWithoutWindow(const QStringList& arguments, const QString& settingsRoot);
int RehearseWithoutWindow(const QStringList& arguments);

// The exit codes.
inline constexpr int kRehearsalCompletes = 0;
inline constexpr int kRehearsalWithErrors = 1;
inline constexpr int kRehearsalNotMade = 2;
