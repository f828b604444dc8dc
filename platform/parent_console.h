// The console of the process that started a program built without one of
// its own: the simulator is such a program, so that when COM starts it no
// window opens beside the operator's, takes the focus from the tool's
// question, or ends the job when closed.
#ifndef ECUPROG_PLATFORM_PARENT_CONSOLE_H
#define ECUPROG_PLATFORM_PARENT_CONSOLE_H

/// Makes standard output and standard error print where the program was
/// typed. Each stream keeps what it was handed (a pipe, a file, a console
/// it can write to); a stream that was handed nothing usable is reopened on
/// the console of the process that started this one, where there is one
/// (the program attaches to it), and otherwise stays as it is. Call it
/// once, before the first output. Nothing to do on POSIX hosts, where a
/// program always has the streams it was started with.
void AttachParentConsole();

/// Keeps the system's and the C runtime's own reports of a fatal fault (a
/// crash, an abort) off the screen: in a program without a console they
/// are message boxes that wait for a click, and a server held there holds
/// its client's job. The process ends instead, the runtime's text on
/// standard error. Call it first thing in main. Nothing to do on POSIX
/// hosts.
void EndFatalFaultsWithoutDialog();

#endif  // ECUPROG_PLATFORM_PARENT_CONSOLE_H
