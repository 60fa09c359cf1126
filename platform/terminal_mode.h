// The terminal of the person who started the program.
//
// The movie's terminal front end reads keys one at a time without echo (the
// key mode). The mode the terminal had before is kept once per process and
// put back when the front end ends, at exit, and from a handler of SIGINT,
// SIGTERM and SIGHUP, which then raises the signal again.
//
// A message box that asks at the terminal has it to itself: while a prompt
// is open the terminal is in the kept mode (lines, echo, blocking reads), the
// front end neither reads keys nor draws, and after it the front end starts
// its screen again below the prompt.
#pragma once
#include <cstdint>
#include <string>

// 1 when standard input and standard output are terminals.
int Pf_IsTerminal();

// Keeps the terminal's mode (the first time), installs the signal handlers
// and switches to the key mode. 0 when standard input is no terminal.
int Pf_TerminalEnterKeyMode();
// Puts the kept mode back when the key mode is on.
void Pf_TerminalLeaveKeyMode();

// The front end's turn at the terminal, to read keys or draw: 0 while a
// prompt has it. Every successful Pf_TerminalTryTake is followed by
// Pf_TerminalGive.
int Pf_TerminalTryTake();
void Pf_TerminalGive();
// How many prompts have ended so far.
uint32_t Pf_TerminalPromptCount();

// A mode taken from the terminal to be put back later, for a process that
// ends another one that may have left the terminal in its key mode.
class Pf_SavedTerminalMode {
public:
    // 0 when standard input is no terminal.
    int Save();
    // Puts the saved mode back; 0 when none was saved or it cannot be set.
    int Restore() const;

private:
    std::string m_strMode;
};

// A prompt: waits for the terminal; while it is open the terminal reads
// lines with echo, blocking; after it the mode it found comes back.
class Pf_TerminalPrompt {
public:
    Pf_TerminalPrompt();
    ~Pf_TerminalPrompt();
    Pf_TerminalPrompt(const Pf_TerminalPrompt&) = delete;
    Pf_TerminalPrompt& operator=(const Pf_TerminalPrompt&) = delete;

    // Reads one line of standard input (without its line end, at most 1024
    // characters kept), blocking. 0 at the end of the input or on an error.
    int ReadLine(std::string* pstrRetLine);

private:
    Pf_SavedTerminalMode m_Before;
    int m_bSet = 0;
};
