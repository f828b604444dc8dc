// ecuprog-records: lists the jobs ecuprog recorded (tools/records_command.h).
#include <cstdio>

#include "platform/system_text.h"
#include "tools/records_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments = ProgramArguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  std::string listing;
  std::string errors;
  const int code = ListJobRecords(arguments, &listing, &errors);
  WriteText(stderr, errors);
  WriteText(stdout, listing);
  std::fflush(stdout);
  return code;
}
