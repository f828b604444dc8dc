// ecuprog: programs the firmware it carries into one engine control unit.
#include "driver/run.h"

int main(int argc, char** argv) { RunProgrammingJob(argc, argv); }
