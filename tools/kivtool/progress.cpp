#include "progress.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace kivtool {

Progress::Progress(std::string what, std::size_t total, bool quiet)
    : what_(std::move(what)), total_(total), shown_(!quiet && isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() { Finish(); }

void Progress::Update(std::size_t done) {
  if (!shown_ || total_ == 0) return;
  const int percent = static_cast<int>(done * 100 / total_);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  std::fprintf(stderr, "\r%s: %zu/%zu (%d%%)", what_.c_str(), done, total_, percent);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  if (!drawn_) return;
  // Overwrite the line with blanks and return to its start.
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
  lastPercent_ = -1;
}

}  // namespace kivtool

namespace kivtool {
namespace {
thread_local std::string* t_messages = nullptr;
}  // namespace

void CaptureMessages(std::string* messages) { t_messages = messages; }

void Say(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  if (t_messages == nullptr) {
    std::vfprintf(stderr, format, arguments);
  } else {
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (length > 0) {
      std::string text(static_cast<std::size_t>(length) + 1, '\0');
      std::vsnprintf(text.data(), text.size(), format, arguments);
      text.pop_back();
      *t_messages += text;
    }
  }
  va_end(arguments);
}

}  // namespace kivtool
