// One command over many animation files: the inputs found in the arguments,
// output names made from a pattern with %n, the files converted side by side
// on several threads, one progress line, a summary, and an interrupt that
// leaves no half-written output.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "progress.h"

namespace kivtool {

// Files as given; a directory gives the files in it that start with "KIVA"
// (all levels below it with `recursive`), in name order. False with
// "DIR: reason" in *error when a directory cannot be read or holds none.
bool CollectInputs(const std::vector<std::string>& arguments, bool recursive, std::vector<std::string>* inputs,
                   std::string* error);
// CollectInputs that reports why not on stderr.
bool CollectInputsOrReport(const std::vector<std::string>& arguments, bool recursive,
                           std::vector<std::string>* inputs);
// True when there may be more than one input: several arguments, or a directory.
bool ManyInputs(const std::vector<std::string>& arguments);

// The input's base name without a .kiv ending ("dir/Intro.KIV" gives "Intro").
std::string InputName(const std::string& path);
bool HasInputName(const std::string& pattern);
// pattern with every %n replaced by name.
std::string WithInputName(const std::string& pattern, const std::string& name);
// Makes the directories above path; false with the system's reason.
bool MakeFolderFor(const std::string& path, std::string* error);

// Set by SIGINT or SIGTERM once InstallInterruptHandler ran; work checks it
// between frames.
bool Interrupted();
void InstallInterruptHandler();
// After the work in progress was taken down: dies of the signal, as the
// shell expects of an interrupted program.
[[noreturn]] void EndInterrupted();

// How far one file's work is, for the run's progress line.
class FileProgress {
 public:
  virtual ~FileProgress() = default;
  virtual void Start(std::size_t frames) = 0;
  virtual void Update(std::size_t done) = 0;
  virtual void Finish() = 0;
};

// One file's progress as the line of a single-file run ("export: 3/10 (30%)").
class FileProgressLine : public FileProgress {
 public:
  FileProgressLine(std::string what, bool quiet) : what_(std::move(what)), quiet_(quiet) {}
  void Start(std::size_t frames) override;
  void Update(std::size_t done) override;
  void Finish() override;

 private:
  std::string what_;
  bool quiet_;
  std::unique_ptr<Progress> line_;
};

struct FileOutcome {
  int status = 0;       // the command's exit status for this file
  bool wrote = false;   // an output was written (with status 1: partly)
};
using FileJob = std::function<FileOutcome(const std::string& input, FileProgress& progress)>;

struct BatchOptions {
  std::string command;  // "export", for the progress line and the summary
  unsigned jobs = 1;    // files worked on at once
  bool quiet = false;
};

// Runs job for every input, `jobs` at once, and prints the summary. Returns
// the worst status: 0 all converted, 1 a damaged or unreadable animation, 2
// a usage or I/O error.
int RunBatch(const BatchOptions& options, const std::vector<std::string>& inputs, const FileJob& job);
// The command over its FILE arguments: one file is worked on as it is, with
// its own progress line; several files and directories go through RunBatch.
// An interrupt takes the work in progress down and ends the process.
int RunFiles(const BatchOptions& options, const std::vector<std::string>& arguments, bool recursive,
             const FileJob& job);

}  // namespace kivtool
