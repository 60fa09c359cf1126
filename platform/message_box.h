// Message boxes: a text, a caption, buttons and an icon; the answer is the
// button chosen. Callable from any thread (boxes are shown one at a time);
// nothing waits on the main thread.
//
// Who answers:
//   - under RV_SIM_ROOT, the fact file "msgbox_answers": one answer a line
//     ("ok", "cancel", "yes", "no", "retry"), consumed in order by every
//     process of the simulated machine; each box is appended to the
//     transcript "msgbox_transcript";
//   - when no scripted answer is left (or there is no script) and standard
//     input and output are terminals, the person at the terminal: the box
//     has the terminal to itself while it asks (platform/terminal_mode.h);
//   - otherwise (and when an answer does not fit the buttons, or the
//     terminal's input ends) the fixed default: OK, No, Cancel.
// Every box is written to the log hook when one is set.
#pragma once
#include <string>

enum {
    PF_MB_OK = 0x00,
    PF_MB_YESNO = 0x04,
    PF_MB_RETRYCANCEL = 0x05,
    PF_MB_ICONERROR = 0x10,
    PF_MB_ICONQUESTION = 0x20,
    PF_MB_ICONWARNING = 0x30,
    PF_MB_ICONINFORMATION = 0x40,
};

enum {
    PF_IDOK = 1,
    PF_IDCANCEL = 2,
    PF_IDRETRY = 4,
    PF_IDYES = 6,
    PF_IDNO = 7,
};

// Shows the box and returns the PF_ID* of the answer.
int Pf_MessageBox(const std::string& strText, const std::string& strCaption, unsigned uType);

// The line that describes a box and its answer, as logged and transcribed.
std::string Pf_MessageBoxLine(const std::string& strText, const std::string& strCaption, unsigned uType, int nAnswer);

typedef void (*Pf_MessageBoxLogHook)(const char* cszLine);
void Pf_SetMessageBoxLogHook(Pf_MessageBoxLogHook pfnHook);
