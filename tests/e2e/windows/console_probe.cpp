// Drives the Windows system console the way a run does, so a test under
// Wine can check what reaches standard output: narrow and wide text on the
// one stream in the order written, standard input byte by byte, and the key
// read when there is no console to read from.
//
// Output: "narrow <wide text>" on one line, then "input <bytes read>" with
// control characters as \n, \r or \xNN, then "key <ReadKey result>".
#include <cstdio>
#include <string>

#include "platform/console.h"

namespace {

void Write(Console& console, const std::string& text) {
  console.Write(text.data(), text.size());
}

}  // namespace

int main() {
  Console& console = SystemConsole();

  Write(console, "narrow ");
  // Letters outside ASCII, one of them beyond the 16-bit range (a surrogate
  // pair), between two narrow writes.
  const OLECHAR wide[] = OLESTR("Zugriff \u00e4\u00f6\u00fc \u20ac \U0001D11E");
  console.WriteWide(wide, sizeof(wide) / sizeof(wide[0]) - 1);
  Write(console, "\n");

  std::string input = "input ";
  for (int c = console.ReadInputByte(); c >= 0; c = console.ReadInputByte()) {
    if (c == '\n') {
      input += "\\n";
    } else if (c == '\r') {
      input += "\\r";
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      input += escaped;
    } else {
      input.push_back(static_cast<char>(c));
    }
  }
  Write(console, input + "\n");

  Write(console, "key " + std::to_string(console.ReadKey()) + "\n");
  console.Flush();
  return 0;
}
