// Command lines in the Windows form: one text that holds the program name and
// its arguments, split into an argument vector by the Windows rules.
#pragma once
#include <string>
#include <vector>

// Splits strCommandLine into arguments. The first one is the program name:
// up to the next double quote when it begins with one, else up to the first
// blank or tab; backslashes mean nothing in it. The others follow the rules
// of the C runtime:
//   - blanks and tabs outside double quotes separate arguments;
//   - 2n backslashes before a double quote give n backslashes, and the quote
//     opens or closes a quoted part;
//   - 2n+1 backslashes before a double quote give n backslashes and a quote;
//   - backslashes not followed by a double quote are kept as they are;
//   - inside a quoted part, two double quotes give one literal quote.
// An empty or blank text gives no arguments at all.
void Pf_ParseCommandLine(const std::string& strCommandLine, std::vector<std::string>* pvecRetArgs);

