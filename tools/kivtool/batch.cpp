#include "batch.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "commands.h"
#include "progress.h"

namespace kivtool {
namespace fs = std::filesystem;

namespace {

// The signal that stopped the work, 0 while none came.
std::atomic<int> g_interrupt{0};

void OnInterrupt(int signal) { g_interrupt.store(signal); }

bool StartsWithMagic(const fs::path& path) {
  char magic[4] = {};
  std::ifstream file(path, std::ios::binary);
  return file.read(magic, sizeof magic) && std::memcmp(magic, "KIVA", sizeof magic) == 0;
}

template <typename Iterator>
bool AddAnimationsIn(Iterator entries, std::vector<std::string>* found, std::string* error) {
  std::error_code failure;
  for (auto entry = entries; entry != Iterator(); entry.increment(failure)) {
    if (failure) break;
    std::error_code ignored;
    if (entry->is_regular_file(ignored) && StartsWithMagic(entry->path())) found->push_back(entry->path().string());
  }
  if (failure) *error = failure.message();
  return !failure;
}

}  // namespace

bool CollectInputs(const std::vector<std::string>& arguments, bool recursive, std::vector<std::string>* inputs,
                   std::string* error) {
  for (const std::string& argument : arguments) {
    std::error_code failure;
    if (!fs::is_directory(argument, failure)) {
      inputs->push_back(argument);  // a missing file is reported when it is read
      continue;
    }
    std::vector<std::string> found;
    const bool read = recursive ? AddAnimationsIn(fs::recursive_directory_iterator(argument, failure), &found, error)
                                : AddAnimationsIn(fs::directory_iterator(argument, failure), &found, error);
    if (failure) *error = failure.message();
    if (!failure && read && found.empty()) {
      *error = recursive ? "holds no KIV animation" : "holds no KIV animation (-r looks in its subdirectories too)";
    }
    if (failure || !read || found.empty()) {
      *error = argument + ": " + *error;
      return false;
    }
    std::sort(found.begin(), found.end());
    inputs->insert(inputs->end(), found.begin(), found.end());
  }
  return true;
}

bool CollectInputsOrReport(const std::vector<std::string>& arguments, bool recursive,
                           std::vector<std::string>* inputs) {
  std::string error;
  if (CollectInputs(arguments, recursive, inputs, &error)) return true;
  Say("kivtool: %s\n", error.c_str());
  return false;
}

void FileProgressLine::Start(std::size_t frames) { line_ = std::make_unique<Progress>(what_, frames, quiet_); }
void FileProgressLine::Update(std::size_t done) { line_->Update(done); }
void FileProgressLine::Finish() { line_->Finish(); }

bool ManyInputs(const std::vector<std::string>& arguments) {
  std::error_code failure;
  return arguments.size() > 1 || (arguments.size() == 1 && fs::is_directory(arguments[0], failure));
}

std::string InputName(const std::string& path) {
  std::string name = fs::path(path).filename().string();
  if (name.size() > 4) {
    std::string end = name.substr(name.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return std::tolower(c); });
    if (end == ".kiv") name.resize(name.size() - 4);
  }
  return name;
}

bool HasInputName(const std::string& pattern) { return pattern.find("%n") != std::string::npos; }

std::string WithInputName(const std::string& pattern, const std::string& name) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.compare(i, 2, "%n") == 0) {
      out += name;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

bool MakeFolderFor(const std::string& path, std::string* error) {
  const fs::path folder = fs::path(path).parent_path();
  std::error_code failure;
  if (folder.empty() || fs::is_directory(folder, failure)) return true;
  fs::create_directories(folder, failure);
  if (failure) *error = folder.string() + ": " + failure.message();
  return !failure;
}

bool Interrupted() { return g_interrupt.load() != 0; }

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void EndInterrupted() {
  std::fflush(nullptr);
  const int stop = g_interrupt.load() != 0 ? g_interrupt.load() : SIGINT;
  signal(stop, SIG_DFL);
  raise(stop);
  _exit(128 + stop);
}

namespace {

// The run's state, shared by the workers and the thread that reports.
class Run {
 public:
  Run(const BatchOptions& options, std::size_t files)
      : options_(options),
        files_(files),
        slots_(options.jobs),
        terminal_(!options.quiet && isatty(STDERR_FILENO) == 1) {}

  // One worker's file in progress: frames done of its total.
  struct Slot : FileProgress {
    std::atomic<std::size_t> frames{0}, done{0};
    std::atomic<std::uint64_t>* allFrames = nullptr;
    void Start(std::size_t total) override { frames = total; done = 0; }
    void Update(std::size_t now) override {
      *allFrames += now - done.exchange(now);
    }
    void Finish() override {}
  };

  struct Result {
    std::string input;
    FileOutcome outcome;
    std::string messages;
  };

  void Work(std::size_t worker, const std::vector<std::string>& inputs, const FileJob& job) {
    Slot& slot = slots_[worker];
    slot.allFrames = &allFrames_;
    for (;;) {
      const std::size_t i = next_++;
      if (i >= inputs.size() || Interrupted()) break;
      Result result{inputs[i], {}, {}};
      slot.Start(0);
      CaptureMessages(&result.messages);
      result.outcome = job(inputs[i], slot);
      CaptureMessages(nullptr);
      slot.Start(0);
      std::lock_guard<std::mutex> lock(mutex_);
      finished_.push_back(std::move(result));
      changed_.notify_one();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++workersDone_;
    changed_.notify_one();
  }

  // Prints what finished and redraws the line until every worker is done.
  void Report() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait_for(lock, std::chrono::milliseconds(250));
      std::vector<Result> finished;
      finished.swap(finished_);
      const bool over = workersDone_ == slots_.size();
      lock.unlock();
      for (Result& result : finished) Print(std::move(result));
      if (over) break;
      Draw();
      lock.lock();
    }
    Clear();
  }

  int Summary() const {
    std::size_t converted = 0, partly = 0, damaged = 0, failed = 0;
    int worst = 0;
    for (const Result& result : results_) {
      const int status = result.outcome.status;
      worst = std::max(worst, status);
      converted += status == 0 ? 1 : 0;
      partly += status == 1 && result.outcome.wrote ? 1 : 0;
      damaged += status == 1 && !result.outcome.wrote ? 1 : 0;
      failed += status > 1 ? 1 : 0;
    }
    if (options_.quiet && worst == 0) return worst;
    std::string counts = std::to_string(converted) + " converted";
    if (partly > 0) counts += ", " + std::to_string(partly) + " partly converted (damaged)";
    counts += ", " + std::to_string(damaged) + " damaged, " + std::to_string(failed) + " failed";
    std::fprintf(stderr, "%s: %zu files: %s\n", options_.command.c_str(), files_, counts.c_str());
    for (const Result& result : results_) {
      if (result.outcome.status == 0) continue;
      const char* kind = result.outcome.status > 1 ? "failed" : result.outcome.wrote ? "partly converted" : "damaged";
      std::fprintf(stderr, "  %s: %s: %s\n", result.input.c_str(), kind, Reason(result).c_str());
    }
    return worst;
  }

 private:
  // The first message about the file, without "kivtool: FILE: ".
  static std::string Reason(const Result& result) {
    std::string line = result.messages.substr(0, result.messages.find('\n'));
    const std::string prefix = "kivtool: " + result.input + ": ";
    if (line.compare(0, prefix.size(), prefix) == 0) line.erase(0, prefix.size());
    if (line.compare(0, 9, "kivtool: ") == 0) line.erase(0, 9);
    return line.empty() ? "no reason given" : line;
  }

  void Print(Result result) {
    Clear();
    std::fputs(result.messages.c_str(), stderr);
    ++filesDone_;
    if (!terminal_ && !options_.quiet) {
      const char* verdict = result.outcome.status == 0                  ? "converted"
                            : result.outcome.status == kExitInterrupted ? "interrupted, removed"
                            : result.outcome.status > 1                 ? "failed"
                            : result.outcome.wrote      ? "partly converted"
                                                        : "damaged";
      std::fprintf(stderr, "%s: %zu/%zu %s: %s\n", options_.command.c_str(), filesDone_, files_,
                   result.input.c_str(), verdict);
    }
    results_.push_back(std::move(result));
  }

  void Draw() {
    if (!terminal_) return;
    using Clock = std::chrono::steady_clock;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    double done = static_cast<double>(filesDone_);
    for (const Slot& slot : slots_) {
      if (slot.frames > 0) done += static_cast<double>(slot.done) / static_cast<double>(slot.frames);
    }
    std::string left = "?";
    if (done > 0.0) {
      const long remaining = std::lround(seconds * (static_cast<double>(files_) - done) / done);
      char text[32];
      std::snprintf(text, sizeof text, "%ld:%02ld", remaining / 60, remaining % 60);
      left = text;
    }
    std::fprintf(stderr, "\r\033[K%s: %zu/%zu files, %.0f frames/s, %s left", options_.command.c_str(), filesDone_,
                 files_, seconds > 0 ? static_cast<double>(allFrames_) / seconds : 0.0, left.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  void Clear() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }

  const BatchOptions& options_;
  const std::size_t files_;
  std::vector<Slot> slots_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::atomic<std::size_t> next_{0};
  std::atomic<std::uint64_t> allFrames_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Result> finished_;
  std::size_t workersDone_ = 0;
  // Touched by the reporting thread only.
  std::vector<Result> results_;
  std::size_t filesDone_ = 0;
  bool drawn_ = false;
};

}  // namespace

int RunBatch(const BatchOptions& options, const std::vector<std::string>& inputs, const FileJob& job) {
  BatchOptions settled = options;
  settled.jobs = std::clamp<unsigned>(options.jobs, 1, static_cast<unsigned>(std::max<std::size_t>(inputs.size(), 1)));
  Run run(settled, inputs.size());
  std::vector<std::thread> workers;
  for (unsigned w = 0; w < settled.jobs; ++w) {
    workers.emplace_back([&run, &inputs, &job, w] { run.Work(w, inputs, job); });
  }
  run.Report();
  for (std::thread& worker : workers) worker.join();
  if (Interrupted()) {
    std::fprintf(stderr, "%s: interrupted; the files in progress were removed, the finished ones kept\n",
                 options.command.c_str());
    EndInterrupted();
  }
  return run.Summary();
}

int RunFiles(const BatchOptions& options, const std::vector<std::string>& arguments, bool recursive,
             const FileJob& job) {
  InstallInterruptHandler();
  if (!ManyInputs(arguments)) {
    FileProgressLine progress(options.command, options.quiet);
    const FileOutcome outcome = job(arguments[0], progress);
    if (Interrupted()) EndInterrupted();
    return outcome.status;
  }
  std::vector<std::string> inputs;
  if (!CollectInputsOrReport(arguments, recursive, &inputs)) return kExitUsage;
  return RunBatch(options, inputs, job);
}

}  // namespace kivtool
