// A progress line on stderr for long work, shown only when stderr is a
// terminal (never in logs or pipes) and not silenced by -q.
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

}  // namespace kivtool
