// The program's start-up sequence, from the command line to the main loop,
// and the teardown after it.
#pragma once

#include "app/app_services.h"
#include "platform/win32.h"

namespace kiv {

// Message box styles of the start-up.
constexpr UINT kFatalStyle = MB_TOPMOST | MB_SETFOREGROUND | MB_TASKMODAL | MB_ICONERROR;
constexpr UINT kSeriousStyle = MB_TASKMODAL | MB_ICONERROR;

constexpr char kCaptionError[] = "Error";
constexpr char kCaptionFatal[] = "Fatal error";
constexpr char kMessageNoAnimation[] = "To view a KIV animation, double click on the animation.";
constexpr char kMessagePathTooLong[] =
    "The path of the KIV animation is too long (more than 511 characters).";
constexpr char kMessageGraphicsInit[] = "Unable to initialize graphics system";
constexpr char kMessageBadAnimation[] = "Unable to load KIV file or corrupt KIV file";
constexpr char kMessageVideoModeFormat[] =
    "Unable to set up graphics mode, graphics card must be capable of running %ix%i";
constexpr char kMessagePlayerInit[] =
    "Unable to initialize KIVPlay. Possibly missing graphics or wrong projects_path";

// Copies the command line into AnimationPath without a leading and a
// trailing double quote. Returns false, leaving AnimationPath unchanged, when
// the path does not fit its 511 characters: a shortened path would name a
// different file.
bool StoreAnimationPath(const char* commandLine);

// The start-up sequence, from the command line to the running Player. True
// when the main loop is to run, with the Player (owned by the caller until
// FinishKivPlay) in *player; false with the exit code in *exitCode (-1 after a
// failure, 0 when another instance took over).
bool StartKivPlay(AppServices& services, HINSTANCE module, HINSTANCE previousInstance,
                  const char* commandLine, int showState, AppModule** player, int* exitCode);

// The teardown after the main loop, given the loop's result; returns the
// exit code. A host that runs the loop in passes (the browser) calls
// StartKivPlay, StepMainLoop until it ends, and this.
int FinishKivPlay(AppServices& services, AppModule* player, int loopResult);

// The whole program after the entry point: start-up, main loop, teardown.
// Returns the exit code (-1 after a failure).
int RunKivPlay(AppServices& services, HINSTANCE module, HINSTANCE previousInstance,
               const char* commandLine, int showState);

}  // namespace kiv
