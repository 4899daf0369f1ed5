// What kivtool says on stderr while it works: a progress line for long work,
// shown only when stderr is a terminal (never in logs or pipes) and not
// silenced by -q, and the messages about each file.
#pragma once

#include <cstddef>
#include <string>

namespace kivtool {

class Progress {
 public:
  Progress(std::string what, std::size_t total, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Rewrites the line when the percentage changed.
  void Update(std::size_t done);
  // Clears the line, so that messages after it start on a clean line.
  void Finish();

 private:
  std::string what_;
  std::size_t total_;
  bool shown_;
  bool drawn_ = false;
  int lastPercent_ = -1;
};

// printf to stderr, or, while this thread works on one file of many, into
// that file's messages (printed whole when the file is done, so files
// converted side by side do not mix their lines).
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Where this thread's messages go from now on: *messages, or stderr (null).
void CaptureMessages(std::string* messages);

}  // namespace kivtool
