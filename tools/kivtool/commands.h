// kivtool's commands: each takes the arguments after its name (argv[0] is the
// command name) and returns the process exit status: 0 success, 1 a finding
// about the file (corrupt, refused), 2 a usage or I/O error.
#pragma once

namespace kivtool {

constexpr int kExitOk = 0;
constexpr int kExitFinding = 1;
constexpr int kExitUsage = 2;

int RunInfo(int argc, char** argv);
int RunCheck(int argc, char** argv);
int RunExport(int argc, char** argv);
int RunCreate(int argc, char** argv);
int RunRender(int argc, char** argv);

// Prints "kivtool: <message>" and the help hint to stderr; returns kExitUsage.
int UsageError(const char* message);

}  // namespace kivtool
