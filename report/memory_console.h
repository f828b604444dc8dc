// A console held in memory: what the run writes is kept as UTF-8, standard
// input and the keyboard are scripted. Used by tests, the firmware checker
// and the fuzzers.
#ifndef ECUPROG_REPORT_MEMORY_CONSOLE_H
#define ECUPROG_REPORT_MEMORY_CONSOLE_H

#include <string>
#include <vector>

#include "platform/console.h"

class MemoryConsole : public Console {
 public:
  /// `input` is standard input; `keys` the key presses, after which no key
  /// can be read.
  explicit MemoryConsole(std::string input = "", std::string keys = " ")
      : input_(std::move(input)), keys_(std::move(keys)) {}

  void Write(const char* text, size_t length) override;
  void WriteWide(const OLECHAR* text, size_t length) override;
  void Flush() override { flushedAt_.push_back(output_.size()); }
  int ReadInputByte() override;
  int ReadKey() override;

  const std::string& output() const { return output_; }
  /// The output length at each flush, so a test can tell that a progress
  /// prefix was on the screen before the step it announces ran.
  const std::vector<size_t>& flushedAt() const { return flushedAt_; }
  size_t keysRead() const { return keyPosition_; }
  size_t inputRead() const { return inputPosition_; }

 private:
  std::string input_;
  std::string keys_;
  std::string output_;
  size_t inputPosition_ = 0;
  size_t keyPosition_ = 0;
  std::vector<size_t> flushedAt_;
};

#endif  // ECUPROG_REPORT_MEMORY_CONSOLE_H
