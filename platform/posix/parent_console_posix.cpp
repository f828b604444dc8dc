#include "platform/parent_console.h"

void AttachParentConsole() {}

void EndFatalFaultsWithoutDialog() {}
