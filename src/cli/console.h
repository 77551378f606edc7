// What the command line asks of the process's standard streams and of the process itself: the
// POSIX side (posix/) and the Win32 side (win32/, the console and the C runtime's descriptors).
#pragma once

#include <string_view>

namespace remoteccm {

inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Makes the standard streams write what the program writes, byte for byte: Win32 would turn
// each line feed into CR LF, and the output would differ from the Linux build's.
void WriteStandardStreamsAsBytes();

// What --help ends with about the system the program runs on: what stops a run, and the
// environment variables read there.
std::string_view PlatformHelpNotes();

// Whether the descriptor is a terminal (Win32: a console).
bool IsTerminal(int fd);

// The terminal's width in columns, 0 when it has none.
int TerminalWidth(int fd);

// Writes every byte, waiting for room when another made the descriptor non-blocking: 0, or the
// errno that ended the writing.
int WriteFully(int fd, std::string_view text);

// A log reader that goes away (a closed pipe) must not kill the run: the writes fail instead.
void SurviveLostOutput();

// What a test's fault point does: ends the process at once, as a crash would, or (halt) stops
// it until the test lets it go on, where the system can.
void EndProcessHere(bool halt);

}  // namespace remoteccm
