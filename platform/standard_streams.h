// The three standard descriptors of the process. A program started with one
// of them closed would hand that number to the next file or event it opens,
// and a later write "to standard error" would land there, or a child would
// refuse the event it inherited under it.
#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Returns
// 0 (errno set) when one cannot be opened.
int Pf_OpenClosedStandardDescriptors();
